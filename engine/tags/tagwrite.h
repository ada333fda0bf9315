#pragma once
// What the tag writers of the result formats share: the copy through which a
// result is tagged, and what a picture's own bytes tell of it.
#include <QByteArray>
#include <QString>

#include <taglib/tstring.h>

#include <functional>

class CheckedFileStream;

TagLib::String ToTagLib(const QString& s);

struct TagTarget;

// Writes tags into the target through tagIt. A file at a path is tagged as
// a copy that is put in its place only when the copy was read, tagged and
// written without a single failure (the copy lies beside the file under a
// hidden temporary name); an open file is tagged where it stands. Nothing
// to write (a source without tags) leaves the file as it is; false when
// nothing was written.
bool TagFile(const TagTarget& target, bool somethingToWrite, const std::function<bool(CheckedFileStream&)>& tagIt);

// A picture as its header describes it. The size is 0 by 0 where the format
// is not one of these or the header is damaged.
struct ImageInfo {
    enum Format { Unknown, Jpeg, Png, Gif, Bmp };
    Format format = Unknown;
    int width = 0;
    int height = 0;
    int depth = 0;   // bits per pixel
    int colors = 0;  // the palette's size for an indexed picture, else 0
};

// Tells the format from the picture's first bytes, whatever MIME type it
// was stored with.
ImageInfo ImageInfoOf(const QByteArray& data);
// The MIME type of a format; empty for Unknown.
QString MimeTypeOf(ImageInfo::Format format);
