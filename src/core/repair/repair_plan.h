// Repairing a WAV file whose header lies: an unfinalised recording (data
// size 0 or a placeholder), a copy cut short, sizes that wrapped past 4 GiB,
// a RIFF size, blockAlign or byteRate that disagree with the file, a format
// chunk that is missing or zeroed. A plan is made from the header, the file's
// length and its last bytes, never from the audio; it changes header fields
// only, or writes a new header in front of the bytes as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril {

// The format the user gives for a file whose own is missing or zeroed.
struct GivenFormat {
  std::uint32_t sampleRate = 0;
  std::uint16_t channels = 0;
  std::uint16_t bitsPerSample = 0;
  bool isFloat = false;
  bool operator==(const GivenFormat&) const = default;
};

// "RATE:CHANNELS:BITS" or "RATE:CHANNELS:BITS:float"; nothing, with `error`
// saying why, when the text is not one.
std::optional<GivenFormat> parseGivenFormat(const std::string& text, std::string& error);
// "44100 Hz, 2 channels, 16-bit PCM".
std::string givenFormatText(const GivenFormat& format);

struct RepairOptions {
  std::optional<GivenFormat> format;  // used only where the file has none of its own
  bool operator==(const RepairOptions&) const = default;
};

// A field's value: a number, or an identifier's four characters.
using FieldValue = std::variant<std::uint64_t, std::string>;

// One header field the repair writes, in one piece.
struct FieldChange {
  std::string field;                    // "data size", "RIFF size", "blockAlign", ...
  std::uint64_t offset = 0;             // where in the repaired file
  std::vector<unsigned char> bytes;     // what is written there
  std::vector<unsigned char> oldBytes;  // what the file holds there; empty for a new field
  std::optional<FieldValue> before;     // empty for a field of an inserted header
  FieldValue after;
  bool operator==(const FieldChange&) const = default;
};

enum class RepairVerdict { kNothingToRepair, kRepair, kRefused };

struct RepairPlan {
  RepairVerdict verdict = RepairVerdict::kNothingToRepair;
  std::string refusal;      // kRefused: one line saying why
  std::string refusalCode;  // the same as a stable word for scripts ("no-data-chunk")
  RepairOptions options;
  std::uint64_t fileLength = 0;  // of the file as planned
  // The repaired file is `header` followed by the file's bytes from
  // `sourceOffset` on, with `changes` written over it. Both are empty (0)
  // unless bytes are inserted; `insertion` says why they are.
  std::vector<unsigned char> header;
  std::uint64_t sourceOffset = 0;
  std::string insertion;
  std::vector<FieldChange> changes;  // in the order an in-place repair writes them
  std::vector<std::string> notes;    // what else the repair does or finds
  // The chief lie, as one sentence without its full stop ("The data chunk
  // declares 0 bytes, but 210,763,776 bytes of audio follow it").
  std::string finding;

  bool insertsBytes() const { return !header.empty() || sourceOffset != 0; }
  std::uint64_t repairedLength() const { return header.size() + fileLength - sourceOffset; }
  bool operator==(const RepairPlan&) const = default;
};

// Plans the repair of a file of `fileLength` bytes read from `source`
// (positioned at offset 0). A failing read throws RunError.
RepairPlan planRepair(ByteSource& source, std::uint64_t fileLength,
                      const RepairOptions& options = {});

// The same for the file `path`; a file that cannot be read is refused with
// the reason.
RepairPlan planFileRepair(FileSystem& fs, const std::string& path,
                          const RepairOptions& options = {});

// The plan a report states for the file `path` whose header was read as
// `header`: made only where the header shows a sign of a lie a repair mends
// (a size that disagrees with the file, blockAlign or byteRate that disagree
// with the format), so healthy files cost nothing more; kNothingToRepair
// otherwise.
RepairPlan planReportedRepair(FileSystem& fs, const std::string& path, const WavHeader& header);

}  // namespace ril
