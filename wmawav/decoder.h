// Decoding one ASF/WMA file to a 16-bit PCM WAV file.
#pragma once

#include <string>

// Exit status of the wmawav program, one per kind of failure.
enum WmaWavStatus {
    kStatusOk = 0,
    kStatusUsage = 1,        // wrong command line
    kStatusInput = 2,        // the input cannot be opened or read
    kStatusUnsupported = 3,  // not ASF, or no Windows Media Audio stream
    kStatusDrm = 4,          // DRM-protected
    kStatusDamaged = 5,      // damaged, truncated or without decodable audio
    kStatusOutput = 6,       // the output cannot be written
};

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
// channels are mixed down to stereo). The file is written under a temporary
// name in the output's folder and renamed when complete; on any failure
// nothing is left behind.
DecodeResult DecodeToWav(const std::string& input, const std::string& output,
                         const DecodeOptions& options = DecodeOptions());

// Makes SIGINT, SIGTERM and SIGHUP remove a half-written temporary file
// before the process ends. For the command-line program.
void InstallTempCleanupOnSignals();
