#include "tags/tags.h"

#include "tags/checkedstream.h"
#include "tags/headerlimits.h"
#include "util/files.h"
#include "util/paths.h"

#include <QHash>
#include <QRegularExpression>

#include <fcntl.h>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/uniquefileidentifierframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/wavfile.h>

#include <unistd.h>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

// ---- Reading the WMA file ----

QString FromTagLib(const TagLib::String& s) {
    const QString text = QString::fromStdString(s.to8Bit(true)).trimmed();
    return text.size() <= kMaxTextLength ? text : QString();
}

TagLib::String ToTagLib(const QString& s) {
    return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}

// A text field carried into the results: its ASF attribute, its ID3v2.3
// frame ("TXXX:" and "UFID:" name the description or owner of those frames)
// and its RIFF INFO id where INFO has one. The names are those that
// MusicBrainz Picard and Windows Media Player write.
struct CarriedField {
    const char* asf;
    const char* id3;
    const char* info;
};

constexpr CarriedField kCarriedFields[] = {
    {"Title", "TIT2", "INAM"},
    {"Author", "TPE1", "IART"},
    {"WM/AlbumArtist", "TPE2", nullptr},
    {"WM/AlbumTitle", "TALB", "IPRD"},
    {"WM/Genre", "TCON", "IGNR"},
    {"WM/Composer", "TCOM", nullptr},
    {"Description", "COMM", "ICMT"},
    {"Copyright", "TCOP", "ICOP"},
    {"WM/Lyrics", "USLT", nullptr},
    {"WM/Publisher", "TPUB", nullptr},
    {"WM/Conductor", "TPE3", nullptr},
    {"WM/ModifiedBy", "TPE4", nullptr},
    {"WM/Writer", "TEXT", nullptr},
    {"WM/BeatsPerMinute", "TBPM", nullptr},
    {"WM/ISRC", "TSRC", nullptr},
    {"WM/SubTitle", "TIT3", nullptr},
    {"WM/ContentGroupDescription", "TIT1", nullptr},
    {"WM/OriginalReleaseYear", "TORY", nullptr},
    {"WM/InitialKey", "TKEY", nullptr},
    {"WM/Language", "TLAN", "ILNG"},
    {"WM/Mood", "TXXX:MOOD", nullptr},
    {"WM/Media", "TMED", nullptr},
    {"WM/EncodedBy", "TENC", "ITCH"},
    {"WM/CatalogNo", "TXXX:CATALOGNUMBER", nullptr},
    {"WM/Barcode", "TXXX:BARCODE", nullptr},
    {"WM/ARTISTS", "TXXX:ARTISTS", nullptr},
    // ID3v2.3 has no sort order frames of its own; these are the ones that
    // iTunes introduced and that taggers and players use in 2.3 as in 2.4.
    {"WM/ArtistSortOrder", "TSOP", nullptr},
    {"WM/AlbumSortOrder", "TSOA", nullptr},
    {"WM/TitleSortOrder", "TSOT", nullptr},
    {"WM/AlbumArtistSortOrder", "TSO2", nullptr},
    {"WM/ComposerSortOrder", "TSOC", nullptr},
    {"MusicBrainz/Track Id", "UFID:http://musicbrainz.org", nullptr},
    {"MusicBrainz/Release Track Id", "TXXX:MusicBrainz Release Track Id", nullptr},
    {"MusicBrainz/Album Id", "TXXX:MusicBrainz Album Id", nullptr},
    {"MusicBrainz/Artist Id", "TXXX:MusicBrainz Artist Id", nullptr},
    {"MusicBrainz/Album Artist Id", "TXXX:MusicBrainz Album Artist Id", nullptr},
    {"MusicBrainz/Release Group Id", "TXXX:MusicBrainz Release Group Id", nullptr},
    {"MusicBrainz/Work Id", "TXXX:MusicBrainz Work Id", nullptr},
    {"MusicBrainz/Disc Id", "TXXX:MusicBrainz Disc Id", nullptr},
    {"MusicBrainz/Album Status", "TXXX:MusicBrainz Album Status", nullptr},
    {"MusicBrainz/Album Type", "TXXX:MusicBrainz Album Type", nullptr},
    {"MusicBrainz/Album Release Country", "TXXX:MusicBrainz Album Release Country", nullptr},
    {"Acoustid/Id", "TXXX:Acoustid Id", nullptr},
    {"ReplayGain/Track", "TXXX:REPLAYGAIN_TRACK_GAIN", nullptr},
    {"ReplayGain/Track Peak", "TXXX:REPLAYGAIN_TRACK_PEAK", nullptr},
    {"ReplayGain/Album", "TXXX:REPLAYGAIN_ALBUM_GAIN", nullptr},
    {"ReplayGain/Album Peak", "TXXX:REPLAYGAIN_ALBUM_PEAK", nullptr},
};

// How ID3v2.3 and RIFF INFO, which hold one text per frame, join the values
// of a field that has several: "/" as taggers do in ID3v2.3, "; " as
// Windows shows several values.
constexpr char kId3Join[] = "/";
constexpr char kInfoJoin[] = "; ";

// ---- The order of repeated attributes ----
//
// A tagger writes the first value of a repeated attribute into the Extended
// Content Description object and the others into the Metadata Library
// object inside the Header Extension Object. TagLib lists the values in the
// order in which the objects stand, so when the Header Extension comes
// first, the first value comes last.

const TagLib::ByteVector kHeaderExtensionGuid(
    "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65", 16);
const TagLib::ByteVector kExtendedContentGuid(
    "\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50", 16);

// Per attribute name, how many of its values the Extended Content
// Description holds when it stands after the Header Extension; empty when
// it stands before it (TagLib's order is then right) or is not there.
QHash<QString, int> LateExtendedValues(TagLib::IOStream& stream) {
    QHash<QString, int> late;
    stream.seek(0);
    const TagLib::ByteVector header = stream.readBlock(30);
    if (header.size() != 30)
        return late;
    unsigned int objects = header.toUInt(24, false);
    long at = 30;
    bool extensionSeen = false;
    while (objects-- > 0) {
        stream.seek(at);
        const TagLib::ByteVector head = stream.readBlock(24);
        const long long size = head.size() == 24 ? head.toLongLong(16, false) : 0;
        if (size < 24 || size > stream.length() - at)
            break;
        if (head.mid(0, 16) == kHeaderExtensionGuid) {
            extensionSeen = true;
        } else if (head.mid(0, 16) == kExtendedContentGuid) {
            if (!extensionSeen)
                break;
            const TagLib::ByteVector body = stream.readBlock(static_cast<unsigned long>(size - 24));
            unsigned int pos = 2;
            for (unsigned int n = body.size() >= 2 ? body.toUShort(0U, false) : 0; n > 0; --n) {
                if (pos + 2 > body.size())
                    break;
                const unsigned int nameBytes = body.toUShort(pos, false);
                if (pos + 2 + nameBytes + 4 > body.size())
                    break;
                const QString name =
                    FromTagLib(TagLib::String(body.mid(pos + 2, nameBytes), TagLib::String::UTF16LE))
                        .remove(QChar(0));
                const unsigned int valueBytes = body.toUShort(pos + 2 + nameBytes + 2, false);
                late[name] += 1;
                pos += 2 + nameBytes + 4 + valueBytes;
            }
            break;
        }
        at += static_cast<long>(size);
    }
    return late;
}

// The values of an attribute, the first that the tagger wrote first.
TagLib::ASF::AttributeList Attributes(const TagLib::ASF::Tag& tag, const char* name,
                                      const QHash<QString, int>& late) {
    TagLib::ASF::AttributeList values = tag.attribute(name);
    const int k = late.value(QLatin1String(name));
    const int n = static_cast<int>(values.size());
    if (k <= 0 || k >= n)
        return values;
    TagLib::ASF::AttributeList ordered;
    for (int i = n - k; i < n; ++i)
        ordered.append(values[static_cast<unsigned int>(i)]);
    for (int i = 0; i < n - k; ++i)
        ordered.append(values[static_cast<unsigned int>(i)]);
    return ordered;
}

// The non-empty texts of an attribute's values: text, or a number as text.
QStringList TextValues(const TagLib::ASF::AttributeList& values) {
    QStringList texts;
    for (const TagLib::ASF::Attribute& a : values) {
        QString text;
        switch (a.type()) {
            case TagLib::ASF::Attribute::UnicodeType:
                text = FromTagLib(a.toString());
                break;
            case TagLib::ASF::Attribute::DWordType:
            case TagLib::ASF::Attribute::QWordType:
            case TagLib::ASF::Attribute::WordType:
                text = QString::number(a.toULongLong());
                break;
            default:
                break;
        }
        if (!text.isEmpty())
            texts << text;
    }
    return texts;
}

constexpr int kMaxNumber = 65535;

// "3" or "3/12" into number and total; anything else leaves both at 0. A
// total below the number is dropped.
void ParseNumberPair(const QString& text, int& number, int& total) {
    static const QRegularExpression pair(QStringLiteral("^(\\d{1,5})\\s*(?:/\\s*(\\d{1,5}))?$"));
    const QRegularExpressionMatch m = pair.match(text);
    if (!m.hasMatch())
        return;
    const int n = m.captured(1).toInt();
    const int t = m.captured(2).toInt();
    if (n < 1 || n > kMaxNumber)
        return;
    number = n;
    total = t >= n && t <= kMaxNumber ? t : 0;
}

// A number attribute: a number value, or text such as "3" or "3/12".
void NumberAttribute(const TagLib::ASF::AttributeList& values, int& number, int& total, int offset = 0) {
    for (const TagLib::ASF::Attribute& a : values) {
        switch (a.type()) {
            case TagLib::ASF::Attribute::DWordType:
            case TagLib::ASF::Attribute::QWordType:
            case TagLib::ASF::Attribute::WordType: {
                const unsigned long long n = a.toULongLong() + static_cast<unsigned long long>(offset);
                if (n >= 1 && n <= kMaxNumber) {
                    number = static_cast<int>(n);
                    total = 0;
                }
                break;
            }
            case TagLib::ASF::Attribute::UnicodeType:
                if (offset == 0)
                    ParseNumberPair(FromTagLib(a.toString()), number, total);
                break;
            default:
                break;
        }
        if (number > 0)
            return;
    }
}

// The date as ID3v2 and RIFF INFO write it: "YYYY", "YYYY-MM" or
// "YYYY-MM-DD", taken from the start of the text; empty when the text does
// not start with a year.
QString DateOf(const QString& text) {
    static const QRegularExpression date(
        QStringLiteral("^(\\d{4})(?:-(0[1-9]|1[0-2])(?:-(0[1-9]|[12]\\d|3[01]))?)?"));
    const QRegularExpressionMatch m = date.match(text);
    if (!m.hasMatch() || m.captured(1) == QLatin1String("0000"))
        return QString();
    return m.captured(0);
}

bool IsPlainAscii(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

// Every picture that is whole, the front covers first. A picture whose
// value does not parse, is empty, is too large or has a MIME type that is
// not plain text is passed over, and so are those beyond the bound of all.
QList<CoverPicture> PicturesOf(const TagLib::ASF::AttributeList& values) {
    QList<CoverPicture> fronts;
    QList<CoverPicture> others;
    qsizetype total = 0;
    for (const TagLib::ASF::Attribute& a : values) {
        if (a.type() != TagLib::ASF::Attribute::BytesType)
            continue;
        const TagLib::ASF::Picture p = a.toPicture();
        if (!p.isValid())
            continue;
        const TagLib::ByteVector& data = p.picture();
        const QString mime = FromTagLib(p.mimeType());
        const qsizetype size = static_cast<qsizetype>(data.size());
        if (size == 0 || size > kMaxPictureBytes || mime.size() > 64 || !IsPlainAscii(mime))
            continue;
        CoverPicture picture{QByteArray(data.data(), size), mime, FromTagLib(p.description()),
                             static_cast<int>(p.type())};
        (p.type() == TagLib::ASF::Picture::FrontCover ? fronts : others) << picture;
    }
    QList<CoverPicture> pictures;
    for (const CoverPicture& picture : fronts + others) {
        if (total + picture.data.size() > kMaxPicturesBytes)
            continue;
        total += picture.data.size();
        pictures << picture;
    }
    return pictures;
}

// ---- Writing the result ----

QString NumberPairText(int number, int total) {
    if (number <= 0)
        return QString();
    return total > 0 ? QStringLiteral("%1/%2").arg(number).arg(total) : QString::number(number);
}

// A text frame, only for a text that is not empty. TagLib stores Latin-1
// where the text allows and switches to UTF-16 otherwise.
void SetTextFrame(TagLib::ID3v2::Tag& tag, const char* id, const QString& text) {
    tag.removeFrames(id);
    if (text.isEmpty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id),
                                                                          TagLib::String::Latin1);
    frame->setText(ToTagLib(text));
    tag.addFrame(frame.release());
}

// One carried field's frame. Comments, lyrics and the recording's
// identifier hold one text, the first value; the other frames all values.
void SetFieldFrame(TagLib::ID3v2::Tag& tag, const CarriedField& field, const QStringList& values) {
    const QString frame = QLatin1String(field.id3);
    const QString joined = values.join(QLatin1String(kId3Join));
    const QString first = values.value(0);
    if (frame == QLatin1String("COMM") || frame == QLatin1String("USLT")) {
        tag.removeFrames(field.id3);
        if (first.isEmpty())
            return;
        std::unique_ptr<TagLib::ID3v2::Frame> text;
        if (frame == QLatin1String("COMM")) {
            auto comment = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::Latin1);
            comment->setLanguage("eng");
            comment->setText(ToTagLib(first));
            text = std::move(comment);
        } else {
            auto lyrics = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(TagLib::String::Latin1);
            lyrics->setLanguage("eng");
            lyrics->setText(ToTagLib(first));
            text = std::move(lyrics);
        }
        tag.addFrame(text.release());
    } else if (frame.startsWith(QLatin1String("UFID:"))) {
        const TagLib::String owner = ToTagLib(frame.mid(5));
        for (TagLib::ID3v2::Frame* old : tag.frameList("UFID"))
            if (static_cast<TagLib::ID3v2::UniqueFileIdentifierFrame*>(old)->owner() == owner)
                tag.removeFrame(old);
        // The identifier is at most 64 bytes.
        const QByteArray id = first.toUtf8();
        if (!id.isEmpty() && id.size() <= 64)
            tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame(
                owner, TagLib::ByteVector(id.constData(), static_cast<unsigned int>(id.size()))));
    } else if (frame.startsWith(QLatin1String("TXXX:"))) {
        const TagLib::String description = ToTagLib(frame.mid(5));
        if (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description))
            tag.removeFrame(old);
        if (joined.isEmpty())
            return;
        auto user = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::Latin1);
        user->setDescription(description);
        user->setText(ToTagLib(joined));
        tag.addFrame(user.release());
    } else {
        SetTextFrame(tag, field.id3, joined);
    }
}

void FillId3v2(TagLib::ID3v2::Tag& tag, const TrackTags& t) {
    for (const CarriedField& field : kCarriedFields)
        SetFieldFrame(tag, field, t.text.value(QLatin1String(field.asf)));
    SetTextFrame(tag, "TRCK", NumberPairText(t.track, t.trackTotal));
    SetTextFrame(tag, "TPOS", NumberPairText(t.disc, t.discTotal));
    // Saved as version 2.3, the date becomes TYER (and TDAT for a full date).
    SetTextFrame(tag, "TDRC", t.date);

    // ID3v2 allows one picture per description: a description that repeats
    // gets its number.
    tag.removeFrames("APIC");
    QStringList descriptions;
    for (const CoverPicture& p : t.pictures) {
        QString description = p.description;
        for (int n = 2; descriptions.contains(description); ++n)
            description = QStringLiteral("%1 (%2)").arg(p.description).arg(n);
        descriptions << description;
        auto picture = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        picture->setMimeType(ToTagLib(p.mimeType));
        picture->setDescription(ToTagLib(description));
        picture->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(p.type));
        picture->setPicture(TagLib::ByteVector(p.data.constData(), static_cast<unsigned int>(p.data.size())));
        tag.addFrame(picture.release());
    }
}

// The fields that RIFF INFO has. The track number has no id of the INFO
// list itself; readers take it from IPRT (TagLib, FFmpeg) or ITRK (others).
void FillInfo(TagLib::RIFF::Info::Tag& info, const TrackTags& t) {
    for (const CarriedField& field : kCarriedFields)
        if (field.info)  // an empty text removes the field
            info.setFieldText(
                field.info, ToTagLib(t.text.value(QLatin1String(field.asf)).join(QLatin1String(kInfoJoin))));
    const QString track = t.track > 0 ? QString::number(t.track) : QString();
    info.setFieldText("ICRD", ToTagLib(t.date));
    info.setFieldText("IPRT", ToTagLib(track));
    info.setFieldText("ITRK", ToTagLib(track));
}

// Tags a copy of the file at path through tagIt, and puts the copy in its
// place only when the copy was read, tagged and written without a single
// failure. The copy lies beside the file under a hidden temporary name.
bool TagThroughCopy(const QString& path, const std::function<bool(CheckedFileStream&)>& tagIt) {
    const std::string target = SystemPath(path);
    CheckedFileStream original(target);
    if (!original.isOpen())
        return false;
    std::string temp = SystemPath(FolderOfPath(path)) + kTagsTempPrefix + "XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    CheckedFileStream copy(fd, temp);

    constexpr unsigned long kChunk = 1 << 20;
    for (;;) {
        const TagLib::ByteVector block = original.readBlock(kChunk);
        if (block.isEmpty() || copy.failed())
            break;
        copy.writeBlock(block);
    }
    copy.seek(0);
    bool ok = !original.failed() && copy.length() == original.length();
    try {
        ok = ok && tagIt(copy);
    } catch (...) {
        ok = false;  // out of memory: the temporary copy still goes
    }
    ok = copy.close() && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool TrackTags::isEmpty() const {
    return text.isEmpty() && track == 0 && disc == 0 && date.isEmpty() && pictures.isEmpty();
}

namespace {

TrackTags ReadTagsFrom(CheckedFileStream& stream) {
    TrackTags t;
    try {
        // The stream starts behind an ID3 tag that stands in front of the ASF
        // header. A header that would keep TagLib busy gives no tags; the
        // decoder still judges the audio.
        if (!stream.isOpen() || !stream.startAfterId3Tag() || !AsfTagObjectsReadable(stream))
            return t;
        const QHash<QString, int> late = LateExtendedValues(stream);
        stream.seek(0);
        TagLib::ASF::File file(&stream, false);
        const TagLib::ASF::Tag* tag = file.isValid() ? file.tag() : nullptr;
        if (!tag)
            return t;
        const std::pair<const char*, TagLib::String> described[] = {
            {"Title", tag->title()},
            {"Author", tag->artist()},
            {"Description", tag->comment()},
            {"Copyright", tag->copyright()},
        };
        for (const auto& [name, value] : described) {
            const QString text = FromTagLib(value);
            if (!text.isEmpty())
                t.text[QLatin1String(name)] = QStringList(text);
        }
        for (const CarriedField& field : kCarriedFields) {
            if (t.text.contains(QLatin1String(field.asf)))
                continue;  // the Content Description's own
            const QStringList values = TextValues(Attributes(*tag, field.asf, late));
            if (!values.isEmpty())
                t.text[QLatin1String(field.asf)] = values;
        }
        t.date = DateOf(TextValues(Attributes(*tag, "WM/Year", late)).value(0));
        NumberAttribute(Attributes(*tag, "WM/TrackNumber", late), t.track, t.trackTotal);
        if (t.track == 0)  // the older, zero-based track attribute
            NumberAttribute(Attributes(*tag, "WM/Track", late), t.track, t.trackTotal, 1);
        NumberAttribute(Attributes(*tag, "WM/PartOfSet", late), t.disc, t.discTotal);
        t.pictures = PicturesOf(Attributes(*tag, "WM/Picture", late));
        return t;
    } catch (...) {
        // Out of memory on a damaged header: no tags rather than no result.
        return TrackTags();
    }
}

}  // namespace

TrackTags ReadWmaTags(const QString& path) {
    CheckedFileStream stream(SystemPath(path));
    return ReadTagsFrom(stream);
}

TrackTags ReadWmaTags(int fd) {
    CheckedFileStream stream(::fcntl(fd, F_DUPFD_CLOEXEC, 0), std::string("-"), false);
    return ReadTagsFrom(stream);
}

bool WriteMp3Tags(const QString& path, const TrackTags& tags) {
    if (tags.isEmpty())
        return true;
    try {
        return TagThroughCopy(path, [&](CheckedFileStream& stream) {
            TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
            if (!file.isValid())
                return false;
            FillId3v2(*file.ID3v2Tag(true), tags);
            return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                             TagLib::File::DoNotDuplicate);
        });
    } catch (...) {
        return false;
    }
}

bool WriteWavTags(const QString& path, const TrackTags& tags) {
    if (tags.isEmpty())
        return true;
    try {
        return TagThroughCopy(path, [&](CheckedFileStream& stream) {
            TagLib::RIFF::WAV::File file(&stream, false);
            if (!file.isValid())
                return false;
            FillInfo(*file.InfoTag(), tags);
            FillId3v2(*file.ID3v2Tag(), tags);
            // The RIFF sizes are 32-bit: a file that the tags would take past
            // them is left untagged.
            return file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v3) &&
                   stream.length() - 8 <= 0xFFFFFFFFL;
        });
    } catch (...) {
        return false;
    }
}
