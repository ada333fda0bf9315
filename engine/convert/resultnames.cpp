#include "convert/resultnames.h"

#include <QString>
#include <QStringDecoder>

#include <cstdio>
#include <cstring>

namespace {

// Windows-1252's characters for the bytes 0x80 to 0x9F (0: none there); the
// bytes from 0xA0 on are Latin-1's.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

QString FromUtf8OrWindows1252(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    text.clear();
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        text += b >= 0x80 && b < 0xA0 ? QChar(kWindows1252[b - 0x80]) : QChar(b);
    }
    return text;
}

bool IsDeviceName(const QString& stem) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    const QString upper = stem.toUpper();
    for (const char* device : kDevices) {
        if (upper == QLatin1String(device))
            return true;
    }
    return upper.size() == 4 && (upper.startsWith(QLatin1String("COM")) || upper.startsWith(QLatin1String("LPT"))) &&
           upper[3] >= QLatin1Char('1') && upper[3] <= QLatin1Char('9');
}

// Where a name of size bytes may be cut at or before most, never inside a
// UTF-8 character.
qsizetype CutAt(QByteArrayView name, qsizetype most) {
    if (most >= name.size())
        return name.size();
    qsizetype at = qMax<qsizetype>(most, 0);
    while (at > 0 && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

// The text in ASCII: accents dropped, a few letters spelt out, anything
// else "_".
QString InAscii(const QString& text) {
    QString ascii;
    for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.unicode() < 0x80)
            ascii += c;
        else if (c.category() == QChar::Mark_NonSpacing)
            continue;
        else if (c == QChar(0xDF))
            ascii += QLatin1String("ss");
        else if (c == QChar(0xE6) || c == QChar(0xC6))
            ascii += c == QChar(0xE6) ? QLatin1String("ae") : QLatin1String("AE");
        else if (c == QChar(0x153) || c == QChar(0x152))
            ascii += c == QChar(0x153) ? QLatin1String("oe") : QLatin1String("OE");
        else if (c == QChar(0xF8) || c == QChar(0xD8))
            ascii += c == QChar(0xF8) ? QLatin1Char('o') : QLatin1Char('O');
        else
            ascii += QLatin1Char('_');
    }
    return ascii;
}

}  // namespace

QByteArray PortableName(QByteArrayView name, bool asciiOnly) {
    QString text = FromUtf8OrWindows1252(name);
    if (asciiOnly)
        text = InAscii(text);
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u == u'"')
            c = QLatin1Char('\'');
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0 ||
                 QStringView(u"*/:<>?\\|").contains(c))
            c = QLatin1Char('_');
    }
    while (!text.isEmpty() && (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(' '))))
        text.chop(1);
    if (text.isEmpty())
        return QByteArrayLiteral("_");
    // "CON.live" is taken for the device as well as "CON".
    if (IsDeviceName(text.section(QLatin1Char('.'), 0, 0)))
        text.insert(text.indexOf(QLatin1Char('.')) < 0 ? text.size() : text.indexOf(QLatin1Char('.')),
                    QLatin1Char('_'));
    return text.toUtf8();
}

QByteArray NumberedName(QByteArrayView stem, int k, QByteArrayView extension, int longest) {
    char number[16];
    const int digits = k > 1 ? std::snprintf(number, sizeof number, " (%d)", k) : 0;
    const qsizetype kept = CutAt(stem, longest - digits - extension.size());
    QByteArray name(kept + digits + extension.size(), Qt::Uninitialized);
    char* at = name.data();
    std::memcpy(at, stem.data(), static_cast<size_t>(kept));
    std::memcpy(at + kept, number, static_cast<size_t>(digits));
    std::memcpy(at + kept + digits, extension.data(), static_cast<size_t>(extension.size()));
    return name;
}

QByteArray FittedName(QByteArrayView name, int longest) {
    return name.first(CutAt(name, longest)).toByteArray();
}

QByteArrayView StemOf(QByteArrayView name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.first(dot) : name;
}

QByteArrayView ExtensionOf(QByteArrayView name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.sliced(dot) : QByteArrayView();
}

QByteArray CaseKey(QByteArrayView name) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(name);
    if (!utf8.hasError())
        return text.toCaseFolded().toUtf8();
    QByteArray key = name.toByteArray();
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}
