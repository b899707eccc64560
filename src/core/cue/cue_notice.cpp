#include "core/cue/cue_notice.h"

#include "core/cue/cue_reader.h"
#include "core/cue/cue_sheet.h"
#include "core/io/directories.h"

namespace ril {

namespace {

std::string withoutExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string noticeText(const std::string& sheetName, const std::vector<int>& tracks) {
  std::string list;
  for (int t : tracks) list += (list.empty() ? "" : ", ") + std::to_string(t);
  return "The cue sheet " + sheetName + " marks " + (tracks.size() == 1 ? "track " : "tracks ") +
         list + " as pre-emphasised";
}

}  // namespace

std::vector<std::string> preEmphasisNotices(FileSystem& fs, const std::string& wavPath) {
  std::vector<std::string> notices;
  const std::string dir = directoryOf(wavPath);
  const std::string stem = withoutExtension(baseNameOf(wavPath));
  const DirectoryListing listing = listEntries(dir.empty() ? "." : dir, EntryKind::kCueSheet);
  for (const std::string& name : listing.names) {
    const CueReading reading = readCueSheet(fs, dir + name);
    if (!reading.sheet) continue;
    const CueSheet& sheet = *reading.sheet;
    int file = findCueFile(sheet, wavPath);
    if (file < 0 && sheet.files.size() == 1 && withoutExtension(name) == stem) file = 0;
    if (file < 0) continue;
    const std::vector<int> tracks = preEmphasisTracksIn(sheet, file);
    if (!tracks.empty()) notices.push_back(noticeText(name, tracks));
  }
  return notices;
}

}  // namespace ril
