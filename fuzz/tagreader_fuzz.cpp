// libFuzzer target for the tag reader: each input is written as a file and
// read through ReadWmaTags, the entry that a conversion run uses on its
// working copy. Besides the sanitizers' checks it holds the reader to its
// promises: no text or picture beyond the limits comes out, numbers and
// ratings stay in their ranges, and the read
// ends quickly (libFuzzer's -timeout).

#include "tags/tags.h"

#include <QString>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <string>

namespace {

// One file, rewritten for every input and removed when the fuzzer ends.
const std::string& InputPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/tagreader-fuzz-XXXXXX";
        const int fd = ::mkstemp(p.data());
        if (fd < 0)
            std::abort();
        ::close(fd);
        std::atexit([] { ::unlink(InputPath().c_str()); });
        return p;
    }();
    return path;
}

void Require(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = ::open(InputPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    Require(fd >= 0);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        Require(n > 0);
        done += static_cast<size_t>(n);
    }
    ::close(fd);

    const TrackTags tags = ReadWmaTags(QString::fromStdString(InputPath()));
    for (const QStringList& values : tags.fields)
        for (const QString& value : values)
            Require(value.size() <= kMaxTextLength);
    for (const UserField& field : tags.userFields) {
        Require(!field.name.isEmpty() && field.name.size() <= kMaxUserFieldName);
        for (const QString& value : field.values)
            Require(value.size() <= kMaxTextLength);
    }
    for (const CoverPicture& picture : tags.pictures)
        Require(picture.data.size() <= kMaxPictureBytes);
    for (const char* number : {"tracknumber", "totaltracks", "discnumber", "totaldiscs"}) {
        const int n = tags.value(number).toInt();
        Require(tags.value(number).isEmpty() || (n >= 1 && n <= 65535));
    }
    Require(tags.value("rating").isEmpty() ||
            (tags.value("rating").toInt() >= 1 && tags.value("rating").toInt() <= 5));
    return 0;
}
