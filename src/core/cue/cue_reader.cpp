#include "core/cue/cue_reader.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>
#include <vector>

#include "core/base/errors.h"
#include "core/cue/cue_words.h"

namespace ril {

namespace {

// Commands kept as they stand without a note: the standard's, and the CD-Text
// fields some rippers write as commands of their own.
constexpr std::array<std::string_view, 15> kKnownCommands = {
    "REM",        "PERFORMER", "TITLE",    "SONGWRITER", "ISRC",  "PREGAP",  "POSTGAP", "CATALOG",
    "CDTEXTFILE", "ARRANGER",  "COMPOSER", "MESSAGE",    "GENRE", "DISC_ID", "UPC_EAN"};

constexpr std::array<std::string_view, 10> kTrackModes = {
    "AUDIO",      "CDG",        "MODE1/2048", "MODE1/2352", "MODE2/2048",
    "MODE2/2324", "MODE2/2336", "MODE2/2352", "CDI/2336",   "CDI/2352"};

// Past this many, the notes on unknown commands are only counted.
constexpr std::size_t kMaxNotes = 20;

template <std::size_t N>
bool isOneOf(const std::string& word, const std::array<std::string_view, N>& list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

// A failure of the sheet at a line.
struct SheetError {
  int line;
  std::string text;
};

[[noreturn]] void fail(int line, std::string text) {
  throw SheetError{line, std::move(text)};
}

// A number of one to `maxDigits` digits and nothing else, or -1.
std::int64_t digitsValue(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return -1;
  std::int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// mm:ss:ff with seconds below 60 and frames below 75.
std::optional<CueTime> parseTime(std::string_view s) {
  const std::size_t a = s.find(':');
  const std::size_t b = a == std::string_view::npos ? a : s.find(':', a + 1);
  if (b == std::string_view::npos) return std::nullopt;
  const std::int64_t mm = digitsValue(s.substr(0, a), 5);
  const std::int64_t ss = digitsValue(s.substr(a + 1, b - a - 1), 2);
  const std::int64_t ff = digitsValue(s.substr(b + 1), 2);
  if (mm < 0 || ss < 0 || ss >= 60 || ff < 0 || ff >= kCdFramesPerSecond) return std::nullopt;
  return CueTime{(mm * 60 + ss) * kCdFramesPerSecond + ff};
}

class SheetParser {
 public:
  explicit SheetParser(CueSheet& sheet) : sheet_(sheet) {}

  void line(int number, std::string_view text) {
    line_ = number;
    words_ = splitCueWords(text);
    if (words_.empty()) return;
    const std::string command = upperCase(words_[0].text);
    if (command == "FILE") {
      file(text.substr(words_[0].end));
    } else if (command == "TRACK") {
      track();
    } else if (command == "INDEX") {
      index();
    } else if (command == "FLAGS") {
      flags();
    } else if (!isOneOf(command, kKnownCommands)) {
      note("unknown command " + std::string(words_[0].text) + ", kept as it stands");
    }
  }

  void finish() {
    endTrack();
    endFile();
    if (sheet_.tracks.empty()) fail(0, "no TRACK in the sheet");
    if (unnoted_ > 0) {
      sheet_.notes.push_back(sheet_.path + ": " + std::to_string(unnoted_) +
                             " more unknown commands, kept as they stand");
    }
  }

 private:
  void note(const std::string& text) {
    if (sheet_.notes.size() < kMaxNotes) {
      sheet_.notes.push_back(sheet_.path + ":" + std::to_string(line_) + ": " + text);
    } else {
      ++unnoted_;
    }
  }

  // What follows the command's words from word `first` on is an error.
  void noMoreWords(std::size_t first, const std::string& command) const {
    if (words_.size() > first) {
      fail(line_, "unexpected " + std::string(words_[first].text) + " after " + command);
    }
  }

  void file(std::string_view rest) {
    endFile();
    CueFile f;
    f.line = line_;
    if (std::string e = splitFileOperands(rest, f.name, f.type); !e.empty()) fail(line_, e);
    f.path = tidyPath(f.name.front() == '/' ? f.name : directoryOf(sheet_.path) + f.name);
    if (const auto [it, added] = lineOfPath_.emplace(f.path, line_); !added) {
      fail(line_, "FILE \"" + f.name + "\" names the file of line " + std::to_string(it->second) +
                      " again");
    }
    sheet_.files.push_back(std::move(f));
    fileHasIndex_ = false;
    lastTime_ = -1;
  }

  void endFile() {
    if (!sheet_.files.empty() && !fileHasIndex_) {
      const CueFile& f = sheet_.files.back();
      fail(f.line, "FILE \"" + f.name + "\" holds no INDEX");
    }
  }

  // The number that follows TRACK or INDEX, from `lowest` to 99; `operands`
  // says what the command needs when the number is missing.
  int numberAfter(const std::string& command, int lowest, const std::string& operands) const {
    if (words_.size() < 2) fail(line_, command + " needs " + operands);
    const std::int64_t number = digitsValue(words_[1].text, 3);
    if (number < lowest || number > 99) {
      fail(line_, "bad " + std::string(command == "TRACK" ? "track" : "index") + " number " +
                      std::string(words_[1].text) + " (" + twoDigits(lowest) + " to 99)");
    }
    return static_cast<int>(number);
  }

  void track() {
    const int number = numberAfter("TRACK", 1, "a number and a mode, as in TRACK 01 AUDIO");
    const std::string name = "TRACK " + twoDigits(number);
    if (sheet_.files.empty()) fail(line_, name + " before any FILE");
    if (words_.size() < 3) fail(line_, name + " needs a mode (AUDIO, MODE1/2352, ...)");
    const std::string mode = upperCase(words_[2].text);
    if (!isOneOf(mode, kTrackModes)) fail(line_, "unknown track mode " + mode);
    noMoreWords(3, name + " " + mode);
    endTrack();
    if (!sheet_.tracks.empty() && number <= sheet_.tracks.back().number) {
      fail(line_, "TRACK numbers must rise: " + name + " after TRACK " +
                      twoDigits(sheet_.tracks.back().number));
    }
    CueTrack t;
    t.number = number;
    t.mode = mode;
    t.line = line_;
    sheet_.tracks.push_back(std::move(t));
    inTrack_ = true;
  }

  // A track ends at the next TRACK and at the end of the sheet; at a FILE it
  // may go on (its INDEX 01 may lie in the next file).
  void endTrack() {
    if (!inTrack_) return;
    const CueTrack& t = sheet_.tracks.back();
    const bool has01 = std::any_of(t.indexes.begin(), t.indexes.end(),
                                   [](const CueIndex& i) { return i.number == 1; });
    if (!has01) fail(t.line, "TRACK " + twoDigits(t.number) + " has no INDEX 01");
    inTrack_ = false;
  }

  void index() {
    const int number = numberAfter("INDEX", 0, "a number and a time, as in INDEX 01 00:00:00");
    const std::string name = "INDEX " + twoDigits(number);
    if (!inTrack_) fail(line_, name + " before any TRACK");
    if (words_.size() < 3) fail(line_, name + " needs a time mm:ss:ff");
    const std::optional<CueTime> time = parseTime(words_[2].text);
    if (!time) {
      fail(line_, "bad time " + std::string(words_[2].text) +
                      " (mm:ss:ff, with seconds below 60 and frames below 75)");
    }
    noMoreWords(3, name + " " + std::string(words_[2].text));
    CueTrack& t = sheet_.tracks.back();
    if (t.indexes.empty() && number > 1) {
      fail(line_, "TRACK " + twoDigits(t.number) + " starts with " + name +
                      "; its first index is INDEX 00 or INDEX 01");
    }
    if (!t.indexes.empty() && number <= t.indexes.back().number) {
      fail(line_, "INDEX numbers must rise within TRACK " + twoDigits(t.number) + ": " + name +
                      " after INDEX " + twoDigits(t.indexes.back().number));
    }
    if (time->cdFrames < lastTime_) {
      fail(line_, "times must rise within a FILE: " + name + " at " + time->text() +
                      " comes after " + CueTime{lastTime_}.text());
    }
    lastTime_ = time->cdFrames;
    fileHasIndex_ = true;
    t.indexes.push_back(CueIndex{number, *time, static_cast<int>(sheet_.files.size()) - 1, line_});
  }

  void flags() {
    if (!inTrack_) fail(line_, "FLAGS before any TRACK");
    CueTrack& t = sheet_.tracks.back();
    for (std::size_t i = 1; i < words_.size(); ++i) {
      const unsigned flag = cueFlagOf(words_[i].text);
      if (flag == 0) {
        fail(line_, "unknown flag " + std::string(words_[i].text) + " (DCP, 4CH, PRE or SCMS)");
      }
      t.flags |= flag;
    }
    t.flagLines.push_back(line_);
  }

  CueSheet& sheet_;
  int line_ = 0;
  std::vector<CueWord> words_;
  bool inTrack_ = false;
  bool fileHasIndex_ = false;
  std::int64_t lastTime_ = -1;  // CD frames of the latest index in the current file
  std::size_t unnoted_ = 0;
  std::map<std::string, int> lineOfPath_;  // the FILE line naming each path
};

// Where each track starts, as (file, frame); a track ends where the next one
// starts, the last one at the end of the last file.
void placeTracks(CueSheet& sheet) {
  const int lastFile = static_cast<int>(sheet.files.size()) - 1;
  for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
    CueTrack& t = sheet.tracks[i];
    const CueIndex& start = t.indexes.front();
    const CueIndex* next =
        i + 1 < sheet.tracks.size() ? &sheet.tracks[i + 1].indexes.front() : nullptr;
    const int endFile = next ? next->file : lastFile;
    int file = start.file;
    std::int64_t from = start.time.sampleFrame();
    for (; file < endFile; ++file, from = 0) t.spans.push_back(CueSpan{file, from, std::nullopt});
    if (!next) {
      t.spans.push_back(CueSpan{file, from, std::nullopt});
    } else if (file == start.file || next->time.cdFrames > 0) {
      t.spans.push_back(CueSpan{file, from, next->time.sampleFrame() - from});
    }
  }
}

// Splits `bytes` into lines; false at a NUL byte, with `line` its line.
bool splitLines(std::string_view bytes, std::vector<CueLine>& lines, int& line) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t stop = bytes.find_first_of(std::string_view("\r\n\0", 3), pos);
    line = static_cast<int>(lines.size()) + 1;
    CueLine l;
    if (stop == std::string_view::npos) {
      l.text = bytes.substr(pos);
      pos = bytes.size();
    } else {
      if (bytes[stop] == '\0') return false;
      l.text = bytes.substr(pos, stop - pos);
      const bool crlf = bytes[stop] == '\r' && stop + 1 < bytes.size() && bytes[stop + 1] == '\n';
      l.end = bytes.substr(stop, crlf ? 2 : 1);
      pos = stop + l.end.size();
    }
    lines.push_back(std::move(l));
  }
  return true;
}

std::string located(const std::string& path, int line, const std::string& text) {
  return path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + text;
}

CueReading failure(const std::string& path, int line, const std::string& text) {
  CueReading r;
  r.error = located(path, line, text);
  r.errorLine = line;
  return r;
}

// A sheet of `length` bytes, or of an unknown length past the limit.
CueReading tooLarge(const std::string& path, std::optional<std::uint64_t> length) {
  const std::string limit = std::to_string(kMaxCueSheetBytes);
  return failure(
      path, 0,
      length ? std::to_string(*length) + " bytes, too large for a cue sheet (at most " + limit + ")"
             : "too large for a cue sheet (more than " + limit + " bytes)");
}

}  // namespace

CueReading parseCueSheet(std::string_view bytes, const std::string& path) {
  if (bytes.size() > kMaxCueSheetBytes) return tooLarge(path, bytes.size());
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    return failure(path, 0, "written in UTF-16; save it as UTF-8 to have it read");
  }
  CueSheet sheet;
  sheet.path = path;
  sheet.utf8Bom = bytes.starts_with("\xEF\xBB\xBF");
  if (sheet.utf8Bom) bytes.remove_prefix(3);
  int nulLine = 0;
  if (!splitLines(bytes, sheet.lines, nulLine)) {
    return failure(path, nulLine, "a NUL byte; this is no cue sheet but a binary file");
  }
  try {
    SheetParser parser(sheet);
    for (std::size_t i = 0; i < sheet.lines.size(); ++i) {
      parser.line(static_cast<int>(i) + 1, sheet.lines[i].text);
    }
    parser.finish();
  } catch (const SheetError& e) {
    return failure(path, e.line, e.text);
  }
  placeTracks(sheet);
  CueReading r;
  r.sheet = std::move(sheet);
  return r;
}

CueReading readCueSheet(FileSystem& fs, const std::string& path) {
  std::string bytes;
  try {
    // A regular file only: a pipe or a device is refused, not waited on.
    std::unique_ptr<InputFile> in = fs.openRegularFile(path);
    const std::uint64_t length = fs.fileLength(path);
    if (length > kMaxCueSheetBytes) return tooLarge(path, length);
    // Read to the end, not to the measured length, and stop one byte past
    // the limit: a file still growing is refused too.
    constexpr std::size_t kStep = 64 * 1024;
    std::size_t got = kStep;
    while (got == kStep && bytes.size() <= kMaxCueSheetBytes) {
      const std::size_t had = bytes.size();
      bytes.resize(had + kStep);
      got = in->read(bytes.data() + had, kStep);
      bytes.resize(had + got);
    }
    in->close();
    if (bytes.size() > kMaxCueSheetBytes) return tooLarge(path, std::nullopt);
  } catch (const RunError& e) {
    const bool irregular = e.detail() == path + " is not a regular file";
    return failure(
        path, 0,
        irregular ? "not a regular file" : "cannot be read: " + errorDescription(e.number()));
  }
  return parseCueSheet(bytes, path);
}

}  // namespace ril
