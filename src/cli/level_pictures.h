// report --svg DIR: the picture of each file's levels as DIR/NAME.svg, NAME
// being the file's name without ".wav" (any case).
#pragma once

#include <string>
#include <vector>

#include "core/analysis/analysis.h"

namespace ril::cli {

// Why the pictures of `files` cannot go to `dir` (it is not a directory, two
// files would take the same name), or "".
std::string checkPictureDirectory(const std::string& dir, const std::vector<std::string>& files);

// Where the picture of `file` goes.
std::string picturePath(const std::string& dir, const std::string& file);

// Writes the picture of a complete analysis to `path` (replacing an earlier
// one, never leaving half a file); the error, or "".
std::string writeLevelPicture(const std::string& path, const std::string& file,
                              const AnalysisResult& result, const WavFormat& format);

}  // namespace ril::cli
