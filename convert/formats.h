#pragma once
// The formats a conversion makes, one row each: everything that tells one
// format from another lives here, so that a new format is a new row (with
// its encoder and its tag writer) and no other code asks which format it is.
#include "tags/tags.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <iterator>

enum class ConversionFormat { MP3, WAV };

struct FormatRow {
    ConversionFormat id;
    const char* name;       // as the batch's --to names it: "mp3"
    const char* extension;  // of a result: ".mp3"
    // The window's working files: the script that converts working.wma, and
    // the result it leaves in the work folder.
    const char* script;
    const char* workingResult;
    // The staged tool that encodes the decoder's WAV stream into the result
    // (its arguments: options, "-" for the standard input, the result), or
    // nullptr when the decoder's WAV file is the result itself.
    const char* encoder;
    // Whether the encoder takes a quality (the batch's --bitrate and --vbr).
    bool tunable;
    // Writes tags into a whole result (as a copy that replaces it only when
    // written whole); false when nothing was written.
    bool (*writeTags)(const QString& path, const TrackTags& tags);
};

// Every format, each at the place of its id.
inline constexpr FormatRow kFormats[] = {
    {ConversionFormat::MP3, "mp3", ".mp3", "wma2mp3.sh", "working.mp3", "lame", true, WriteMp3Tags},
    {ConversionFormat::WAV, "wav", ".wav", "wma2wav.sh", "working.wav", nullptr, false, WriteWavTags},
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
