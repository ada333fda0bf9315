#pragma once
// A look at the tag objects of an ASF header before TagLib reads them.
// TagLib walks every entry that a tag object claims, reading the file anew
// for each, even past the object's end: a crafted header of a few MB (or a
// few hundred bytes that claim 65,535 entries) keeps it busy for seconds.
// Such headers are refused here in one pass over the header's bytes.
#include <taglib/tiostream.h>

// True when the ASF header at the start of stream (after an ID3v2 tag, if
// any) is no larger than the decoder takes and its tag objects are
// well-formed and of a size that real taggers write (ScanAsfTagObjects).
// Leaves the stream at its start.
bool AsfTagObjectsReadable(TagLib::IOStream& stream);
