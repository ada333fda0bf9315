// wmawav [--partial] [--keep-depth] INPUT OUTPUT: decodes a Windows Media
// Audio file to a WAV file. INPUT "-" reads the standard input, which must be
// a regular file; OUTPUT "-" writes the standard output. Success is exit
// status 0 and nothing printed; any failure prints one line to stderr, leaves
// no output file (what went to the standard output stays there) and exits
// with a status from decoder.h. The options may come in any order.
//
// --partial decodes a file that was cut short in its audio data (a download
// or copy that stopped) up to the cut: the output is written as for a whole
// file, the status is 8 and the line on stderr says how much was there:
// "wmawav: INPUT: cut short: 53.9 s of 60.0 s".
//
// --keep-depth writes 24-bit samples where the source has more than 16 bits
// (WMA Lossless, WMA Pro of a 24-bit source); other sources give the same
// 16-bit file as without it.

#include "wmawav/decoder.h"
#include "common/outputfile.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    DecodeOptions options;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::strcmp(argv[first], "--partial") == 0)
            options.acceptCutShort = true;
        else if (std::strcmp(argv[first], "--keep-depth") == 0)
            options.keepDepth = true;
        else
            break;
    }
    if (argc - first != 2 || argv[first][0] == '\0' || argv[first + 1][0] == '\0') {
        std::fputs("usage: wmawav [--partial] [--keep-depth] INPUT.wma|- OUTPUT.wav|-\n", stderr);
        return kStatusUsage;
    }
    const char* input = argv[first];
    // The libraries' own messages would add lines of their own; the one line
    // this program prints says what went wrong.
    av_log_set_level(AV_LOG_QUIET);
    InstallTempCleanupOnSignals();

    const DecodeResult result = DecodeToWav(input, argv[first + 1], options);
    if (result.status != kStatusOk) {
        std::string line = "wmawav: " + std::string(input) + ": " + result.message;
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    return result.status;
}
