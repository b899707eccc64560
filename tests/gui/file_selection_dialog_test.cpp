// The file selection dialog: where it opens, the three lists, OK, Cancel and
// the failures it reports.
#include "gui/file_selection_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "gui/dialog_test_fixture.h"
#include "gui/twips.h"

namespace ril {
namespace {

using test::DialogTest;
using test::withoutSlash;

class FileSelectionDialogTest : public DialogTest {
 protected:
  FileSelectionDialog* open() {
    main->openFile();
    return ctx.selectionDialog;
  }
  static std::vector<std::string> listed(const FileList* list) {
    std::vector<std::string> names;
    for (std::int16_t i = 0; i < list->fileCount(); ++i) names.push_back(list->fileName(i));
    return names;
  }
  static std::vector<std::string> dirEntries(const DirectoryList* list) {
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
  static void goTo(FileSelectionDialog* d, const std::string& dir) {
    ASSERT_EQ(d->directoryList->setPath(dir), "");
  }
  void chooseAndPressOk(FileSelectionDialog* d, const std::string& name) {
    const int row = rowOf(d->fileList, name);
    ASSERT_GE(row, 0) << name;
    d->fileList->setSelected(static_cast<std::int16_t>(row), true);
    d->okButton->click();
    finishRuns();
  }
  std::string makeDir(const std::string& name) {
    std::filesystem::create_directories(dataDir.file(name));
    return withoutSlash(dataDir.file(name));
  }
};

TEST_F(FileSelectionDialogTest, FirstOpeningShowsTheProgramDirectory) {
  test::writeFile(programDir.file("example.wav"), test::wavWithPeak(1000));
  FileSelectionDialog* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->windowTitle().toStdString(), "Select WAV-file");
  EXPECT_EQ(d->directoryList->path(), withoutSlash(programDir.path()));
  EXPECT_EQ(d->fileList->path(), withoutSlash(programDir.path()));
  EXPECT_EQ(listed(d->fileList), std::vector<std::string>{"example.wav"});
  EXPECT_EQ(currentDirectory(), withoutSlash(programDir.path()));
}

TEST_F(FileSelectionDialogTest, NextOpeningAfterABatchRunShowsTheDirectoryLastShown) {
  const std::string music = makeDir("music");
  test::writeFile(dataDir.file("music/a.wav"), test::wavWithPeak(1000));
  FileSelectionDialog* d = open();
  goTo(d, music);
  EXPECT_EQ(currentDirectory(), music);
  chooseAndPressOk(d, "a.wav");
  EXPECT_TRUE(ctx.selectionDialog.isNull());
  EXPECT_FALSE(ctx.session.firstSelection);
  flushDeletes();

  d = open();
  EXPECT_EQ(d->directoryList->path(), music);
  EXPECT_EQ(listed(d->fileList), std::vector<std::string>{"a.wav"});
}

TEST_F(FileSelectionDialogTest, CancelBeforeAnyRunReturnsToTheProgramDirectoryNextTime) {
  const std::string elsewhere = makeDir("elsewhere");
  FileSelectionDialog* d = open();
  goTo(d, elsewhere);
  d->cancelButton->click();
  EXPECT_TRUE(ctx.selectionDialog.isNull());
  EXPECT_TRUE(ctx.session.firstSelection);
  flushDeletes();

  d = open();
  EXPECT_EQ(d->directoryList->path(), withoutSlash(programDir.path()));
}

TEST_F(FileSelectionDialogTest, OkWithNothingSelectedOnlyShowsTheMessage) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  ctx.session.filePaths = {"/before/x.wav"};
  ctx.session.fileNames = {"x.wav"};
  ctx.session.lastFileIndex = 0;
  FileSelectionDialog* d = open();
  d->okButton->click();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, "Message");
  EXPECT_EQ(host.messages[0].text, "You must at least select 1 valid file!");
  EXPECT_EQ(host.messages[0].kind, MessageKind::kInformation);
  EXPECT_EQ(ctx.selectionDialog, d);
  EXPECT_EQ(ctx.session.filePaths, std::vector<std::string>{"/before/x.wav"});
  EXPECT_EQ(ctx.session.fileNames, std::vector<std::string>{"x.wav"});
  EXPECT_TRUE(ctx.session.firstSelection);
  EXPECT_EQ(ctx.session.reportText, "");
}

TEST_F(FileSelectionDialogTest, DoubleClickOnAFileRunsOk) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  test::writeFile(programDir.file("b.wav"), test::wavWithPeak(1000));
  FileSelectionDialog* d = open();
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  const QRect rect = d->fileList->visualItemRect(d->fileList->item(rowOf(d->fileList, "b.wav")));
  QTest::mouseClick(d->fileList->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(d->fileList->viewport(), Qt::LeftButton, {}, rect.center());
  finishRuns();
  EXPECT_TRUE(ctx.selectionDialog.isNull());
  EXPECT_EQ(ctx.session.fileNames, std::vector<std::string>{"b.wav"});
  EXPECT_EQ(ctx.session.filePaths, std::vector<std::string>{programDir.file("b.wav")});
  EXPECT_EQ(ctx.session.lastFileIndex, 0);
  EXPECT_NE(ctx.session.reportText.find(programDir.file("b.wav")), std::string::npos);
}

TEST_F(FileSelectionDialogTest, FullPathHasOneSlashInAndOutOfTheRoot) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  FileSelectionDialog* d = open();
  chooseAndPressOk(d, "a.wav");
  EXPECT_EQ(ctx.session.filePaths, std::vector<std::string>{programDir.path() + "a.wav"});
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
  EXPECT_EQ(d->fileList->path(), "/");
  chooseAndPressOk(d, name);
  EXPECT_EQ(ctx.session.filePaths, std::vector<std::string>{"/" + name});
}

TEST_F(FileSelectionDialogTest, FileListMatchesWavInAnyCaseSorted) {
  for (const char* name : {"b.WAV", "a.wav", "C.Wav", "d.wave", "e.txt", "wav", ".hidden.wav"}) {
    test::writeFile(programDir.file(name), {1, 2, 3});
  }
  std::filesystem::create_directory(programDir.file("dir.wav"));
  FileSelectionDialog* d = open();
  EXPECT_EQ(listed(d->fileList), (std::vector<std::string>{"a.wav", "b.WAV", "C.Wav"}));
  EXPECT_EQ(d->fileList->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(FileSelectionDialogTest, DirectoryListShowsAncestorsOpenAndSubdirectoriesBelow) {
  makeDir("top/Beta");
  makeDir("top/alpha");
  makeDir("top/.hidden");
  FileSelectionDialog* d = open();
  goTo(d, dataDir.file("top"));
  const std::vector<std::string> entries = dirEntries(d->directoryList);
  std::vector<std::string> expected{"/"};
  for (const auto& part : std::filesystem::path(dataDir.file("top")).relative_path()) {
    expected.push_back(part.string());
  }
  expected.push_back("alpha");
  expected.push_back("Beta");
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(d->directoryList->currentRow(), static_cast<int>(expected.size()) - 3);

  // Opening the parent from the ancestors, then a subdirectory with Enter.
  d->directoryList->open(static_cast<int>(expected.size()) - 4);
  EXPECT_EQ(d->directoryList->path(), withoutSlash(dataDir.path()));
  EXPECT_EQ(currentDirectory(), withoutSlash(dataDir.path()));
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  d->directoryList->setFocus();
  d->directoryList->setCurrentRow(rowOf(d->directoryList, "top"));
  QTest::keyClick(d->directoryList, Qt::Key_Return);
  EXPECT_EQ(d->directoryList->path(), withoutSlash(dataDir.file("top")));
  EXPECT_EQ(ctx.selectionDialog, d);  // Enter opened the directory and did not press OK
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(FileSelectionDialogTest, VanishedDirectoryKeepsThePreviousOneAndSaysWhy) {
  const std::string gone = makeDir("gone");
  FileSelectionDialog* d = open();
  goTo(d, dataDir.path());
  const int row = rowOf(d->directoryList, "gone");
  ASSERT_GE(row, 0);
  std::filesystem::remove(gone);
  d->directoryList->open(row);
  EXPECT_EQ(d->directoryList->path(), withoutSlash(dataDir.path()));
  EXPECT_EQ(currentDirectory(), withoutSlash(dataDir.path()));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, "Message");
  EXPECT_NE(host.messages[0].text.find(gone), std::string::npos);
  EXPECT_NE(host.messages[0].text.find("No such file or directory"), std::string::npos);
}

TEST_F(FileSelectionDialogTest, UnreadableDriveKeepsThePreviousDriveAndDirectory) {
  const std::string stick = makeDir("stick");
  FileSelectionDialog* d = open();
  const std::string before = d->driveList->drive();
  d->driveList->addRoot(stick, "stick");
  std::filesystem::remove(stick);
  d->driveList->setCurrentIndex(d->driveList->count() - 1);
  EXPECT_EQ(d->driveList->drive(), before);
  EXPECT_EQ(d->directoryList->path(), withoutSlash(programDir.path()));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find(stick), std::string::npos);
}

TEST_F(FileSelectionDialogTest, ChoosingADriveMovesTheListsToItsRoot) {
  const std::string volume = makeDir("volume");
  test::writeFile(dataDir.file("volume/v.WAV"), {0});
  FileSelectionDialog* d = open();
  d->driveList->addRoot(volume, "volume");
  d->driveList->setCurrentIndex(d->driveList->count() - 1);
  EXPECT_EQ(d->directoryList->path(), volume);
  EXPECT_EQ(listed(d->fileList), std::vector<std::string>{"v.WAV"});
  EXPECT_EQ(currentDirectory(), volume);
}

TEST_F(FileSelectionDialogTest, FileOpenWhileOpenOnlyBringsItToTheFront) {
  const std::string elsewhere = makeDir("elsewhere");
  FileSelectionDialog* d = open();
  goTo(d, elsewhere);
  EXPECT_EQ(open(), d);
  EXPECT_EQ(d->directoryList->path(), elsewhere);
}

TEST_F(FileSelectionDialogTest, FocusStartsInTheFileListWhereEnterOpensTheFileItStandsOn) {
  test::writeFile(programDir.file("a.wav"), test::wavWithPeak(1000));
  test::writeFile(programDir.file("b.wav"), test::wavWithPeak(1000));
  FileSelectionDialog* d = open();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  EXPECT_EQ(d->focusWidget(), d->fileList);
  EXPECT_EQ(d->fileList->currentRow(), 0);
  EXPECT_FALSE(d->fileList->isSelected(0));  // OK alone still asks for a file
  QTest::keyClick(d, Qt::Key_Escape);        // not bound
  EXPECT_EQ(ctx.selectionDialog, d);
  EXPECT_TRUE(d->isVisible());
  QTest::keyClick(d->fileList, Qt::Key_Down);
  QTest::keyClick(d->fileList, Qt::Key_Return);
  finishRuns();
  EXPECT_TRUE(ctx.selectionDialog.isNull());
  EXPECT_EQ(ctx.session.fileNames, std::vector<std::string>{"b.wav"});
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(FileSelectionDialogTest, OneClickOnADirectoryListsItsFiles) {
  makeDir("top/inner");
  test::writeFile(dataDir.file("top/inner/x.wav"), {0});
  FileSelectionDialog* d = open();
  goTo(d, dataDir.file("top"));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  QListWidgetItem* inner = d->directoryList->item(rowOf(d->directoryList, "inner"));
  ASSERT_NE(inner, nullptr);
  QTest::mouseClick(d->directoryList->viewport(), Qt::LeftButton, {},
                    d->directoryList->visualItemRect(inner).center());
  EXPECT_EQ(d->directoryList->path(), withoutSlash(dataDir.file("top/inner")));
  EXPECT_EQ(listed(d->fileList), std::vector<std::string>{"x.wav"});
  EXPECT_EQ(d->pathField->text().toStdString(), withoutSlash(dataDir.file("top/inner")));
}

TEST_F(FileSelectionDialogTest, ThePathFieldTakesADirectoryOrAFileTypedOrPasted) {
  const std::string music = makeDir("my music");
  test::writeFile(dataDir.file("my music/a.wav"), test::wavWithPeak(1000));
  FileSelectionDialog* d = open();
  auto enter = [d](const QString& text) {
    d->pathField->setText(text);
    QTest::keyClick(d->pathField, Qt::Key_Return);
  };
  // A directory, as a file manager's address.
  enter(QUrl::fromLocalFile(QString::fromStdString(music)).toString());
  EXPECT_EQ(d->directoryList->path(), music);
  EXPECT_EQ(listed(d->fileList), std::vector<std::string>{"a.wav"});
  // Nothing there: the lists stay and the message says why.
  enter(QString::fromStdString(dataDir.file("nowhere")));
  EXPECT_EQ(d->directoryList->path(), music);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(d->pathField->text().toStdString(), music);
  // A file, relative to the directory shown: read as if chosen.
  enter(QStringLiteral("a.wav"));
  finishRuns();
  EXPECT_TRUE(ctx.selectionDialog.isNull());
  EXPECT_EQ(ctx.session.filePaths, std::vector<std::string>{music + "/a.wav"});
  EXPECT_EQ(ctx.session.fileNames, std::vector<std::string>{"a.wav"});
}

TEST_F(FileSelectionDialogTest, IsAResizableBoldDialogNoSmallerThanItsDesignTabbingFromOk) {
  FileSelectionDialog* d = open();
  auto px = [d](double t) { return twipsToPixelsX(t, d); };
  auto py = [d](double t) { return twipsToPixelsY(t, d); };
  EXPECT_EQ(d->size(), d->minimumSize());
  EXPECT_EQ(d->width(), px(7965));
  EXPECT_GT(d->height(), py(4830));  // the path field's row is added
  EXPECT_GT(d->maximumWidth(), d->width());
  EXPECT_TRUE(d->font().bold());
  d->resize(d->width() + 300, d->height() + 200);
  EXPECT_GE(d->fileList->width(), px(4215) + 150);
  EXPECT_GE(d->directoryList->height(), py(3465) - py(600));
  std::vector<QWidget*> order{d->okButton,      d->cancelButton, d->driveList,
                              d->directoryList, d->fileList,     d->pathField};
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
