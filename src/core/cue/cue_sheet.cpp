#include "core/cue/cue_sheet.h"

#include <algorithm>

namespace ril {

std::string twoDigits(std::int64_t n) {
  return (n >= 0 && n < 10 ? "0" : "") + std::to_string(n);
}

std::string CueTime::text() const {
  const std::int64_t frames = cdFrames % kCdFramesPerSecond;
  const std::int64_t seconds = cdFrames / kCdFramesPerSecond % 60;
  const std::int64_t minutes = cdFrames / kCdFramesPerSecond / 60;
  return twoDigits(minutes) + ":" + twoDigits(seconds) + ":" + twoDigits(frames);
}

std::string cueFlagsText(unsigned flags) {
  std::string text;
  for (auto [flag, name] : {std::pair{kCueFlagDcp, "DCP"}, std::pair{kCueFlag4ch, "4CH"},
                            std::pair{kCueFlagPre, "PRE"}, std::pair{kCueFlagScms, "SCMS"}}) {
    if (flags & flag) text += (text.empty() ? "" : " ") + std::string(name);
  }
  return text;
}

int CueTrack::file() const {
  for (const CueIndex& i : indexes) {
    if (i.number == 1) return i.file;
  }
  return indexes.empty() ? 0 : indexes.front().file;
}

const CueTrack* CueSheet::track(int number) const {
  for (const CueTrack& t : tracks) {
    if (t.number == number) return &t;
  }
  return nullptr;
}

std::int64_t spanFrames(const CueSpan& span, std::int64_t fileFrames) {
  if (span.frameCount) return *span.frameCount;
  return std::max<std::int64_t>(0, fileFrames - span.firstFrame);
}

std::vector<CueRange> trackRangesIn(const CueSheet& sheet, int file, std::int64_t fileFrames) {
  std::vector<CueRange> ranges;
  for (const CueTrack& t : sheet.tracks) {
    for (const CueSpan& s : t.spans) {
      if (s.file == file)
        ranges.push_back(CueRange{t.number, s.firstFrame, spanFrames(s, fileFrames)});
    }
  }
  return ranges;
}

int findCueFile(const CueSheet& sheet, const std::string& path) {
  const std::string wanted = tidyPath(path);
  for (std::size_t i = 0; i < sheet.files.size(); ++i) {
    if (sheet.files[i].path == wanted) return static_cast<int>(i);
  }
  return -1;
}

std::string tidyPath(const std::string& path) {
  std::string out = !path.empty() && path.front() == '/' ? "/" : "";
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    const std::string_view step(path.data() + i, slash - i);
    if (!step.empty() && step != ".") {
      if (!out.empty() && out.back() != '/') out += '/';
      out += step;
    }
    i = slash + 1;
  }
  return out.empty() ? "." : out;
}

std::vector<int> preEmphasisTracksIn(const CueSheet& sheet, int file) {
  std::vector<int> tracks;
  for (const CueTrack& t : sheet.tracks) {
    if (t.preEmphasis() && std::any_of(t.spans.begin(), t.spans.end(),
                                       [file](const CueSpan& s) { return s.file == file; })) {
      tracks.push_back(t.number);
    }
  }
  return tracks;
}

}  // namespace ril
