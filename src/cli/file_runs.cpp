#include "cli/file_runs.h"

#include <stdio.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "cli/terminal.h"
#include "core/base/thread_pool.h"

namespace ril::cli {

namespace {

// What a file wrote, in order: each piece with the stream it went to.
struct Capture {
  struct Piece {
    bool toErr;
    std::string text;
  };
  std::vector<Piece> pieces;

  void add(bool toErr, const char* data, std::size_t size) {
    if (pieces.empty() || pieces.back().toErr != toErr) pieces.push_back({toErr, {}});
    pieces.back().text.append(data, size);
  }
};

struct CaptureStream {
  Capture* capture;
  bool toErr;
};

ssize_t writeCaptured(void* cookie, const char* data, std::size_t size) {
  auto* stream = static_cast<CaptureStream*>(cookie);
  stream->capture->add(stream->toErr, data, size);
  return static_cast<ssize_t>(size);
}

// Opens an unbuffered stream into `stream`, so that pieces of both streams
// keep their order.
std::FILE* openCapture(CaptureStream& stream) {
  cookie_io_functions_t functions{};
  functions.write = writeCaptured;
  std::FILE* f = fopencookie(&stream, "w", functions);
  if (f) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

// Runs work(i) with its output in `capture`.
int runCaptured(std::size_t i, const std::function<int(std::size_t)>& work, Capture& capture) {
  CaptureStream out{&capture, false}, err{&capture, true};
  std::FILE* outFile = openCapture(out);
  std::FILE* errFile = openCapture(err);
  if (!outFile || !errFile) {
    if (outFile) std::fclose(outFile);
    if (errFile) std::fclose(errFile);
    const std::string text = "rilmaton-cli: cannot capture the output of a file\n";
    capture.add(true, text.data(), text.size());
    return 1;
  }
  captureOutput(outFile, errFile);
  int status = 1;
  try {
    status = work(i);
  } catch (const std::exception& e) {
    std::fprintf(errFile, "rilmaton-cli: %s\n", e.what());
  } catch (...) {
    std::fputs("rilmaton-cli: unexpected failure\n", errFile);
  }
  captureOutput(nullptr, nullptr);
  std::fclose(outFile);
  std::fclose(errFile);
  return status;
}

// The one line on a terminal that counts the files done.
class FilesDoneLine {
 public:
  FilesDoneLine(bool wanted, std::size_t total)
      : shown_(wanted && total > 1 && ::isatty(STDERR_FILENO) == 1), total_(total) {}
  void draw(std::size_t done) const {
    if (!shown_) return;
    std::fprintf(stderr, "\rFiles done: %zu of %zu ", done, total_);
    std::fflush(stderr);
  }
  void clear() const {
    if (!shown_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
  }

 private:
  bool shown_;
  std::size_t total_;
};

void emit(const Capture& capture) {
  for (const Capture::Piece& piece : capture.pieces) {
    std::FILE* to = piece.toErr ? stderr : stdout;
    std::fwrite(piece.text.data(), 1, piece.text.size(), to);
    std::fflush(to);
  }
}

}  // namespace

int threadsPerFile(int processors, unsigned jobs, std::size_t files) {
  const std::size_t atOnce = std::max<std::size_t>(1, std::min<std::size_t>(jobs, files));
  return std::max(1, static_cast<int>(static_cast<std::size_t>(processors) / atOnce));
}

unsigned defaultJobs() {
  return static_cast<unsigned>(availableProcessors());
}

std::vector<int> runEach(std::size_t count, unsigned jobs, bool progress,
                         const std::function<int(std::size_t)>& work) {
  std::vector<int> statuses(count, 1);
  if (count == 1) {
    statuses[0] = work(0);
    return statuses;
  }
  std::vector<Capture> captures(count);
  std::vector<char> done(count, 0);
  std::size_t doneCount = 0;
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<std::size_t> next{0};

  auto worker = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      const int status = runCaptured(i, work, captures[i]);
      const std::lock_guard lock(mutex);
      statuses[i] = status;
      done[i] = 1;
      ++doneCount;
      changed.notify_all();
    }
  };
  const std::size_t threads = std::clamp<std::size_t>(jobs, 1, count);
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker);

  const FilesDoneLine line(progress, count);
  std::size_t shownDone = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::unique_lock lock(mutex);
    for (;;) {
      if (doneCount != shownDone) {
        shownDone = doneCount;
        line.draw(shownDone);
      }
      if (done[i]) break;
      changed.wait(lock);
    }
    lock.unlock();
    if (!captures[i].pieces.empty()) {
      line.clear();
      emit(captures[i]);
      line.draw(shownDone);
    }
    captures[i] = Capture{};  // its text is out; keep no more than the files ahead of it
  }
  for (std::thread& t : pool) t.join();
  line.clear();
  return statuses;
}

int combinedStatus(const std::vector<int>& statuses) {
  if (statuses.size() == 1) return statuses[0];
  int status = 0;
  for (int s : statuses) {
    if (s > 128) return s;
    if (s != 0) status = 1;
  }
  return status;
}

}  // namespace ril::cli
