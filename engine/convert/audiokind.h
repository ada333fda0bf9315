#pragma once
// What kind of audio a file holds, told from its first bytes. For a source
// that the decoder refused as no WMA file, it names what the file is instead
// (an MP3 or a FLAC file given a .wma name), so that the failure says so.
#include <QString>

// The format of the audio that the open file fd holds: "MP3" (an ID3v2 tag
// or an MPEG audio frame of layer III at its start), "MPEG" (layer I or II),
// "FLAC", "Ogg", "WAV" (RIFF WAVE), "M4A" or "MP4" (an ISO media file, by
// its brand); "" when its first bytes are none of these or cannot be read.
// Reads with pread from the file's start: the descriptor's offset stays.
QString AudioKindOf(int fd);
