#pragma once
// The formats a conversion makes, one row each: everything that tells one
// format from another lives here, so that a new format is a new row (with
// its encoder and its tag writer) and no other code asks which format it is.
#include "tags/tags.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <iterator>

enum class ConversionFormat { MP3, WAV, FLAC, Opus, M4A };

// What a batch may ask of a format's encoder.
struct EncoderQuality {
    int bitrate = 0;  // kb/s; 0: the format's default
    int vbr = -1;     // LAME's variable bit rate quality 0..9; -1: none
};

struct FormatRow {
    ConversionFormat id;
    const char* name;       // as the batch's --to names it: "mp3"
    const char* extension;  // of a result: ".mp3"
    // What the format is for, for the batch's help.
    const char* purpose;
    // Whether the window offers it ("Convert WMA To": MP3, WAV).
    bool window;
    // The window's script that converts working.wma (nullptr: none), and the
    // result a conversion leaves in the work folder.
    const char* script;
    const char* workingResult;
    // The staged tool that encodes the decoder's WAV stream into the result,
    // or nullptr when the decoder's WAV file is the result itself; the
    // arguments it takes before "-" (its standard input) and the result, for
    // a quality the user chose or none.
    const char* encoder;
    QStringList (*encoderArguments)(const EncoderQuality& quality);
    // The qualities the encoder takes: --bitrate (from lowest to highest
    // kb/s, and LAME's fixed steps where steps is true) and --vbr.
    int lowestBitrate;
    int highestBitrate;
    bool bitrateSteps;
    bool takesVbr;
    // Whether the decoder keeps more than 16 bits for it (a lossless target,
    // and those that encode from more; never MP3, whose bytes are the
    // window's).
    bool keepsDepth;
    // Writes tags into a whole result; false when nothing was written.
    bool (*writeTags)(const TagTarget& target, const TrackTags& tags);
    // How the last tool (the encoder, else the decoder) names its output
    // when it writes the result into a file it is given as its standard
    // output: "-", or the path of that output for a tool that must open its
    // output itself to go back in it (LAME writes its header frame last).
    const char* givenOutput;
    // For a result whose tag stands in front of the audio, the room its
    // encoder can leave there, so that the tag goes in without moving the
    // audio: the tag's size (nullptr: no room is left), the encoder's
    // arguments that leave a tag of padding bytes beyond its own frames,
    // and what those frames and the tag's header take as a rule (learnt anew
    // from the first result where the encoder differs).
    int (*tagBytes)(const TrackTags& tags);
    QStringList (*tagRoomArguments)(int padding);
    int tagRoomOverhead;
};

QStringList LameArguments(const EncoderQuality& quality);
QStringList LameTagRoomArguments(int padding);
QStringList FlacArguments(const EncoderQuality& quality);
QStringList OpusArguments(const EncoderQuality& quality);
QStringList M4aArguments(const EncoderQuality& quality);

// Every format, each at the place of its id.
inline constexpr FormatRow kFormats[] = {
    {ConversionFormat::MP3, "mp3", ".mp3", "MP3 for every player", true, "wma2mp3.sh", "working.mp3", "lame",
     LameArguments, 8, 320, true, true, false, WriteMp3Tags, "/proc/self/fd/1", Mp3TagBytes, LameTagRoomArguments,
     // LAME's own ID3v2.3 tag from a WAV stream of unknown length: the
     // header, its TSSE frame (its version) and its TLEN frame.
     10 + 57 + 21},
    {ConversionFormat::WAV, "wav", ".wav", "uncompressed audio", true, "wma2wav.sh", "working.wav", nullptr,
     nullptr, 0, 0, false, false, true, WriteWavTags, "-", nullptr, nullptr, 0},
    {ConversionFormat::FLAC, "flac", ".flac", "lossless: keeps everything (level 5, the source's depth)", false,
     nullptr, "working.flac", "audioenc", FlacArguments, 0, 0, false, false, true, WriteFlacTags, "-", nullptr,
     nullptr, 0},
    {ConversionFormat::Opus, "opus", ".opus", "smallest, for phones and streaming (128 kb/s stereo, 64 mono)",
     false, nullptr, "working.opus", "audioenc", OpusArguments, 6, 510, false, false, true, WriteOpusTags, "-",
     nullptr, nullptr, 0},
    {ConversionFormat::M4A, "m4a", ".m4a", "AAC for Apple devices (192 kb/s stereo, 96 mono)", false, nullptr,
     "working.m4a", "audioenc", M4aArguments, 16, 512, false, false, true, WriteM4aTags, "-", nullptr, nullptr,
     0},
};

constexpr bool EachRowAtItsId() {
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        if (static_cast<size_t>(kFormats[i].id) != i)
            return false;
    }
    return true;
}
static_assert(EachRowAtItsId(), "a format's row stands at the place of its id");

// The format's row. A format without a row stops the program rather than
// be taken for another.
const FormatRow& FormatOf(ConversionFormat format);

// The row named name in any letter case ("MP3", "wav"), or nullptr.
const FormatRow* FormatNamed(QStringView name);

// The names of all formats, for a usage text: "mp3|wav".
QString FormatNames(const char* separator);

// The name of a result: the source's file name (as the system's bytes) with
// its extension replaced by the format's. Only the file name loses its
// extension, everything from its last "." on, unless that dot is the
// name's first character (".intro" gives ".intro.mp3").
QByteArray ResultFileName(QByteArrayView sourceName, ConversionFormat format);
