// Encoding a WAV stream to FLAC, to Opus in Ogg, or to AAC in an M4A file,
// with the FFmpeg libraries.
#pragma once

#include <string>

// Exit status of the audioenc program, one per kind of failure.
enum AudioEncStatus {
    kEncOk = 0,
    kEncUsage = 2,     // wrong command line
    kEncInput = 3,     // the input is not a usable WAV stream (or cannot be read)
    kEncOutput = 6,    // the output cannot be written (no room, no permission, not a regular file)
    kEncFailed = 9,    // the encoder or the container writer failed
};

// The temporary output's name: this prefix and six random characters, in the
// output's folder.
inline constexpr char kEncoderTempPrefix[] = ".audioenc-";

enum class EncodeTarget {
    Flac,  // FLAC, compression level 5, the source's rate, channels and bits
    Opus,  // Opus in Ogg at 48 kHz, VBR
    M4a,   // AAC-LC in MP4 (ftyp "M4A ")
};

struct EncodeOptions {
    EncodeTarget target = EncodeTarget::Flac;
    // Kilobits a second for Opus and AAC; 0 gives the default: Opus 128 for
    // stereo and 64 for mono, AAC 192 and 96. FLAC takes none.
    int kbps = 0;
};

struct EncodeResult {
    AudioEncStatus status = kEncOk;
    std::string message;  // one line, no newline; empty on success
};

// Encodes the WAV stream `input` (a file, or "-" for the standard input,
// which may be a pipe and is read from where it stands) into the file
// `output`. The input is 16-bit or 24-bit PCM, mono or stereo; sizes of
// 0xFFFFFFFF ("unknown") are read to the end of the stream. The result is
// written under a temporary name (kEncoderTempPrefix and six random
// characters) in the output's folder and renamed when complete; on any
// failure nothing is left behind, and an output that exists and is not a
// regular file is left as it is.
//
// FLAC holds exactly the input's samples and the MD5 of them. Opus is
// resampled to 48 kHz (SoX's resampler at 20 bits of precision) and holds
// as many samples as the input's length at 48 kHz, its encoder delay
// recorded as pre-skip and its end as the last granule position. AAC keeps
// the input's rate where AAC has it (else the next higher one AAC has),
// records its encoder delay and length in an edit list and puts the index
// (moov) in front of the audio.
EncodeResult EncodeWav(const std::string& input, const std::string& output, const EncodeOptions& options);

// The targets by the names the command line uses: "flac", "opus", "m4a".
bool EncodeTargetFromName(const std::string& name, EncodeTarget* target);
