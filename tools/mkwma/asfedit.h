// Byte-level edits of a complete ASF file, used by mkwma to derive the
// protected and damaged test files from a good one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class EncryptionKind {
    Content,          // Content Encryption Object, a child of the Header Object
    ExtendedContent,  // Extended Content Encryption Object, a child of the Header Object
    AdvancedContent,  // Advanced Content Encryption Object, inside the Header Extension Object
};

// Where a file is cut short.
enum class CutPoint {
    InsideHeader,  // half-way through the Header Object
    AfterHeader,   // right after the Header Object, before the Data Object
    MidData,       // half-way through the Data Object
};

// Which header bytes are inverted.
enum class FlipTarget {
    HeaderGuid,  // the first 8 bytes of the Header Object's GUID
    ObjectSize,  // the size field of the Header Object's first child
    DataSize,    // the Data Object's size field: the file is whole, but its
                 // Data Object claims to run far past its end
};

// Layout facts of a file, read from its Header Object. Empty when `file`
// does not begin with a Header Object whose children fit inside it.
struct AsfLayout {
    uint64_t headerSize = 0;
    uint32_t objectCount = 0;
    uint64_t dataObjectSize = 0;  // 0 when the file ends at the header
    // Offsets of the header's children, in file order.
    std::vector<uint64_t> children;
    // Offset of the Header Extension Object and of File Properties, 0 if absent.
    uint64_t headerExtension = 0;
    uint64_t fileProperties = 0;
};
std::optional<AsfLayout> ReadAsfLayout(const std::vector<uint8_t>& file);

// Adds an encryption object of the given kind and fixes up every size and
// count that covers it (Header Object size and count, Header Extension sizes,
// File Properties' file size). Returns false, leaving `file` unchanged, when
// the file's header cannot be parsed or lacks a Header Extension Object that
// the advanced kind needs.
bool InsertEncryptionObject(std::vector<uint8_t>& file, EncryptionKind kind);

// Appends object (a whole ASF object: GUID, size, body) as the last child of
// the Header Object and fixes up the header's size and count and File
// Properties' file size. Returns false when the header cannot be parsed.
bool InsertHeaderObject(std::vector<uint8_t>& file, const std::vector<uint8_t>& object);

// Appends object as the last child of the Header Extension Object and fixes
// up every size that covers it. Returns false when the header lacks a Header
// Extension Object.
bool InsertExtensionObject(std::vector<uint8_t>& file, const std::vector<uint8_t>& object);

// The tag objects, and one entry of them: a name (UTF-16LE, ended by two
// zero bytes as writers end it), the value's type (0 text, 1 bytes, 2 BOOL,
// 3 DWORD, 4 QWORD, 5 WORD) and its bytes as the object stores them.
enum class TagObjectKind { ContentDescription, ExtendedContentDescription, Metadata, MetadataLibrary };
struct TagEntryBytes {
    std::vector<uint8_t> name;
    uint16_t type = 0;
    std::vector<uint8_t> value;
};
// A whole tag object of these entries. The Content Description takes its
// five texts (title, author, copyright, description, rating) as entries in
// that order, names unused; Metadata records belong to stream 1, the
// audio's.
std::vector<uint8_t> TagObject(TagObjectKind kind, const std::vector<TagEntryBytes>& entries);

// Crafted headers. Appends `blocks` Extended Content Description Objects of
// `entries` empty descriptors each (at most 65,535).
bool AddEmptyTagBlocks(std::vector<uint8_t>& file, int blocks, int entries);
// Appends a Padding Object whose body holds `bytes` zeros.
bool AddPadding(std::vector<uint8_t>& file, uint64_t bytes);
// A 712-byte file that is only a Header Object holding one Extended Content
// Description Object, which claims 65,534 descriptors and has room for none.
std::vector<uint8_t> CutShortTagHeader();

// Cuts `file` at the given point. Returns false when the layout is unknown.
bool CutFile(std::vector<uint8_t>& file, CutPoint where);

// Inverts bytes of the header. Returns false when the layout is unknown.
bool FlipHeaderBytes(std::vector<uint8_t>& file, FlipTarget what);
