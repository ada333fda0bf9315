// Writing the carried fields into FLAC and Opus results: Vorbis comments
// under the names that Picard writes (in Opus, the ReplayGain gains as R128
// gains), and the pictures as FLAC PICTURE blocks (FLAC) or
// METADATA_BLOCK_PICTURE comments (Opus).
#include "tags/checkedstream.h"
#include "tags/tagfields.h"
#include "tags/tags.h"
#include "tags/tagwrite.h"

#include <QRegularExpression>
#include <QSet>

#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/opusfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// A Vorbis comment name: ASCII from 0x20 to 0x7D, without "=".
bool IsVorbisName(const QString& name) {
    if (name.isEmpty())
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() > 0x7D || c == QLatin1Char('='))
            return false;
    return true;
}

// The names that players read as pictures or as Opus's own loudness
// adjustment: a user's own field under one of them would be taken for
// what it is not.
bool IsReservedVorbisName(const QString& name) {
    static const QStringList reserved = {
        QStringLiteral("METADATA_BLOCK_PICTURE"), QStringLiteral("COVERART"),
        QStringLiteral("COVERARTMIME"),           QStringLiteral("R128_TRACK_GAIN"),
        QStringLiteral("R128_ALBUM_GAIN"),
    };
    return reserved.contains(name, Qt::CaseInsensitive);
}

// A field's comments: every value of a text or address field, one value of
// the others. The rating is written as Picard writes it without a user's
// e-mail: the stars as a fraction of five ("0.6" for three).
QStringList VorbisValues(const TagField& field, const TrackTags& t) {
    const QStringList values = t.values(field.key);
    if (values.isEmpty())
        return values;
    switch (field.kind) {
        case FieldKind::Text:
        case FieldKind::Url:
            return values;
        case FieldKind::First:
        case FieldKind::Number:
        case FieldKind::Total:
        case FieldKind::Date:
        case FieldKind::Flag:
            return QStringList(values[0]);
        case FieldKind::Rating: {
            const int stars = values[0].toInt();
            if (stars < 1 || stars > 5)
                return QStringList();
            return QStringList(QString::number(stars / 5.0, 'f', 1));
        }
        case FieldKind::Picture:
            break;
    }
    return QStringList();
}

// ReplayGain's comments. RFC 7845 asks Opus files not to carry them (their
// own loudness adjustment is R128_TRACK_GAIN and R128_ALBUM_GAIN), and
// players that follow it ignore them.
bool IsReplayGainName(const QString& name) {
    return name.startsWith(QLatin1String("REPLAYGAIN_"), Qt::CaseInsensitive);
}

// A ReplayGain value ("-6.48 dB") as Opus's R128 gain: relative to -23 LUFS
// instead of ReplayGain's -18, so 5 dB less, in 1/256 dB (Q7.8, a signed
// 16-bit number). Empty when the text is no gain.
QString R128GainOf(const QString& replayGain) {
    static const QRegularExpression gain(
        QStringLiteral("^\\s*([+-]?(?:\\d+(?:\\.\\d*)?|\\.\\d+))\\s*(?:dB)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = gain.match(replayGain);
    if (!m.hasMatch())
        return QString();
    const double q78 = std::round((m.captured(1).toDouble() - 5.0) * 256.0);
    return QString::number(static_cast<int>(std::clamp(q78, -32768.0, 32767.0)));
}

// Every field under each of its names, replacing what the comment held
// under them, then the user's own fields under their names: never under a
// name that the comment holds already (a field's, or the encoder's own),
// one that is no Vorbis name, or a reserved one. A date under a name that
// ends in YEAR is the year alone. An Opus file gets the ReplayGain gains as
// R128 gains and no ReplayGain comment.
void FillXiphComment(TagLib::Ogg::XiphComment& comment, const TrackTags& t, bool opus) {
    for (const TagField& field : kTagFields) {
        if (!field.vorbis || field.kind == FieldKind::Picture)
            continue;
        const QStringList values = VorbisValues(field, t);
        if (values.isEmpty())
            continue;
        for (const QString& name : QString::fromLatin1(field.vorbis).split(QLatin1Char('|'))) {
            if (opus && IsReplayGainName(name))
                continue;
            const bool year = field.kind == FieldKind::Date && name.endsWith(QLatin1String("YEAR"));
            comment.removeFields(ToTagLib(name));
            for (const QString& value : values)
                comment.addField(ToTagLib(name), ToTagLib(year ? value.left(4) : value), false);
        }
    }
    if (opus) {
        const std::pair<const char*, const char*> gains[] = {{"replaygain_track_gain", "R128_TRACK_GAIN"},
                                                             {"replaygain_album_gain", "R128_ALBUM_GAIN"}};
        for (const auto& [key, name] : gains) {
            const QString r128 = R128GainOf(t.value(key));
            if (!r128.isEmpty())
                comment.addField(name, ToTagLib(r128), true);
        }
    }
    for (const UserField& field : t.userFields) {
        if (!IsVorbisName(field.name) || IsReservedVorbisName(field.name) ||
            comment.contains(ToTagLib(field.name)) || (opus && IsReplayGainName(field.name)))
            continue;
        for (const QString& value : field.values)
            comment.addField(ToTagLib(field.name), ToTagLib(value), false);
    }
}

// A picture as a FLAC picture block, with the size and depth that its
// header gives; a picture stored without a MIME type gets the one its bytes
// tell.
std::unique_ptr<TagLib::FLAC::Picture> FlacPicture(const CoverPicture& p) {
    const ImageInfo info = ImageInfoOf(p.data);
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    // Types beyond 20 are not defined: such a picture is an "other" one.
    const int type = p.type >= 0 && p.type <= TagLib::FLAC::Picture::PublisherLogo ? p.type : 0;
    picture->setType(static_cast<TagLib::FLAC::Picture::Type>(type));
    picture->setMimeType(ToTagLib(p.mimeType.isEmpty() ? MimeTypeOf(info.format) : p.mimeType));
    picture->setDescription(ToTagLib(p.description));
    picture->setWidth(info.width);
    picture->setHeight(info.height);
    picture->setColorDepth(info.depth);
    picture->setNumColors(info.colors);
    picture->setData(TagLib::ByteVector(p.data.constData(), static_cast<unsigned int>(p.data.size())));
    return picture;
}

// A FLAC metadata block holds less than 16 MiB: its length has 24 bits, and
// TagLib writes a longer one wrong.
constexpr unsigned int kMaxFlacBlockBytes = 0xFFFFFF;

}  // namespace

bool WriteFlacTags(const TagTarget& target, const TrackTags& tags) {
    return TagFile(target, !tags.isEmpty(), [&](CheckedFileStream& stream) {
        TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!file.isValid())
            return false;
        FillXiphComment(*file.xiphComment(true), tags, false);
        if (file.xiphComment()->render(false).size() > kMaxFlacBlockBytes)
            return false;
        // A picture that does not fit a block is left out.
        if (!tags.pictures.isEmpty()) {
            file.removePictures();
            for (const CoverPicture& p : tags.pictures) {
                std::unique_ptr<TagLib::FLAC::Picture> picture = FlacPicture(p);
                if (picture->render().size() <= kMaxFlacBlockBytes)
                    file.addPicture(picture.release());
            }
        }
        return file.save();
    });
}

bool WriteOpusTags(const TagTarget& target, const TrackTags& tags) {
    return TagFile(target, !tags.isEmpty(), [&](CheckedFileStream& stream) {
        TagLib::Ogg::Opus::File file(&stream, false);
        TagLib::Ogg::XiphComment* comment = file.isValid() ? file.tag() : nullptr;
        if (!comment)
            return false;
        FillXiphComment(*comment, tags, true);
        if (!tags.pictures.isEmpty()) {
            comment->removeAllPictures();
            for (const CoverPicture& p : tags.pictures)
                comment->addPicture(FlacPicture(p).release());
        }
        return file.save();
    });
}
