// rilmaton-cli modify --album: one factor (--maximize) or one volume
// (--loudness) for all FILEs, found from every FILE before any is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/modify_options.h"

namespace ril::cli {

// What the album gives each of its files.
struct AlbumSetting {
  std::optional<double> gain;       // --maximize: the smallest of the files' own factors
  std::optional<long long> tenths;  // --loudness: the volume of the files' loudness as one
};

// Analyses every file (`jobs` at once), prints the album's factor or
// loudness and fills `album`. Returns the exit status when no file may be
// modified (a file that cannot be analysed, an album without loudness), or -1.
int chooseAlbum(const std::vector<std::string>& files, unsigned jobs, const ModifyOptions& o,
                AlbumSetting& album);

}  // namespace ril::cli
