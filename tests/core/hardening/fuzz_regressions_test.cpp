// Every input a fuzz target ever failed on, run again through the same checks
// (tests/properties/properties.h). The files live in tests/data/fuzz-regressions/<target>/.
#include <gtest/gtest.h>

#include <filesystem>

#include "properties/properties.h"
#include "support/test_support.h"

namespace ril {
namespace {

std::vector<std::string> regressionFiles(const std::string& target) {
  std::vector<std::string> files;
  const std::filesystem::path dir =
      std::filesystem::path(RIL_SOURCE_DIR) / "tests/data/fuzz-regressions" / target;
  if (!std::filesystem::is_directory(dir)) return files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.is_regular_file()) files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressionTest, EveryInputTheReaderOnceFailedOnNowPasses) {
  const auto files = regressionFiles("read_and_analyse");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    const test::Bytes bytes = test::readFile(path);
    EXPECT_EQ(properties::checkReadAndAnalyse(bytes.data(), bytes.size()), "") << path;
  }
}

TEST(FuzzRegressionTest, EveryInputTheModificationOnceFailedOnNowPasses) {
  const auto files = regressionFiles("modify");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    const test::Bytes bytes = test::readFile(path);
    EXPECT_EQ(properties::checkModify(bytes.data(), bytes.size()), "") << path;
  }
}

// The cue sheet checks over the fuzzer's seed sheets (rippers' kinds and
// malformed ones) and every sheet the cue target once failed on.
TEST(FuzzRegressionTest, SeedSheetsAndEveryInputTheCueReaderOnceFailedOnPass) {
  std::vector<test::Bytes> inputs;
  for (const std::string& sheet : properties::cueSeedSheets())
    inputs.emplace_back(sheet.begin(), sheet.end());
  for (const std::string& path : regressionFiles("cue")) inputs.push_back(test::readFile(path));
  for (const test::Bytes& bytes : inputs) {
    EXPECT_EQ(properties::checkCueSheet(bytes.data(), bytes.size()), "")
        << std::string(bytes.begin(), bytes.end());
  }
}

// The repair's checks over every WAV file a fuzz target once failed on, and
// the real-world files.
TEST(FuzzRegressionTest, EveryInputTheRepairOrReaderOnceFailedOnAndEveryCorpusFilePasses) {
  std::vector<std::string> files = regressionFiles("repair");
  for (const std::string& path : regressionFiles("read_and_analyse")) files.push_back(path);
  for (const std::string& path : test::corpusFiles()) files.push_back(path);
  for (const std::string& path : files) {
    const test::Bytes bytes = test::readFile(path);
    EXPECT_EQ(properties::checkRepair(bytes.data(), bytes.size()), "") << path;
  }
}

// The same checks over the real-world files, read and modified with each
// option set in each scenario.
TEST(FuzzRegressionTest, CorpusFilesPassTheFuzzChecksInEveryScenario) {
  const auto files = test::corpusFiles();
  if (files.empty()) GTEST_SKIP() << "../shared/corpus is absent";
  const std::vector<std::string> scenarios = properties::modifyScenarios();
  for (const std::string& path : files) {
    const test::Bytes wav = test::readFile(path);
    EXPECT_EQ(properties::checkReadAndAnalyse(wav.data(), wav.size()), "") << path;
    for (std::size_t scenario = 0; scenario < scenarios.size(); ++scenario) {
      properties::ModifyOptions louder, maximise, emphasis;
      louder.scenario = maximise.scenario = emphasis.scenario = static_cast<int>(scenario);
      louder.volumeTenths = 1100;
      maximise.maximize = true;
      emphasis.deemphasis = true;
      emphasis.volumeTenths = 900;
      properties::ModifyOptions ranged = emphasis, trial = emphasis;
      ranged.ranges = static_cast<std::uint8_t>(0x92 + scenario);
      trial.stopAtFirstClip = true;
      trial.volumeTenths = 1500;
      for (const properties::ModifyOptions& o : {louder, maximise, emphasis, ranged, trial}) {
        const std::string prefix = properties::encodeModifyOptions(o);
        test::Bytes input(prefix.begin(), prefix.end());
        input.insert(input.end(), wav.begin(), wav.end());
        EXPECT_EQ(properties::checkModify(input.data(), input.size()), "")
            << path << ": " << scenarios[scenario];
      }
    }
  }
}

}  // namespace
}  // namespace ril
