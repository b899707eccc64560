// The Qt side of the platform layer: message boxes, the editor launcher and
// the twips arithmetic.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>

#include "gui/editor_launcher.h"
#include "gui/message_boxes.h"
#include "gui/twips.h"

namespace ril {
namespace {

// ---- message boxes ------------------------------------------------------------

TEST(MessageBoxes, BuildsTheBoxWithTitleIconButtonsAndDefault) {
  Message message;
  message.kind = MessageKind::kQuestion;
  message.title = "Warning";
  message.text = "Not enough space\r\non the disk";
  message.defaultAnswer = Answer::kYes;
  std::unique_ptr<QMessageBox> box(MessageBoxes::build(message, nullptr));
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Warning"));
  EXPECT_EQ(box->text(), QStringLiteral("Not enough space\non the disk"));
  EXPECT_EQ(box->icon(), QMessageBox::Warning);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));

  message.defaultAnswer = Answer::kNo;
  box.reset(MessageBoxes::build(message, nullptr));
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));

  const std::map<MessageKind, QMessageBox::Icon> icons = {
      {MessageKind::kInformation, QMessageBox::Information},
      {MessageKind::kWarning, QMessageBox::Warning},
      {MessageKind::kError, QMessageBox::Warning}};
  for (const auto& [kind, expected] : icons) {
    Message info{kind, "Info:", "Done!", Answer::kOk};
    box.reset(MessageBoxes::build(info, nullptr));
    EXPECT_EQ(box->icon(), expected);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
  }
}

// Presses a key in the modal box as soon as it is up.
void pressInModalBox(Qt::Key key) {
  QTimer::singleShot(0, [key] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, key);
  });
}

TEST(MessageBoxes, EnterGivesTheDefaultAndEscapeNeverAnswersYes) {
  MessageBoxes host;
  Message question{MessageKind::kQuestion, "Warning", "Overwrite?", Answer::kYes};
  pressInModalBox(Qt::Key_Return);
  EXPECT_EQ(host.show(question), Answer::kYes);
  pressInModalBox(Qt::Key_Escape);
  EXPECT_EQ(host.show(question), Answer::kNo);

  Message notice{MessageKind::kInformation, "Info:", "Done!", Answer::kOk};
  pressInModalBox(Qt::Key_Escape);
  EXPECT_EQ(host.show(notice), Answer::kOk);
}

TEST(MessageBoxes, OnceDismissedNoBoxWaitsAndQuestionsAreAnsweredNo) {
  bool dismissed = false;
  MessageBoxes host({}, [&] { return dismissed; });
  Message question{MessageKind::kQuestion, "Warning", "Overwrite?", Answer::kYes};
  Message clip{MessageKind::kError, "Error:", "Error at sample 1!", Answer::kOk};
  // A box that is shown is closed by the program ending, as on a signal.
  QTimer::singleShot(0, [&] {
    dismissed = true;
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  EXPECT_EQ(host.show(question), Answer::kNo);
  EXPECT_EQ(host.show(question), Answer::kNo);
  EXPECT_EQ(host.show(clip), Answer::kOk);
}

// ---- editor launcher ------------------------------------------------------------

struct FakeSystem {
  std::map<QString, QString> programs;  // name -> full path
  std::map<std::string, QString> environment;
  std::vector<EditorCommand> started;
  int failuresBeforeStart = 0;

  QtEditorLauncher launcher() {
    return QtEditorLauncher(
        [this](const QString& name) {
          auto found = programs.find(name);
          return found == programs.end() ? QString() : found->second;
        },
        [this](const char* name) {
          auto found = environment.find(name);
          return found == environment.end() ? QString() : found->second;
        },
        [this](const QString& program, const QStringList& arguments) {
          started.push_back({program, arguments});
          return failuresBeforeStart-- <= 0;
        });
  }
};

TEST(QtEditorLauncher, TriesXdgOpenThenTerminalEditorsThenKnownEditors) {
  FakeSystem system;
  for (const char* name : {"xdg-open", "x-terminal-emulator", "vim", "emacs", "kate", "gedit",
                           "gnome-text-editor", "leafpad"}) {
    system.programs[QString::fromLatin1(name)] = QStringLiteral("/usr/bin/") + name;
  }
  system.environment["VISUAL"] = QStringLiteral("emacs -nw");
  system.environment["EDITOR"] = QStringLiteral("vim");
  const QString path = QStringLiteral("/home/ann/my programs/Rilmaton.txt");
  const std::vector<EditorCommand> expected = {
      {"/usr/bin/xdg-open", {path}},
      {"/usr/bin/x-terminal-emulator", {"-e", "emacs", "-nw", path}},
      {"/usr/bin/x-terminal-emulator", {"-e", "vim", path}},
      {"/usr/bin/gedit", {path}},
      {"/usr/bin/kate", {path}},
      {"/usr/bin/leafpad", {path}},
      {"/usr/bin/gnome-text-editor", {path}},
  };
  EXPECT_EQ(system.launcher().candidates(path), expected);
}

TEST(QtEditorLauncher, SkipsEditorsThatAreNotThere) {
  FakeSystem system;
  system.programs["mousepad"] = QStringLiteral("/usr/bin/mousepad");
  system.programs["vim"] = QStringLiteral("/usr/bin/vim");
  system.environment["EDITOR"] = QStringLiteral("vim");         // no terminal emulator
  system.environment["VISUAL"] = QStringLiteral("nosuchedit");  // not installed
  const std::vector<EditorCommand> expected = {{"/usr/bin/mousepad", {"/p/Rilmaton.txt"}}};
  EXPECT_EQ(system.launcher().candidates("/p/Rilmaton.txt"), expected);
}

TEST(QtEditorLauncher, OpenFallsThroughToTheNextEditorAndPassesThePathAsOneArgument) {
  FakeSystem system;
  system.programs["xdg-open"] = QStringLiteral("/usr/bin/xdg-open");
  system.programs["xed"] = QStringLiteral("/usr/bin/xed");
  system.failuresBeforeStart = 1;
  const std::string path = "/opt/my tools/$(rm -rf x); Rilmaton.txt";
  EXPECT_TRUE(system.launcher().open(path));
  ASSERT_EQ(system.started.size(), 2u);
  EXPECT_EQ(system.started[1].program, QStringLiteral("/usr/bin/xed"));
  EXPECT_EQ(system.started[1].arguments, QStringList{QString::fromStdString(path)});
}

TEST(QtEditorLauncher, ReportsFailureWhenNothingStarts) {
  FakeSystem system;
  EXPECT_FALSE(system.launcher().open("/p/Rilmaton.txt"));
  system.programs["pluma"] = QStringLiteral("/usr/bin/pluma");
  system.failuresBeforeStart = 5;
  EXPECT_FALSE(system.launcher().open("/p/Rilmaton.txt"));
  EXPECT_EQ(system.started.size(), 1u);
}

// ---- twips ------------------------------------------------------------------------

QImage deviceAt(int dotsPerMeter) {
  QImage image(1, 1, QImage::Format_RGB32);
  image.setDotsPerMeterX(dotsPerMeter);
  image.setDotsPerMeterY(dotsPerMeter);
  return image;
}

TEST(Twips, FifteenTwipsMakeAPixelAt96DpiAndTwelveAt120) {
  const QImage at96 = deviceAt(3780);  // 96 DPI
  ASSERT_EQ(at96.logicalDpiX(), 96);
  EXPECT_DOUBLE_EQ(twipsPerPixelX(&at96), 15);
  EXPECT_EQ(twipsToPixelsX(9600, &at96), 640);
  EXPECT_EQ(twipsToPixelsY(7200, &at96), 480);
  EXPECT_DOUBLE_EQ(pixelsToTwipsX(640, &at96), 9600);
  // Rounded to the nearest pixel: 7 twips are less than half a pixel, 8 more.
  EXPECT_EQ(twipsToPixelsX(7, &at96), 0);
  EXPECT_EQ(twipsToPixelsX(8, &at96), 1);
  EXPECT_EQ(twipsToPixelsX(-8, &at96), -1);

  const QImage at120 = deviceAt(4724);  // 120 DPI
  ASSERT_EQ(at120.logicalDpiX(), 120);
  EXPECT_DOUBLE_EQ(twipsPerPixelY(&at120), 12);
  EXPECT_EQ(twipsToPixelsX(9600, &at120), 800);
  EXPECT_DOUBLE_EQ(pixelsToTwipsY(800, &at120), 9600);
}

}  // namespace
}  // namespace ril
