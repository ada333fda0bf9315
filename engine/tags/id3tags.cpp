// Writing the carried fields into the results: an ID3v2.3 tag for MP3 and
// WAV files, and a RIFF INFO list for WAV files.
#include "tags/tags.h"

#include "tags/checkedstream.h"
#include "tags/tagfields.h"
#include "tags/tagwrite.h"

#include <QRegularExpression>
#include <QUrl>

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/popularimeterframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/uniquefileidentifierframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/urllinkframe.h>
#include <taglib/wavfile.h>

#include <memory>
#include <vector>

namespace {

// How ID3v2.3 and RIFF INFO, which hold one text per frame, join the values
// of a field that has several: "/" as taggers do in ID3v2.3, "; " as
// Windows shows several values.
constexpr char kId3Join[] = "/";
constexpr char kInfoJoin[] = "; ";

// The rating frame as Windows Media Player writes it into ID3 tags: its own
// e-mail field and 1, 64, 128, 196 or 255 for one to five stars.
constexpr char kRatingEmail[] = "Windows Media Player 9 Series";
constexpr int kRatingOfStars[] = {0, 1, 64, 128, 196, 255};

// A field's text for a frame or an INFO id that holds one text.
QString JoinedText(const TagField& field, const TrackTags& t, const char* join) {
    switch (field.kind) {
        case FieldKind::Text:
            return t.values(field.key).join(QLatin1String(join));
        case FieldKind::First:
        case FieldKind::Number:
        case FieldKind::Date:
        case FieldKind::Flag:
            return t.value(field.key);
        default:
            return QString();
    }
}

// A web address as URL frames hold it: Latin-1 only, so the address in its
// encoded form (a host in punycode, the rest percent-encoded). Empty for a
// text with spaces between its ends, which is no address.
QString UrlText(const QString& value) {
    const QString text = value.trimmed();
    const QUrl url(text, QUrl::TolerantMode);
    static const QRegularExpression space(QStringLiteral("\\s"));
    if (text.contains(space) || !url.isValid())
        return QString();
    return QString::fromLatin1(url.toEncoded());
}

// A text frame, only for a text that is not empty. TagLib stores Latin-1
// where the text allows and switches to UTF-16 otherwise.
void SetTextFrame(TagLib::ID3v2::Tag& tag, const char* id, const QString& text) {
    if (text.isEmpty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id),
                                                                          TagLib::String::Latin1);
    frame->setText(ToTagLib(text));
    tag.addFrame(frame.release());
}

// A user text frame; false when the tag has one of that description
// already (in any letter case), which ID3v2 allows only once.
bool AddUserTextFrame(TagLib::ID3v2::Tag& tag, const QString& description, const QString& text) {
    if (text.isEmpty())
        return false;
    for (TagLib::ID3v2::Frame* frame : tag.frameList("TXXX")) {
        const auto* user = static_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
        if (QString::fromStdString(user->description().to8Bit(true))
                .compare(description, Qt::CaseInsensitive) == 0)
            return false;
    }
    auto user = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::Latin1);
    user->setDescription(ToTagLib(description));
    user->setText(ToTagLib(text));
    tag.addFrame(user.release());
    return true;
}

void AddCommentFrame(TagLib::ID3v2::Tag& tag, const QString& text) {
    auto comment = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::Latin1);
    comment->setLanguage("eng");
    comment->setText(ToTagLib(text));
    tag.addFrame(comment.release());
}

void AddLyricsFrame(TagLib::ID3v2::Tag& tag, const QString& text) {
    auto lyrics = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(TagLib::String::Latin1);
    lyrics->setLanguage("eng");
    lyrics->setText(ToTagLib(text));
    tag.addFrame(lyrics.release());
}

// The identifier is at most 64 bytes.
void AddIdentifierFrame(TagLib::ID3v2::Tag& tag, const QString& owner, const QString& text) {
    const QByteArray id = text.toUtf8();
    if (!id.isEmpty() && id.size() <= 64)
        tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame(
            ToTagLib(owner), TagLib::ByteVector(id.constData(), static_cast<unsigned int>(id.size()))));
}

// A URL frame per address; the user's own URL frame once, with an empty
// description, since ID3v2 allows one per description.
void AddUrlFrames(TagLib::ID3v2::Tag& tag, const char* id, const QStringList& values) {
    for (const QString& value : values) {
        const QString url = UrlText(value);
        if (url.isEmpty())
            continue;
        if (qstrcmp(id, "WXXX") == 0) {
            auto frame = std::make_unique<TagLib::ID3v2::UserUrlLinkFrame>(TagLib::String::Latin1);
            frame->setUrl(ToTagLib(url));
            tag.addFrame(frame.release());
            return;
        }
        auto frame = std::make_unique<TagLib::ID3v2::UrlLinkFrame>(TagLib::ByteVector(id));
        frame->setUrl(ToTagLib(url));
        tag.addFrame(frame.release());
    }
}

void AddPictureFrames(TagLib::ID3v2::Tag& tag, const QList<CoverPicture>& pictures) {
    // ID3v2 allows one picture per description: a description that repeats
    // gets its number.
    QStringList descriptions;
    for (const CoverPicture& p : pictures) {
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

// The ID3v2 tag of a fresh result: every field in its frame, then the
// user's own attributes as user text frames (never one whose description a
// field has taken). Comments, lyrics and the recording's identifier hold
// the first value; the other text frames all values, joined.
void FillId3v2(TagLib::ID3v2::Tag& tag, const TrackTags& t) {
    for (TagLib::ID3v2::Frame* frame : TagLib::ID3v2::FrameList(tag.frameList()))
        tag.removeFrame(frame);
    TagLib::StringList people;
    for (const TagField& field : kTagFields) {
        const QStringList values = t.values(field.key);
        const QString id3 = QLatin1String(field.id3);
        if (field.kind == FieldKind::Picture) {
            AddPictureFrames(tag, t.pictures);
        } else if (values.isEmpty() || field.kind == FieldKind::Total) {
            continue;
        } else if (field.kind == FieldKind::Number) {
            const TagField* total = TotalFieldOf(field);
            const QString totalText = total ? t.value(total->key) : QString();
            SetTextFrame(tag, field.id3,
                         totalText.isEmpty() ? values[0] : values[0] + QLatin1Char('/') + totalText);
        } else if (field.kind == FieldKind::Rating) {
            auto rating = std::make_unique<TagLib::ID3v2::PopularimeterFrame>();
            rating->setEmail(kRatingEmail);
            rating->setRating(kRatingOfStars[qBound(0, values[0].toInt(), 5)]);
            tag.addFrame(rating.release());
        } else if (field.kind == FieldKind::Url) {
            AddUrlFrames(tag, field.id3, values);
        } else if (id3 == QLatin1String("TORY")) {
            SetTextFrame(tag, field.id3, values[0].left(4));
        } else if (id3 == QLatin1String("COMM")) {
            AddCommentFrame(tag, values[0]);
        } else if (id3 == QLatin1String("USLT")) {
            AddLyricsFrame(tag, values[0]);
        } else if (id3.startsWith(QLatin1String("UFID:"))) {
            AddIdentifierFrame(tag, id3.mid(5), values[0]);
        } else if (id3.startsWith(QLatin1String("TXXX:"))) {
            AddUserTextFrame(tag, id3.mid(5), values.join(QLatin1String(kId3Join)));
        } else if (id3.startsWith(QLatin1String("TIPL:"))) {
            for (const QString& name : values) {
                people.append(ToTagLib(id3.mid(5)));
                people.append(ToTagLib(name));
            }
        } else {
            SetTextFrame(tag, field.id3, JoinedText(field, t, kId3Join));
        }
    }
    // Saved as version 2.3, the list becomes an IPLS frame.
    if (!people.isEmpty()) {
        auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TIPL", TagLib::String::Latin1);
        frame->setText(people);
        tag.addFrame(frame.release());
    }
    for (const UserField& field : t.userFields)
        AddUserTextFrame(tag, field.name, field.values.join(QLatin1String(kId3Join)));
}

// The fields that RIFF INFO has an id for; an empty text removes an id.
void FillInfo(TagLib::RIFF::Info::Tag& info, const TrackTags& t) {
    for (const TagField& field : kTagFields) {
        if (!field.info)
            continue;
        const QString text = JoinedText(field, t, kInfoJoin);
        for (const QString& id : QString::fromLatin1(field.info).split(QLatin1Char('|')))
            info.setFieldText(TagLib::ByteVector(id.toLatin1().constData()), ToTagLib(text));
    }
}

}  // namespace

int Mp3TagBytes(const TrackTags& tags) {
    if (tags.isEmpty())
        return 0;
    try {
        TagLib::ID3v2::Tag tag;
        FillId3v2(tag, tags);
        return static_cast<int>(tag.render(TagLib::ID3v2::v3).size());
    } catch (...) {
        return 0;
    }
}

bool WriteMp3Tags(const TagTarget& target, const TrackTags& tags) {
    return TagFile(target, !tags.isEmpty(), [&](CheckedFileStream& stream) {
        TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!file.isValid())
            return false;
        // A tag in front already (the room the encoder left) is taken over
        // where it is as large as the tag wanted there; any other goes
        // first, so that the file ends as an untagged one tagged would.
        if (file.hasID3v2Tag()) {
            const long had = static_cast<long>(file.ID3v2Tag()->header()->completeTagSize());
            if (had != Mp3TagBytes(tags)) {
                if (!file.strip(TagLib::MPEG::File::ID3v2))
                    return false;
            } else {
                TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
                std::vector<TagLib::ID3v2::Frame*> frames;
                for (TagLib::ID3v2::Frame* frame : tag->frameList())
                    frames.push_back(frame);
                for (TagLib::ID3v2::Frame* frame : frames)
                    tag->removeFrame(frame);
            }
        }
        FillId3v2(*file.ID3v2Tag(true), tags);
        return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                         TagLib::File::DoNotDuplicate);
    });
}

bool WriteWavTags(const TagTarget& target, const TrackTags& tags) {
    return TagFile(target, !tags.isEmpty(), [&](CheckedFileStream& stream) {
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
}
