#include "convert/formats.h"

#include <cstdlib>

const FormatRow& FormatOf(ConversionFormat format) {
    const auto i = static_cast<size_t>(format);
    if (i >= std::size(kFormats))
        std::abort();
    return kFormats[i];
}

const FormatRow* FormatNamed(QStringView name) {
    for (const FormatRow& row : kFormats) {
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

QString FormatNames(const char* separator) {
    QString names;
    for (const FormatRow& row : kFormats) {
        if (!names.isEmpty())
            names += QLatin1String(separator);
        names += QLatin1String(row.name);
    }
    return names;
}

QByteArray ResultFileName(QByteArrayView sourceName, ConversionFormat format) {
    // Only the file name loses its extension: a dot in a folder's name is
    // no extension, nor is the dot that begins a hidden file's name.
    const qsizetype dot = sourceName.lastIndexOf('.');
    const QByteArrayView stem = dot > 0 ? sourceName.first(dot) : sourceName;
    QByteArray name;
    name.reserve(stem.size() + 4);
    return name.append(stem).append(FormatOf(format).extension);
}

QStringList LameArguments(const EncoderQuality& quality) {
    // -S: no progress on stderr, where only its failures are wanted; the
    // bytes are the same.
    if (quality.bitrate > 0)
        return {QStringLiteral("-S"), QStringLiteral("--cbr"), QStringLiteral("-b"), QString::number(quality.bitrate)};
    if (quality.vbr >= 0)
        return {QStringLiteral("-S"), QStringLiteral("-V"), QString::number(quality.vbr)};
    return {QStringLiteral("-S")};  // LAME's own defaults: the window's bytes
}

QStringList LameTagRoomArguments(int padding) {
    return {QStringLiteral("--id3v2-only"), QStringLiteral("--pad-id3v2-size"), QString::number(padding)};
}

namespace {

QStringList AudioencArguments(const char* target, const EncoderQuality& quality) {
    QStringList arguments{QStringLiteral("--to"), QLatin1String(target)};
    if (quality.bitrate > 0)
        arguments << QStringLiteral("--bitrate") << QString::number(quality.bitrate);
    return arguments;
}

}  // namespace

QStringList FlacArguments(const EncoderQuality& quality) {
    return AudioencArguments("flac", quality);
}

QStringList OpusArguments(const EncoderQuality& quality) {
    return AudioencArguments("opus", quality);
}

QStringList M4aArguments(const EncoderQuality& quality) {
    return AudioencArguments("m4a", quality);
}
