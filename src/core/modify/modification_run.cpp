#include "core/modify/modification_run.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "core/base/block_buffer.h"
#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/modify/block_pipeline.h"
#include "core/modify/joint_commit.h"
#include "core/modify/modify_messages.h"
#include "core/modify/output_placement.h"
#include "core/wav/sample_blocks.h"

namespace ril {

namespace {

// Volume factors beyond this are never safe (the largest safe factor is 32767,
// for a peak of 1) and would leave the integer range of the arithmetic.
constexpr double kLargestFactor = 1.0e6;

struct AbandonRun {};
struct StoppedAtClip {};

void readExactly(ByteSource& source, void* buffer, std::size_t count) {
  if (source.read(buffer, count) != count) throw RunError(kErrInputPastEnd, "sample data");
}

// Copies `count` bytes (or up to the end for UINT64_MAX) through `buffer`.
void copyBytes(ByteSource& source, OutputFile& out, std::uint64_t count, void* buffer,
               std::size_t bufferSize) {
  const bool toEnd = count == UINT64_MAX;
  while (count > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, bufferSize));
    std::size_t got = source.read(buffer, want);
    if (got > 0) out.write(buffer, got);
    if (got < want) {
      if (toEnd) return;
      throw RunError(kErrInputPastEnd, "header");
    }
    if (!toEnd) count -= got;
  }
}

class ModificationRun {
 public:
  ModificationRun(const ModifyTarget& target, const ModifyRequest& request,
                  ModifyServices& services, double factor, ModifyResult& result,
                  const CommitCheck& beforeCommit)
      : target_(target),
        request_(request),
        sv_(services),
        factor_(factor),
        result_(result),
        beforeCommit_(beforeCommit) {}

  void run() {
    try {
      place();
      if (placement_.declined) {
        result_.outcome = ModifyOutcome::kDeclined;
        return;
      }
      checkExit();
      process();
      result_.outcome = ModifyOutcome::kCompleted;
      result_.outputName =
          result_.held ? result_.held->placement.outputName : placement_.outputName;
    } catch (const AbandonRun&) {
      cleanUp();
      result_.outcome = ModifyOutcome::kAbandoned;
      return;
    } catch (const StoppedAtClip&) {
      cleanUp();
      result_.outcome = ModifyOutcome::kClipped;
      return;
    } catch (const RunError& e) {
      fail(e.number(), e.detail());
      result_.systemError = e.sysErrno();
      return;
    } catch (const std::bad_alloc&) {
      fail(kErrOutOfMemory, {});
      return;
    } catch (...) {
      fail(kErrInternal, {});
      return;
    }
    finish();
  }

 private:
  void place() {
    PlacementRequest request;
    request.path = target_.path;
    request.bareName = target_.bareName.empty() ? baseNameOf(target_.path) : target_.bareName;
    request.appPath = target_.appPath;
    request.mode = sv_.placement;
    request.explicitOutput = sv_.explicitOutput;
    request.mayOverwrite = !sv_.holdOutput;
    request.inputLocked = sv_.inputLocked;
    placeOutput(request, sv_.fs, sv_.messages, placement_);
    result_.inPlace = placement_.inPlace;
    result_.inProgramDir = placement_.inProgramDir;
  }

  void process() {
    const WavFormat& format = target_.header.format;
    const std::int64_t total = target_.header.layout.framesInFile;
    const std::size_t frameBytes = static_cast<std::size_t>(format.frameBytes());

    OutputFile& out = openOutput();
    startTime_ = sv_.clock.seconds();

    const std::int64_t nominal = nominalBlockFrames(format.channels, format.bitsPerSample);
    SampleBlocks blocks(total, nominal);
    const std::size_t bufferBytes = static_cast<std::size_t>(blocks.largest()) * frameBytes;
    BlockBuffer in(bufferBytes);
    rewriter_ = std::make_unique<SampleRewriter>(
        format, factor_, request_.deemphasis, [this](const Clip& clip) { clipped(clip); },
        sv_.followReportFilter, request_.ranges, total);
    rewriter_->useThreads(sv_.threads);
    if (request_.maximize && !request_.deemphasis) rewriter_->divideBy(request_.peakToDivideBy);
    followingPeak_ = sv_.peakHolds && !placement_.inPlace && rewriter_->followPeak();

    // An in-place rewrite must not stop half-way: the whole file is read once
    // before anything is written, so that a volume pass that would overflow,
    // and a file that cannot be read through, fail with the file untouched.
    // The space it needs is reserved first, so that a full disk stops it
    // before any byte changes (where the file system can reserve space).
    if (placement_.inPlace) {
      readThroughFirst(in.data(), bufferBytes,
                       !request_.deemphasis && rewriter_->volumeCanOverflow());
      out.reserve(target_.header.layout.fileLength);
    }

    InputFile& input = *placement_.input;
    copyBytes(input, out, static_cast<std::uint64_t>(target_.header.layout.dataOffset), in.data(),
              bufferBytes);
    rewriteBlocks(input, out, blocks, frameBytes);
    if (followingPeak_) result_.followedPeak = rewriter_->followedPeak();
    showLaterClips();
    result_.samplesBeyondFullScale = rewriter_->beyondFullScale();
    if (sv_.followReportFilter) result_.filteredRange = rewriter_->filteredRange();

    // Everything behind the whole frames (a partial frame, the trailing
    // chunks, a pad byte) goes over unchanged, so the lengths match.
    copyBytes(input, out, UINT64_MAX, in.data(), bufferBytes);
    input.close();
    if (newFile_) {
      commitNewFile();
    } else {
      out.sync();
      out.close();
    }
  }

  // Reading runs ahead of the rewriting and writing behind it, each on a
  // thread of its own; the blocks are written in order.
  void rewriteBlocks(InputFile& input, OutputFile& out, SampleBlocks& blocks,
                     std::size_t frameBytes) {
    const std::int64_t total = target_.header.layout.framesInFile;
    std::vector<std::size_t> sizes;
    for (SampleBlocks b = blocks; b.next();) {
      sizes.push_back(static_cast<std::size_t>(b.frames()) * frameBytes);
    }
    BlockPipeline pipeline(input, out, std::move(sizes));
    while (blocks.next()) {
      const BlockPipeline::Block block = pipeline.next();
      showProgress(blocks.start(), total);
      rewriter_->rewrite(block.in, block.out, blocks.frames(), blocks.start());
      if (followingPeak_ && !sv_.peakHolds(rewriter_->followedPeak())) throw StoppedAtClip{};
      if (!placement_.inPlace) checkExit();
      rewriting_ = placement_.inPlace;
      pipeline.write();
    }
    pipeline.finish();
  }

  OutputFile& openOutput() {
    if (placement_.inPlace) {
      plainOutput_ = sv_.fs.openWrite(placement_.outputName, WriteMode::kExisting);
      return *plainOutput_;
    }
    switch (placement_.route) {
      case OutputRoute::kNewFile:
        newFile_ = sv_.fs.createNewFile(placement_.outputName);
        return *newFile_;
      case OutputRoute::kDirect:
        plainOutput_ = sv_.fs.openWrite(placement_.outputName, WriteMode::kDirect);
        return *plainOutput_;
      case OutputRoute::kStandardOutput:
        break;
    }
    plainOutput_ = sv_.fs.openStandardOutput();
    return *plainOutput_;
  }

  // The complete output takes the original's attributes and goes to disk;
  // only then do names change: the original is kept as P.old, the output
  // takes its name, and both directories are flushed.
  void commitNewFile() {
    if (beforeCommit_ && !beforeCommit_(result_)) throw AbandonRun{};
    newFile_->takeAttributesOf(placement_.attributesFrom);
    newFile_->sync();
    checkExit();
    if (sv_.holdOutput) {
      result_.held = std::make_shared<HeldOutput>(
          HeldOutput{target_.path, std::move(newFile_), std::move(placement_)});
      return;
    }
    if (placement_.inProgramDir) keepOriginalAsOld(sv_.fs, target_.path, placement_);
    if (placement_.replacesOutput) {
      newFile_->publish();
    } else {
      newFile_->publishWithoutReplacing();
    }
    // From here on nothing is undone: a failure says where the files are.
    result_.committed = true;
    result_.outputName = placement_.outputName;
    settleOriginal(sv_.fs, target_.path, placement_);
    const std::string outputDir = directoryOf(placement_.outputName);
    sv_.fs.syncDirectory(outputDir);
    if (placement_.inProgramDir && directoryOf(target_.path) != outputDir) {
      sv_.fs.syncDirectory(directoryOf(target_.path));
    }
  }

  // Reads the whole file once, block by block as the run will, and fails
  // with the overflow the volume pass would meet first (when asked to look).
  void readThroughFirst(void* buffer, std::size_t bufferBytes, bool checkOverflow) {
    const WavFormat& format = target_.header.format;
    const WavLayout& layout = target_.header.layout;
    auto reader = sv_.fs.openRead(placement_.inputPath);
    std::uint64_t header = static_cast<std::uint64_t>(layout.dataOffset);
    while (header > 0) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(header, bufferBytes));
      readExactly(*reader, buffer, want);
      header -= want;
    }
    SampleBlocks blocks(layout.framesInFile,
                        nominalBlockFrames(format.channels, format.bitsPerSample));
    while (blocks.next()) {
      readExactly(*reader, buffer, static_cast<std::size_t>(blocks.frames()) * format.frameBytes());
      sv_.progress.yield();
      checkExit();
      if (checkOverflow) rewriter_->checkVolume(buffer, blocks.frames(), blocks.start());
    }
    while (reader->read(buffer, bufferBytes) == bufferBytes) {
    }
    reader->close();
  }

  // The first clipped samples get a message each; the others are counted,
  // with the range of their frames, for one message at the end.
  void clipped(const Clip& clip) {
    // Like a stop request, this cannot end an in-place rewrite that has
    // begun writing.
    if (request_.stopAtFirstClip && !rewriting_) throw StoppedAtClip{};
    if (++result_.clippedSamples <= kClipMessagesShown) {
      sv_.messages.show(clipMessage(clip));
      return;
    }
    const bool first = result_.clippedSamples == kClipMessagesShown + 1;
    laterClips_.first = first ? clip.frame : std::min(laterClips_.first, clip.frame);
    laterClips_.last = first ? clip.frame : std::max(laterClips_.last, clip.frame);
  }

  void showLaterClips() {
    const std::int64_t later = result_.clippedSamples - kClipMessagesShown;
    if (later > 0) {
      sv_.messages.show(
          laterClipsMessage(target_.path, later, laterClips_.first, laterClips_.last));
    }
  }

  void showProgress(std::int64_t done, std::int64_t total) {
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    sv_.progress.progress(fraction, "Progress " + formatNumber(fraction, "0%"));
    sv_.progress.yield();
    if (!placement_.inPlace) checkExit();
  }

  bool exitAsked() const { return sv_.stop.stop_requested(); }

  void checkExit() {
    if (exitAsked()) throw AbandonRun{};
  }

  // Closes and removes what the run opened and made, and puts the original
  // back under its name.
  void cleanUp() noexcept {
    if (placement_.input) placement_.input->close();
    if (newFile_) newFile_->discard();
    if (plainOutput_) {
      try {
        plainOutput_->close();
      } catch (...) {
      }
    }
    restoreOriginal(sv_.fs, target_.path, placement_);
  }

  void fail(int number, const std::string& detail) {
    if (rewriter_ && number == kErrOverflow) result_.lastValue = rewriter_->lastValue();
    if (result_.committed) {
      if (placement_.input) placement_.input->close();
    } else {
      cleanUp();
    }
    result_.outcome = ModifyOutcome::kFailed;
    result_.errorNumber = number;
    result_.errorDetail = detail;
    result_.partlyRewritten = rewriting_;
  }

  void finish() {
    sv_.progress.progressDone("Done!");
    result_.elapsedSeconds = static_cast<float>(std::max(0.0, sv_.clock.seconds() - startTime_));
    // The program ends now; there is no notice to wait for.
    if (exitAsked()) result_.exitPending = true;
  }

  const ModifyTarget& target_;
  const ModifyRequest& request_;
  ModifyServices& sv_;
  const double factor_;
  ModifyResult& result_;
  const CommitCheck& beforeCommit_;
  Placement placement_;
  std::unique_ptr<NewFile> newFile_;
  std::unique_ptr<OutputFile> plainOutput_;  // in place, or written where it is
  std::unique_ptr<SampleRewriter> rewriter_;
  bool rewriting_ = false;  // an in-place rewrite has begun writing samples
  bool followingPeak_ = false;
  struct {
    std::int64_t first = 0;
    std::int64_t last = 0;
  } laterClips_;
  double startTime_ = 0.0;
};

}  // namespace

ModifyResult runModification(const ModifyTarget& target, const ModifyRequest& request,
                             ModifyServices& services, const CommitCheck& beforeCommit) {
  ModifyResult result;
  if (request.volumeTenths == 1000 && !request.maximize && !request.deemphasis &&
      !request.copyWhenUnchanged) {
    result.outcome = ModifyOutcome::kNothingToDo;
    return result;
  }
  const double factor = request.factor();
  std::optional<std::string> why = refusalText(target.path, target.header);
  if (!why && !(factor >= 0.0 && factor <= kLargestFactor)) why = factorRefusalText(factor);
  if (!why && request.ranges && !rangesInOrder(*request.ranges)) why = rangesRefusalText();
  if (why) {
    result.outcome = ModifyOutcome::kRefused;
    result.refusal = *why;
    return result;
  }
  ModificationRun(target, request, services, factor, result, beforeCommit).run();
  return result;
}

}  // namespace ril
