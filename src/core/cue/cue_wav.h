// Whether the tracks a cue sheet places in a WAV file can be modified there.
#pragma once

#include <string>

#include "core/cue/cue_sheet.h"
#include "core/wav/wav_header.h"

namespace ril {

// Why the tracks in file `file` of `sheet`, whose header reads `header`,
// cannot be modified ("File not found", "48000 Hz, not 44100 Hz", "INDEX 01
// of TRACK 05 lies past the end of the data"), or empty when they can: the
// sheet calls it WAVE, its header is ready, it holds sample frames at
// 44100 Hz (8- or 16-bit PCM, one or two channels), and every index the sheet
// places in it lies within its data.
std::string cueFileProblem(const CueSheet& sheet, int file, const WavHeader& header);

// The same with a stable word for scripts beside it: "not-wave-file", the
// header's (see headerProblemCode: "unreadable", "not-wav", ...),
// "no-samples", "not-44100-hz", "never-modified" (A-law, µ-law),
// "index-past-end". Both empty when the tracks can be modified.
struct CueFileCheck {
  std::string code;
  std::string problem;
};
CueFileCheck checkCueFile(const CueSheet& sheet, int file, const WavHeader& header);

}  // namespace ril
