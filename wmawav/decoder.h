// Decoding one ASF/WMA file to a 16-bit PCM WAV file.
#pragma once

#include <string>

// Exit status of the wmawav program, one per kind of failure.
enum WmaWavStatus {
    kStatusOk = 0,
    kStatusUsage = 2,        // wrong command line
    kStatusUnsupported = 3,  // not ASF, no Windows Media Audio stream, or no regular file to read
    kStatusDrm = 4,          // DRM-protected
    kStatusDamaged = 5,      // damaged, truncated, unreadable or without decodable audio
    kStatusOutput = 6,       // the output cannot be written (no room, no permission)
};

// The temporary output's name: this prefix and six random characters. Short
// and fixed, so that it fits beside any output name the system accepts, and
// so that whoever runs the decoder in a folder of its own can find what a
// killed decoder left there.
inline constexpr char kTempPrefix[] = ".wmawav-";

struct DecodeOptions {
    // Only Windows Media Audio streams are decoded. The test suites turn this
    // off to feed the same pipeline a multichannel PCM stream in ASF: no
    // encoder at hand writes WMA with more than two channels, and the mixdown
    // to stereo must still be exercised.
    bool wmaCodecsOnly = true;
};

struct DecodeResult {
    WmaWavStatus status = kStatusOk;
    std::string message;  // one line, no newline; empty on success
};

// Decodes the first audio stream of `input` into a canonical RIFF/WAVE file
// at `output`: 16-bit PCM at the source's sample rate, mono or stereo (more
// channels are mixed down to stereo). The input is opened once and only when
// it is a regular file: a FIFO or device is refused at once, never waited
// on. The file is written under a temporary name (kTempPrefix and six random
// characters) in the output's folder and renamed when complete; on any
// failure nothing is left behind.
DecodeResult DecodeToWav(const std::string& input, const std::string& output,
                         const DecodeOptions& options = DecodeOptions());

// Makes SIGINT, SIGTERM and SIGHUP remove a half-written temporary file
// before the process ends. For the command-line program.
void InstallTempCleanupOnSignals();
