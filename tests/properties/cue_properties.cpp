// The cue sheet reader and rewriter on arbitrary bytes (properties.h).
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/cue/cue_reader.h"
#include "core/cue/cue_rewrite.h"
#include "core/cue/cue_wav.h"
#include "properties/properties.h"
#include "support/memory_file_system.h"

namespace ril::properties {

namespace {

const char* const kSheetPath = "/in/album.cue";

bool isPre(std::string_view word) {
  return word.size() == 3 && (word[0] | 0x20) == 'p' && (word[1] | 0x20) == 'r' &&
         (word[2] | 0x20) == 'e';
}

// A FLAGS line as it should read with PRE taken off, written apart from the
// rewriter: each PRE after the first word goes with the blanks before it.
// Empty when no other flag is left.
std::string expectedFlagsLine(const std::string& line) {
  std::string out;
  bool otherFlag = false;
  std::size_t i = 0;
  int word = 0;
  while (i < line.size()) {
    std::size_t blanks = i;
    while (blanks < line.size() && (line[blanks] == ' ' || line[blanks] == '\t')) ++blanks;
    std::size_t end = blanks;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    const std::string_view w(line.data() + blanks, end - blanks);
    if (w.empty() || word == 0 || !isPre(w)) {
      out.append(line, i, end - i);
      if (!w.empty() && word > 0) otherFlag = true;
    }
    if (!w.empty()) ++word;
    i = end;
  }
  return otherFlag ? out : std::string();
}

// The sheet's bytes with PRE taken off the FLAGS lines of `tracks`, line by line.
std::string expectedRewrite(const CueSheet& sheet, const std::vector<int>& tracks) {
  std::vector<bool> flagsLine(sheet.lines.size() + 1, false);
  for (const CueTrack& t : sheet.tracks) {
    if (std::find(tracks.begin(), tracks.end(), t.number) == tracks.end()) continue;
    for (int l : t.flagLines) flagsLine[static_cast<std::size_t>(l)] = true;
  }
  std::string out = sheet.utf8Bom ? "\xEF\xBB\xBF" : "";
  for (std::size_t i = 0; i < sheet.lines.size(); ++i) {
    const CueLine& l = sheet.lines[i];
    if (!flagsLine[i + 1]) {
      out += l.text + l.end;
    } else if (std::string kept = expectedFlagsLine(l.text); !kept.empty()) {
      out += kept + l.end;
    }
  }
  return out;
}

std::string checkStructure(const CueSheet& sheet) {
  if (sheet.tracks.empty() || sheet.files.empty()) return "a sheet read without tracks or files";
  int number = 0;
  for (const CueTrack& t : sheet.tracks) {
    if (t.number <= number || t.number > 99) return "track numbers do not rise within 1..99";
    number = t.number;
    if (t.spans.empty()) return "track " + std::to_string(t.number) + " covers no frames";
    if (t.spans.front().file != t.indexes.front().file ||
        t.spans.front().firstFrame != t.indexes.front().time.sampleFrame()) {
      return "track " + std::to_string(t.number) + " does not start at its first index";
    }
    if (t.file() < 0 || t.file() >= static_cast<int>(sheet.files.size())) return "a bad file index";
  }
  for (std::size_t i = 0; i < sheet.files.size(); ++i) {
    if (findCueFile(sheet, sheet.files[i].path) != static_cast<int>(i)) {
      return "file " + sheet.files[i].path + " is not found under its own path";
    }
  }
  return {};
}

// The ranges of each file, in a file of `frames` frames: one after another
// without a gap or an overlap, the last one to the end; and the file counts
// as modifiable exactly when it is a WAVE file with frames and every index
// lies within them.
std::string checkRanges(const CueSheet& sheet, std::int64_t frames) {
  WavHeader header;
  header.status = HeaderStatus::kReady;
  header.format = WavFormat{1, 2, 16, 44100};
  header.layout.framesInFile = frames;
  for (int f = 0; f < static_cast<int>(sheet.files.size()); ++f) {
    bool fits = true;
    for (const CueTrack& t : sheet.tracks) {
      for (const CueIndex& i : t.indexes)
        fits = fits && (i.file != f || i.time.sampleFrame() <= frames);
    }
    const std::vector<CueRange> ranges = trackRangesIn(sheet, f, frames);
    if (ranges.empty()) return "file " + std::to_string(f) + " holds no track";
    for (std::size_t k = 0; k < ranges.size(); ++k) {
      const CueRange& r = ranges[k];
      if (r.frameCount < 0) return "a range of negative length";
      const std::int64_t end = r.firstFrame + r.frameCount;
      if (k + 1 < ranges.size() && end != ranges[k + 1].firstFrame) {
        return "the ranges of tracks " + std::to_string(r.track) + " and " +
               std::to_string(ranges[k + 1].track) + " overlap or leave a gap";
      }
      if (k + 1 == ranges.size() && fits && end != frames) {
        return "the last range of a file does not end at the end of its data";
      }
    }
    const bool modifiable = cueFileProblem(sheet, f, header).empty();
    if (modifiable != (fits && frames > 0 && sheet.files[static_cast<std::size_t>(f)].wave())) {
      return "a file counted as modifiable although a track lies past its end, or the other "
             "way round";
    }
  }
  return {};
}

// After taking PRE off `tracks`, the sheet reads the same but for those flags.
std::string checkRewrite(const CueSheet& sheet, const std::vector<int>& tracks) {
  const std::string rewritten = cueSheetWithoutPre(sheet, tracks);
  if (rewritten != expectedRewrite(sheet, tracks)) {
    return "the rewrite changed more than the FLAGS lines of the chosen tracks";
  }
  const CueReading again = parseCueSheet(rewritten, kSheetPath);
  if (!again.sheet) return "the rewritten sheet does not read: " + again.error;
  const CueSheet& s = *again.sheet;
  if (s.tracks.size() != sheet.tracks.size() || s.files.size() != sheet.files.size()) {
    return "the rewritten sheet has other tracks or files";
  }
  for (std::size_t i = 0; i < s.tracks.size(); ++i) {
    const CueTrack& a = sheet.tracks[i];
    const CueTrack& b = s.tracks[i];
    const bool chosen = std::find(tracks.begin(), tracks.end(), a.number) != tracks.end();
    const unsigned flags = chosen ? a.flags & ~unsigned{kCueFlagPre} : a.flags;
    if (b.number != a.number || b.mode != a.mode || b.flags != flags || b.spans != a.spans) {
      return "track " + std::to_string(a.number) + " reads otherwise after the rewrite";
    }
  }
  return {};
}

}  // namespace

std::string checkCueSheet(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const CueReading reading = parseCueSheet(bytes, kSheetPath);
  MemoryFileSystem fs;
  fs.put(kSheetPath, MemoryFileSystem::Bytes(data, data + size));
  const CueReading fromFile = readCueSheet(fs, kSheetPath);
  if (fromFile.error != reading.error) return "reading from a file differs from reading bytes";
  if (!reading.sheet) {
    if (reading.error.rfind(std::string(kSheetPath) + ":", 0) != 0) {
      return "an error that does not name the sheet: " + reading.error;
    }
    return {};
  }
  const CueSheet& sheet = *reading.sheet;
  if (cueSheetWithoutPre(sheet, {}) != bytes) return "the sheet does not write back as read";
  std::string broken = checkStructure(sheet);
  if (!broken.empty()) return broken;

  // Files as long as the last index, a little longer, and shorter.
  std::int64_t last = 0;
  for (const CueTrack& t : sheet.tracks) {
    for (const CueIndex& i : t.indexes) last = std::max(last, i.time.sampleFrame());
  }
  for (std::int64_t frames : {last, last + 588 * 75, last / 2}) {
    broken = checkRanges(sheet, frames);
    if (!broken.empty()) return broken;
  }

  std::vector<int> all, some;
  for (const CueTrack& t : sheet.tracks) {
    all.push_back(t.number);
    if ((t.number + static_cast<int>(size)) % 2) some.push_back(t.number);
  }
  for (const std::vector<int>& tracks : {all, some}) {
    broken = checkRewrite(sheet, tracks);
    if (!broken.empty()) return broken;
  }
  return {};
}

std::vector<std::string> cueSeedSheets() {
  return {
      // An image with pregaps, partly flagged, with CD-Text and a hidden track.
      "REM GENRE Classical\nREM DATE 1985\nPERFORMER \"Orchestra\"\nTITLE \"Works\"\n"
      "CATALOG 0000000000000\nFILE \"Works.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
      "    ISRC ABCDE8500001\n    FLAGS PRE\n    INDEX 00 00:00:00\n    INDEX 01 00:00:32\n"
      "  TRACK 02 AUDIO\n    FLAGS DCP PRE\n    INDEX 00 04:10:20\n    INDEX 01 04:12:20\n"
      "    INDEX 02 05:00:00\n  TRACK 03 AUDIO\n    FLAGS DCP\n    INDEX 01 09:00:00\n"
      "  TRACK 04 AUDIO\n    FLAGS PRE\n    INDEX 00 12:01:74\n    INDEX 01 12:03:00\n",
      // One file per track, gaps kept at the end of the previous file.
      "FILE \"01 One.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
      "    FLAGS PRE\n    INDEX 00 03:58:40\nFILE \"02 Two.wav\" WAVE\n    INDEX 01 00:00:00\n"
      "  TRACK 03 AUDIO\n    INDEX 00 02:00:00\nFILE \"03 Three.wav\" WAVE\n"
      "    INDEX 01 00:00:00\n",
      // One file per track, gaps at the start of their own file; CR LF and a BOM.
      "\xEF\xBB\xBF"
      "FILE \"01.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    FLAGS PRE SCMS\r\n"
      "    INDEX 01 00:00:00\r\nFILE \"02.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n    FLAGS PRE\r\n"
      "    INDEX 00 00:00:00\r\n    INDEX 01 00:02:00\r\nFILE 03.wav WAVE\r\n"
      "  TRACK 03 AUDIO\r\n    INDEX 01 00:00:00",
      // Lowercase, tabs, bare names with blanks, a data track, odd line ends.
      "file my disc.wav wave\r\n\ttrack 1 audio\r\n\t\tflags  pre\t4ch \r\n"
      "\t\tindex 1 0:0:0\r\n\ttrack 2 mode1/2352\r\n\t\tindex 01 10:00:00\r"
      "file data.bin binary\n  track 03 audio\n  pregap 00:02:00\n  index 01 00:00:00\n"
      "  postgap 00:02:00\n  GENRE Rock\n",
      // Malformed ones.
      "FILE a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 03:75:00\n",
      "FILE a.wav WAVE\n  INDEX 01 00:00:00\n  TRACK 01 AUDIO\n",
      "FILE a.wav WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n  TRACK 01 AUDIO\n"
      "    INDEX 01 01:00:00\n",
      "FILE a.wav WAVE\n  TRACK 01 AUDIO\n    FLAGS PRE,DCP\n    INDEX 01 00:00:00\n",
      "FILE \"a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n",
  };
}

}  // namespace ril::properties
