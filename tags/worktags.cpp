#include "tags/worktags.h"

TrackTags ReadWorkingSourceTags() {
    return ReadWorkingSourceTags(UserWorkContext());
}

TrackTags ReadWorkingSourceTags(const WorkContext& work) {
    return ReadWmaTags(WorkingSourcePath(work));
}

void TagWorkingResult(ConversionFormat format, const TrackTags& tags) {
    TagWorkingResult(UserWorkContext(), format, tags);
}

void TagWorkingResult(const WorkContext& work, ConversionFormat format, const TrackTags& tags) {
    if (!ResultFilePresent(work, format))
        return;
    if (format == ConversionFormat::MP3)
        WriteMp3Tags(ResultFilePath(work, format), tags);
    else
        WriteWavTags(ResultFilePath(work, format), tags);
}
