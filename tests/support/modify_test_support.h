// A modification run without windows, and an independent plain computation of
// what a run must write.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <tuple>
#include <vector>

#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"
#include "core/modify/volume_policy.h"
#include "core/wav/wav_header_reader.h"
#include "support/faulty_file_system.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril::test {

// A user directory with the file, a program directory, and the services.
struct ModifyHarness {
  TempDir dir;
  std::string userDir = dir.path() + "user/";
  std::string progDir = dir.path() + "prog/";
  FaultyFileSystem fs;
  ManualClock clock;
  ScriptedHost host;
  ModifyTarget target;
  ModifyRequest request;
  PlacementMode placement = PlacementMode::kProgramDirectory;
  std::string explicitOutput;
  std::stop_source stop;  // stops the run where it looks
  bool followReportFilter = false;

  ModifyHarness() {
    ::mkdir(userDir.c_str(), 0755);
    ::mkdir(progDir.c_str(), 0755);
  }

  // Writes `bytes` as the user's file and reads its header as a batch run does.
  std::string load(const Bytes& bytes, const std::string& name = "a.wav") {
    std::string path = userDir + name;
    writeFile(path, bytes);
    loadPath(path);
    return path;
  }

  void loadPath(const std::string& path) {
    target =
        ModifyTarget{path, baseNameOf(path), progDir, readWavFile(realFileSystem(), path).header};
  }

  const std::string& path() const { return target.path; }

  // Runs the modification as the dialog's Modify does; the failure and
  // refusal messages the dialog shows afterwards are added to the host's.
  ModifyResult run(const CommitCheck& beforeCommit = {}) {
    ModifyServices services{.fs = fs, .clock = clock, .messages = host, .progress = host};
    services.stop = stop.get_token();
    services.placement = placement;
    services.explicitOutput = explicitOutput;
    services.followReportFilter = followReportFilter;
    ModifyResult result = runModification(target, request, services, beforeCommit);
    if (result.outcome == ModifyOutcome::kFailed) {
      host.show(failureMessage(result.errorNumber, result.lastValue, target.path));
    } else if (result.outcome == ModifyOutcome::kRefused) {
      host.show(refusalMessage(result.refusal));
    } else if (result.outcome == ModifyOutcome::kCompleted &&
               placement != PlacementMode::kExplicitOutput && !result.exitPending) {
      host.show(closingNotice(result.inProgramDir, "\r\n"));
    }
    return result;
  }

  // Every file of both directories (hidden ones included) with its bytes.
  std::map<std::string, Bytes> snapshot() const {
    std::map<std::string, Bytes> files;
    for (const std::string& d : {userDir, progDir})
      for (const std::string& name : listDirectory(d)) files[d + name] = readFile(d + name);
    return files;
  }

  std::vector<std::string> messageTexts() const {
    std::vector<std::string> texts;
    for (const Message& m : host.messages) texts.push_back(m.text);
    return texts;
  }
};

// What a run must produce, computed sample by sample over each whole channel.
struct Expected {
  Bytes samples;                         // whole frames only
  std::vector<std::string> messages;     // a clipping message per clipped sample, in order
  std::vector<std::int64_t> clipFrames;  // the frame of each
  std::optional<std::int64_t> overflow;  // the value of the first overflow
};

inline std::int64_t framesPerBlock(int channels, int bits) {
  return (bits == 8 ? 1048576 : 524288) / channels;
}

// `emphasisFor(block, channel)` says whether the de-emphasis box is ticked for that pass.
template <class EmphasisFor>
Expected expectedOutput(const Bytes& data, int channels, int bits, double factor,
                        EmphasisFor emphasisFor) {
  const int width = bits == 8 ? 1 : 2;
  const std::int64_t frames = static_cast<std::int64_t>(data.size()) / (width * channels);
  const std::int64_t perBlock = std::min(framesPerBlock(channels, bits), frames);
  const std::int64_t blocks = frames / perBlock;
  auto blockOf = [&](std::int64_t i) { return std::min(i / perBlock, blocks - 1); };

  Expected out;
  out.samples = Bytes(static_cast<std::size_t>(frames * width * channels));
  // (block, channel, frame) -> message, to put them in the order they are shown.
  std::vector<std::tuple<std::int64_t, int, std::int64_t, std::string>> messages;
  std::optional<std::tuple<std::int64_t, int, std::int64_t, std::int64_t>> firstOverflow;
  for (int c = 0; c < channels; ++c) {
    double prevIn = 0, prevOut = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
      std::size_t at = static_cast<std::size_t>((i * channels + c) * width);
      double v =
          bits == 8 ? data[at] - 128.0 : static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
      std::int64_t r;
      if (!emphasisFor(blockOf(i), c)) {
        r = bits == 8 ? static_cast<std::int64_t>(std::trunc(v * factor + 128.5))
                      : static_cast<std::int64_t>(std::floor(v * factor + 0.5));
        bool bad = bits == 8 ? (r < 0 || r > 255) : (r < -32768 || r > 32767);
        if (bad) {
          auto key = std::make_tuple(blockOf(i), c, i, r);
          if (!firstOverflow || key < *firstOverflow) firstOverflow = key;
          r = 0;
        }
      } else {
        double x = v * factor;
        double y = (15.5 * prevIn + (-2.75) * x + 20.75 * prevOut) / 33.5;
        prevIn = x;
        prevOut = y;
        std::int64_t high = bits == 8 ? 255 : 32767, low = bits == 8 ? 0 : -32768;
        r = static_cast<std::int64_t>(std::floor(y + (bits == 8 ? 128.5 : 0.5)));
        std::int64_t shown = bits == 8 ? r - 128 : r;
        std::string head = "Error at sample " + std::to_string(i) + "! Calculated value of " +
                           std::to_string(shown);
        if (r > high) {
          messages.emplace_back(blockOf(i), c, i,
                                head + (bits == 8 ? " limited to 127!" : " limited to 32767!"));
          r = high;
        } else if (r < low) {
          messages.emplace_back(blockOf(i), c, i,
                                head + (bits == 8 ? " limited to -128!" : " limited to -32768!"));
          r = low;
        }
      }
      out.samples[at] = static_cast<unsigned char>(r & 0xFF);
      if (width == 2) out.samples[at + 1] = static_cast<unsigned char>((r >> 8) & 0xFF);
    }
  }
  std::sort(messages.begin(), messages.end());
  for (auto& m : messages) {
    out.messages.push_back(std::get<3>(m));
    out.clipFrames.push_back(std::get<2>(m));
  }
  if (firstOverflow) out.overflow = std::get<3>(*firstOverflow);
  return out;
}

// The clipping messages a run on `path` shows: the first ones one by one,
// then one for all the others.
inline std::vector<std::string> shownClips(const Expected& want, const std::string& path) {
  const std::size_t shown = std::min<std::size_t>(want.messages.size(), kClipMessagesShown);
  std::vector<std::string> texts(want.messages.begin(),
                                 want.messages.begin() + static_cast<std::ptrdiff_t>(shown));
  if (want.messages.size() > shown) {
    const auto later = want.clipFrames.begin() + static_cast<std::ptrdiff_t>(shown);
    texts.push_back(laterClipsMessage(path, static_cast<std::int64_t>(want.messages.size() - shown),
                                      *std::min_element(later, want.clipFrames.end()),
                                      *std::max_element(later, want.clipFrames.end()))
                        .text);
  }
  return texts;
}

inline Expected expectedOutput(const Bytes& data, int channels, int bits, double factor,
                               bool emphasis) {
  return expectedOutput(data, channels, bits, factor,
                        [emphasis](std::int64_t, int) { return emphasis; });
}

// Deterministic noise with occasional full-scale bursts.
inline Bytes noiseSamples(std::size_t count, int bits, std::uint32_t seed) {
  Bytes out;
  std::uint32_t x = seed;
  auto next = [&] {
    x = x * 1664525u + 1013904223u;
    return x >> 8;
  };
  for (std::size_t k = 0; k < count; ++k) {
    std::uint32_t r = next();
    bool burst = (k / 64) % 7 == 3;
    if (bits == 8) {
      out.push_back(burst ? ((k / 2) % 2 ? 255 : 0) : static_cast<unsigned char>(r & 0xFF));
    } else {
      std::int16_t v =
          burst ? ((k / 2) % 2 ? 32767 : -32768) : static_cast<std::int16_t>(r & 0xFFFF);
      putLe16(out, static_cast<std::uint16_t>(v));
    }
  }
  return out;
}

}  // namespace ril::test
