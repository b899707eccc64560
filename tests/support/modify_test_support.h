// A modification run without windows, and the reference computation of what
// a run must write (reference_modification.h).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"
#include "core/modify/volume_policy.h"
#include "core/wav/wav_header_reader.h"
#include "support/faulty_file_system.h"
#include "support/manual_clock.h"
#include "support/reference_modification.h"
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
  int threads = 1;

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
    services.threads = threads;
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
