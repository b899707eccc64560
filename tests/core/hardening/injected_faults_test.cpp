// Failing disks and files that change under the program, injected through the
// file system interface as the operating system reports them (errno values),
// so the whole road from errno to the message is taken. Every case must end in
// its one message, with the user's files byte for byte as before and no
// temporary file left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <map>

#include "core/base/errors.h"
#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"
#include "core/wav/wav_header_reader.h"
#include "support/forwarding_file_system.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;

enum class Op { kOpenRead, kOpenWrite, kRead, kWrite, kSync, kRenameNoReplace, kLink, kPublish };

// The real file system; `before` runs ahead of every operation and may throw
// (through throwErrno, as the real one does) or change files on disk. A write
// may be cut: `writeLimit` bytes per output path, beyond which the part that
// fits is written and the write fails with ENOSPC.
class HookedFileSystem : public test::ForwardingFileSystem {
 public:
  std::function<void(Op, const std::string& path, std::uint64_t done)> before;
  std::map<std::string, std::uint64_t> writeLimit;  // path part -> bytes that fit
  DiskFree free{1, 4096, std::int64_t{1} << 30};

  std::unique_ptr<InputFile> openRead(const std::string& path) override {
    hook(Op::kOpenRead, path, 0);
    return std::make_unique<Input>(*this, path, inner_.openRead(path));
  }
  std::unique_ptr<OutputFile> openWrite(const std::string& path, WriteMode mode) override {
    hook(Op::kOpenWrite, path, 0);
    return std::make_unique<Output<test::ForwardingOutput<OutputFile>>>(
        *this, path, inner_.openWrite(path, mode));
  }
  std::unique_ptr<NewFile> createNewFile(const std::string& target) override {
    hook(Op::kOpenWrite, target, 0);
    return std::make_unique<NewOutput>(*this, target, inner_.createNewFile(target));
  }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    hook(Op::kRenameNoReplace, to, 0);
    inner_.renameNoReplace(from, to);
  }
  bool linkNoReplace(const std::string& from, const std::string& to) override {
    hook(Op::kLink, to, 0);
    return inner_.linkNoReplace(from, to);
  }
  DiskFree freeSpace(const std::string&) override { return free; }

 private:
  void hook(Op op, const std::string& path, std::uint64_t done) {
    if (before) before(op, path, done);
  }

  class Input : public InputFile {
   public:
    Input(HookedFileSystem& fs, std::string path, std::unique_ptr<InputFile> inner)
        : fs_(fs), path_(std::move(path)), inner_(std::move(inner)) {}
    std::size_t read(void* buffer, std::size_t count) override {
      fs_.hook(Op::kRead, path_, done_);
      std::size_t n = inner_->read(buffer, count);
      done_ += n;
      return n;
    }
    void close() override { inner_->close(); }

   private:
    HookedFileSystem& fs_;
    std::string path_;
    std::unique_ptr<InputFile> inner_;
    std::uint64_t done_ = 0;
  };

  template <class Forwarding>
  class Output : public Forwarding {
   public:
    template <class Inner>
    Output(HookedFileSystem& fs, std::string path, std::unique_ptr<Inner> inner)
        : Forwarding(std::move(inner)), fs_(fs), path_(std::move(path)) {}
    void write(const void* data, std::size_t count) override {
      fs_.hook(Op::kWrite, path_, done_);
      for (const auto& [part, limit] : fs_.writeLimit) {
        if (path_.find(part) == std::string::npos || done_ + count <= limit) continue;
        const std::size_t fits = static_cast<std::size_t>(limit - std::min(done_, limit));
        if (fits > 0) this->inner_->write(data, fits);
        done_ += fits;
        throwErrno(ENOSPC, Access::kWrite, path_);
      }
      this->inner_->write(data, count);
      done_ += count;
    }
    void sync() override {
      fs_.hook(Op::kSync, path_, done_);
      this->inner_->sync();
    }

   protected:
    HookedFileSystem& fs_;
    std::string path_;

   private:
    std::uint64_t done_ = 0;
  };

  class NewOutput : public Output<test::ForwardingNewFile> {
   public:
    using Output<test::ForwardingNewFile>::Output;
    void publish() override {
      fs_.hook(Op::kPublish, path_, 0);
      inner_->publish();
    }
  };
};

// 16-bit stereo: 262,144 frames (1 MiB) per block. 3.5 blocks make three
// blocks, the last one merged to 1.5 MiB; a list chunk follows the samples.
constexpr std::int64_t kBlockBytes = 1048576;
constexpr std::int64_t kHeader = 44;
constexpr std::int64_t kSampleBytes = kBlockBytes * 7 / 2;

Bytes threeBlockFile() {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(kSampleBytes / 2));
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k] = static_cast<std::int16_t>((k * 7919) % 20001) - 10000;
  }
  test::WavShape s;
  s.data = test::pcm16(samples);
  s.after = {{"LIST", Bytes(30, 'q')}};
  return test::buildWav(s);
}

// A user directory with the file, a program directory, and a run through the
// hooked file system.
struct Fixture {
  test::TempDir dir;
  std::string userDir = dir.path() + "user/";
  std::string progDir = dir.path() + "prog/";
  HookedFileSystem fs;
  ManualClock clock;
  ScriptedHost host;
  ModifyTarget target;
  ModifyRequest request;
  PlacementMode placement = PlacementMode::kProgramDirectory;
  std::string explicitOutput;

  Fixture() {
    ::mkdir(userDir.c_str(), 0755);
    ::mkdir(progDir.c_str(), 0755);
    request.volumeTenths = 1500;
  }

  // Writes the file and reads its header as a batch run does.
  void load(const Bytes& bytes) {
    test::writeFile(path(), bytes);
    target = ModifyTarget{path(), "a.wav", progDir, readWavFile(realFileSystem(), path()).header};
    ASSERT_EQ(target.header.status, HeaderStatus::kReady);
  }
  std::string path() const { return userDir + "a.wav"; }

  ModifyResult run() {
    ModifyServices services{.fs = fs, .clock = clock, .messages = host, .progress = host};
    services.placement = placement;
    services.explicitOutput = explicitOutput;
    ModifyResult result = runModification(target, request, services);
    // The failure message the dialog shows afterwards.
    if (result.outcome == ModifyOutcome::kFailed) {
      host.show(failureMessage(result.errorNumber, result.lastValue, target.path));
    }
    return result;
  }

  // Every file of both directories, hidden ones included, with its bytes.
  std::map<std::string, Bytes> snapshot() const {
    std::map<std::string, Bytes> files;
    for (const std::string& d : {userDir, progDir}) {
      for (const std::string& name : test::listDirectory(d))
        files[d + name] = test::readFile(d + name);
    }
    return files;
  }

  std::string lastMessage() const {
    return host.messages.empty() ? std::string() : host.messages.back().text;
  }
};

std::string cancelled(int number) {
  return errorCause(number) + "! Modification cancelled!";
}

// Where the disk fills up, counted in bytes of the output file.
struct FullAt {
  const char* name;
  std::int64_t bytes;
};

TEST(DiskFullTest, EndsWithNumber61AndTheOriginalsWhereverTheDiskFillsUp) {
  const Bytes file = threeBlockFile();
  const std::vector<FullAt> points = {
      {"header", 20},
      {"first block", kHeader + 1000},
      {"end of the first block", kHeader + kBlockBytes},
      {"middle block", kHeader + kBlockBytes + kBlockBytes / 2},
      {"last block", kHeader + 2 * kBlockBytes + 5},
      {"last byte of the samples", kHeader + kSampleBytes - 1},
      {"trailer", kHeader + kSampleBytes + 10},
  };
  for (PlacementMode mode : {PlacementMode::kProgramDirectory, PlacementMode::kExplicitOutput}) {
    for (const FullAt& at : points) {
      SCOPED_TRACE(std::string(at.name) +
                   (mode == PlacementMode::kExplicitOutput ? ", explicit output" : ""));
      Fixture f;
      f.load(file);
      f.placement = mode;
      f.explicitOutput = f.progDir + "out.wav";
      f.fs.writeLimit[f.progDir] = static_cast<std::uint64_t>(at.bytes);
      const auto before = f.snapshot();

      const ModifyResult r = f.run();
      EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
      EXPECT_EQ(r.errorNumber, kErrDiskFull);
      EXPECT_EQ(f.lastMessage(), cancelled(61));
      EXPECT_EQ(f.host.messages.size(), 1u);
      EXPECT_TRUE(f.snapshot() == before);
    }
  }
}

TEST(DiskFullTest, NoRoomForTheTemporaryFileItselfEndsWithNumber61) {
  Fixture f;
  f.load(threeBlockFile());
  f.fs.before = [&](Op op, const std::string& path, std::uint64_t) {
    if (op == Op::kOpenWrite) throwErrno(ENOSPC, Access::kWrite, path);
  };
  const auto before = f.snapshot();
  EXPECT_EQ(f.run().errorNumber, kErrDiskFull);
  EXPECT_EQ(f.lastMessage(), cancelled(61));
  EXPECT_TRUE(f.snapshot() == before);
}

TEST(ReadErrorTest, DeviceErrorInTheMiddleEndsWithNumber57AndTheOriginalBack) {
  for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t(kHeader + kBlockBytes + 1)}) {
    SCOPED_TRACE(at);
    Fixture f;
    f.load(threeBlockFile());
    f.fs.before = [&](Op op, const std::string& path, std::uint64_t done) {
      if (op == Op::kRead && done >= at && path == f.path()) {
        throwErrno(EIO, Access::kRead, path);
      }
    };
    const auto before = f.snapshot();
    const ModifyResult r = f.run();
    EXPECT_EQ(r.errorNumber, kErrDeviceIo);
    EXPECT_EQ(f.lastMessage(), cancelled(57));
    EXPECT_TRUE(f.snapshot() == before);
  }
}

// The disk-space question is answered Yes: the file is rewritten in place.
TEST(ReadErrorTest, InPlaceRewriteFailingBeforeItsFirstWriteLeavesTheFileAlone) {
  Fixture f;
  const Bytes file = threeBlockFile();
  f.load(file);
  f.fs.free = DiskFree{1, 4096, 3};
  f.host.answers = {Answer::kYes};
  f.fs.before = [&](Op op, const std::string& path, std::uint64_t) {
    if (op == Op::kRead) throwErrno(EIO, Access::kRead, path);
  };
  const ModifyResult r = f.run();
  EXPECT_EQ(r.errorNumber, kErrDeviceIo);
  EXPECT_EQ(f.lastMessage(), cancelled(57));
  EXPECT_TRUE(test::readFile(f.path()) == file);
  EXPECT_EQ(test::listDirectory(f.userDir), std::vector<std::string>{"a.wav"});
}

TEST(VanishedInputTest, FileDeletedAfterTheAnalysisEndsWithNumber53) {
  for (PlacementMode mode : {PlacementMode::kProgramDirectory, PlacementMode::kExplicitOutput,
                             PlacementMode::kInPlace}) {
    Fixture f;
    f.load(threeBlockFile());
    f.placement = mode;
    f.explicitOutput = f.progDir + "out.wav";
    ::unlink(f.path().c_str());
    const ModifyResult r = f.run();
    EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
    EXPECT_EQ(r.errorNumber, kErrFileNotFound);
    EXPECT_EQ(f.lastMessage(), cancelled(53));
    EXPECT_TRUE(f.snapshot().empty());
  }
}

TEST(VanishedInputTest, FileCutShortAfterTheAnalysisFailsAndIsLeftAsFound) {
  // Cut inside the header, inside the first block, and inside the last one.
  for (std::size_t keep :
       {std::size_t{30}, std::size_t(kHeader + 5000), std::size_t(kHeader + 3 * kBlockBytes)}) {
    for (PlacementMode mode : {PlacementMode::kProgramDirectory, PlacementMode::kExplicitOutput}) {
      SCOPED_TRACE(keep);
      Fixture f;
      const Bytes file = threeBlockFile();
      f.load(file);
      f.placement = mode;
      f.explicitOutput = f.progDir + "out.wav";
      test::writeFile(f.path(),
                      Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)));
      const auto before = f.snapshot();
      const ModifyResult r = f.run();
      EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
      EXPECT_EQ(f.host.messages.size(), 1u);
      EXPECT_FALSE(f.lastMessage().empty());
      EXPECT_TRUE(f.snapshot() == before);
    }
  }
}

TEST(VanishedInputTest, FileCutShortBeforeAnInPlaceRewriteIsNotTouched) {
  Fixture f;
  const Bytes file = threeBlockFile();
  f.load(file);
  f.fs.free = DiskFree{1, 4096, 3};
  f.host.answers = {Answer::kYes};
  const Bytes cut(file.begin(), file.begin() + kHeader + 5000);
  test::writeFile(f.path(), cut);
  const ModifyResult r = f.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
  EXPECT_TRUE(test::readFile(f.path()) == cut);
}

TEST(ReadOnlyTest, ReadOnlyProgramDirectoryEndsWithWriteProtectedAndTheOriginalBack) {
  for (PlacementMode mode : {PlacementMode::kProgramDirectory, PlacementMode::kExplicitOutput}) {
    Fixture f;
    f.load(threeBlockFile());
    f.placement = mode;
    f.explicitOutput = f.progDir + "out.wav";
    f.fs.before = [&](Op op, const std::string& path, std::uint64_t) {
      if (op == Op::kOpenWrite && path.starts_with(f.progDir)) {
        throwErrno(EROFS, Access::kWrite, path);
      }
    };
    const auto before = f.snapshot();
    const ModifyResult r = f.run();
    EXPECT_EQ(r.errorNumber, kErrPathFileAccess);
    EXPECT_EQ(f.lastMessage(), "File " + f.path() + " is write protected! Modification cancelled!");
    EXPECT_TRUE(f.snapshot() == before);
  }
}

TEST(ReadOnlyTest, ReadOnlyUserDirectoryStopsKeepingTheOriginal) {
  Fixture f;
  f.load(threeBlockFile());
  f.fs.before = [&](Op op, const std::string& path, std::uint64_t) {
    if (op == Op::kLink) throwErrno(EROFS, Access::kRename, path);
  };
  const auto before = f.snapshot();
  EXPECT_EQ(f.run().errorNumber, kErrPathFileAccess);
  EXPECT_EQ(f.lastMessage(), "File " + f.path() + " is write protected! Modification cancelled!");
  EXPECT_TRUE(f.snapshot() == before);
}

TEST(ReadOnlyTest, ReadOnlyFileForAnInPlaceRewriteIsReportedAndUntouched) {
  Fixture f;
  const Bytes file = threeBlockFile();
  f.load(file);
  f.fs.free = DiskFree{1, 4096, 3};
  f.host.answers = {Answer::kYes};
  f.fs.before = [&](Op op, const std::string& path, std::uint64_t) {
    if (op == Op::kOpenWrite) throwErrno(EROFS, Access::kWrite, path);
  };
  const ModifyResult r = f.run();
  EXPECT_EQ(r.errorNumber, kErrPathFileAccess);
  EXPECT_EQ(f.lastMessage(), "File " + f.path() + " is write protected! Modification cancelled!");
  EXPECT_TRUE(test::readFile(f.path()) == file);
  EXPECT_EQ(test::listDirectory(f.userDir), std::vector<std::string>{"a.wav"});
}

TEST(RaceTest, OldFileAppearingJustBeforeTheRenameIsNeitherReplacedNorLost) {
  Fixture f;
  const Bytes file = threeBlockFile();
  f.load(file);
  const Bytes intruder{'o', 't', 'h', 'e', 'r'};
  f.fs.before = [&](Op op, const std::string& path, std::uint64_t) {
    if (op == Op::kLink && path == f.path() + ".old") test::writeFile(path, intruder);
  };
  const ModifyResult r = f.run();
  EXPECT_EQ(r.errorNumber, kErrFileExists);
  EXPECT_EQ(f.lastMessage(), "File " + f.path() + ".old already exists! Modification cancelled!");
  EXPECT_TRUE(test::readFile(f.path()) == file);
  EXPECT_TRUE(test::readFile(f.path() + ".old") == intruder);
  EXPECT_EQ(test::listDirectory(f.progDir), std::vector<std::string>{});
}

TEST(RaceTest, OutputReplacedByAnotherProgramMidRunIsReplacedOnlyByTheCompleteResult) {
  // A file of the output's name that appears while the run writes its
  // temporary file is replaced whole at the end, never mixed with it.
  Fixture f;
  f.load(threeBlockFile());
  bool written = false;
  f.fs.before = [&](Op op, const std::string&, std::uint64_t done) {
    if (op == Op::kWrite && done > 0 && !written) {
      test::writeFile(f.progDir + "a.wav", Bytes{1, 2, 3});
      written = true;
    }
  };
  const ModifyResult r = f.run();
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(test::readFile(f.progDir + "a.wav").size(), threeBlockFile().size());
  EXPECT_EQ(test::listDirectory(f.progDir), std::vector<std::string>{"a.wav"});
}

TEST(RaceTest, FileReplacedWhileTheRunReadsItIsLeftToTheOtherProgram) {
  // Another program writes a new a.wav while the run copies: the run ends
  // with 53 and neither keeps the new file as a.wav.old nor replaces it.
  Fixture f;
  f.load(threeBlockFile());
  const Bytes newcomer{7, 7};
  f.fs.before = [&](Op op, const std::string&, std::uint64_t done) {
    if (op == Op::kWrite && done > 0 && test::readFile(f.path()) != newcomer) {
      const std::string elsewhere = f.userDir + "new";
      test::writeFile(elsewhere, newcomer);
      ::rename(elsewhere.c_str(), f.path().c_str());
    }
  };
  const ModifyResult r = f.run();
  EXPECT_EQ(r.errorNumber, kErrFileNotFound);
  EXPECT_TRUE(test::readFile(f.path()) == newcomer);
  EXPECT_EQ(test::listDirectory(f.userDir), std::vector<std::string>{"a.wav"});
  EXPECT_EQ(test::listDirectory(f.progDir), std::vector<std::string>{});
}

}  // namespace
}  // namespace ril
