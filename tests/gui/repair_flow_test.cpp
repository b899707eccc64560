// Repair… in the findings box: offered only where a repair applies, the plan
// shown and asked for, nothing written when declined, the header mended
// beside the original on Yes and the file read again.
#include "gui/repair_flow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>
#include <QTest>

#include "core/repair/repair_text.h"
#include "gui/batch_run.h"
#include "gui/dialog_test_fixture.h"

namespace ril {
namespace {

using test::Bytes;
using test::DialogTest;

// A stereo recording that was never finished: the data size is 0 while
// 4,000 bytes of audio follow the data chunk's header at offset 44.
Bytes unfinished() {
  test::WavShape shape;
  for (int i = 0; i < 1000; ++i) {
    for (std::int16_t v : {static_cast<std::int16_t>(i * 17), static_cast<std::int16_t>(-i * 9)}) {
      test::putLe16(shape.data, static_cast<std::uint16_t>(v));
    }
  }
  shape.dataSize = 0;
  return test::buildWav(shape);
}

class RepairFlowTest : public DialogTest {
 protected:
  void open(const std::string& name, const Bytes& bytes) {
    path = dataDir.file(name);
    original = bytes;
    test::writeFile(path, bytes);
    ASSERT_TRUE(main->openFiles({path}));
    finishRuns();
  }
  bool offered() const { return main->repairButton->isVisibleTo(main.get()); }

  std::string path;
  Bytes original;
};

TEST_F(RepairFlowTest, RepairIsOfferedOnlyWhileARepairAppliesToTheFileReadLast) {
  open("good.wav", test::wavWithPeak(1000));
  EXPECT_FALSE(offered());
  // No data chunk at all: refused, so not offered.
  test::WavShape none;
  none.data = Bytes(400, 1);
  Bytes noData = test::buildWav(none);
  noData[36] = 'x';
  open("nodata.wav", noData);
  EXPECT_FALSE(offered());

  open("open.wav", unfinished());
  EXPECT_TRUE(offered());
  EXPECT_TRUE(main->repairButton->isEnabled());
  EXPECT_TRUE(main->findingsArea->isVisibleTo(main.get()));
  EXPECT_EQ(main->findings().back(),
            "The data chunk declares 0 bytes, but 4,000 bytes of audio follow it.");
  // Not while another file is being read, and gone once it is.
  test::writeFile(dataDir.file("good.wav"), test::wavWithPeak(1000));
  bool sawRun = false;
  QMetaObject::invokeMethod(
      qApp,
      [&] {
        sawRun = true;
        EXPECT_FALSE(main->repairButton->isEnabled());
      },
      Qt::QueuedConnection);
  ASSERT_TRUE(main->openFiles({dataDir.file("good.wav")}));
  finishRuns();
  EXPECT_TRUE(sawRun);
  EXPECT_FALSE(offered());
}

TEST_F(RepairFlowTest, TheCommandLinesPlanIsShownAndDecliningWritesNothing) {
  open("open.wav", unfinished());
  ASSERT_TRUE(offered());
  host.answers = {Answer::kNo};
  main->repairButton->click();
  finishRuns();
  ASSERT_EQ(host.messages.size(), 1u);
  const Message& asked = host.messages[0];
  EXPECT_EQ(asked.kind, MessageKind::kQuestion);
  EXPECT_EQ(asked.defaultAnswer, Answer::kNo);
  const std::vector<std::string> plan = planLines(planFileRepair(realFileSystem(), path));
  ASSERT_FALSE(plan.empty());
  for (const std::string& line : plan) {
    EXPECT_NE(asked.text.find("  " + line + "\r\n"), std::string::npos) << line;
  }
  EXPECT_NE(asked.text.find("data size at offset 40: 0 -> 4,000"), std::string::npos);
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_EQ(test::listDirectory(dataDir.path()), std::vector<std::string>{"open.wav"});
  EXPECT_TRUE(offered());
  EXPECT_FALSE(ctx.modifyRunning);
}

TEST_F(RepairFlowTest, YesMendsTheHeaderBesideTheOriginalAndReadsTheFileAgain) {
  open("open.wav", unfinished());
  ASSERT_TRUE(ctx.modificationDialog.isNull());  // no samples to modify yet
  host.answers = {Answer::kYes};
  bool sawRun = false;
  QMetaObject::invokeMethod(
      qApp,
      [&] {
        sawRun = true;
        EXPECT_TRUE(ctx.modifyRunning);
        EXPECT_FALSE(main->openAction->isEnabled());
        EXPECT_FALSE(main->repairButton->isEnabled());
        repairCurrentFile(ctx);  // no second repair inside the first
      },
      Qt::QueuedConnection);
  main->repairButton->click();
  finishRuns();
  EXPECT_TRUE(sawRun);
  ASSERT_EQ(host.messages.size(), 2u);
  EXPECT_EQ(host.messages[1].text,
            "Repaired: " + path + " (the original is kept as " + path + ".old)");

  // Only the data size changed; every sample byte is as it was.
  Bytes expected = original;
  for (int i = 0; i < 4; ++i) expected[40 + i] = static_cast<unsigned char>((4000 >> (8 * i)));
  EXPECT_EQ(test::readFile(path), expected);
  EXPECT_EQ(test::readFile(path + ".old"), original);

  // Read again: the samples are analysed and offered for modification.
  EXPECT_FALSE(offered());
  EXPECT_EQ(ctx.session.reportText.find("can be repaired"), std::string::npos);
  EXPECT_NE(ctx.session.reportText.find("Calculation time"), std::string::npos);
  EXPECT_FALSE(ctx.modificationDialog.isNull());
  EXPECT_TRUE(main->openAction->isEnabled());
}

TEST_F(RepairFlowTest, AnOldFileInTheWayFailsTheRepairAndLosesNothing) {
  open("open.wav", unfinished());
  const Bytes other = test::wavWithPeak(500);
  test::writeFile(path + ".old", other);
  host.answers = {Answer::kYes};
  main->repairButton->click();
  finishRuns();
  ASSERT_EQ(host.messages.size(), 2u);
  EXPECT_EQ(host.messages[1].kind, MessageKind::kWarning);
  EXPECT_NE(host.messages[1].text.find(path + " is left as it was."), std::string::npos)
      << host.messages[1].text;
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_EQ(test::readFile(path + ".old"), other);
  EXPECT_EQ(test::listDirectory(dataDir.path()),
            (std::vector<std::string>{"open.wav", "open.wav.old"}));
  EXPECT_TRUE(offered());
  EXPECT_TRUE(main->repairButton->isEnabled());
}

}  // namespace
}  // namespace ril
