#include "core/cue/cue_rewrite.h"

#include <algorithm>
#include <set>

#include "core/cue/cue_words.h"

namespace ril {

namespace {

// `line`, a FLAGS command, without its PRE words; empty when no flag is left.
std::string withoutPre(const std::string& line) {
  const std::vector<CueWord> words = splitCueWords(line);
  std::string out;
  std::size_t kept = 0;  // bytes of `line` copied so far
  bool flagLeft = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (cueFlagOf(words[i].text) == kCueFlagPre) {
      out.append(line, kept, words[i - 1].end - kept);
      kept = words[i].end;
    } else {
      flagLeft = true;
    }
  }
  if (!flagLeft) return {};
  out.append(line, kept);
  return out;
}

}  // namespace

std::string cueSheetWithoutPre(const CueSheet& sheet, const std::vector<int>& tracks) {
  std::set<int> changed;
  for (const CueTrack& t : sheet.tracks) {
    if (std::find(tracks.begin(), tracks.end(), t.number) != tracks.end()) {
      changed.insert(t.flagLines.begin(), t.flagLines.end());
    }
  }
  std::string out = sheet.utf8Bom ? "\xEF\xBB\xBF" : "";
  for (std::size_t i = 0; i < sheet.lines.size(); ++i) {
    const CueLine& line = sheet.lines[i];
    if (!changed.count(static_cast<int>(i) + 1)) {
      out += line.text + line.end;
    } else if (std::string kept = withoutPre(line.text); !kept.empty()) {
      out += kept + line.end;
    }
  }
  return out;
}

}  // namespace ril
