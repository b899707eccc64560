#include "core/base/block_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

namespace ril {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Buffers from this size on are rounded up to whole huge pages: at most
// twice their size, and only the pages written are ever taken.
constexpr std::size_t kLeastMapped = std::size_t{1} << 20;

// Mappings given back are kept for the next buffers (the next file's pass
// takes the same sizes) up to this much, so that they are not faulted in
// again page by page where huge pages are not granted.
constexpr std::size_t kSpareBytes = std::size_t{16} << 20;
constexpr int kSpareCount = 8;

struct Spare {
  void* at = nullptr;
  std::size_t length = 0;
};

std::mutex spareMutex;
Spare spares[kSpareCount];
std::size_t spareBytes = 0;

// With spareMutex held.
void unmapSpares() {
  for (Spare& s : spares) {
    if (s.at) munmap(s.at, s.length);
    s = Spare{};
  }
  spareBytes = 0;
}

// A kept mapping of at least `length` bytes and less than twice as many, or
// an empty one. When none fits, the buffers in use have changed their sizes
// (a modification after its analysis): the kept ones are given back, so that
// they do not add to the new ones.
Spare takeSpare(std::size_t length) {
  std::lock_guard<std::mutex> lock(spareMutex);
  Spare* best = nullptr;
  for (Spare& s : spares) {
    if (s.at && s.length >= length && s.length < 2 * length && (!best || s.length < best->length)) {
      best = &s;
    }
  }
  if (!best) {
    unmapSpares();
    return {};
  }
  spareBytes -= best->length;
  return std::exchange(*best, Spare{});
}

// Keeps the mapping, or unmaps it when there is no room for it.
void giveBack(void* at, std::size_t length) {
  {
    std::lock_guard<std::mutex> lock(spareMutex);
    if (spareBytes + length <= kSpareBytes) {
      for (Spare& s : spares) {
        if (!s.at) {
          s = Spare{at, length};
          spareBytes += length;
          return;
        }
      }
    }
  }
  munmap(at, length);
}

// A fresh mapping of `length` bytes (a multiple of kHugePage) at an address
// huge pages may take: one more is mapped, and what lies before and after
// the aligned run is unmapped.
void* mapAligned(std::size_t length) {
  void* raw =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto at = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (at + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > at) munmap(raw, aligned - at);
  const std::size_t after = kHugePage - (aligned - at);
  if (after > 0) munmap(reinterpret_cast<void*>(aligned + length), after);
  void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  // Only a request: without huge pages the buffer works as it is.
  madvise(p, length, MADV_HUGEPAGE);
#endif
  return p;
}

}  // namespace

BlockBuffer::BlockBuffer(BlockBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

BlockBuffer& BlockBuffer::operator=(BlockBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

void BlockBuffer::dropKept() {
  std::lock_guard<std::mutex> lock(spareMutex);
  unmapSpares();
}

void BlockBuffer::release() {
  if (mapped_ != 0) {
    giveBack(data_, mapped_);
  } else {
    delete[] data_;
  }
  data_ = nullptr;
  size_ = 0;
  mapped_ = 0;
}

void BlockBuffer::resize(std::size_t bytes) {
  release();
  if (bytes == 0) return;
  if (bytes < kLeastMapped || bytes > SIZE_MAX - 2 * kHugePage) {
    data_ = new unsigned char[bytes]();
    size_ = bytes;
    return;
  }
  const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  const Spare spare = takeSpare(length);
  if (spare.at) {
    data_ = static_cast<unsigned char*>(spare.at);
    mapped_ = spare.length;
    std::memset(data_, 0, bytes);
  } else {
    data_ = static_cast<unsigned char*>(mapAligned(length));
    mapped_ = length;
  }
  size_ = bytes;
}

}  // namespace ril
