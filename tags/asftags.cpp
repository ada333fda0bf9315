// Reading the tags of a WMA file into the fields of kTagFields, the user's
// own attributes and the pictures.
#include "tags/checkedstream.h"
#include "tags/headerlimits.h"
#include "tags/tagfields.h"
#include "tags/tags.h"
#include "util/fileio.h"

#include <QHash>
#include <QRegularExpression>

#include <fcntl.h>

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>

namespace {

QString FromTagLib(const TagLib::String& s) {
    const QString text = QString::fromStdString(s.to8Bit(true)).trimmed();
    return text.size() <= kMaxTextLength ? text : QString();
}

// An attribute's name as the header holds it, without the zero characters
// that end it.
QString NameOf(const TagLib::String& s) {
    return QString::fromStdString(s.to8Bit(true)).remove(QChar(0));
}

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
                    NameOf(TagLib::String(body.mid(pos + 2, nameBytes), TagLib::String::UTF16LE));
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

// The values of an attribute, the first that the tagger wrote first, given
// how many of them came late.
TagLib::ASF::AttributeList InWrittenOrder(const TagLib::ASF::AttributeList& values, int late) {
    const int n = static_cast<int>(values.size());
    if (late <= 0 || late >= n)
        return values;
    TagLib::ASF::AttributeList ordered;
    for (int i = n - late; i < n; ++i)
        ordered.append(values[static_cast<unsigned int>(i)]);
    for (int i = 0; i < n - late; ++i)
        ordered.append(values[static_cast<unsigned int>(i)]);
    return ordered;
}

// One attribute name of the header with its values.
struct Attribute {
    QString name;
    TagLib::ASF::AttributeList values;
};

// Every attribute of the header, the fields of the Content Description
// first, each name with its values in the order the tagger wrote them. A
// tagger that writes several artists puts the first into the Content
// Description and the others into Author attributes.
QList<Attribute> AttributesOf(const TagLib::ASF::Tag& tag, const QHash<QString, int>& late) {
    QList<Attribute> attributes;
    const std::pair<const char*, TagLib::String> described[] = {
        {"Title", tag.title()},         {"Author", tag.artist()}, {"Description", tag.comment()},
        {"Copyright", tag.copyright()}, {"Rating", tag.rating()},
    };
    for (const auto& [name, value] : described) {
        if (value.isEmpty())
            continue;
        attributes << Attribute{QLatin1String(name), TagLib::ASF::AttributeList()};
        attributes.last().values.append(TagLib::ASF::Attribute(value));
    }
    const int describedCount = static_cast<int>(attributes.size());
    const TagLib::ASF::AttributeListMap& map = tag.attributeListMap();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const QString name = NameOf(it->first);
        const TagLib::ASF::AttributeList values = InWrittenOrder(it->second, late.value(name));
        bool added = false;
        for (int i = 0; i < describedCount && !added; ++i) {
            if (attributes[i].name == name) {
                attributes[i].values.append(values);
                added = true;
            }
        }
        if (!added)
            attributes << Attribute{name, values};
    }
    return attributes;
}

// An attribute value as text: text, or a number as its digits; empty for
// other values.
QString TextOf(const TagLib::ASF::Attribute& a) {
    switch (a.type()) {
        case TagLib::ASF::Attribute::UnicodeType:
            return FromTagLib(a.toString());
        case TagLib::ASF::Attribute::DWordType:
        case TagLib::ASF::Attribute::QWordType:
        case TagLib::ASF::Attribute::WordType:
            return QString::number(a.toULongLong());
        default:
            return QString();
    }
}

// The non-empty texts of an attribute's values.
QStringList TextValues(const TagLib::ASF::AttributeList& values) {
    QStringList texts;
    for (const TagLib::ASF::Attribute& a : values) {
        const QString text = TextOf(a);
        if (!text.isEmpty())
            texts << text;
    }
    return texts;
}

bool IsNumberType(const TagLib::ASF::Attribute& a) {
    return a.type() == TagLib::ASF::Attribute::DWordType || a.type() == TagLib::ASF::Attribute::QWordType ||
           a.type() == TagLib::ASF::Attribute::WordType;
}

constexpr int kMaxNumber = 65535;

// A track or disc number: a number value, or text such as "3" or "3/12",
// counted from 1 (from 0 with offset 1). A total below the number is
// dropped. False when no value holds a number from 1 to kMaxNumber.
bool NumberOf(const TagLib::ASF::AttributeList& values, int offset, int& number, int& total) {
    static const QRegularExpression pair(QStringLiteral("^(\\d{1,5})\\s*(?:/\\s*(\\d{1,5}))?$"));
    for (const TagLib::ASF::Attribute& a : values) {
        unsigned long long n = 0;
        unsigned long long t = 0;
        if (IsNumberType(a)) {
            n = a.toULongLong() + static_cast<unsigned long long>(offset);
        } else if (a.type() == TagLib::ASF::Attribute::UnicodeType && offset == 0) {
            const QRegularExpressionMatch m = pair.match(FromTagLib(a.toString()));
            if (!m.hasMatch())
                continue;
            n = m.captured(1).toULongLong();
            t = m.captured(2).toULongLong();
        }
        if (n >= 1 && n <= kMaxNumber) {
            number = static_cast<int>(n);
            total = t >= n && t <= kMaxNumber ? static_cast<int>(t) : 0;
            return true;
        }
    }
    return false;
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

// Windows Media Player's rating, 1 to 99, as stars: the ranges that Windows
// gives each number of stars (it sets 1, 25, 50, 75 and 99). 0 is no rating.
int StarsOf(unsigned long long rating) {
    if (rating < 1 || rating > 99)
        return 0;
    if (rating <= 12)
        return 1;
    if (rating <= 37)
        return 2;
    if (rating <= 62)
        return 3;
    if (rating <= 87)
        return 4;
    return 5;
}

// A yes or no: a BOOL or number value, or the text "1", "0", "true",
// "false", "yes" or "no". -1 when no value is one.
int FlagOf(const TagLib::ASF::AttributeList& values) {
    for (const TagLib::ASF::Attribute& a : values) {
        if (a.type() == TagLib::ASF::Attribute::BoolType)
            return a.toBool() ? 1 : 0;
        if (IsNumberType(a))
            return a.toULongLong() != 0 ? 1 : 0;
        if (a.type() == TagLib::ASF::Attribute::UnicodeType) {
            const QString text = FromTagLib(a.toString()).toLower();
            if (text == QLatin1String("1") || text == QLatin1String("true") || text == QLatin1String("yes"))
                return 1;
            if (text == QLatin1String("0") || text == QLatin1String("false") || text == QLatin1String("no"))
                return 0;
        }
    }
    return -1;
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

// Reads one field from the values of one of its names into t. False when
// none of the values is usable, so that the field's next name is tried.
bool ReadField(const TagField& field, const QString& name, const TagLib::ASF::AttributeList& values,
               TrackTags& t) {
    const QString key = QLatin1String(field.key);
    switch (field.kind) {
        case FieldKind::Text:
        case FieldKind::First:
        case FieldKind::Url: {
            const QStringList texts = TextValues(values);
            if (!texts.isEmpty())
                t.fields[key] = texts;
            return !texts.isEmpty();
        }
        case FieldKind::Number: {
            const int offset = name.compare(QLatin1String("WM/Track"), Qt::CaseInsensitive) == 0 ? 1 : 0;
            int number = 0;
            int total = 0;
            if (!NumberOf(values, offset, number, total))
                return false;
            t.fields[key] = QStringList(QString::number(number));
            // The total that comes with the number stands for the total
            // field until that field is read.
            if (const TagField* totalField = TotalFieldOf(field); totalField && total > 0)
                t.fields[QLatin1String(totalField->key)] = QStringList(QString::number(total));
            return true;
        }
        case FieldKind::Total: {
            int total = 0;
            int unused = 0;
            if (!NumberOf(values, 0, total, unused))
                return false;
            t.fields[key] = QStringList(QString::number(total));
            return true;
        }
        case FieldKind::Date: {
            const QString date = DateOf(TextValues(values).value(0));
            if (!date.isEmpty())
                t.fields[key] = QStringList(date);
            return !date.isEmpty();
        }
        case FieldKind::Rating: {
            for (const TagLib::ASF::Attribute& a : values) {
                bool ok = IsNumberType(a);
                const unsigned long long rating =
                    ok ? a.toULongLong() : FromTagLib(a.toString()).toULongLong(&ok);
                if (!ok || rating > 99)
                    continue;
                if (const int stars = StarsOf(rating))
                    t.fields[key] = QStringList(QString::number(stars));
                return true;
            }
            return false;
        }
        case FieldKind::Flag: {
            const int flag = FlagOf(values);
            if (flag == 1)
                t.fields[key] = QStringList(QStringLiteral("1"));
            return flag >= 0;
        }
        case FieldKind::Picture:
            t.pictures = PicturesOf(values);
            return !t.pictures.isEmpty();
    }
    return false;
}

// A total below its number is dropped.
void DropSmallTotals(TrackTags& t) {
    for (const TagField& number : kTagFields) {
        const TagField* total = TotalFieldOf(number);
        if (total && t.value(total->key).toInt() < t.value(number.key).toInt())
            t.fields.remove(QLatin1String(total->key));
    }
}

bool IsUsableUserFieldName(const QString& name) {
    if (name.trimmed().isEmpty() || name.size() > kMaxUserFieldName)
        return false;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

// The text of a user's own attribute: text, numbers and yes or no ("1" or
// "0"); byte arrays and GUIDs are left out.
QStringList UserValues(const TagLib::ASF::AttributeList& values) {
    QStringList texts;
    for (const TagLib::ASF::Attribute& a : values) {
        const QString text =
            a.type() == TagLib::ASF::Attribute::BoolType ? QString::number(a.toBool()) : TextOf(a);
        if (!text.isEmpty())
            texts << text;
    }
    return texts;
}

}  // namespace

bool TrackTags::isEmpty() const {
    return fields.isEmpty() && pictures.isEmpty() && userFields.isEmpty();
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

        // By name in lower case: a name that a file holds in two letter
        // cases is read as the first of them.
        const QList<Attribute> attributes = AttributesOf(*tag, late);
        QHash<QString, const Attribute*> byName;
        for (const Attribute& a : attributes)
            byName.insert(a.name.toLower(), byName.value(a.name.toLower(), &a));

        for (const TagField& field : kTagFields) {
            for (const QString& name : QString::fromLatin1(field.asf).split(QLatin1Char('|'))) {
                const Attribute* a = byName.value(name.toLower());
                if (a && ReadField(field, name, a->values, t))
                    break;
            }
        }
        DropSmallTotals(t);

        for (const Attribute& a : attributes) {
            if (FieldOfAsfName(a.name) || IsTechnicalAsfAttribute(a.name) || !IsUsableUserFieldName(a.name) ||
                byName.value(a.name.toLower()) != &a)
                continue;
            const QStringList values = UserValues(a.values);
            if (!values.isEmpty())
                t.userFields << UserField{a.name, values};
        }
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
