// The cue sheets beside a WAV file that flag its tracks pre-emphasised.
#pragma once

#include <string>
#include <vector>

#include "core/io/files.h"

namespace ril {

// One line for each cue sheet in the directory of the WAV file `wavPath`
// that marks tracks of that file PRE: "The cue sheet album.cue marks tracks
// 2, 5 as pre-emphasised". A sheet counts when it names the file in a FILE
// command, or when it has the file's base name ("album.cue" beside
// "album.wav") and names one file only (a renamed image). Sheets that cannot
// be read are passed over.
std::vector<std::string> preEmphasisNotices(FileSystem& fs, const std::string& wavPath);

}  // namespace ril
