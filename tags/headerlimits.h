#pragma once
// A look at the tag objects of an ASF header before TagLib reads them.
// TagLib walks every entry that a tag object claims, reading the file anew
// for each, even past the object's end: a crafted header of a few MB (or a
// few hundred bytes that claim 65,535 entries) keeps it busy for seconds.
// Such headers are refused here in one pass over the header's bytes, which
// also notes where each entry stands: TagLib keeps the attributes by name,
// sorted, and so loses the order in which the header holds them.
#include "wmawav/asfheader.h"

#include <taglib/tiostream.h>
#include <taglib/tstring.h>

#include <vector>

// An entry of the Extended Content Description, Metadata or Metadata
// Library object: the object and the name as TagLib reads it (up to its
// first zero character). A zero character inside the name, before those
// that end it, makes the name damaged: TagLib reads only its start.
struct AsfEntryPlace {
    AsfTagObject object;
    TagLib::String name;
    bool damagedName;
};

// True when the ASF header at the start of stream (after an ID3v2 tag, if
// any) is no larger than the decoder takes and its tag objects are
// well-formed and of a size that real taggers write (ScanAsfTagObjects).
// Then places, if given, receives every entry in the order of the header.
// Leaves the stream at its start.
bool AsfTagObjectsReadable(TagLib::IOStream& stream, std::vector<AsfEntryPlace>* places = nullptr);
