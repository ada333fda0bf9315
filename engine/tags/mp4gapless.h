#pragma once
// The gapless playback information of an M4A file in the form that iTunes,
// Rockbox and many phone and car players read: the iTunSMPB text, which
// tells the encoder's delay, the padding at the end and the length of the
// audio in samples. The encoder records the same in the file's edit list,
// which players that follow the MP4 standard read; the text is made from
// that edit list, so the two never disagree.
#include <QString>

namespace TagLib::MP4 {
class File;
}

// The iTunSMPB text for the first track of file, from its edit list (where
// the edit starts in the track's samples is the delay, its duration the
// length) and the track's own length (the rest is padding). Empty when the
// file has no such edit list.
QString ITunSmpbOf(TagLib::MP4::File& file);
