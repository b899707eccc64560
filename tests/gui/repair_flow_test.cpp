// Repair… in the findings box: offered only where a repair applies, the plan
// shown and asked for, nothing written when declined, the header mended
// beside the original on Yes and the file read again.
#include "gui/repair_flow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>

#include "core/repair/repair_text.h"
#include "gui/dialog_test_fixture.h"

namespace ril {
namespace {

using test::Bytes;
using test::DialogTest;

// A recording that was never finished: the data size is 0 while 4,000
// bytes of audio follow the data chunk's header at offset 44.
Bytes unfinished() {
  test::WavShape shape;
  shape.data = Bytes(4000, 0x81);
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

TEST_F(RepairFlowTest, IsOfferedOnlyWhileARepairAppliesToTheFileReadLast) {
  open("good.wav", test::wavWithPeak(1000));
  EXPECT_FALSE(offered());
  open("open.wav", unfinished());
  EXPECT_TRUE(offered());
  EXPECT_TRUE(main->repairButton->isEnabled());
  EXPECT_EQ(main->findings().back(),
            "The data chunk declares 0 bytes, but 4,000 bytes of audio follow it.");
  open("good.wav", test::wavWithPeak(1000));
  EXPECT_FALSE(offered());
}

TEST_F(RepairFlowTest, ShowsTheCommandLinesPlanWritesNothingOnNoAndMendsTheHeaderOnYes) {
  open("open.wav", unfinished());
  ASSERT_TRUE(ctx.modificationDialog.isNull());  // no samples to modify yet
  host.answers = {Answer::kNo};
  main->repairButton->click();
  finishRuns();
  ASSERT_EQ(host.messages.size(), 1u);
  const Message& asked = host.messages[0];
  EXPECT_EQ(asked.kind, MessageKind::kQuestion);
  EXPECT_EQ(asked.defaultAnswer, Answer::kNo);
  const std::vector<std::string> plan = planLines(planFileRepair(realFileSystem(), path));
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0], "data size at offset 40: 0 -> 4,000");
  EXPECT_NE(asked.text.find("  " + plan[0] + "\r\n"), std::string::npos) << asked.text;
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_EQ(test::listDirectory(dataDir.path()), std::vector<std::string>{"open.wav"});

  host.answers = {Answer::kYes};
  bool sawRun = false;
  duringTheRun([&] {
    sawRun = true;
    EXPECT_TRUE(ctx.modifyRunning);
    EXPECT_FALSE(main->openAction->isEnabled());
    EXPECT_FALSE(main->repairButton->isEnabled());
  });
  main->repairButton->click();
  finishRuns();
  EXPECT_TRUE(sawRun);
  ASSERT_EQ(host.messages.size(), 3u);
  EXPECT_EQ(host.messages[2].text,
            "Repaired: " + path + " (the original is kept as " + path + ".old)");
  // Only the data size changed; every sample byte is as it was.
  Bytes expected = original;
  for (int i = 0; i < 4; ++i) expected[40 + i] = static_cast<unsigned char>(4000 >> (8 * i));
  EXPECT_EQ(test::readFile(path), expected);
  EXPECT_EQ(test::readFile(path + ".old"), original);
  // Read again: analysed, offered for modification, nothing left to repair.
  EXPECT_FALSE(offered());
  EXPECT_NE(ctx.session.reportText.find("Calculation time"), std::string::npos);
  EXPECT_FALSE(ctx.modificationDialog.isNull());
}

}  // namespace
}  // namespace ril
