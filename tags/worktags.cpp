#include "tags/worktags.h"

TrackTags ReadWorkingSourceTags() {
    return ReadWmaTags(WorkingSourcePath());
}

void TagWorkingResult(ConversionFormat format, const TrackTags& tags) {
    if (!ResultFilePresent(format))
        return;
    if (format == ConversionFormat::MP3)
        WriteMp3Tags(ResultFilePath(format), tags);
    else
        WriteWavTags(ResultFilePath(format), tags);
}
