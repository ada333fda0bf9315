// wmawav INPUT OUTPUT: decodes a Windows Media Audio file to a WAV file.
// INPUT "-" reads the standard input, which must be a regular file; OUTPUT "-"
// writes the standard output. Success is exit status 0 and nothing printed; any failure prints one line to stderr, leaves no output
// file (what went to the standard output stays there) and exits with a
// status from decoder.h.

#include "decoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
        std::fputs("usage: wmawav INPUT.wma|- OUTPUT.wav|-\n", stderr);
        return kStatusUsage;
    }
    // The libraries' own messages would add lines of their own; the one line
    // this program prints says what went wrong.
    av_log_set_level(AV_LOG_QUIET);
    InstallTempCleanupOnSignals();

    const DecodeResult result = DecodeToWav(argv[1], argv[2]);
    if (result.status != kStatusOk) {
        std::string line = "wmawav: " + std::string(argv[1]) + ": " + result.message;
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return result.status;
}
