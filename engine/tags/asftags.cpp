// Reading the tags of a WMA file into the fields of kTagFields, the user's
// own attributes and the pictures.
#include "tags/headerlimits.h"
#include "tags/tagfields.h"
#include "tags/tags.h"
#include "system/fileio.h"
#include "asf/asfheader.h"

#include <QHash>
#include <QSet>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <map>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <taglib/asfattribute.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>

namespace {

// A text as written, nothing trimmed: TagLib reads it up to its first zero
// character, where the zero characters that end it start, and where any
// reader that takes it as a C string ends it. Empty when it is blank or
// longer than kMaxTextLength.
QString FromTagLib(const TagLib::String& s) {
    const QString text = QString::fromStdString(s.to8Bit(true));
    return text.size() <= kMaxTextLength && !text.trimmed().isEmpty() ? text : QString();
}

QString NameOf(const TagLib::String& s) {
    return QString::fromStdString(s.to8Bit(true));
}

// Whether two values are the same to a reader: text by its text, numbers
// and yes or no by their digits, other values by their bytes.
bool SameValue(const TagLib::ASF::Attribute& a, const TagLib::ASF::Attribute& b) {
    const auto scalar = [](const TagLib::ASF::Attribute& v) {
        return v.type() != TagLib::ASF::Attribute::BytesType && v.type() != TagLib::ASF::Attribute::GuidType;
    };
    if (!scalar(a) || !scalar(b))
        return a.type() == b.type() && a.toByteVector() == b.toByteVector();
    const auto text = [](const TagLib::ASF::Attribute& v) {
        return v.type() == TagLib::ASF::Attribute::UnicodeType ? FromTagLib(v.toString())
               : v.type() == TagLib::ASF::Attribute::BoolType  ? QString::number(v.toBool())
                                                               : QString::number(v.toULongLong());
    };
    return text(a) == text(b);
}

// One attribute name of the header with its values.
struct Attribute {
    QString name;
    TagLib::ASF::AttributeList values;
};

// An entry of the header as a tag object holds it, and its value.
struct Placed {
    AsfTagObject object;
    TagLib::String name;
    TagLib::ASF::Attribute value;
};

// The names of the Content Description's texts, in its order.
constexpr const char* kDescribed[] = {"Title", "Author", "Copyright", "Description", "Rating"};

uint64_t LittleEndian(const uint8_t* p, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = bytes; i > 0; --i)
        v = (v << 8) | p[i - 1];
    return v;
}

// A UTF-16LE text as the header holds it, without the zero characters that
// end it.
TagLib::String TextAt(const uint8_t* p, size_t bytes) {
    bytes &= ~size_t(1);
    while (bytes >= 2 && p[bytes - 1] == 0 && p[bytes - 2] == 0)
        bytes -= 2;
    return TagLib::String(TagLib::ByteVector(reinterpret_cast<const char*>(p), static_cast<unsigned int>(bytes)),
                          TagLib::String::UTF16LE);
}

// The fields a result's name can be made of, by their keys.
constexpr const char* kNamingFields[] = {"title",       "artist",      "albumartist", "album",
                                         "tracknumber", "totaltracks", "discnumber",  "totaldiscs",
                                         "date",        "genre",       "composer",    "compilation"};

// The ASF names of the naming fields in lower case, as bytes: what an entry
// must be called to be read for a name.
bool IsNamingAsfName(const uint8_t* utf16, size_t bytes) {
    static const QSet<QByteArray> names = [] {
        QSet<QByteArray> all;
        for (const TagField& field : kTagFields)
            if (IsNamingField(field.key))
                for (const QByteArray& name : QByteArray(field.asf).split('|'))
                    all.insert(name.toLower());
        return all;
    }();
    char lower[64];
    size_t n = 0;
    for (size_t i = 0; i + 1 < bytes && !(utf16[i] == 0 && utf16[i + 1] == 0); i += 2) {
        if (utf16[i + 1] != 0 || utf16[i] >= 0x80 || n == sizeof lower)
            return false;
        const char c = static_cast<char>(utf16[i]);
        lower[n++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return names.contains(QByteArray::fromRawData(lower, static_cast<qsizetype>(n)));
}

// What the header holds, in its order: the Content Description's texts and
// the named entries with their values; for a name, only what it can be
// made of.
struct HeaderEntries {
    TagScope scope = TagScope::All;
    std::vector<std::pair<int, TagLib::String>> described;
    std::vector<Placed> placed;
};

// The value of an entry as TagLib holds it, or nullopt for one that is cut
// short.
std::optional<TagLib::ASF::Attribute> ValueOf(const AsfTagEntry& e, const TagLib::String& name) {
    const bool descriptor = e.object == AsfTagObject::ExtendedContentDescription;
    const size_t n = e.valueBytes;
    switch (e.valueType) {
        case kAsfUnicode:
            return TagLib::ASF::Attribute(TextAt(e.value, n));
        case kAsfBool:
            if (n < (descriptor ? 4u : 2u))
                return std::nullopt;
            return TagLib::ASF::Attribute(LittleEndian(e.value, descriptor ? 4 : 2) == 1);
        case kAsfDword:
            if (n < 4)
                return std::nullopt;
            return TagLib::ASF::Attribute(static_cast<unsigned int>(LittleEndian(e.value, 4)));
        case kAsfQword:
            if (n < 8)
                return std::nullopt;
            return TagLib::ASF::Attribute(static_cast<unsigned long long>(LittleEndian(e.value, 8)));
        case kAsfWord:
            if (n < 2)
                return std::nullopt;
            return TagLib::ASF::Attribute(static_cast<unsigned short>(LittleEndian(e.value, 2)));
        default: {
            const TagLib::ByteVector bytes(reinterpret_cast<const char*>(e.value), static_cast<unsigned int>(n));
            if (e.valueType == kAsfBytes && name == "WM/Picture") {
                TagLib::ASF::Picture picture;
                picture.parse(bytes);
                if (picture.isValid())
                    return TagLib::ASF::Attribute(picture);
            }
            return TagLib::ASF::Attribute(bytes);
        }
    }
}

void TakeEntry(const AsfTagEntry& e, void* context) {
    HeaderEntries& h = *static_cast<HeaderEntries*>(context);
    if (e.object == AsfTagObject::ContentDescription) {
        // Of the texts, a name is made of the title and the author only.
        if (h.scope == TagScope::All || e.described <= 1)
            h.described.emplace_back(e.described, TextAt(e.value, e.valueBytes));
        return;
    }
    // A zero character inside the name, before those that end it, makes it
    // damaged: a reader that takes it as a C string reads only its start.
    size_t bytes = e.nameBytes & ~size_t(1);
    while (bytes >= 2 && e.name[bytes - 1] == 0 && e.name[bytes - 2] == 0)
        bytes -= 2;
    for (size_t i = 0; i < bytes; i += 2)
        if (e.name[i] == 0 && e.name[i + 1] == 0)
            return;
    if (h.scope == TagScope::Naming && !IsNamingAsfName(e.name, e.nameBytes))
        return;
    TagLib::String name = TextAt(e.name, e.nameBytes);
    if (std::optional<TagLib::ASF::Attribute> value = ValueOf(e, name))
        h.placed.push_back(Placed{e.object, std::move(name), std::move(*value)});
}

// Every attribute of the header, in the order a tagger writes them: the
// texts of the Content Description, then the attributes of the Extended
// Content Description, the Metadata and the Metadata Library objects, each
// object's in the order it holds them, wherever the objects stand. A tagger
// writes the first value of a repeated attribute into the Extended Content
// Description (the first artist into the Content Description) and the
// others into the Metadata Library, so the values come in the order
// written. A name that the header holds in two letter cases is the first of
// them: the other's values are left out, and so are the values of a damaged
// name. A value that is there twice (a title in the Content Description and
// again in the Metadata Library) is one value.
QList<Attribute> AttributesOf(HeaderEntries& h) {
    std::stable_sort(h.placed.begin(), h.placed.end(),
                     [](const Placed& a, const Placed& b) { return a.object < b.object; });
    QList<Attribute> attributes;
    QHash<QString, qsizetype> byName;  // by the name in lower case
    const auto add = [&](const QString& name, const TagLib::ASF::Attribute& value) {
        const auto known = byName.constFind(name.toLower());
        if (known == byName.cend()) {
            byName.insert(name.toLower(), attributes.size());
            attributes << Attribute{name, TagLib::ASF::AttributeList()};
            attributes.last().values.append(value);
            return;
        }
        Attribute& a = attributes[*known];
        if (a.name != name)
            return;
        for (const TagLib::ASF::Attribute& v : a.values)
            if (SameValue(v, value))
                return;
        a.values.append(value);
    };
    for (const auto& [index, text] : h.described)
        if (!text.isEmpty() && index >= 0 && index < 5)
            add(QLatin1String(kDescribed[index]), TagLib::ASF::Attribute(text));
    for (const Placed& p : h.placed)
        add(NameOf(p.name), p.value);
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
            const QRegularExpressionMatch m = pair.match(FromTagLib(a.toString()).trimmed());
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
            const QString text = FromTagLib(a.toString()).trimmed().toLower();
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
            const QString date = DateOf(TextValues(values).value(0).trimmed());
            if (!date.isEmpty())
                t.fields[key] = QStringList(date);
            return !date.isEmpty();
        }
        case FieldKind::Rating: {
            for (const TagLib::ASF::Attribute& a : values) {
                bool ok = IsNumberType(a);
                const unsigned long long rating =
                    ok ? a.toULongLong() : FromTagLib(a.toString()).trimmed().toULongLong(&ok);
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

// Each field of the table with its ASF names, as written and in lower
// case, and whether a name can be made of it; made once.
struct NamesOfField {
    const TagField* field;
    bool naming;
    std::vector<std::pair<QString, QString>> names;
};
const std::vector<NamesOfField>& FieldNames() {
    static const std::vector<NamesOfField> all = [] {
        std::vector<NamesOfField> fields;
        for (const TagField& field : kTagFields) {
            NamesOfField f{&field, IsNamingField(field.key), {}};
            for (const QString& name : QString::fromLatin1(field.asf).split(QLatin1Char('|')))
                f.names.emplace_back(name, name.toLower());
            fields.push_back(std::move(f));
        }
        return fields;
    }();
    return all;
}

TrackTags ReadTagsFrom(int fd, TagScope scope) {
    TrackTags t;
    try {
        // A header that would take long to read gives no tags; the decoder
        // still judges the audio.
        const QByteArray header = ReadAsfHeader(fd);
        HeaderEntries entries;
        entries.scope = scope;
        if (header.isEmpty() || !ScanCheckedAsfTags(header, TakeEntry, &entries))
            return t;
        const QList<Attribute> attributes = AttributesOf(entries);
        QHash<QString, const Attribute*> byName;
        for (const Attribute& a : attributes)
            byName.insert(a.name.toLower(), &a);

        for (const NamesOfField& f : FieldNames()) {
            if (scope == TagScope::Naming && !f.naming)
                continue;
            for (const auto& [name, lower] : f.names) {
                const Attribute* a = byName.value(lower);
                if (a && ReadField(*f.field, name, a->values, t))
                    break;
            }
        }
        DropSmallTotals(t);
        if (scope == TagScope::Naming)
            return t;

        for (const Attribute& a : attributes) {
            if (FieldOfAsfName(a.name) || IsTechnicalAsfAttribute(a.name) || !IsUsableUserFieldName(a.name))
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

bool IsNamingField(const char* key) {
    for (const char* naming : kNamingFields)
        if (qstrcmp(naming, key) == 0)
            return true;
    return false;
}

TrackTags ReadWmaTags(const QString& path) {
    const int fd = OpenRegularSource(path);
    if (fd < 0)
        return TrackTags();
    TrackTags t = ReadTagsFrom(fd, TagScope::All);
    ::close(fd);
    return t;
}

TrackTags ReadWmaTags(int fd, TagScope scope) {
    return ReadTagsFrom(fd, scope);
}
