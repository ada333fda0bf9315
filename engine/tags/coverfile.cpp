#include "tags/coverfile.h"

#include "system/fileio.h"

#include <sys/stat.h>
#include <unistd.h>

std::optional<CoverPicture> ReadCoverFile(const QByteArray& path) {
    const int fd = OpenRegularSource(path.constData());
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    QByteArray data;
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size <= kMaxPictureBytes) {
        data.resize(static_cast<qsizetype>(st.st_size));
        if (ReadAt(fd, data.data(), static_cast<size_t>(data.size()), 0) != static_cast<ssize_t>(data.size()))
            data.clear();
    }
    ::close(fd);
    CoverPicture picture;
    if (data.startsWith("\xFF\xD8\xFF"))
        picture.mimeType = QStringLiteral("image/jpeg");
    else if (data.startsWith("\x89PNG\r\n\x1A\n"))
        picture.mimeType = QStringLiteral("image/png");
    else
        return std::nullopt;
    picture.data = data;
    picture.type = 3;  // the front cover
    return picture;
}
