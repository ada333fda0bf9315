#include "tags/tags.h"

#include "tags/checkedstream.h"
#include "tags/headerlimits.h"
#include "util/files.h"
#include "util/paths.h"

#include <QRegularExpression>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
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

// The first non-empty text value of an attribute that may be repeated.
QString TextAttribute(const TagLib::ASF::Tag& tag, const char* name) {
    for (const TagLib::ASF::Attribute& a : tag.attribute(name)) {
        if (a.type() == TagLib::ASF::Attribute::UnicodeType) {
            const QString text = FromTagLib(a.toString());
            if (!text.isEmpty())
                return text;
        }
    }
    return QString();
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
void NumberAttribute(const TagLib::ASF::Tag& tag, const char* name, int& number, int& total, int offset = 0) {
    for (const TagLib::ASF::Attribute& a : tag.attribute(name)) {
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

// The front cover, or else the first picture that is whole. A picture whose
// value does not parse, is empty, is too large or has a MIME type that is not
// plain text is passed over.
CoverPicture PictureOf(const TagLib::ASF::Tag& tag) {
    CoverPicture chosen;
    for (const TagLib::ASF::Attribute& a : tag.attribute("WM/Picture")) {
        if (a.type() != TagLib::ASF::Attribute::BytesType)
            continue;
        const TagLib::ASF::Picture p = a.toPicture();
        if (!p.isValid())
            continue;
        const TagLib::ByteVector& data = p.picture();
        const QString mime = FromTagLib(p.mimeType());
        if (data.isEmpty() || data.size() > kMaxPictureBytes || mime.size() > 64 || !IsPlainAscii(mime))
            continue;
        const bool front = p.type() == TagLib::ASF::Picture::FrontCover;
        if (chosen.data.isEmpty() || front) {
            chosen.data = QByteArray(data.data(), static_cast<qsizetype>(data.size()));
            chosen.mimeType = mime;
            chosen.description = FromTagLib(p.description());
            chosen.type = static_cast<int>(p.type());
        }
        if (front)
            break;
    }
    return chosen;
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

void FillId3v2(TagLib::ID3v2::Tag& tag, const TrackTags& t) {
    SetTextFrame(tag, "TIT2", t.title);
    SetTextFrame(tag, "TPE1", t.artist);
    SetTextFrame(tag, "TPE2", t.albumArtist);
    SetTextFrame(tag, "TALB", t.album);
    SetTextFrame(tag, "TRCK", NumberPairText(t.track, t.trackTotal));
    SetTextFrame(tag, "TPOS", NumberPairText(t.disc, t.discTotal));
    // Saved as version 2.3, the date becomes TYER (and TDAT for a full date).
    SetTextFrame(tag, "TDRC", t.date);
    SetTextFrame(tag, "TCON", t.genre);
    SetTextFrame(tag, "TCOM", t.composer);
    SetTextFrame(tag, "TCOP", t.copyright);

    tag.removeFrames("COMM");
    if (!t.comment.isEmpty()) {
        auto comment = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::Latin1);
        comment->setLanguage("eng");
        comment->setText(ToTagLib(t.comment));
        tag.addFrame(comment.release());
    }

    tag.removeFrames("APIC");
    if (!t.picture.data.isEmpty()) {
        auto picture = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        picture->setMimeType(ToTagLib(t.picture.mimeType));
        picture->setDescription(ToTagLib(t.picture.description));
        picture->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(t.picture.type));
        picture->setPicture(
            TagLib::ByteVector(t.picture.data.constData(), static_cast<unsigned int>(t.picture.data.size())));
        tag.addFrame(picture.release());
    }
}

// The fields that RIFF INFO has. The track number has no id of the INFO
// list itself; readers take it from IPRT (TagLib, FFmpeg) or ITRK (others).
void FillInfo(TagLib::RIFF::Info::Tag& info, const TrackTags& t) {
    const QString track = t.track > 0 ? QString::number(t.track) : QString();
    const std::pair<const char*, const QString*> fields[] = {
        {"INAM", &t.title},     {"IART", &t.artist}, {"IPRD", &t.album},
        {"ICRD", &t.date},      {"IGNR", &t.genre},  {"ICMT", &t.comment},
        {"ICOP", &t.copyright}, {"IPRT", &track},    {"ITRK", &track},
    };
    for (const auto& [id, text] : fields)
        info.setFieldText(id, ToTagLib(*text));  // an empty text removes the field
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
    return title.isEmpty() && artist.isEmpty() && albumArtist.isEmpty() && album.isEmpty() && track == 0 &&
           disc == 0 && date.isEmpty() && genre.isEmpty() && composer.isEmpty() && comment.isEmpty() &&
           copyright.isEmpty() && picture.data.isEmpty();
}

TrackTags ReadWmaTags(const QString& path) {
    TrackTags t;
    try {
        CheckedFileStream stream(SystemPath(path));
        // A header that would keep TagLib busy gives no tags; the decoder
        // still judges the audio.
        if (!stream.isOpen() || !AsfTagObjectsReadable(stream))
            return t;
        TagLib::ASF::File file(&stream, false);
        const TagLib::ASF::Tag* tag = file.isValid() ? file.tag() : nullptr;
        if (!tag)
            return t;
        t.title = FromTagLib(tag->title());
        t.artist = FromTagLib(tag->artist());
        t.comment = FromTagLib(tag->comment());
        t.copyright = FromTagLib(tag->copyright());
        t.albumArtist = TextAttribute(*tag, "WM/AlbumArtist");
        t.album = TextAttribute(*tag, "WM/AlbumTitle");
        t.genre = TextAttribute(*tag, "WM/Genre");
        t.composer = TextAttribute(*tag, "WM/Composer");
        t.date = DateOf(TextAttribute(*tag, "WM/Year"));
        NumberAttribute(*tag, "WM/TrackNumber", t.track, t.trackTotal);
        if (t.track == 0)  // the older, zero-based track attribute
            NumberAttribute(*tag, "WM/Track", t.track, t.trackTotal, 1);
        NumberAttribute(*tag, "WM/PartOfSet", t.disc, t.discTotal);
        t.picture = PictureOf(*tag);
        return t;
    } catch (...) {
        // Out of memory on a damaged header: no tags rather than no result.
        return TrackTags();
    }
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
