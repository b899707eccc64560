// Reading a cue sheet: the commands that place tracks in files (FILE, TRACK,
// INDEX, FLAGS) are checked and taken in; every other line is kept as it
// stands. Rippers write odd sheets, so keywords may be in any case, words may
// be separated by any run of blanks and tabs, a file name needs quotes only
// when it starts or ends in blanks, lines may end in LF, CR LF or CR, and
// commands the reader does not know are let pass with a note. What would
// place a track wrongly is an error naming its line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/cue/cue_sheet.h"
#include "core/io/files.h"

namespace ril {

// No cue sheet comes near this; a larger file is refused unread.
inline constexpr std::uint64_t kMaxCueSheetBytes = 4u << 20;

struct CueReading {
  std::optional<CueSheet> sheet;  // when it was read
  // Otherwise why not, starting with the sheet's path and, when a line is to
  // blame, its number: "album.cue:12: INDEX 01 before any TRACK".
  std::string error;
  int errorLine = 0;  // the line to blame, or 0
};

// Reads the sheet held in `bytes`; `path` names it in errors and is where the
// FILE names are taken from.
CueReading parseCueSheet(std::string_view bytes, const std::string& path);

// Reads the sheet in the file `path`.
CueReading readCueSheet(FileSystem& fs, const std::string& path);

}  // namespace ril
