// Bad input through the whole road of the windows: every real-world file of
// the shared corpus and every input a fuzz target ever failed on goes through
// File, Open, the report, the modification dialog (when it is offered) and
// Modify, and must end with the windows usable, every message saying
// something, and the user's file either modified as placed or as it was.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <filesystem>

#include "gui/batch_run.h"
#include "gui/dialog_test_fixture.h"
#include "properties/properties.h"
#include "support/analysed_file.h"

namespace ril {
namespace {

using test::Bytes;

struct Input {
  std::string origin;
  Bytes bytes;
};

// The corpus files, then the fuzz regressions (without the option bytes of
// the modification target's inputs).
std::vector<Input> badInputs() {
  std::vector<Input> inputs;
  for (const std::string& path : test::corpusFiles())
    inputs.push_back({path, test::readFile(path)});
  const std::filesystem::path root =
      std::filesystem::path(RIL_SOURCE_DIR) / "tests/data/fuzz-regressions";
  for (const char* target : {"read_and_analyse", "modify"}) {
    if (!std::filesystem::is_directory(root / target)) continue;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(root / target)) {
      if (e.is_regular_file()) files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    for (const std::string& path : files) {
      Bytes bytes = test::readFile(path);
      if (std::string(target) == "modify") {
        bytes.erase(bytes.begin(),
                    bytes.begin() + static_cast<std::ptrdiff_t>(
                                        std::min(bytes.size(), properties::kModifyOptionBytes)));
      }
      inputs.push_back({path, bytes});
    }
  }
  return inputs;
}

using HardeningGuiTest = test::DialogTest;

TEST_F(HardeningGuiTest, EveryCorpusFileAndFuzzRegressionGoesThroughOpenReportAndModify) {
  const std::vector<Input> inputs = badInputs();
  if (test::corpusFiles().empty()) {
    std::cout << "note: ../shared/corpus is absent; only the fuzz regressions run\n";
  }
  ASSERT_FALSE(inputs.empty());
  int offered = 0, modified = 0, failed = 0;
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const Input& input = inputs[k];
    SCOPED_TRACE(input.origin);
    const std::string name = "f" + std::to_string(k) + ".wav";
    const std::string path = dataDir.file(name);
    test::writeFile(path, input.bytes);
    host.messages.clear();

    openAndChoose(name);
    ASSERT_FALSE(ctx.batchRunning);
    EXPECT_TRUE(main->openAction->isEnabled());
    EXPECT_EQ(main->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(ctx.session.reportText.rfind("Filename:\t" + path, 0), 0u);
    EXPECT_EQ(main->reportViewText(), ctx.session.reportText);
    EXPECT_TRUE(host.messages.empty());

    ModificationDialog* d = ctx.modificationDialog;
    EXPECT_EQ(d != nullptr, test::analyseFile(path).analysed() && ctx.session.current.hasFrames());
    if (!d) continue;
    ++offered;

    // One of three settings per file: louder, maximised, de-emphasised.
    switch (k % 3) {
      case 0:
        d->volumeScrollBar->setValue(1100);
        break;
      case 1:
        d->maximizeCheck->click();
        break;
      default:
        if (d->deemphasisCheck->isEnabled()) d->deemphasisCheck->click();
        d->volumeScrollBar->setValue(900);
        break;
    }
    const bool nothingToDo = d->volumeScrollBar->value() == 1000 &&
                             !d->maximizeCheck->isChecked() && !d->deemphasisCheck->isChecked();
    d->modifyButton->click();
    finishRuns();
    if (nothingToDo) {
      EXPECT_TRUE(host.messages.empty());
      ASSERT_FALSE(ctx.modificationDialog.isNull());
      ctx.modificationDialog->cancelButton->click();
      flushDeletes();
      continue;
    }
    EXPECT_TRUE(ctx.modificationDialog.isNull());
    EXPECT_FALSE(ctx.modifyRunning);
    ASSERT_FALSE(host.messages.empty());
    for (const Message& m : host.messages) {
      EXPECT_FALSE(m.title.empty());
      EXPECT_FALSE(m.text.empty());
    }
    const Message& last = host.messages.back();
    const std::string programCopy = programDir.file(name);
    if (last.title == "Info:") {
      ++modified;
      EXPECT_TRUE(test::readFile(path + ".old") == input.bytes);
      EXPECT_EQ(test::readFile(programCopy).size(), input.bytes.size());
      EXPECT_FALSE(test::fileExists(path));
    } else {
      ++failed;
      EXPECT_EQ(last.title, "Warning");
      EXPECT_TRUE(test::readFile(path) == input.bytes);
      EXPECT_FALSE(test::fileExists(path + ".old"));
      EXPECT_FALSE(test::fileExists(programCopy));
    }
    // Nothing but finished files in the program directory.
    for (const std::string& f : test::listDirectory(programDir.path())) {
      EXPECT_NE(f.front(), '.') << f;
    }
  }
  std::cout << inputs.size() << " inputs, " << offered << " offered for modification, " << modified
            << " modified, " << failed << " failed with a message\n";
}

}  // namespace
}  // namespace ril
