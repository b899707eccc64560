// Room for the blocks of a pass: a few MiB, filled by reading and read again
// many times over. A fresh page costs a fault when it is first written, which
// on some virtual machines takes as long as copying the page a hundred times
// over; a buffer of 1 MiB or more therefore asks for huge pages (2 MiB each,
// one fault apiece), where the system grants them. Once it is gone, its pages
// are kept for the next buffer of about its size (up to 16 MiB in all), so
// that the next file's pass finds them faulted in; a buffer that none of them
// fits gives them all back first. Its bytes start at zero, at an address
// aligned for any sample word (16 bytes or more).
#pragma once

#include <cstddef>

namespace ril {

class BlockBuffer {
 public:
  BlockBuffer() = default;
  explicit BlockBuffer(std::size_t bytes) { resize(bytes); }
  ~BlockBuffer() { release(); }
  BlockBuffer(BlockBuffer&& other) noexcept;
  BlockBuffer& operator=(BlockBuffer&& other) noexcept;
  BlockBuffer(const BlockBuffer&) = delete;
  BlockBuffer& operator=(const BlockBuffer&) = delete;

  // Room for `bytes` bytes, all zero; what the buffer held is gone. Throws
  // std::bad_alloc when there is no memory for it.
  void resize(std::size_t bytes);
  unsigned char* data() { return data_; }
  const unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

  // Gives the pages kept for later buffers back to the system.
  static void dropKept();

 private:
  void release();

  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mapped_ = 0;  // bytes mapped at data_, or 0 when allocated
};

// Two buffers a pass reads its blocks into by turns, so that the next block
// is read while the one before is accumulated. The second is made only once
// a second block comes: a file of one block never touches its pages.
class BlockBufferPair {
 public:
  // Room for blocks of up to `bytes` bytes.
  void resize(std::size_t bytes) {
    bytes_ = bytes;
    buffers_[0].resize(bytes);
    buffers_[1] = BlockBuffer{};
    next_ = 0;
  }
  // Where the next block's bytes go.
  unsigned char* next() {
    BlockBuffer& b = buffers_[next_];
    if (b.size() != bytes_) b.resize(bytes_);
    return b.data();
  }
  // The next block, once read into next(); the turn passes to the other buffer.
  unsigned char* take() {
    unsigned char* bytes = buffers_[next_].data();
    next_ ^= 1;
    return bytes;
  }

 private:
  BlockBuffer buffers_[2];
  std::size_t bytes_ = 0;
  int next_ = 0;
};

}  // namespace ril
