// Feeds a block to an accumulator whose two threads share it, as the
// analysis does: the owner's piece is there before the block starts, the
// partner copies in the rest.
#pragma once

#include <cstdint>
#include <cstring>

namespace ril::test {

// Frames start .. start + count - 1 of `samples` (count > 0).
template <class Accumulator>
bool addSharedBlock(Accumulator& acc, const unsigned char* samples, std::int64_t frameBytes,
                    std::int64_t start, std::int64_t count) {
  const unsigned char* at = samples + start * frameBytes;
  const std::int64_t own = acc.ownerFrames(start, count);
  std::memcpy(acc.nextBuffer(), at, static_cast<std::size_t>(own * frameBytes));
  acc.startShared(count, own, [at, own, frameBytes](unsigned char* to, std::size_t bytes) {
    std::memcpy(to, at + own * frameBytes, bytes);
    return true;
  });
  const bool read = acc.runOwnerShare([] {});
  acc.finishShared();
  return read;
}

// The same frames as the accumulator takes them: shared where it shares
// its blocks, else copied in and handed over. False when a shared block's
// rest could not be read.
template <class Accumulator>
bool addBlock(Accumulator& acc, const unsigned char* samples, std::int64_t frameBytes,
              std::int64_t start, std::int64_t count) {
  if (acc.sharesBlocks())
    return count <= 0 || addSharedBlock(acc, samples, frameBytes, start, count);
  std::memcpy(acc.nextBuffer(), samples + start * frameBytes,
              static_cast<std::size_t>(count * frameBytes));
  acc.addBlock(count);
  return true;
}

}  // namespace ril::test
