// Failures at every step of a run: the user's files stay byte for byte as
// they were, and no temporary file is left behind.
#include <gtest/gtest.h>

#include "core/base/errors.h"
#include "core/modify/modification_run.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::Fault;
using test::FsOp;
using test::ModifyHarness;
using test::WavShape;

constexpr std::int64_t kFrames = 600000;  // two blocks of 16-bit stereo

Bytes stereoFile(std::int16_t loudInLastBlock = 1000) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(kFrames) * 2);
  for (std::size_t k = 0; k < samples.size(); ++k)
    samples[k] = static_cast<std::int16_t>(k % 2001) - 1000;
  samples[samples.size() - 7] = loudInLastBlock;
  WavShape s;
  s.data = test::pcm16(samples);
  s.after = {{"LIST", Bytes(30, 'q')}};
  return test::buildWav(s);
}

const std::int64_t kSampleBytes = kFrames * 4;

struct FailureRow {
  const char* name;
  std::vector<Fault> faults;
  std::optional<DiskFree> free;  // default: plenty
  int number;
  bool oldExists = false;
  bool hardLinks = true;
};

std::string failureText(int number, const std::string& path) {
  switch (number) {
    case 58:
      return "File " + path + ".old already exists! Modification cancelled!";
    case 75:
      return "File " + path + " is write protected! Modification cancelled!";
    case 6:
      return "Overflow (last value 0! Modification cancelled!";
    default:
      return errorCause(number) + "! Modification cancelled!";
  }
}

TEST(ModificationFailureTest, EveryFailingStepLeavesTheUsersFilesAsTheyWere) {
  const std::int64_t header = 44;
  const std::vector<FailureRow> rows = {
      {"free-space figures unknown", {}, DiskFree{0, 0, 0}, 11},
      {"cluster size overflows", {}, DiskFree{65536, 65536, 0}, 6},
      {"old file exists", {}, std::nullopt, 58, true},
      {"keeping the original: not found", {{FsOp::kLink, "a.wav", 53}}, std::nullopt, 53},
      {"keeping the original: held by another program",
       {{FsOp::kLink, "a.wav", 70}},
       std::nullopt,
       70},
      {"keeping the original: write protected", {{FsOp::kLink, "a.wav", 75}}, std::nullopt, 75},
      {"renaming without hard links: write protected",
       {{FsOp::kRenameNoReplace, "a.wav", 75}},
       std::nullopt,
       75,
       false,
       false},
      {"input: not found", {{FsOp::kOpenRead, "a.wav", 53}}, std::nullopt, 53},
      {"input: held by another program", {{FsOp::kOpenRead, "a.wav", 70}}, std::nullopt, 70},
      {"output: write protected", {{FsOp::kOpenWrite, "/prog/", 75}}, std::nullopt, 75},
      {"output: permission denied", {{FsOp::kOpenWrite, "/prog/", 70}}, std::nullopt, 70},
      {"output: path not found", {{FsOp::kOpenWrite, "/prog/", 76}}, std::nullopt, 76},
      {"header copy: disk full", {{FsOp::kWrite, "/prog/", 61, 10}}, std::nullopt, 61},
      {"block loop: disk full",
       {{FsOp::kWrite, "/prog/", 61, header + 1048576 + 100}},
       std::nullopt,
       61},
      {"trailer copy: disk full",
       {{FsOp::kWrite, "/prog/", 61, header + kSampleBytes + 3}},
       std::nullopt,
       61},
      {"block loop: read error", {{FsOp::kRead, "a.wav", 57, 2000000}}, std::nullopt, 57},
      {"flush to disk fails", {{FsOp::kSync, "/prog/", 61}}, std::nullopt, 61},
      {"naming the output fails", {{FsOp::kPublish, "/prog/", 70}}, std::nullopt, 70},
      {"naming the output fails without hard links",
       {{FsOp::kPublish, "/prog/", 70}},
       std::nullopt,
       70,
       false,
       false},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.name);
    ModifyHarness h;
    h.load(stereoFile());
    if (row.oldExists) test::writeFile(h.path() + ".old", Bytes{4, 5});
    h.fs.faults = row.faults;
    h.fs.hardLinks = row.hardLinks;
    if (row.free) h.fs.free = row.free;
    h.request.volumeTenths = 1500;
    auto before = h.snapshot();

    ModifyResult r = h.run();
    EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
    EXPECT_EQ(r.errorNumber, row.number);
    ASSERT_EQ(h.host.messages.size(), 1u);
    EXPECT_EQ(h.host.messages[0].title, "Warning");
    EXPECT_EQ(h.host.messages[0].kind, MessageKind::kWarning);
    EXPECT_EQ(h.host.messages[0].text, failureText(row.number, h.path()));
    EXPECT_EQ(h.snapshot(), before);

    // Nothing is left open or half-done: the next run works.
    h.host.messages.clear();
    h.fs.faults.clear();
    h.fs.free = DiskFree{1, 4096, 1 << 30};
    if (row.oldExists) std::remove((h.path() + ".old").c_str());
    EXPECT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
    EXPECT_EQ(test::readFile(h.userDir + "a.wav.old"), before.at(h.path()));
  }
}

TEST(ModificationFailureTest, OverflowInTheLastBlockRestoresTheOriginal) {
  ModifyHarness h;
  h.load(stereoFile(30000));
  h.request.volumeTenths = 1500;
  auto before = h.snapshot();
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(h.host.messages.back().text, "Overflow (last value 45000! Modification cancelled!");
  EXPECT_EQ(h.snapshot(), before);
  // The first block had been written into the new file by then.
  EXPECT_GT(h.fs.bytesWrittenTo("/prog/"), 1000000u);
}

TEST(ModificationFailureTest, ExplicitOutputFailureLeavesNoOutputAndNoTemporaryFile) {
  ModifyHarness h;
  h.load(stereoFile());
  h.placement = PlacementMode::kExplicitOutput;
  h.explicitOutput = h.progDir + "out.wav";
  h.fs.faults = {{FsOp::kWrite, "/prog/", 61, 500000}};
  h.request.volumeTenths = 500;
  auto before = h.snapshot();
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(h.snapshot(), before);
  EXPECT_EQ(h.host.messages.back().text, "Disk full (error 61)! Modification cancelled!");
}

// The disk-space question comes up (too little room in the program
// directory) and is answered Yes.
void tooLittleRoom(ModifyHarness& h) {
  h.fs.free = DiskFree{1, 4096, 3};
  h.host.answers = {Answer::kYes};
}

TEST(InPlaceTest, OverflowIsFoundBeforeTheFirstByteIsWritten) {
  ModifyHarness h;
  Bytes file = stereoFile(30000);  // overflows only in the last block
  h.load(file);
  tooLittleRoom(h);
  h.request.volumeTenths = 1500;
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
  ASSERT_EQ(h.host.messages.size(), 2u);
  EXPECT_EQ(h.host.messages[0].kind, MessageKind::kQuestion);
  EXPECT_EQ(h.host.messages[1].text, "Overflow (last value 45000! Modification cancelled!");
  EXPECT_EQ(h.fs.bytesWrittenTo("a.wav"), 0u);
  EXPECT_EQ(test::readFile(h.path()), file);
  EXPECT_EQ(test::listDirectory(h.userDir), std::vector<std::string>{"a.wav"});
  EXPECT_EQ(test::listDirectory(h.progDir), std::vector<std::string>{});
}

TEST(InPlaceTest, WriteProtectedFileIsReportedAndUntouched) {
  ModifyHarness h;
  Bytes file = stereoFile();
  h.load(file);
  tooLittleRoom(h);
  h.fs.faults = {{FsOp::kOpenWrite, "a.wav", 75}};
  h.request.volumeTenths = 500;
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(h.host.messages.back().text,
            "File " + h.path() + " is write protected! Modification cancelled!");
  EXPECT_EQ(test::readFile(h.path()), file);
}

TEST(InPlaceTest, RewritesTheFileKeepingItsLengthAndEveryNonSampleByte) {
  ModifyHarness h;
  Bytes file = stereoFile();
  h.load(file);
  tooLittleRoom(h);
  h.request.deemphasis = true;
  h.request.volumeTenths = 1200;
  ModifyResult r = h.run();
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
  EXPECT_TRUE(r.inPlace);
  EXPECT_EQ(h.host.messages.back().text, "The original file is overwritten with the modified one!");
  Bytes out = test::readFile(h.path());
  Bytes samples(file.begin() + 44, file.begin() + 44 + kSampleBytes);
  test::Expected want = test::expectedOutput(samples, 2, 16, 1.2, true);
  Bytes expected = file;
  std::copy(want.samples.begin(), want.samples.end(), expected.begin() + 44);
  EXPECT_TRUE(out == expected);
  EXPECT_EQ(test::listDirectory(h.userDir), std::vector<std::string>{"a.wav"});
}

TEST(InPlaceTest, ReadErrorLaterInTheFileFailsBeforeAnythingIsWritten) {
  ModifyHarness h;
  Bytes file = stereoFile();
  h.load(file);
  tooLittleRoom(h);
  h.request.deemphasis = true;
  h.fs.faults = {{FsOp::kRead, "a.wav", 57, 2000000}};
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(h.host.messages.back().text, "Device I/O error (error 57)! Modification cancelled!");
  EXPECT_EQ(h.fs.bytesWrittenTo("a.wav"), 0u);
  EXPECT_EQ(test::readFile(h.path()), file);
}

TEST(InPlaceTest, SpaceIsReservedBeforeTheFirstWriteAndALaterFailureSaysItIsPartlyRewritten) {
  ModifyHarness h;
  Bytes file = stereoFile();
  h.load(file);
  tooLittleRoom(h);
  h.request.volumeTenths = 500;
  h.fs.faults = {{FsOp::kReserve, "a.wav", 61}};
  ModifyResult r = h.run();
  EXPECT_EQ(r.errorNumber, 61);
  EXPECT_FALSE(r.partlyRewritten);
  EXPECT_EQ(h.fs.bytesWrittenTo("a.wav"), 0u);
  EXPECT_EQ(test::readFile(h.path()), file);

  // Past the reservation (a file system that could not reserve, or one that
  // fails for another reason) the file is no longer the original.
  h.fs.faults = {{FsOp::kWrite, "a.wav", 57, 44 + 1048576 + 10}};
  h.host.answers = {Answer::kYes};
  r = h.run();
  EXPECT_EQ(r.errorNumber, 57);
  EXPECT_TRUE(r.partlyRewritten);
  EXPECT_NE(test::readFile(h.path()), file);
}

TEST(InPlaceTest, AnsweringNoClosesWithoutTouchingAnything) {
  ModifyHarness h;
  h.load(stereoFile());
  tooLittleRoom(h);
  h.host.answers = {Answer::kNo};
  h.request.volumeTenths = 500;
  auto before = h.snapshot();
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kDeclined);
  EXPECT_EQ(h.host.messages.size(), 1u);
  EXPECT_EQ(h.snapshot(), before);
}

TEST(ExitDuringRunTest, CopyToTheProgramDirectoryIsAbandonedAndUndone) {
  ModifyHarness h;
  h.load(stereoFile());
  h.host.onYield = [&] {  // during the second block
    if (h.host.yields == 2) h.stop.request_stop();
  };
  h.request.volumeTenths = 500;
  auto before = h.snapshot();
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kAbandoned);
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_EQ(h.snapshot(), before);
}

TEST(ExitDuringRunTest, OutputCanBeWithheldAtTheLastMoment) {
  ModifyHarness h;
  h.load(stereoFile());
  h.request.volumeTenths = 500;
  auto before = h.snapshot();
  int asked = 0;
  auto refuse = [&](const ModifyResult&) {
    ++asked;
    return false;
  };
  EXPECT_EQ(h.run(refuse).outcome, ModifyOutcome::kAbandoned);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(h.snapshot(), before);
  auto allow = [&](const ModifyResult&) { return ++asked > 0; };
  EXPECT_EQ(h.run(allow).outcome, ModifyOutcome::kCompleted);
  EXPECT_TRUE(test::fileExists(h.progDir + "a.wav"));
}

TEST(ExitDuringRunTest, InPlaceRewriteFinishesFirst) {
  ModifyHarness h;
  Bytes file = stereoFile();
  h.load(file);
  tooLittleRoom(h);
  h.host.onYield = [&] {  // once writing began
    if (!h.host.captions.empty()) h.stop.request_stop();
  };
  h.request.volumeTenths = 500;
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kCompleted);
  EXPECT_TRUE(r.exitPending);
  // Only the question: the closing notice would hold up the exit.
  EXPECT_EQ(h.host.messages.size(), 1u);
  Bytes samples(file.begin() + 44, file.begin() + 44 + kSampleBytes);
  Bytes expected = file;
  test::Expected want = test::expectedOutput(samples, 2, 16, 0.5, false);
  std::copy(want.samples.begin(), want.samples.end(), expected.begin() + 44);
  EXPECT_TRUE(test::readFile(h.path()) == expected);
}

TEST(ExitDuringRunTest, InPlaceCheckBeforeWritingMayStillBeLeft) {
  ModifyHarness h;
  Bytes file = stereoFile();
  h.load(file);
  tooLittleRoom(h);
  h.host.onYield = [&] { h.stop.request_stop(); };
  h.request.volumeTenths = 2000;
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kAbandoned);
  EXPECT_EQ(h.fs.bytesWrittenTo("a.wav"), 0u);
  EXPECT_EQ(test::readFile(h.path()), file);
}

}  // namespace
}  // namespace ril
