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
