#include "tags/tagwrite.h"

#include "tags/checkedstream.h"
#include "tags/tags.h"
#include "system/fileio.h"

#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

TagLib::String ToTagLib(const QString& s) {
    return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}

namespace {

bool TagCopyAndReplace(const QString& path, const std::function<bool(CheckedFileStream&)>& tagIt) {
    const std::string target = SystemPath(path);
    CheckedFileStream original(target);
    if (!original.isOpen())
        return false;
    std::string temp =
        SystemPath(path.left(path.lastIndexOf(QLatin1Char('/')) + 1)) + kTagsTempPrefix + "XXXXXX";
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

bool TagFile(const TagTarget& target, bool somethingToWrite, const std::function<bool(CheckedFileStream&)>& tagIt) {
    if (!somethingToWrite)
        return true;
    try {
        if (target.fd < 0)
            return TagCopyAndReplace(target.path, tagIt);
        const int fd = ::fcntl(target.fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return false;
        CheckedFileStream stream(fd, std::string("-"));
        const bool tagged = tagIt(stream);
        return stream.close() && tagged;
    } catch (...) {
        return false;
    }
}

namespace {

const uchar* Bytes(const QByteArray& data) {
    return reinterpret_cast<const uchar*>(data.constData());
}

// PNG: the IHDR chunk comes first; an indexed picture's palette (PLTE)
// comes before the image data.
ImageInfo PngInfo(const QByteArray& data) {
    ImageInfo info;
    info.format = ImageInfo::Png;
    if (data.size() < 33 || data.mid(12, 4) != "IHDR")
        return info;
    const uchar* p = Bytes(data);
    const int bitDepth = p[24];
    const int colorType = p[25];
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    if (colorType > 6 || channels[colorType] == 0)
        return info;
    info.width = static_cast<int>(qFromBigEndian<quint32>(p + 16));
    info.height = static_cast<int>(qFromBigEndian<quint32>(p + 20));
    info.depth = bitDepth * channels[colorType];
    for (qsizetype at = 33; colorType == 3 && at + 8 <= data.size();) {
        const quint32 length = qFromBigEndian<quint32>(p + at);
        const QByteArray type = data.mid(at + 4, 4);
        if (type == "PLTE") {
            info.colors = static_cast<int>(length / 3);
            break;
        }
        if (type == "IDAT" || length > static_cast<quint32>(data.size()))
            break;
        at += 12 + static_cast<qsizetype>(length);
    }
    return info;
}

// JPEG: the size stands in the start-of-frame segment, after the segments
// before it.
ImageInfo JpegInfo(const QByteArray& data) {
    ImageInfo info;
    info.format = ImageInfo::Jpeg;
    const uchar* p = Bytes(data);
    qsizetype at = 2;
    while (at + 4 <= data.size()) {
        if (p[at] != 0xFF)
            break;
        const uchar marker = p[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        const int length = qFromBigEndian<quint16>(p + at + 2);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 8 || at + 2 + 8 > data.size())
                break;
            info.height = qFromBigEndian<quint16>(p + at + 5);
            info.width = qFromBigEndian<quint16>(p + at + 7);
            info.depth = p[at + 4] * p[at + 9];
            break;
        }
        if (length < 2 || marker == 0xDA || marker == 0xD9)
            break;
        at += 2 + length;
    }
    return info;
}

ImageInfo GifInfo(const QByteArray& data) {
    ImageInfo info;
    info.format = ImageInfo::Gif;
    if (data.size() < 13)
        return info;
    const uchar* p = Bytes(data);
    info.width = qFromLittleEndian<quint16>(p + 6);
    info.height = qFromLittleEndian<quint16>(p + 8);
    info.depth = (p[10] & 0x07) + 1;
    if (p[10] & 0x80)
        info.colors = 1 << info.depth;
    return info;
}

ImageInfo BmpInfo(const QByteArray& data) {
    ImageInfo info;
    info.format = ImageInfo::Bmp;
    if (data.size() < 30)
        return info;
    const uchar* p = Bytes(data);
    info.width = qAbs(qFromLittleEndian<qint32>(p + 18));
    info.height = qAbs(qFromLittleEndian<qint32>(p + 22));
    info.depth = qFromLittleEndian<quint16>(p + 28);
    return info;
}

}  // namespace

ImageInfo ImageInfoOf(const QByteArray& data) {
    if (data.startsWith("\x89PNG\r\n\x1a\n"))
        return PngInfo(data);
    if (data.startsWith("\xFF\xD8\xFF"))
        return JpegInfo(data);
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a"))
        return GifInfo(data);
    if (data.startsWith("BM"))
        return BmpInfo(data);
    return ImageInfo();
}

QString MimeTypeOf(ImageInfo::Format format) {
    switch (format) {
        case ImageInfo::Jpeg:
            return QStringLiteral("image/jpeg");
        case ImageInfo::Png:
            return QStringLiteral("image/png");
        case ImageInfo::Gif:
            return QStringLiteral("image/gif");
        case ImageInfo::Bmp:
            return QStringLiteral("image/bmp");
        case ImageInfo::Unknown:
            break;
    }
    return QString();
}
