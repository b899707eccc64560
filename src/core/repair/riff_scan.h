// What a repair needs to know of a file, read without touching its audio:
// the chunks from the front up to the data chunk's header, and a chain of
// chunks at its end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/io/files.h"

namespace ril {

// How the file begins.
enum class RiffForm {
  kRiff,        // "RIFF" .... "WAVE"
  kRf64,        // "RF64" or "BW64" .... "WAVE": sizes in a ds64 chunk
  kBigEndian,   // "RIFX"
  kOtherRiff,   // a RIFF file of another form (AVI, ...)
  kHeaderless,  // no RIFF header at all
};

// A chunk found on the walk: the offset of its 8-byte header and its size.
struct ChunkSpot {
  bool found = false;
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  std::uint64_t body() const { return offset + 8; }
};

struct RiffScan {
  std::uint64_t fileLength = 0;
  RiffForm form = RiffForm::kHeaderless;
  std::string formText;  // bytes 8 to 11 as text, for a RIFF file of another form
  std::uint32_t riffSize = 0;
  ChunkSpot firstJunk;                       // a JUNK chunk right after "WAVE" (offset 12)
  std::array<unsigned char, 28> junkBody{};  // its first bytes, when it has 28
  ChunkSpot ds64;      // the ds64 chunk, where an RF64 file has it: first, at offset 12
  int ds64Chunks = 0;  // ds64 chunks before the data chunk, wherever they are
  std::uint64_t ds64RiffSize = 0, ds64DataSize = 0, ds64SampleCount = 0;  // when ds64.size >= 24
  ChunkSpot fmt;
  std::array<unsigned char, 40> fmtBody{};  // its first bytes, zeros beyond the chunk
  ChunkSpot data;                           // its header: the audio begins at data.body()
  // The data chunk follows a chunk of odd size without the pad byte between
  // (found by the search where the walk broke).
  bool dataBehindOddChunk = false;
  // Why the walk ended before a data chunk, or empty.
  std::string broken;
  // Bytes read beyond where the audio may begin, from `heldFrom` up to where
  // the reading stopped: the first bytes of a headerless file, or what the
  // search for the data chunk read past its header.
  std::uint64_t heldFrom = 0;
  std::vector<unsigned char> held;
};

// Reads the file's header from `source` (at offset 0), chunk by chunk: no
// body is read but those of the ds64 and format chunks. Leaves `source`
// where it stopped (at most at the first byte of the audio); `position`
// says where that is.
RiffScan scanRiff(ByteSource& source, std::uint64_t fileLength, std::uint64_t& position);

// A chain of chunks that ends exactly at the end of the file.
struct TrailingChain {
  std::uint64_t start = 0;       // its first chunk's header; the file length when there is none
  std::vector<std::string> ids;  // its chunks' identifiers
  // Without one: a chain that opens as one would but ends near the end of
  // the file, not at it (cut off, or bytes behind it): where it begins, its
  // first identifier and where it ends.
  bool loose = false;
  std::uint64_t looseStart = 0;
  std::string looseId;
  std::uint64_t looseEnd = 0;
};

// How far from the end of the file a trailing chain is looked for.
inline constexpr std::uint64_t kTailWindow = std::uint64_t{4} << 20;

// Looks for the trailing chunks behind audio that begins at `dataStart` in
// frames of `frameBytes`: walking back from the end of the file within the
// last kTailWindow bytes, the earliest chain of valid chunks that ends
// exactly at the end, begins at a frame boundary (or one pad byte after it,
// behind an odd data size) and whose first identifier is a known chunk's;
// without one, a chain that ends within 64 KiB of the end but not at it.
// Reads from `source`, at `position` where scanRiff left it, to the end;
// bytes before `position` come from what `scan` holds.
TrailingChain findTrailingChain(ByteSource& source, std::uint64_t position, const RiffScan& scan,
                                std::uint64_t dataStart, std::uint64_t frameBytes);

// Whether `id` names a chunk that may follow the audio.
bool knownTrailingChunk(const std::string& id);

std::uint32_t readLe32(const unsigned char* p);
std::uint64_t readLe64(const unsigned char* p);

}  // namespace ril
