#include "core/modify/output_placement.h"

#include <gtest/gtest.h>

#include "core/base/errors.h"
#include "core/modify/modify_messages.h"
#include "support/memory_file_system.h"
#include "support/scripted_host.h"

namespace ril {
namespace {

const std::string kApp = "/prog/";
const std::string kFile = "/music/a.wav";

int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

TEST(RequiredClustersTest, AddsAHalfAndRoundsHalvesToEven) {
  DiskFree tenBytes{1, 10, 0};
  EXPECT_EQ(requiredClusters(102, tenBytes), 11);  // 10.2
  EXPECT_EQ(requiredClusters(107, tenBytes), 11);  // 10.7
  EXPECT_EQ(requiredClusters(100, tenBytes), 10);  // exactly 10: 10.5 goes to 10
  EXPECT_EQ(requiredClusters(110, tenBytes), 12);  // exactly 11: 11.5 goes to 12
  EXPECT_EQ(requiredClusters(1000000, DiskFree{8, 512, 0}), 245);
  EXPECT_EQ(requiredClusters(45056, DiskFree{1, 4096, 0}), 12);
}

TEST(RequiredClustersTest, ZeroFiguresFailWithDivisionByZero) {
  EXPECT_EQ(errorOf([] { requiredClusters(1000, DiskFree{0, 0, 0}); }), 11);
  EXPECT_EQ(errorOf([] { requiredClusters(1000, DiskFree{8, 0, 5}); }), 11);
  EXPECT_EQ(errorOf([] { requiredClusters(1000, DiskFree{0, 512, 5}); }), 11);
}

TEST(AvailableBytesTest, ClusterSizeBeyond32BitsOverflows) {
  EXPECT_EQ(availableBytes(DiskFree{8, 512, 100}), 409600.0);
  EXPECT_EQ(errorOf([] { availableBytes(DiskFree{65536, 65536, 1}); }), 6);
  EXPECT_EQ(availableBytes(DiskFree{1, 4096, std::int64_t{1} << 40}), 4096.0 * (1LL << 40));
}

TEST(PlacementMessagesTest, TextsTitlesIconsAndButtonsAreTheProgramsOwn) {
  Message q = diskSpaceQuestion("/prog/", 1000000, 409600);
  EXPECT_EQ(q.title, "Warning");
  EXPECT_EQ(q.text,
            "Not enough discspace available to create copy of file in /prog/ (1000000 bytes "
            "required, but only 409600 bytes available)!\r\nDo you want to overwrite the "
            "existing file?");
  EXPECT_EQ(q.kind, MessageKind::kQuestion);
  // Only an answer Yes overwrites the file: No is the default.
  EXPECT_EQ(q.defaultAnswer, Answer::kNo);

  Message inDir = closingNotice(true, "\r\n");
  EXPECT_EQ(inDir.title, "Info:");
  EXPECT_EQ(inDir.kind, MessageKind::kInformation);
  EXPECT_EQ(inDir.text,
            "The original file is stored with additional extension .old.\r\nThe modified file is "
            "stored under the original filename in the program directory!");
  EXPECT_EQ(closingNotice(false, "\r\n").text,
            "The original file is overwritten with the modified one!");

  EXPECT_EQ(failureMessage(6, 256, kFile).text,
            "Overflow (last value 256! Modification cancelled!");
  EXPECT_EQ(failureMessage(6, -32769, kFile).text,
            "Overflow (last value -32769! Modification cancelled!");
  EXPECT_EQ(failureMessage(58, 0, kFile).text,
            "File /music/a.wav.old already exists! Modification cancelled!");
  EXPECT_EQ(failureMessage(75, 0, kFile).text,
            "File /music/a.wav is write protected! Modification cancelled!");
  // Any other number in the words every front end uses; one without words as it is.
  EXPECT_EQ(failureMessage(61, 0, kFile).text, "Disk full (error 61)! Modification cancelled!");
  EXPECT_EQ(failureMessage(99, 0, kFile).text, "Unknown error number 99! Modification cancelled!");
  Message f = failureMessage(11, 0, kFile);
  EXPECT_EQ(f.title, "Warning");
  EXPECT_EQ(f.kind, MessageKind::kWarning);
}

struct PlacementCase {
  MemoryFileSystem fs;
  ScriptedHost host;
  Placement result;
  PlacementRequest request{kFile, "a.wav", kApp, PlacementMode::kProgramDirectory, ""};

  explicit PlacementCase(std::size_t length, DiskFree free) {
    fs.put(kFile, MemoryFileSystem::Bytes(length, 7));
    fs.free = free;
  }
  void place() { placeOutput(request, fs, host, result); }
};

TEST(PlaceOutputTest, FreeClustersEqualToRequiredGoToTheProgramDirectoryRenamingNothingYet) {
  PlacementCase c(45056 - 4096, DiskFree{1, 4096, 10});  // exactly 10 clusters need 10
  c.place();
  EXPECT_FALSE(c.result.declined);
  EXPECT_TRUE(c.result.inProgramDir);
  EXPECT_EQ(c.result.keptAsOld, KeptAsOld::kNo);
  EXPECT_EQ(c.result.outputName, "/prog/a.wav");
  EXPECT_EQ(c.result.inputPath, kFile);
  EXPECT_EQ(c.result.attributesFrom, kFile);
  EXPECT_EQ(c.fs.paths(), std::vector<std::string>{kFile});
  ASSERT_TRUE(c.result.input);
  EXPECT_TRUE(c.host.messages.empty());
}

TEST(PlaceOutputTest, AFileOfExactlyElevenClustersAsksWithElevenFree) {
  PlacementCase c(45056, DiskFree{1, 4096, 11});
  c.host.answers = {Answer::kNo};
  c.place();
  ASSERT_EQ(c.host.messages.size(), 1u);
  EXPECT_EQ(c.host.messages[0].text,
            "Not enough discspace available to create copy of file in /prog/ (45056 bytes "
            "required, but only 45056 bytes available)!\r\nDo you want to overwrite the "
            "existing file?");
  EXPECT_TRUE(c.result.declined);
}

TEST(PlaceOutputTest, QuestionNamesRequiredAndAvailableBytes) {
  PlacementCase c(1000000, DiskFree{8, 512, 100});
  c.host.answers = {Answer::kNo};
  c.place();
  ASSERT_EQ(c.host.messages.size(), 1u);
  EXPECT_NE(
      c.host.messages[0].text.find("(1000000 bytes required, but only 409600 bytes available)"),
      std::string::npos);
}

TEST(PlaceOutputTest, AnswerNoTouchesNothingAndOpensNothing) {
  PlacementCase c(1000000, DiskFree{8, 512, 100});
  c.host.answers = {Answer::kNo};
  c.place();
  EXPECT_TRUE(c.result.declined);
  EXPECT_TRUE(c.result.outputName.empty());
  EXPECT_FALSE(c.result.input);
  EXPECT_EQ(c.fs.paths(), std::vector<std::string>{kFile});
}

TEST(PlaceOutputTest, AnswerYesRewritesTheFileInPlace) {
  PlacementCase c(1000000, DiskFree{8, 512, 100});
  c.host.answers = {Answer::kYes};
  c.place();
  EXPECT_FALSE(c.result.declined);
  EXPECT_TRUE(c.result.inPlace);
  EXPECT_FALSE(c.result.inProgramDir);
  EXPECT_EQ(c.result.outputName, kFile);
  EXPECT_EQ(c.result.inputPath, kFile);
  EXPECT_TRUE(c.result.input);
  EXPECT_EQ(c.fs.paths(), std::vector<std::string>{kFile});
}

TEST(PlaceOutputTest, ExistingOldFileFailsWith58AndRenamesNothing) {
  PlacementCase c(1000, DiskFree{1, 4096, 100});
  c.fs.put(kFile + ".old", {1, 2, 3});
  EXPECT_EQ(errorOf([&] { c.place(); }), 58);
  EXPECT_FALSE(c.result.input);
  EXPECT_EQ(*c.fs.get(kFile), MemoryFileSystem::Bytes(1000, 7));
  EXPECT_EQ(*c.fs.get(kFile + ".old"), (MemoryFileSystem::Bytes{1, 2, 3}));
}

TEST(PlaceOutputTest, UnknownFreeSpaceFailsWith11BeforeAnythingIsRenamed) {
  PlacementCase c(1000, DiskFree{0, 0, 0});
  EXPECT_EQ(errorOf([&] { c.place(); }), 11);
  EXPECT_EQ(c.fs.paths(), std::vector<std::string>{kFile});
}

TEST(PlaceOutputTest, QuestionWithAnOverflowingClusterSizeFailsWith6) {
  PlacementCase c(1000000, DiskFree{65536, 65536, 0});
  EXPECT_EQ(errorOf([&] { c.place(); }), 6);
  EXPECT_TRUE(c.host.messages.empty());
  EXPECT_EQ(c.fs.paths(), std::vector<std::string>{kFile});
}

TEST(PlaceOutputTest, OriginalKeptAsOldIsUndoneWithOrWithoutHardLinks) {
  for (bool hardLinks : {true, false}) {
    SCOPED_TRACE(hardLinks);
    PlacementCase c(1000, DiskFree{1, 4096, 100});
    c.fs.hardLinks = hardLinks;
    c.place();
    keepOriginalAsOld(c.fs, kFile, c.result);
    EXPECT_EQ(c.result.keptAsOld, hardLinks ? KeptAsOld::kLinked : KeptAsOld::kRenamed);
    // With hard links the file keeps its own name too, until the output has one.
    EXPECT_EQ(c.fs.exists(kFile), hardLinks);
    EXPECT_EQ(*c.fs.get(kFile + ".old"), MemoryFileSystem::Bytes(1000, 7));

    EXPECT_TRUE(restoreOriginal(c.fs, kFile, c.result));
    EXPECT_EQ(c.fs.paths(), std::vector<std::string>{kFile});
    EXPECT_EQ(*c.fs.get(kFile), MemoryFileSystem::Bytes(1000, 7));
  }
}

TEST(PlaceOutputTest, SettlingDropsTheOriginalsNameOnlyWhereTheOutputWentElsewhere) {
  for (const std::string& output : {std::string("/prog/a.wav"), kFile}) {
    SCOPED_TRACE(output);
    PlacementCase c(1000, DiskFree{1, 4096, 100});
    c.place();
    keepOriginalAsOld(c.fs, kFile, c.result);
    auto out = c.fs.createNewFile(output);
    out->write("new", 3);
    out->publish();
    settleOriginal(c.fs, kFile, c.result);
    EXPECT_EQ(c.result.keptAsOld, KeptAsOld::kNo);
    EXPECT_EQ(*c.fs.get(kFile + ".old"), MemoryFileSystem::Bytes(1000, 7));
    EXPECT_EQ(*c.fs.get(output), (MemoryFileSystem::Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(c.fs.paths().size(), 2u);
  }
}

TEST(PlaceOutputTest, CommandLineModesNeitherRenameNorAsk) {
  PlacementCase c(1000000, DiskFree{0, 0, 0});  // the free space is not consulted
  c.request.mode = PlacementMode::kExplicitOutput;
  c.request.explicitOutput = "/out/b.wav";
  c.place();
  EXPECT_EQ(c.result.outputName, "/out/b.wav");
  EXPECT_FALSE(c.result.inPlace);
  EXPECT_EQ(c.result.route, OutputRoute::kNewFile);

  PlacementCase d(1000000, DiskFree{0, 0, 0});
  d.request.mode = PlacementMode::kInPlace;
  d.place();
  EXPECT_TRUE(d.result.inPlace);
  EXPECT_EQ(d.result.outputName, kFile);
  EXPECT_TRUE(d.host.messages.empty());
}

}  // namespace
}  // namespace ril
