#pragma once
// The ASF header of a WMA file, read within limits before its tags are
// taken from it: a header that claims more than the decoder takes, or tag
// objects whose entries do not fit them or that hold more entries than real
// taggers write (a crafted header of a few MB, or a few hundred bytes that
// claim 65,535 entries), gives no tags, in one pass over its bytes.
#include <QByteArray>

#include "asf/asfheader.h"

// The header of the open WMA file fd (behind an ID3v2 tag, if one stands in
// front of it), read with pread, when it is no larger than the decoder
// takes; empty otherwise.
QByteArray ReadAsfHeader(int fd);

// Visits the tag entries of header (as ScanAsfTagObjects does) and returns
// true when its tag objects are well-formed and of a size that real taggers
// write; what was visited counts only then.
bool ScanCheckedAsfTags(const QByteArray& header, AsfTagEntryVisitor visit, void* context);
