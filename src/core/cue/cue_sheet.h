// A cue sheet as read: its files, its tracks with their indexes and the
// sample frames each track covers, and its lines exactly as they stand, so
// that the sheet can be written back with nothing changed but what is asked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ril {

// Times in a sheet are mm:ss:ff, with 75 CD frames to the second; one CD frame
// holds 588 sample frames at 44.1 kHz.
inline constexpr std::int64_t kCdFramesPerSecond = 75;
inline constexpr std::int64_t kSampleFramesPerCdFrame = 588;

// A number as the sheet writes track and index numbers and times: at least
// two digits ("05", "12", "123").
std::string twoDigits(std::int64_t n);

// A position in a FILE, counted in CD frames from the file's first sample.
struct CueTime {
  std::int64_t cdFrames = 0;
  std::int64_t sampleFrame() const { return cdFrames * kSampleFramesPerCdFrame; }
  std::string text() const;  // "03:12:40"
  bool operator==(const CueTime&) const = default;
};

// The FLAGS of a track.
enum CueFlag : unsigned {
  kCueFlagDcp = 1,   // digital copy permitted
  kCueFlag4ch = 2,   // four-channel audio
  kCueFlagPre = 4,   // pre-emphasis
  kCueFlagScms = 8,  // serial copy management system
};
// "DCP 4CH PRE SCMS", the set ones in this order; empty for none.
std::string cueFlagsText(unsigned flags);

struct CueFile {
  std::string name;  // as the sheet writes it, without quotes
  std::string type;  // in capitals: "WAVE", "BINARY", "MP3", ...
  std::string path;  // the name taken relative to the sheet's directory, unless absolute
  int line = 0;      // of the FILE command, counted from 1
  bool wave() const { return type == "WAVE"; }
};

struct CueIndex {
  int number = 0;  // 0 .. 99
  CueTime time;
  int file = 0;  // into CueSheet::files
  int line = 0;
};

// Consecutive sample frames of one file: `frameCount` frames from
// `firstFrame`, or, without a count, everything from `firstFrame` to the end
// of the file's sample data.
struct CueSpan {
  int file = 0;
  std::int64_t firstFrame = 0;
  std::optional<std::int64_t> frameCount;
  bool operator==(const CueSpan&) const = default;
};

struct CueTrack {
  int number = 0;    // 1 .. 99, rising through the sheet
  std::string mode;  // "AUDIO", "MODE1/2352", ... in capitals
  unsigned flags = 0;
  std::vector<CueIndex> indexes;  // rising numbers; INDEX 01 always among them
  // The frames the track covers, in order: from its first index (INDEX 00 when
  // present, else INDEX 01) up to the next track's first index, or to the end
  // of the last file. Usually one span; more when the track's indexes lie in
  // different files (a pregap kept at the end of the previous track's file).
  std::vector<CueSpan> spans;
  int line = 0;                // of the TRACK command
  std::vector<int> flagLines;  // of its FLAGS commands

  bool audio() const { return mode == "AUDIO"; }
  bool preEmphasis() const { return (flags & kCueFlagPre) != 0; }
  // The file of INDEX 01, where the track's music starts.
  int file() const;
};

// One line of the sheet: its bytes without the line end, and the line end
// ("\r\n", "\n", "\r", or nothing on a last line without one).
struct CueLine {
  std::string text;
  std::string end;
};

struct CueSheet {
  std::string path;  // as given to the reader; errors and notes start with it
  bool utf8Bom = false;
  std::vector<CueLine> lines;  // line n of the sheet is lines[n - 1]; the BOM is not in it
  std::vector<CueFile> files;
  std::vector<CueTrack> tracks;
  // Oddities the reader let pass, one line each ("album.cue:7: unknown
  // command GENRE, kept as it stands").
  std::vector<std::string> notes;

  const CueTrack* track(int number) const;  // nullptr when there is none
};

// The frames of `span` in a file of `fileFrames` sample frames: its count, or
// what lies from its first frame to the end (0 when it starts past the end).
std::int64_t spanFrames(const CueSpan& span, std::int64_t fileFrames);

// The stretch of one track in one file.
struct CueRange {
  int track = 0;  // the track's number
  std::int64_t firstFrame = 0;
  std::int64_t frameCount = 0;
};
// The ranges of every track in file `file`, which holds `fileFrames` sample
// frames, in order; they do not overlap. Counts are as the sheet gives them:
// whether they fit the file is cueFileProblem's question (cue_wav.h).
std::vector<CueRange> trackRangesIn(const CueSheet& sheet, int file, std::int64_t fileFrames);

// The numbers of the tracks flagged PRE that have frames in file `file`, in
// order.
std::vector<int> preEmphasisTracksIn(const CueSheet& sheet, int file);

// The index of the FILE whose path names `path`, or -1. Paths are compared
// with "." steps and repeated slashes taken out.
int findCueFile(const CueSheet& sheet, const std::string& path);

// `path` with "." steps and repeated slashes taken out ("a//./b" -> "a/b").
std::string tidyPath(const std::string& path);

}  // namespace ril
