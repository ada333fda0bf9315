#pragma once
// What an output folder takes, asked of its file system before anything is
// converted into it: whether files can be made there at all, whether names
// equal but for letter case are one name, and whether it refuses names that
// Linux allows (FAT and exFAT refuse "?", ":" and bytes that are not UTF-8).
// The file system is asked with probe files that are made and removed at
// once; what its type or mount options claim is not relied on.
#include "convert/resultnames.h"

struct OutputProbe {
    int error = 0;  // the errno of a folder where no file can be made, else 0
    NameRules rules;
    // A file made there can be opened again and written where it stands
    // (some FAT drivers write a file only through the descriptor that made
    // it): a result can be made and tagged in the folder itself.
    bool writesInPlace = true;
};

// Probes the folder open at folder (any descriptor of it, O_PATH will do).
OutputProbe ProbeOutputFolder(int folder);

// The probe files' names begin with this.
inline constexpr char kProbePrefix[] = ".brenvale-probe-";
