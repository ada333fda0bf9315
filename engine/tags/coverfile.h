#pragma once
// A picture file beside the music, such as the album art that Windows
// keeps in an album's folder, taken as the album's front cover.
#include "tags/tags.h"

#include <QByteArray>

#include <optional>

// The picture file at path as a front cover, its MIME type told from its
// first bytes; nullopt when it is no regular file, cannot be read, is empty
// or larger than kMaxPictureBytes, or is no JPEG or PNG picture.
std::optional<CoverPicture> ReadCoverFile(const QByteArray& path);
