#pragma once
// The tags that a conversion carries from a WMA file into its result: read
// from the ASF header (the Content Description and the Extended Content
// Description and Metadata Library objects; behind an ID3v2 tag when the
// file starts with one), written into an MP3 as an ID3v2.3 tag, into a WAV
// as a RIFF LIST/INFO chunk plus an ID3v2.3 chunk, into FLAC and Opus as
// Vorbis comments and into M4A as iTunes atoms. TagLib reads and
// renders every tag; this room decides which fields are carried (the table
// in tags/tagfields.h) and keeps the audio file safe while they are written.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// One picture of the music: a cover, the booklet, the artist and so on.
struct CoverPicture {
    QByteArray data;
    QString mimeType;
    QString description;
    int type = 3;  // picture type, the same numbers in ASF and ID3v2; 3 is the front cover
};

// An attribute of the user's own, one that no field of kTagFields reads: its
// name as the tagger wrote it and its text values.
struct UserField {
    QString name;
    QStringList values;
};

struct TrackTags {
    // The carried fields by their key in kTagFields (tags/tagfields.h), each
    // with its values in the order a tagger wrote them, the first first; the
    // numbers, dates, ratings and flags in the forms their kind names.
    QMap<QString, QStringList> fields;
    // Every whole picture, the front covers first, the others in their order.
    QList<CoverPicture> pictures;
    // The user's own attributes, by name.
    QList<UserField> userFields;

    bool isEmpty() const;
    QStringList values(const char* key) const { return fields.value(QLatin1String(key)); }
    QString value(const char* key) const { return values(key).value(0); }
};

// A file being tagged is a copy under this prefix and six random characters,
// beside the file; a killed program can leave one behind.
inline constexpr char kTagsTempPrefix[] = ".brenvale-tags-";

// A picture larger than this is left out: no player shows it, and it would
// swell every result by as much. Pictures beyond the second bound in all
// are left out as well.
inline constexpr qsizetype kMaxPictureBytes = 16 * 1024 * 1024;
inline constexpr qsizetype kMaxPicturesBytes = 32 * 1024 * 1024;
// A text longer than this is left out as damaged.
inline constexpr qsizetype kMaxTextLength = 65535;
inline constexpr qsizetype kMaxUserFieldName = 256;

// The tags of the WMA (ASF) file at path, text as written (up to a zero
// character, nothing trimmed), a value stored twice once. A field that is
// missing, empty, damaged or oversized is left out, and so are the technical
// attributes (IsTechnicalAsfAttribute), the values of the user's own
// attributes that are not text or numbers, and those whose name is empty,
// holds a control character (a zero character among them) or is longer than
// kMaxUserFieldName. A file that cannot be read, or whose header's tag
// objects are damaged or hold more entries than any tagger writes, gives no
// tags at all. Never raises.
TrackTags ReadWmaTags(const QString& path);
// What of the tags is read.
enum class TagScope {
    All,     // every field, picture and attribute of the user's own
    Naming,  // only the fields a result's name can be made of (IsNamingField)
};
// True for the fields that TagScope::Naming reads.
bool IsNamingField(const char* key);

// The same from a file open for reading (read with pread: its offset
// stays).
TrackTags ReadWmaTags(int fd, TagScope scope = TagScope::All);

// Where tags are written: the file at a path, tagged as a copy beside it
// that replaces it only once the copy has been written whole; or a file
// open for reading and writing that nobody sees yet (a result not yet given
// its name), tagged where it is.
struct TagTarget {
    TagTarget(const QString& file) : path(file) {}
    explicit TagTarget(int open) : fd(open) {}
    QString path;
    int fd = -1;
};

// Writes the tags into the MP3 or WAV file. When anything fails (a full
// disk, a file TagLib does not take) a file at a path stays exactly as it
// was, an open file is not to be used, and the result is false. Tags with
// no field leave the file untouched. Never raises.
bool WriteMp3Tags(const TagTarget& target, const TrackTags& tags);
bool WriteWavTags(const TagTarget& target, const TrackTags& tags);
// The same for FLAC and Opus files (Vorbis comments, and the pictures as
// FLAC PICTURE blocks or METADATA_BLOCK_PICTURE comments) and for M4A files
// (iTunes atoms). An M4A file is tagged even without fields: it gets the
// gapless information of its edit list as an iTunSMPB atom.
bool WriteFlacTags(const TagTarget& target, const TrackTags& tags);
bool WriteOpusTags(const TagTarget& target, const TrackTags& tags);
bool WriteM4aTags(const TagTarget& target, const TrackTags& tags);

// The size of the ID3v2 tag that WriteMp3Tags puts in front of an MP3 file
// that has none: its header, frames and padding. An MP3 file whose own tag
// (its encoder's) has exactly this size is tagged where it stands, the
// audio not moved, and ends byte for byte as the untagged file would with
// its tag written in front. 0 for tags with no field.
int Mp3TagBytes(const TrackTags& tags);
