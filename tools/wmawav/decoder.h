// Decoding one ASF/WMA file to a PCM WAV file.
#pragma once

#include <string>

// Exit status of the wmawav program, one per kind of failure.
enum WmaWavStatus {
    kStatusOk = 0,
    kStatusUsage = 2,        // wrong command line
    kStatusUnsupported = 3,  // not ASF, no Windows Media Audio stream, or no regular file to read
    kStatusDrm = 4,          // DRM-protected
    kStatusDamaged = 5,      // damaged, truncated, unreadable or without decodable audio
    kStatusOutput = 6,       // the output cannot be written (no room, no permission, not a regular file)
    kStatusTooLong = 7,      // the audio does not fit in a WAV file (4 GiB)
    kStatusCutShort = 8,     // with DecodeOptions::acceptCutShort: the file ends inside its
                             // audio data, or its audio stops well before the length its
                             // header gives; the audio up to there was written
};

// The output name that stands for the standard output.
inline constexpr char kStandardOutput[] = "-";
// The input name that stands for the standard input, which must be a regular
// file: it is read from its start, whatever its offset.
inline constexpr char kStandardInput[] = "-";

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
    // A file that ends before its Data Object and its File Properties say it
    // should, and is whole up to there, is decoded up to where it ends: the
    // output is written as for a whole file, and the result is
    // kStatusCutShort with the message "cut short: 53.9 s of 60.0 s". Off,
    // such a file is kStatusDamaged with no output. A file whose audio
    // stops more than a second and a tenth short of its header's length (a
    // download made at full size and never finished, zeros at its end) is
    // kStatusCutShort as well; off, it is decoded as far as it goes. A cut
    // before the first audio packet, or any other damage, fails as it would
    // without it.
    bool acceptCutShort = false;
    // Where the decoder gives more than 16 bits of the source's audio (WMA
    // Lossless of 24 bits; WMA Pro made from a source of more than 16 bits),
    // the WAV file holds 24-bit samples (WAVE_FORMAT_EXTENSIBLE, a 68-byte
    // header); every other source gives the same 16-bit file as without it.
    bool keepDepth = false;
};

struct DecodeResult {
    WmaWavStatus status = kStatusOk;
    std::string message;  // one line, no newline; empty on success
    // Seconds of audio written, when the output was written (kStatusOk and
    // kStatusCutShort), otherwise 0.
    double decodedSeconds = 0;
    // The length the file's header gives (its play duration less the
    // preroll), or 0 where the header gives none (a broadcast file).
    double expectedSeconds = 0;
};

// Decodes the first audio stream of `input` (an ASF file, or one behind an
// ID3v2 tag) into a RIFF/WAVE file at `output`: 16-bit PCM (or 24-bit, see
// DecodeOptions::keepDepth) at the source's sample rate, mono or stereo
// (more channels are mixed down to stereo). The input is opened once and only when it is a regular file: a
// FIFO or device is refused at once, never waited on. The input "-" is the
// standard input, under the same rule, read from its start whatever its
// offset and left open. The file is written under a temporary name
// (kTempPrefix and six random characters) in the output's folder and
// renamed when complete; on any failure nothing is left behind. An output
// that exists and is not a regular file (a link, a FIFO, a device) is refused
// and left as it is. Audio beyond the 4 GiB of a WAV file fails with
// kStatusTooLong.
//
// The output "-" is the standard output, written in order as a stream, where
// the audio may run beyond 4 GiB. Until the end its header's sizes say
// "unknown" (0xFFFFFFFF), and so they stay on a pipe. On a regular file the
// header is written again at the end: with the sizes when the audio fits,
// otherwise as the header of a file of unknown length (RIFF size 8, data
// size 0), which LAME (through libsndfile) and FFmpeg read to the end.
DecodeResult DecodeToWav(const std::string& input, const std::string& output,
                         const DecodeOptions& options = DecodeOptions());
