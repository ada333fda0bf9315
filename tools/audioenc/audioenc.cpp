// audioenc --to flac|opus|m4a [--bitrate KBPS] INPUT OUTPUT: encodes a WAV
// stream (16-bit or 24-bit PCM, mono or stereo) to FLAC, to Opus in Ogg or
// to AAC in an M4A file. INPUT "-" reads the standard input, which may be a
// pipe; OUTPUT is a file, written whole or not at all, or "-" for the
// standard output, an empty regular file that the caller keeps only when
// the status is 0. --bitrate sets the
// kilobits a second of Opus and AAC (6 to 512); FLAC takes none. Success is
// exit status 0 and nothing printed; any failure prints one line to stderr,
// leaves no output file and exits with a status from encoder.h.

#include "audioenc/encoder.h"
#include "common/outputfile.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Kilobits a second, a whole number from 6 to 512; 0 when it is not one.
int ParseKbps(const char* text) {
    if (!*text || std::strlen(text) > 3)
        return 0;
    for (const char* p = text; *p; ++p)
        if (*p < '0' || *p > '9')
            return 0;
    const int kbps = std::atoi(text);
    return kbps >= 6 && kbps <= 512 ? kbps : 0;
}

int Usage() {
    std::fputs("usage: audioenc --to flac|opus|m4a [--bitrate KBPS] INPUT.wav|- OUTPUT\n", stderr);
    return kEncUsage;
}

}  // namespace

int main(int argc, char** argv) {
    EncodeOptions options;
    bool haveTarget = false;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; first += 2) {
        if (first + 1 >= argc)
            return Usage();
        const char* value = argv[first + 1];
        if (std::strcmp(argv[first], "--to") == 0) {
            if (haveTarget || !EncodeTargetFromName(value, &options.target))
                return Usage();
            haveTarget = true;
        } else if (std::strcmp(argv[first], "--bitrate") == 0) {
            if (options.kbps != 0 || (options.kbps = ParseKbps(value)) == 0)
                return Usage();
        } else {
            return Usage();
        }
    }
    if (!haveTarget || argc - first != 2 || argv[first][0] == '\0' || argv[first + 1][0] == '\0' ||
        (options.kbps != 0 && options.target == EncodeTarget::Flac))
        return Usage();
    const char* input = argv[first];
    // The libraries' own messages would add lines of their own; the one line
    // this program prints says what went wrong.
    av_log_set_level(AV_LOG_QUIET);
    InstallTempCleanupOnSignals();

    const EncodeResult result = EncodeWav(input, argv[first + 1], options);
    if (result.status != kEncOk) {
        std::string line = "audioenc: " + std::string(input) + ": " + result.message;
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return result.status;
}
