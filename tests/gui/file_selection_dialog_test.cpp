// The file selection dialog: where it opens, the three lists, OK, Cancel and
// the failures it reports.
#include "gui/file_selection_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "gui/dialog_test_fixture.h"
#include "gui/twips.h"

namespace ril {
namespace {

using test::DialogTest;
using test::withoutSlash;

class FileSelectionDialogTest : public DialogTest {
 protected:
  frmSel* open() {
    main->mnuFileOpen_Click();
    return ctx.sel;
  }
  static std::vector<std::string> listed(const FileList* list) {
    std::vector<std::string> names;
    for (std::int16_t i = 0; i < list->ListCount(); ++i) names.push_back(list->List(i));
    return names;
  }
  static std::vector<std::string> dirEntries(const DirList* list) {
    std::vector<std::string> out;
    for (int r = 0; r < list->count(); ++r) out.push_back(list->item(r)->text().toStdString());
    return out;
  }
  static int rowOf(const QListWidget* list, const std::string& text) {
    for (int r = 0; r < list->count(); ++r) {
      if (list->item(r)->text().toStdString() == text) return r;
    }
    return -1;
  }
  // Moves the dialog to `dir` as a double-click in the directory list would.
  static void goTo(frmSel* d, const std::string& dir) { ASSERT_EQ(d->Dir1->setPath(dir), ""); }
  void chooseAndPressOk(frmSel* d, const std::string& name) {
    const int row = rowOf(d->File1, name);
    ASSERT_GE(row, 0) << name;
    d->File1->setSelected(static_cast<std::int16_t>(row), true);
    d->cmdDisp->click();
  }
  std::string makeDir(const std::string& name) {
    std::filesystem::create_directories(dataDir.file(name));
    return withoutSlash(dataDir.file(name));
  }
};

TEST_F(FileSelectionDialogTest, FirstOpeningShowsTheProgramDirectory) {
  test::writeFile(programDir.file("example.wav"), test::wavWithPeak(1000));
  frmSel* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->windowTitle().toStdString(), "Select WAV-file");
  EXPECT_EQ(d->Dir1->path(), withoutSlash(programDir.path()));
  EXPECT_EQ(d->File1->path(), withoutSlash(programDir.path()));
  EXPECT_EQ(listed(d->File1), std::vector<std::string>{"example.wav"});
  EXPECT_EQ(currentDirectory(), withoutSlash(programDir.path()));
}

TEST_F(FileSelectionDialogTest, NextOpeningAfterABatchRunShowsTheDirectoryLastShown) {
  const std::string music = makeDir("music");
  test::writeFile(dataDir.file("music/a.wav"), test::wavWithPeak(1000));
  frmSel* d = open();
  goTo(d, music);
  EXPECT_EQ(currentDirectory(), music);
  chooseAndPressOk(d, "a.wav");
  EXPECT_TRUE(ctx.sel.isNull());
  EXPECT_FALSE(ctx.state.firstSelection);
  flushDeletes();

  d = open();
  EXPECT_EQ(d->Dir1->path(), music);
  EXPECT_EQ(listed(d->File1), std::vector<std::string>{"a.wav"});
}

TEST_F(FileSelectionDialogTest, CancelBeforeAnyRunReturnsToTheProgramDirectoryNextTime) {
  const std::string elsewhere = makeDir("elsewhere");
  frmSel* d = open();
  goTo(d, elsewhere);
  d->cmdEsc->click();
  EXPECT_TRUE(ctx.sel.isNull());
  EXPECT_TRUE(ctx.state.firstSelection);
  flushDeletes();

  d = open();
  EXPECT_EQ(d->Dir1->path(), withoutSlash(programDir.path()));
}

TEST_F(FileSelectionDialogTest, OkWithNothingSelectedOnlyShowsTheMessage) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  ctx.state.filePaths = {"/before/x.wav"};
  ctx.state.fileNames = {"x.wav"};
  ctx.state.lastFileIndex = 0;
  frmSel* d = open();
  d->cmdDisp->click();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, "Message");
  EXPECT_EQ(host.messages[0].text, "You must at least select 1 valid file!");
  EXPECT_EQ(host.messages[0].icon, MsgIcon::kInformation);
  EXPECT_EQ(host.messages[0].buttons, MsgButtons::kOk);
  EXPECT_EQ(ctx.sel, d);
  EXPECT_EQ(ctx.state.filePaths, std::vector<std::string>{"/before/x.wav"});
  EXPECT_EQ(ctx.state.fileNames, std::vector<std::string>{"x.wav"});
  EXPECT_TRUE(ctx.state.firstSelection);
  EXPECT_EQ(ctx.state.reportText, "");
}

TEST_F(FileSelectionDialogTest, DoubleClickOnAFileRunsOk) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  test::writeFile(programDir.file("b.wav"), test::wavWithPeak(1000));
  frmSel* d = open();
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  const QRect rect = d->File1->visualItemRect(d->File1->item(rowOf(d->File1, "b.wav")));
  QTest::mouseClick(d->File1->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(d->File1->viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_TRUE(ctx.sel.isNull());
  EXPECT_EQ(ctx.state.fileNames, std::vector<std::string>{"b.wav"});
  EXPECT_EQ(ctx.state.filePaths, std::vector<std::string>{programDir.file("b.wav")});
  EXPECT_EQ(ctx.state.lastFileIndex, 0);
  EXPECT_NE(ctx.state.reportText.find(programDir.file("b.wav")), std::string::npos);
}

TEST_F(FileSelectionDialogTest, FullPathHasOneSlashInAndOutOfTheRoot) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  frmSel* d = open();
  chooseAndPressOk(d, "a.wav");
  EXPECT_EQ(ctx.state.filePaths, std::vector<std::string>{programDir.path() + "a.wav"});
  flushDeletes();

  // The root directory itself: "/" and the name, no doubled slash.
  if (access("/", W_OK) != 0) GTEST_SKIP() << "the root directory is not writable here";
  const std::string name = "ril-select-test-" + std::to_string(getpid()) + ".wav";
  struct Remove {
    std::string path;
    ~Remove() { std::remove(path.c_str()); }
  } cleanup{"/" + name};
  test::writeFile("/" + name, test::wavWithPeak(1000));
  d = open();
  goTo(d, "/");
  EXPECT_EQ(d->File1->path(), "/");
  chooseAndPressOk(d, name);
  EXPECT_EQ(ctx.state.filePaths, std::vector<std::string>{"/" + name});
}

TEST_F(FileSelectionDialogTest, FileListMatchesWavInAnyCaseSorted) {
  for (const char* name : {"b.WAV", "a.wav", "C.Wav", "d.wave", "e.txt", "wav", ".hidden.wav"}) {
    test::writeFile(programDir.file(name), {1, 2, 3});
  }
  std::filesystem::create_directory(programDir.file("dir.wav"));
  frmSel* d = open();
  EXPECT_EQ(listed(d->File1), (std::vector<std::string>{"a.wav", "b.WAV", "C.Wav"}));
  EXPECT_EQ(d->File1->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(FileSelectionDialogTest, DirectoryListShowsAncestorsOpenAndSubdirectoriesBelow) {
  makeDir("top/Beta");
  makeDir("top/alpha");
  makeDir("top/.hidden");
  frmSel* d = open();
  goTo(d, dataDir.file("top"));
  const std::vector<std::string> entries = dirEntries(d->Dir1);
  std::vector<std::string> expected{"/"};
  for (const auto& part : std::filesystem::path(dataDir.file("top")).relative_path()) {
    expected.push_back(part.string());
  }
  expected.push_back("alpha");
  expected.push_back("Beta");
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(d->Dir1->currentRow(), static_cast<int>(expected.size()) - 3);

  // Opening the parent from the ancestors, then a subdirectory with Enter.
  d->Dir1->open(static_cast<int>(expected.size()) - 4);
  EXPECT_EQ(d->Dir1->path(), withoutSlash(dataDir.path()));
  EXPECT_EQ(currentDirectory(), withoutSlash(dataDir.path()));
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  d->Dir1->setFocus();
  d->Dir1->setCurrentRow(rowOf(d->Dir1, "top"));
  QTest::keyClick(d->Dir1, Qt::Key_Return);
  EXPECT_EQ(d->Dir1->path(), withoutSlash(dataDir.file("top")));
  EXPECT_EQ(ctx.sel, d);  // Enter opened the directory and did not press OK
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(FileSelectionDialogTest, VanishedDirectoryKeepsThePreviousOneAndSaysWhy) {
  const std::string gone = makeDir("gone");
  frmSel* d = open();
  goTo(d, dataDir.path());
  const int row = rowOf(d->Dir1, "gone");
  ASSERT_GE(row, 0);
  std::filesystem::remove(gone);
  d->Dir1->open(row);
  EXPECT_EQ(d->Dir1->path(), withoutSlash(dataDir.path()));
  EXPECT_EQ(currentDirectory(), withoutSlash(dataDir.path()));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, "Message");
  EXPECT_NE(host.messages[0].text.find(gone), std::string::npos);
  EXPECT_NE(host.messages[0].text.find("No such file or directory"), std::string::npos);
}

TEST_F(FileSelectionDialogTest, UnreadableDriveKeepsThePreviousDriveAndDirectory) {
  const std::string stick = makeDir("stick");
  frmSel* d = open();
  const std::string before = d->Drive1->drive();
  d->Drive1->addRoot(stick, "stick");
  std::filesystem::remove(stick);
  d->Drive1->setCurrentIndex(d->Drive1->count() - 1);
  EXPECT_EQ(d->Drive1->drive(), before);
  EXPECT_EQ(d->Dir1->path(), withoutSlash(programDir.path()));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find(stick), std::string::npos);
}

TEST_F(FileSelectionDialogTest, ChoosingADriveMovesTheListsToItsRoot) {
  const std::string volume = makeDir("volume");
  test::writeFile(dataDir.file("volume/v.WAV"), {0});
  frmSel* d = open();
  d->Drive1->addRoot(volume, "volume");
  d->Drive1->setCurrentIndex(d->Drive1->count() - 1);
  EXPECT_EQ(d->Dir1->path(), volume);
  EXPECT_EQ(listed(d->File1), std::vector<std::string>{"v.WAV"});
  EXPECT_EQ(currentDirectory(), volume);
}

TEST_F(FileSelectionDialogTest, FileOpenWhileOpenOnlyBringsItToTheFront) {
  const std::string elsewhere = makeDir("elsewhere");
  frmSel* d = open();
  goTo(d, elsewhere);
  EXPECT_EQ(open(), d);
  EXPECT_EQ(d->Dir1->path(), elsewhere);
}

TEST_F(FileSelectionDialogTest, EnterPressesOkAndEscapeDoesNothing) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  frmSel* d = open();
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  EXPECT_TRUE(d->cmdDisp->isDefault());
  QTest::keyClick(d, Qt::Key_Escape);
  EXPECT_EQ(ctx.sel, d);
  EXPECT_TRUE(d->isVisible());
  d->File1->setSelected(0, true);
  d->File1->setFocus();
  QTest::keyClick(d->File1, Qt::Key_Return);
  EXPECT_TRUE(ctx.sel.isNull());
  EXPECT_EQ(ctx.state.fileNames, std::vector<std::string>{"a.wav"});
}

TEST_F(FileSelectionDialogTest, IsAFixedSizeBoldDialogTabbingFromOk) {
  frmSel* d = open();
  auto px = [d](double t) { return twipsToPixelsX(t, d); };
  auto py = [d](double t) { return twipsToPixelsY(t, d); };
  EXPECT_EQ(d->size(), QSize(px(7965), py(4830)));
  EXPECT_EQ(d->minimumSize(), d->maximumSize());
  EXPECT_TRUE(d->font().bold());
  std::vector<QWidget*> order{d->cmdDisp, d->cmdEsc, d->Drive1, d->Dir1, d->File1};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus || next->parentWidget() != d) {
      next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, order[i + 1]) << i;
  }
}

}  // namespace
}  // namespace ril
