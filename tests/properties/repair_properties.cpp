#include "properties/repair_properties.h"

#include <algorithm>

#include "core/repair/repair_run.h"
#include "core/repair/repair_text.h"
#include "core/repair/riff_scan.h"
#include "core/wav/wav_header_reader.h"
#include "properties/properties.h"
#include "support/memory_file_system.h"
#include "support/scripted_host.h"

namespace ril::properties {

namespace {

using Bytes = std::vector<unsigned char>;

const char* const kPath = "/in/f.wav";

// A format given by the input's last bytes when the last one's high bit is set.
RepairOptions optionsFor(const std::uint8_t* data, std::size_t size) {
  RepairOptions options;
  if (size < 4 || (data[size - 1] & 0x80) == 0) return options;
  GivenFormat f;
  const std::uint8_t kind = data[size - 2];
  f.isFloat = (kind & 1) != 0;
  f.bitsPerSample =
      static_cast<std::uint16_t>(f.isFloat ? (kind & 2 ? 64 : 32) : 8 * (1 + (kind >> 1) % 4));
  f.channels = static_cast<std::uint16_t>(1 + data[size - 3] % 6);
  f.sampleRate = 8000 + 100u * data[size - 4];
  options.format = f;
  return options;
}

// The first audio byte of a file as the planner finds it; 0 without a data chunk.
std::uint64_t audioStart(const Bytes& bytes) {
  MemorySource source(bytes);
  std::uint64_t position = 0;
  const RiffScan scan = scanRiff(source, bytes.size(), position);
  return scan.data.found ? scan.data.body() : 0;
}

// A plan that is carried out must leave nothing more to repair, and the
// repaired file's data chunk must lie within it.
std::string checkRepaired(const Bytes& repaired, const RepairPlan& plan, MemoryFileSystem& fs) {
  const std::uint64_t start = audioStart(repaired);
  for (const FieldChange& c : plan.changes) {
    if (c.offset + c.bytes.size() > start) return "the field " + c.field + " lies in the audio";
  }
  const RepairPlan again = planFileRepair(fs, kPath, plan.options);
  if (again.verdict != RepairVerdict::kNothingToRepair) {
    return "a repaired file needs repairing again: " + planLines(again).front();
  }
  const WavHeader header =
      readWavHeader(std::make_unique<MemorySource>(repaired), repaired.size()).header;
  if (header.findings.dataFound && header.layout.trailerLength < 0) {
    return "the repaired data chunk reaches past the end of the file";
  }
  return {};
}

// Carries out a plan that repairs; returns the first broken rule.
std::string checkCarriedOut(const Bytes& original, const RepairPlan& plan, MemoryFileSystem& fs) {
  if (plan.changes.empty() || plan.finding.empty()) return "a repair without changes or finding";
  ScriptedHost host;
  RepairServices services{.fs = fs, .progress = host};
  const RepairResult result = applyRepair(kPath, plan, services);
  if (result.outcome != RepairOutcome::kRepaired) {
    return "the repair did not complete: " + result.refusal + result.errorDetail;
  }
  const Bytes* old = fs.get(std::string(kPath) + ".old");
  if (!old || *old != original || !result.keptAsOld) return "the original is not kept as .old";
  const Bytes repaired = *fs.get(kPath);
  if (std::string broken = unplannedDifference(original, repaired, plan); !broken.empty()) {
    return broken;
  }
  if (std::string broken = checkRepaired(repaired, plan, fs); !broken.empty()) return broken;
  if (plan.insertsBytes()) return {};
  MemoryFileSystem inPlace;
  inPlace.put(kPath, original);
  RepairServices direct{.fs = inPlace, .progress = host};
  direct.placement = RepairPlacement::kInPlace;
  if (applyRepair(kPath, plan, direct).outcome != RepairOutcome::kRepaired ||
      *inPlace.get(kPath) != repaired) {
    return "the repair in place differs from the one beside the original";
  }
  return {};
}

}  // namespace

std::string unplannedDifference(const Bytes& original, const Bytes& repaired,
                                const RepairPlan& plan) {
  if (plan.sourceOffset > original.size() || repaired.size() != plan.repairedLength()) {
    return "the repaired file is " + std::to_string(repaired.size()) + " bytes long, not " +
           std::to_string(plan.repairedLength());
  }
  Bytes expected = plan.header;
  expected.insert(expected.end(), original.begin() + static_cast<std::ptrdiff_t>(plan.sourceOffset),
                  original.end());
  const std::uint64_t shift = plan.header.size();
  for (const FieldChange& c : plan.changes) {
    const std::uint64_t end = c.offset + c.bytes.size();
    if (end > expected.size()) return "the field " + c.field + " lies past the end";
    const auto at = expected.begin() + static_cast<std::ptrdiff_t>(c.offset);
    if (c.offset < shift) {
      if (end > shift || !std::equal(c.bytes.begin(), c.bytes.end(), at)) {
        return "the new header does not hold the field " + c.field;
      }
      continue;
    }
    if (!c.oldBytes.empty() && (c.oldBytes.size() != c.bytes.size() ||
                                !std::equal(c.oldBytes.begin(), c.oldBytes.end(), at))) {
      return "the old value of " + c.field + " is not what the file holds";
    }
    std::copy(c.bytes.begin(), c.bytes.end(), at);
  }
  const auto [mine, theirs] = std::mismatch(expected.begin(), expected.end(), repaired.begin());
  if (mine != expected.end()) {
    return "byte " + std::to_string(mine - expected.begin()) + " changed outside the plan's fields";
  }
  return {};
}

std::string checkRepair(const std::uint8_t* data, std::size_t size) {
  const Bytes original(data, data + size);
  MemoryFileSystem fs;
  fs.put(kPath, original);
  const RepairPlan plan = planFileRepair(fs, kPath, optionsFor(data, size));
  if (fs.paths().size() != 1 || *fs.get(kPath) != original) return "planning changed a file";
  if (plan.verdict == RepairVerdict::kRepair) return checkCarriedOut(original, plan, fs);
  if (!plan.changes.empty() || plan.insertsBytes()) return "a plan without a repair changes bytes";
  if (plan.verdict == RepairVerdict::kRefused && plan.refusal.empty()) {
    return "a refusal without its reason";
  }
  ScriptedHost host;
  RepairServices services{.fs = fs, .progress = host};
  if (applyRepair(kPath, plan, services).outcome != RepairOutcome::kRefused ||
      fs.paths().size() != 1 || *fs.get(kPath) != original) {
    return "a file with nothing to repair was written";
  }
  return {};
}

}  // namespace ril::properties
