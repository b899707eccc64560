#include "core/cue/cue_wav.h"

#include "core/base/errors.h"
#include "core/wav/header_report.h"

namespace ril {

namespace {

std::string fileHeaderProblem(const WavHeader& header) {
  switch (header.status) {
    case HeaderStatus::kUnreadable:
      return header.findings.readErrorNumber ? readErrorWords(header.findings) : "cannot be read";
    case HeaderStatus::kEmpty:
      return "empty file";
    case HeaderStatus::kNoDataChunk:
      // A file of another kind is named for what it is.
      return header.findings.waveForm ? "no data chunk" : header.findings.unsupportedReason;
    case HeaderStatus::kUnsupported:
      return header.findings.unsupportedReason;
    case HeaderStatus::kReady:
      break;
  }
  return {};
}

}  // namespace

CueFileCheck checkCueFile(const CueSheet& sheet, int file, const WavHeader& header) {
  const CueFile& f = sheet.files.at(static_cast<std::size_t>(file));
  if (!f.wave()) return {"not-wave-file", "a " + f.type + " file, not WAVE"};
  if (std::string problem = fileHeaderProblem(header); !problem.empty()) {
    return {headerProblemCode(header), problem};
  }
  if (header.layout.framesInFile <= 0) return {"no-samples", "no sample frames"};
  if (header.format.sampleRate != 44100) {
    return {"not-44100-hz", std::to_string(header.format.sampleRate) + " Hz, not 44100 Hz"};
  }
  if (!header.format.sample().modifiable()) {
    return {"never-modified",
            header.format.sample().words() + " samples are analysed, never modified"};
  }
  const std::int64_t frames = header.layout.framesInFile;
  for (const CueTrack& t : sheet.tracks) {
    for (const CueIndex& i : t.indexes) {
      if (i.file == file && i.time.sampleFrame() > frames) {
        return {"index-past-end",
                "INDEX " + twoDigits(i.number) + " of TRACK " + twoDigits(t.number) + " at " +
                    i.time.text() + " (frame " + std::to_string(i.time.sampleFrame()) +
                    ") lies past the end of the data (" + std::to_string(frames) + " frames)"};
      }
    }
  }
  return {};
}

std::string cueFileProblem(const CueSheet& sheet, int file, const WavHeader& header) {
  return checkCueFile(sheet, file, header).problem;
}

}  // namespace ril
