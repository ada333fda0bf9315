#pragma once
// The tags of the file in work. They are read from the work folder's own
// copy of the source after it has been prepared (never from the source's
// path again, which could by then name another file) and written into the
// result in the work folder after the script, before the result is copied
// out: a result never reaches its target without its tags.
#include "convert/staging.h"
#include "tags/tags.h"

// The tags of working.wma. Never raises.
TrackTags ReadWorkingSourceTags();
TrackTags ReadWorkingSourceTags(const WorkContext& work);

// Writes tags into the format's result file when the script made one. A
// result whose tags cannot be written stays as the script left it. Never
// raises.
void TagWorkingResult(ConversionFormat format, const TrackTags& tags);
void TagWorkingResult(const WorkContext& work, ConversionFormat format, const TrackTags& tags);
