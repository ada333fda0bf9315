// Structural checks on the start of an ASF file, done on raw bytes before
// libavformat sees the file.
//
// libavformat opens a DRM-protected ASF file with a mere warning and then
// decodes the scrambled payloads as if they were audio, so the decoder looks
// for the encryption objects itself. The same walk over the header objects
// also catches files whose header is cut short or whose object sizes make no
// sense.
#pragma once

#include <cstddef>
#include <cstdint>

enum class AsfScan {
    Ok,        // a well-formed ASF header without any encryption object
    NotAsf,    // the bytes do not begin with an ASF Header Object
    Drm,       // the header carries a content encryption object
    Damaged,   // an ASF header, but truncated or with inconsistent object sizes
    CutShort,  // a Data Object that begins whole but runs past the end of the file
};

// Size of the fixed part of the Header Object (GUID, size, object count,
// two reserved bytes) and of the Data Object's fixed part.
constexpr size_t kAsfHeaderObjectFixedSize = 30;
constexpr size_t kAsfDataObjectFixedSize = 50;

// Returns the declared size of the Header Object when `data` begins with the
// Header Object's GUID and holds at least its 30-byte fixed part, otherwise 0.
uint64_t AsfHeaderObjectSize(const uint8_t* data, size_t size);

// Walks the Header Object at data[0] and its children, and the children of the
// Header Extension Object. `size` is the number of bytes available; it may
// extend past the Header Object, which must lie wholly inside it.
// An encryption object anywhere the walk reaches gives Drm, even when a later
// object is damaged.
AsfScan ScanAsfHeader(const uint8_t* data, size_t size);

// Checks the Data Object that must follow the Header Object: `data` points at
// it, `size` bytes are available there and `bytesToEnd` is how many bytes the
// file holds from that point on. A declared size of 0 means "unknown" (a
// stream written without seeking back) and is accepted. A declared size that
// reaches past the end of the file means the file was cut short: CutShort
// when the Data Object's fixed part is there (the cut lies in the packets),
// Damaged when even that is missing.
AsfScan ScanAsfDataObject(const uint8_t* data, size_t size, uint64_t bytesToEnd);

// What the File Properties Object says about the whole file.
struct AsfFileProperties {
    uint64_t fileSize = 0;      // bytes, the Header Object's included
    uint64_t playDuration = 0;  // 100-nanosecond units, the preroll included
    uint64_t preroll = 0;       // milliseconds
    bool broadcast = false;     // the sizes and durations above are not valid
};

// Finds the File Properties Object among the children of the Header Object at
// data[0] (as ScanAsfHeader takes it). Returns false when the header does not
// hold one, whole.
bool ReadAsfFileProperties(const uint8_t* data, size_t size, AsfFileProperties& out);

// The length of an ID3v2 tag at the start of data (its 10-byte header, the
// size its header gives and the 10-byte footer its flags announce), or 0 when
// data does not start with one. Some tools put such a tag in front of the
// ASF header.
uint64_t Id3v2PrefixLength(const uint8_t* data, size_t size);

// How far the tag objects of a header can be trusted (AsfTagScan).
enum class AsfTags {
    Ok,         // every tag object is well-formed and of a plausible size
    Damaged,    // a tag object, or the header around it, does not add up
    Excessive,  // more tag entries than any tagger writes
};

// At most this many tag entries (descriptors of the Extended Content
// Description Object, records of the Metadata and Metadata Library Objects)
// in one header. Real files carry a few dozen.
constexpr uint32_t kMaxAsfTagEntries = 4096;

// The tag objects, in the order taggers write them.
enum class AsfTagObject {
    ContentDescription,          // five texts without names: title, author, copyright, description, rating
    ExtendedContentDescription,  // descriptors
    Metadata,                    // records of one stream each
    MetadataLibrary,             // records, the values of any size
};

// The value types of tag entries.
enum AsfValueType : uint16_t {
    kAsfUnicode = 0,
    kAsfBytes = 1,
    kAsfBool = 2,  // 32 bits in a descriptor, 16 in a record
    kAsfDword = 3,
    kAsfQword = 4,
    kAsfWord = 5,
    kAsfGuid = 6,
};

// One entry of a tag object as the header holds it: the object it stands in,
// its name, UTF-16LE as the file stores it (zero bytes that end it
// included), and its value: its type and bytes. A text of the Content
// Description has no name: `described` says which it is (0 title, 1
// author, 2 copyright, 3 description, 4 rating; -1 for named entries).
struct AsfTagEntry {
    AsfTagObject object;
    const uint8_t* name;
    size_t nameBytes;
    uint16_t valueType = kAsfUnicode;
    const uint8_t* value = nullptr;
    size_t valueBytes = 0;
    int described = -1;
};
using AsfTagEntryVisitor = void (*)(const AsfTagEntry& entry, void* context);

// Checks the tag objects of the Header Object at data[0] (as ScanAsfHeader
// takes it): the Content Description, Extended Content Description, Metadata
// and Metadata Library Objects, the latter two also inside the Header
// Extension. Every entry must fit its object, and the header must hold as
// many objects as it says it does. Cost: one pass over the header.
// visit, if given, sees every entry that fits its object (with its value),
// in the order of the header (the Header Extension's objects where it
// stands), and the texts of the Content Description that are not empty;
// only a result of Ok vouches for all of them.
AsfTags ScanAsfTagObjects(const uint8_t* data, size_t size, AsfTagEntryVisitor visit = nullptr,
                          void* context = nullptr);

// Human-readable reason for a scan result, for the decoder's error line.
const char* AsfScanText(AsfScan scan);
