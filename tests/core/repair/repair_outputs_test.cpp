// Repairs written to disk as every output is: a backup a killed run left
// goes, a file another run holds is refused, and a failure after the
// repaired file has its name undoes nothing and says so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "core/base/errors.h"
#include "core/repair/repair_run.h"
#include "support/faulty_file_system.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;

// An unfinished recording: data size 0, the RIFF size of an empty file.
Bytes unfinished() {
  test::WavShape s;
  s.data = Bytes(4000, 0x81);
  s.dataSize = 0;
  s.riffSize = 36;
  return test::buildWav(s);
}

struct RepairOnDisk {
  test::TempDir dir;
  std::string path = dir.file("rec.wav");
  Bytes original = unfinished();
  ScriptedHost host;

  RepairOnDisk() { test::writeFile(path, original); }

  RepairResult repair(FileSystem& fs,
                      RepairPlacement placement = RepairPlacement::kBesideOriginal) {
    RepairServices services{.fs = fs, .progress = host};
    services.placement = placement;
    return applyRepair(path, planFileRepair(fs, path, {}), services);
  }
};

TEST(RepairOutputsTest, AStaleBackupGoesAndAFileAnotherRunHoldsIsRefused) {
  RepairOnDisk r;
  FileSystem& fs = realFileSystem();
  {
    const auto otherRun = fs.lockForRun(r.path);
    for (RepairPlacement placement :
         {RepairPlacement::kBesideOriginal, RepairPlacement::kInPlace}) {
      const RepairResult held = r.repair(fs, placement);
      EXPECT_EQ(held.outcome, RepairOutcome::kFailed);
      EXPECT_EQ(held.errorNumber, kErrPermissionDenied);
      EXPECT_EQ(held.errorDetail, r.path + " is being modified by another run");
      EXPECT_EQ(test::readFile(r.path), r.original);
    }
  }
  // P.old as a second name of P: the mark of a run killed between its steps.
  ASSERT_EQ(::link(r.path.c_str(), (r.path + ".old").c_str()), 0);
  const RepairResult done = r.repair(fs);
  EXPECT_EQ(done.outcome, RepairOutcome::kRepaired);
  EXPECT_TRUE(done.staleOldRemoved);
  EXPECT_TRUE(done.keptAsOld);
  EXPECT_EQ(test::readFile(r.path + ".old"), r.original);
  EXPECT_NE(test::readFile(r.path), r.original);
  // A P.old of its own stays, and so does P.
  const Bytes repaired = test::readFile(r.path);
  test::writeFile(r.path, r.original);
  test::writeFile(r.path + ".old", repaired);
  const RepairResult refused = r.repair(fs);
  EXPECT_EQ(refused.errorNumber, kErrFileExists);
  EXPECT_EQ(test::readFile(r.path), r.original);
  EXPECT_EQ(test::readFile(r.path + ".old"), repaired);
}

TEST(RepairOutputsTest, AFailureAfterTheRepairedFileHasItsNameUndoesNothing) {
  struct UnflushableDirectories : test::FaultyFileSystem {
    void syncDirectory(const std::string& dir) override {
      throw RunError(kErrDeviceIo, "the directory " + dir + " could not be flushed to disk", EIO);
    }
  };
  RepairOnDisk r;
  UnflushableDirectories fs;
  const RepairResult result = r.repair(fs);
  EXPECT_EQ(result.outcome, RepairOutcome::kFailed);
  EXPECT_TRUE(result.committed);
  EXPECT_TRUE(result.keptAsOld);
  EXPECT_EQ(result.errorNumber, kErrDeviceIo);
  EXPECT_EQ(test::readFile(r.path + ".old"), r.original);
  EXPECT_EQ(planFileRepair(realFileSystem(), r.path, {}).verdict, RepairVerdict::kNothingToRepair);
}

}  // namespace
}  // namespace ril
