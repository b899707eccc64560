// One pass over all samples of a file: per-channel statistics of the data as
// stored and, at 44100 Hz, of the de-emphasised data, and the headroom.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis/format_statistics.h"
#include "core/analysis/level_overview.h"
#include "core/analysis/loudness_meter.h"
#include "core/analysis/sample_statistics.h"
#include "core/base/clock.h"
#include "core/base/host.h"
#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril {

struct AnalysisResult {
  enum class Outcome {
    kComplete,    // every frame was read
    kNoFrames,    // the data chunk holds no whole frame inside the file
    kReadFailed,  // reading stopped part-way (failure says why)
  };
  Outcome outcome = Outcome::kNoFrames;
  bool deemphasised = false;  // the file is at 44100 Hz: records 2 and 3 hold the filtered data
  // The tuned pass's records (8- and 16-bit mono and stereo files only), avg
  // and rms filled in.
  StatsRecords records{};
  // Every file's figures, one per channel: of the data as stored, and
  // de-emphasised (when deemphasised), on the format's statistics scale.
  SampleFormat sample;
  std::vector<ChannelFigures> stored;
  std::vector<ChannelFigures> filtered;
  // Float samples that were NaN or infinite: every figure counts them as 0.
  std::int64_t nonFiniteSamples = 0;
  float elapsedSeconds = 0;         // reading and statistics
  std::int64_t frames = 0;          // frames in the file (the pass's goal)
  std::int64_t declaredFrames = 0;  // frames the data chunk declares
  std::int64_t framesRead = 0;
  std::string failure;  // kReadFailed: "the file ended early." and the like
  // Largest magnitudes on the 16-bit scale (-32768 counting as -32767) of the
  // data as stored [0] and de-emphasised [1] (only when deemphasised); for
  // the formats on another scale 0 (peakValue holds theirs).
  std::array<std::int32_t, 2> peak{0, 0};
  // The same on the format's statistics scale, for every format: integers'
  // smallest value counting as the largest, float's magnitude as it is.
  std::array<double, 2> peakValue{0.0, 0.0};
  // The largest magnitude the format stores on that scale (32767 on the
  // 16-bit scale, 8388607 for 24 bits, 1.0 for float).
  double peakLimit = 32767.0;
  // The loudness meter's trace of the data as stored, when it was asked for.
  std::optional<LoudnessTrace> loudness;
  // The levels over time, for a picture (complete passes that kept them).
  LevelOverview overview;

  bool complete() const { return outcome == Outcome::kComplete; }
  // How far the volume can be raised: in tenths of a factor for the data as
  // stored, in thousandths for the de-emphasised data (0 for silence).
  double volumeLimit() const;
  double volumeLimitDeemphasis() const;
};

// Reads the `format` samples of `layout` from `samples` (positioned at the
// first sample byte) block by block, showing progress as "44%" and yielding
// once per block. A failing read ends the pass (outcome kReadFailed).
// `threads` threads share the work (this one included); progress and
// yielding stay on this thread. With `loudness` the loudness meter takes
// every block as well; with `overview` the levels are kept for a picture.
AnalysisResult analyseSamples(ByteSource& samples, const WavFormat& format, const WavLayout& layout,
                              ProgressSink& progress, Clock& clock, char decimalSeparator = '.',
                              int threads = 1, bool loudness = true, bool overview = true);

}  // namespace ril
