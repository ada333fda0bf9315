// Writing the carried fields into M4A results: the iTunes atoms and the
// freeform atoms that Picard writes, the cover pictures, and the gapless
// information (tags/mp4gapless.h).
#include "tags/checkedstream.h"
#include "tags/mp4gapless.h"
#include "tags/tagfields.h"
#include "tags/tags.h"
#include "tags/tagwrite.h"

#include <QSet>

#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4item.h>
#include <taglib/mp4tag.h>

namespace {

constexpr char kFreeformPrefix[] = "----:com.apple.iTunes:";
constexpr char kGaplessAtom[] = "----:com.apple.iTunes:iTunSMPB";

TagLib::StringList ToTagLib(const QStringList& values) {
    TagLib::StringList list;
    for (const QString& value : values)
        list.append(ToTagLib(value));
    return list;
}

// The tempo atom holds whole beats per minute (16 bits, as TagLib reads
// them back): a tempo with a fraction is rounded, a text that is no tempo
// gives no atom.
bool TempoOf(const QString& text, int& bpm) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= 0.5 && value < 32767.5))
        return false;
    bpm = qRound(value);
    return true;
}

// The cover atom holds JPEG and PNG pictures (the formats that Picard
// writes there and every player shows), in their order; it has no place
// for a picture's type or description. The bytes tell the format.
TagLib::MP4::CoverArtList CoversOf(const QList<CoverPicture>& pictures) {
    TagLib::MP4::CoverArtList covers;
    for (const CoverPicture& p : pictures) {
        const ImageInfo::Format format = ImageInfoOf(p.data).format;
        if (format != ImageInfo::Jpeg && format != ImageInfo::Png)
            continue;
        covers.append(TagLib::MP4::CoverArt(
            format == ImageInfo::Jpeg ? TagLib::MP4::CoverArt::JPEG : TagLib::MP4::CoverArt::PNG,
            TagLib::ByteVector(p.data.constData(), static_cast<unsigned int>(p.data.size()))));
    }
    return covers;
}

// iTunes' own freeform atoms about the encoding (the encoder delay and
// padding that gapless playback reads from iTunSMPB, the loudness in
// iTunNORM, the encoder's settings): a user's own field under one of these
// names would be false of the result.
bool IsReservedFreeformName(const QString& name) {
    return name.startsWith(QLatin1String("iTun"), Qt::CaseInsensitive) ||
           name.compare(QLatin1String("Encoding Params"), Qt::CaseInsensitive) == 0;
}

// The fields in their atoms, replacing what the tag held under them, then
// the user's own fields as freeform atoms of their names: never one whose
// name (in any letter case) the tag holds already, a field's or the
// encoder's, nor one whose name holds a ":", which TagLib cannot write.
void FillMp4(TagLib::MP4::Tag& tag, const TrackTags& t) {
    for (const TagField& field : kTagFields) {
        if (!field.mp4)
            continue;
        const TagLib::String atom(field.mp4, TagLib::String::Latin1);
        const QStringList values = t.values(field.key);
        if (field.kind == FieldKind::Picture) {
            const TagLib::MP4::CoverArtList covers = CoversOf(t.pictures);
            if (!covers.isEmpty())
                tag.setItem(atom, covers);
            continue;
        }
        if (values.isEmpty())
            continue;
        int bpm = 0;
        switch (field.kind) {
            case FieldKind::Number: {
                const TagField* total = TotalFieldOf(field);
                tag.setItem(atom,
                            TagLib::MP4::Item(values[0].toInt(), total ? t.value(total->key).toInt() : 0));
                break;
            }
            case FieldKind::Flag:
                tag.setItem(atom, TagLib::MP4::Item(true));
                break;
            case FieldKind::Text:
            case FieldKind::Url:
                if (atom == "tmpo") {
                    if (TempoOf(values[0], bpm))
                        tag.setItem(atom, TagLib::MP4::Item(bpm));
                } else {
                    tag.setItem(atom, ToTagLib(values));
                }
                break;
            case FieldKind::First:
            case FieldKind::Date:
                tag.setItem(atom, ToTagLib(values.mid(0, 1)));
                break;
            case FieldKind::Total:   // written with its number
            case FieldKind::Rating:  // M4A has no rating that Picard writes
            case FieldKind::Picture:
                break;
        }
    }
    QSet<QString> taken;
    for (const auto& item : tag.itemMap())
        taken.insert(QString::fromStdString(item.first.to8Bit(true)).toLower());
    for (const UserField& field : t.userFields) {
        const QString atom = QLatin1String(kFreeformPrefix) + field.name;
        if (field.name.contains(QLatin1Char(':')) || IsReservedFreeformName(field.name) ||
            taken.contains(atom.toLower()))
            continue;
        taken.insert(atom.toLower());
        tag.setItem(ToTagLib(atom), ToTagLib(field.values));
    }
}

}  // namespace

// Every result gets the gapless information beside its tags, a result
// without tags too.
bool WriteM4aTags(const TagTarget& target, const TrackTags& tags) {
    return TagFile(target, true, [&](CheckedFileStream& stream) {
        TagLib::MP4::File file(&stream, false);
        TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
        if (!tag)
            return false;
        FillMp4(*tag, tags);
        const QString gapless = ITunSmpbOf(file);
        if (!gapless.isEmpty())
            tag->setItem(kGaplessAtom, TagLib::StringList(ToTagLib(gapless)));
        return file.save();
    });
}
