// The block loop's reading and writing on threads of their own: blocks are
// read ahead into a small ring of buffers while the caller rewrites one, and
// the rewritten blocks are written behind it, in order. The memory is the
// ring's, whatever the file's size.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "core/base/block_buffer.h"
#include "core/io/files.h"

namespace ril {

class BlockPipeline {
 public:
  // Reads blocks of the sizes `blockBytes` in order from `input` and writes
  // as many to `output`; `depth` blocks are in the ring.
  BlockPipeline(ByteSource& input, OutputFile& output, std::vector<std::size_t> blockBytes,
                int depth = 3);
  ~BlockPipeline();  // writes the blocks handed on, stops reading, joins the threads
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  // The next block: its bytes as read, and where its output goes (both
  // aligned for 16-bit words). Throws what reading it threw (a short read:
  // RunError kErrInputPastEnd), once the blocks before it are written, or
  // what writing one of them threw.
  struct Block {
    const void* in;
    void* out;
  };
  Block next();
  // Hands the block's output to the writer. Throws what writing an earlier
  // block threw.
  void write();
  // Waits until every block handed on is written; throws what writing threw.
  void finish();

 private:
  void readLoop();
  void writeLoop();
  // Runs work(k) for each block in order once ready(k) holds (asked with the
  // lock held), counting the blocks done in `done` or keeping the failure.
  // Stopping ends it, unless it is to finish what is ready.
  template <class Ready, class Work>
  void stage(Ready ready, Work work, bool finishWhenStopping, std::size_t& done,
             std::exception_ptr& failure);
  void throwWriteFailure();  // with the lock held
  // Slot k of the ring holds its input, then its output, each slotBytes_ long.
  unsigned char* inBuffer(std::size_t block) {
    return ring_.data() + (block % slots_) * 2 * slotBytes_;
  }
  unsigned char* outBuffer(std::size_t block) { return inBuffer(block) + slotBytes_; }

  ByteSource& input_;
  OutputFile& output_;
  std::vector<std::size_t> bytes_;
  std::size_t slots_ = 1;
  std::size_t slotBytes_ = 0;
  BlockBuffer ring_;  // one buffer for all, so that its pages are used up

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t read_ = 0;     // blocks read
  std::size_t current_ = 0;  // the block the caller has
  std::size_t handed_ = 0;   // blocks handed to the writer
  std::size_t written_ = 0;  // blocks written
  std::exception_ptr readFailure_;
  std::exception_ptr writeFailure_;
  bool stopping_ = false;
  std::thread reader_;
  std::thread writer_;
};

}  // namespace ril
