// rilmaton-cli cue: the tracks a cue sheet places in its files, and whether
// those files can be modified.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "core/cue/cue_reader.h"
#include "core/cue/cue_sheet.h"
#include "core/cue/cue_wav.h"
#include "core/io/files.h"
#include "core/modify/cue_deemphasis.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {

// Keys in the order they are written.
using Json = nlohmann::ordered_json;

const char* kCueUsage =
    "Usage: rilmaton-cli cue [--json] SHEET\n"
    "\n"
    "Lists the tracks of the cue sheet SHEET: number, mode, file, first sample frame,\n"
    "frame count and flags (PRE marks a pre-emphasised track). A track runs from its\n"
    "first index (INDEX 00 when present, else INDEX 01) to the next track's first\n"
    "index, or to the end of the file's data; frames are counted at 44.1 kHz, 588 to\n"
    "the CD frame. Then each file the sheet names, with its format and whether its\n"
    "tracks can be modified (44100 Hz WAV files of PCM or float samples only).\n"
    "\n"
    "  --json   print the same as one JSON document\n"
    "\n"
    "Oddities the sheet gets away with are noted on stderr, prefixed \"warning: \";\n"
    "so is a FILE that leads outside the sheet's directory and its subdirectories\n"
    "(after links), which the modify command's de-emphasis of a sheet refuses unless\n"
    "told to allow it.\n"
    "\n"
    "Exit status: 0 listed, 1 the sheet could not be read or is malformed, 2 usage error.\n";

// A file the sheet names, as found on disk.
struct FileFacts {
  std::optional<WavHeader> header;  // WAVE files only
  // Sample frames at 44.1 kHz, where the tracks that run to the end end.
  std::optional<std::int64_t> frames;
  std::string problem;      // why its tracks cannot be modified, or empty
  std::string problemCode;  // the same as a stable word
};

std::vector<FileFacts> examineFiles(const CueSheet& sheet) {
  std::vector<FileFacts> facts;
  for (std::size_t i = 0; i < sheet.files.size(); ++i) {
    FileFacts f;
    if (sheet.files[i].wave()) {
      f.header = readWavFile(realFileSystem(), sheet.files[i].path).header;
      if (f.header->ready() && f.header->format.sampleRate == 44100) {
        f.frames = f.header->layout.framesInFile;
      }
    }
    CueFileCheck check = checkCueFile(sheet, static_cast<int>(i), f.header.value_or(WavHeader{}));
    f.problem = std::move(check.problem);
    f.problemCode = std::move(check.code);
    facts.push_back(std::move(f));
  }
  return facts;
}

std::optional<std::int64_t> countOf(const CueSpan& span, const std::vector<FileFacts>& files) {
  if (span.frameCount) return span.frameCount;
  const std::optional<std::int64_t>& frames = files[static_cast<std::size_t>(span.file)].frames;
  if (!frames) return std::nullopt;
  return spanFrames(span, *frames);
}

// Channels, rate, bits and frames, as far as the header tells them.
std::string formatText(const WavHeader& h) {
  if (h.status == HeaderStatus::kUnreadable || !h.formatKnown()) return {};
  const WavFormat& f = h.format;
  std::string text = std::to_string(f.channels) + (f.channels == 1 ? " channel, " : " channels, ") +
                     std::to_string(f.sampleRate) + " Hz, " + std::to_string(f.bitsPerSample) +
                     " bits";
  if (h.ready()) text += ", " + std::to_string(h.layout.framesInFile) + " frames";
  return text;
}

// Rows of words in columns two blanks apart.
void printTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

void printText(const CueSheet& sheet, const std::vector<FileFacts>& files) {
  std::vector<std::vector<std::string>> rows{
      {"Track", "Mode", "File", "First frame", "Frames", "Flags"}};
  for (const CueTrack& t : sheet.tracks) {
    bool first = true;
    for (const CueSpan& s : t.spans) {
      const std::optional<std::int64_t> count = countOf(s, files);
      rows.push_back({first ? twoDigits(t.number) : "", first ? t.mode : "",
                      shownName(sheet.files[static_cast<std::size_t>(s.file)].name),
                      std::to_string(s.firstFrame), count ? std::to_string(*count) : "?",
                      first ? cueFlagsText(t.flags) : ""});
      first = false;
    }
  }
  printTable(rows);
  std::printf("\n");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const CueFile& cf = sheet.files[i];
    std::string line = shownName(cf.name) + ": " + cf.type;
    if (files[i].header) {
      const std::string format = formatText(*files[i].header);
      if (!format.empty()) line += ", " + format;
    }
    line += files[i].problem.empty() ? "; can be modified"
                                     : "; cannot be modified: " + files[i].problem;
    std::printf("%s\n", line.c_str());
  }
}

Json optionalNumber(const std::optional<std::int64_t>& n) {
  return n ? Json(*n) : Json(nullptr);
}

Json trackJson(const CueSheet& sheet, const CueTrack& t, const std::vector<FileFacts>& files) {
  auto fileName = [&](int file) { return sheet.files[static_cast<std::size_t>(file)].name; };
  Json flags = Json::array();
  for (unsigned flag : {kCueFlagDcp, kCueFlag4ch, kCueFlagPre, kCueFlagScms}) {
    if (t.flags & flag) flags.push_back(cueFlagsText(flag));
  }
  Json indexes = Json::array();
  for (const CueIndex& i : t.indexes) {
    indexes.push_back({{"number", i.number},
                       {"time", i.time.text()},
                       {"file", fileName(i.file)},
                       {"frame", i.time.sampleFrame()}});
  }
  Json spans = Json::array();
  std::optional<std::int64_t> total = 0;
  for (const CueSpan& s : t.spans) {
    const std::optional<std::int64_t> count = countOf(s, files);
    total = total && count ? std::optional(*total + *count) : std::nullopt;
    spans.push_back({{"file", fileName(s.file)},
                     {"firstFrame", s.firstFrame},
                     {"frameCount", optionalNumber(count)}});
  }
  return {{"number", t.number},
          {"mode", t.mode},
          {"flags", flags},
          {"preEmphasis", t.preEmphasis()},
          {"file", fileName(t.spans.front().file)},
          {"firstFrame", t.spans.front().firstFrame},
          {"frameCount", optionalNumber(total)},
          {"indexes", indexes},
          {"spans", spans}};
}

Json fileJson(const CueFile& cf, const FileFacts& facts) {
  Json j = {{"name", cf.name}, {"path", cf.path}, {"type", cf.type}};
  const WavHeader* h = facts.header ? &*facts.header : nullptr;
  const bool format = h && h->status != HeaderStatus::kUnreadable && h->formatKnown();
  j["channels"] = format ? Json(h->format.channels) : Json(nullptr);
  j["sampleRate"] = format ? Json(h->format.sampleRate) : Json(nullptr);
  j["bitsPerSample"] = format ? Json(h->format.bitsPerSample) : Json(nullptr);
  j["frames"] = h && h->ready() ? Json(h->layout.framesInFile) : Json(nullptr);
  j["modifiable"] = facts.problem.empty();
  j["reason"] = facts.problem.empty() ? Json(nullptr) : Json(facts.problem);
  j["reasonCode"] = facts.problem.empty() ? Json(nullptr) : Json(facts.problemCode);
  return j;
}

void printJson(const CueSheet& sheet, const std::vector<FileFacts>& files) {
  Json tracks = Json::array();
  for (const CueTrack& t : sheet.tracks) tracks.push_back(trackJson(sheet, t, files));
  Json fileList = Json::array();
  for (std::size_t i = 0; i < files.size(); ++i) {
    fileList.push_back(fileJson(sheet.files[i], files[i]));
  }
  const Json doc = {
      {"sheet", sheet.path}, {"tracks", tracks}, {"files", fileList}, {"notes", sheet.notes}};
  // Names in a sheet need not be UTF-8; bytes JSON cannot hold become U+FFFD.
  const std::string text = doc.dump(2, ' ', false, Json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

// A warning for each FILE that leads outside the sheet's directory, or
// through a link the kernel would not follow.
void warnOutside(const CueSheet& sheet) {
  for (std::size_t i = 0; i < sheet.files.size(); ++i) {
    std::string problem;
    try {
      problem = outsideSheetProblem(realFileSystem(), sheet, static_cast<int>(i));
      if (!problem.empty()) problem += "; modify --cue refuses it without --cue-outside-ok";
    } catch (const RunError& e) {
      problem = e.detail();
    }
    if (!problem.empty()) std::fprintf(stderr, "warning: %s\n", shownName(problem).c_str());
  }
}

}  // namespace

int runCueCommand(int argc, char** argv) {
  Arguments args("cue");
  bool json = false;
  args.flag({"--json"}, json);
  if (const int status = args.parseOrExit(argc, argv, kCueUsage); status >= 0) return status;
  if (args.operands().empty()) return args.usageError("no SHEET given");
  if (args.operands().size() > 1) return args.usageError("one SHEET at a time");

  const CueReading reading = readCueSheet(realFileSystem(), args.operands().front());
  if (!reading.sheet) {
    std::fprintf(stderr, "rilmaton-cli cue: %s\n", shownName(reading.error).c_str());
    return 1;
  }
  const CueSheet& sheet = *reading.sheet;
  for (const std::string& note : sheet.notes) {
    std::fprintf(stderr, "warning: %s\n", shownName(note).c_str());
  }
  warnOutside(sheet);
  const std::vector<FileFacts> files = examineFiles(sheet);
  if (json) {
    printJson(sheet, files);
  } else {
    printText(sheet, files);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace ril::cli
