// The batch run and the whole road of a file: File, Open, OK, the report, the
// modification dialog and Modify.
#include "gui/batch_run.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <cstdio>

#include "core/base/errors.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "gui/dialog_test_fixture.h"
#include "gui/recent_files.h"
#include "gui/twips.h"
#include "support/forwarding_file_system.h"

namespace ril {
namespace {

using test::DialogTest;

class BatchRunTest : public DialogTest {
 protected:
  // The header part of the report as the reader alone writes it.
  std::string headerLines(const std::string& path) {
    return headerReportLines(path, readWavFile(realFileSystem(), path).header, "\r\n");
  }

  // Drags `paths` onto the main window and drops them there, then lets the
  // run the drop started happen; true when the window took the drop.
  bool drop(const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(9, 9), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    QDropEvent dropped(QPointF(9, 9), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    dropped.ignore();
    QApplication::sendEvent(main.get(), &dropped);
    EXPECT_EQ(enter.isAccepted(), dropped.isAccepted());
    QCoreApplication::processEvents();
    if (dropped.isAccepted()) finishRuns();
    return dropped.isAccepted();
  }
};

// Reads through the real file system but fails every read that reaches past
// `failAt` bytes of a file (a medium that goes bad half-way).
class FailingReads : public test::ForwardingFileSystem {
 public:
  explicit FailingReads(std::uint64_t failAt) : failAt_(failAt) {}
  std::unique_ptr<InputFile> openRead(const std::string& path) override {
    class Input : public InputFile {
     public:
      Input(std::unique_ptr<InputFile> real, std::uint64_t failAt)
          : real_(std::move(real)), failAt_(failAt) {}
      std::size_t read(void* buffer, std::size_t count) override {
        if (pos_ + count > failAt_) throw RunError(kErrDeviceIo, "read");
        std::size_t n = real_->read(buffer, count);
        pos_ += n;
        return n;
      }
      void close() override { real_->close(); }

     private:
      std::unique_ptr<InputFile> real_;
      std::uint64_t failAt_;
      std::uint64_t pos_ = 0;
    };
    return std::make_unique<Input>(inner_.openRead(path), failAt_);
  }

 private:
  std::uint64_t failAt_;
};

TEST_F(BatchRunTest, WholeRoadFromFileOpenToTheModifiedFile) {
  const test::Bytes wav = test::wavWithPeak(16384);
  const std::string path = dataDir.file("song.wav");
  test::writeFile(path, wav);
  openAndChoose("song.wav");

  // The report: the header reader's lines, then the analysis.
  const std::string header = headerLines(path);
  const std::string& report = ctx.session.reportText;
  ASSERT_GT(report.size(), header.size());
  EXPECT_EQ(report.compare(0, header.size(), header), 0);
  EXPECT_EQ(main->reportViewText(), report);
  EXPECT_EQ(ctx.session.peakLevel[0], 16384);
  EXPECT_EQ(main->cursor().shape(), Qt::ArrowCursor);
  EXPECT_TRUE(main->openAction->isEnabled());
  EXPECT_FALSE(ctx.batchRunning);

  ModificationDialog* d = ctx.modificationDialog;
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->maxGain(), 32767.0 / 16384.0);

  std::string captionAtNotice;
  host.onMessage = [&](const Message& m) {
    if (m.title == "Info:") captionAtNotice = d->windowTitle().toStdString();
  };
  d->deemphasisCheck->click();
  d->modifyButton->click();
  finishRuns();
  EXPECT_EQ(captionAtNotice, "Done!");
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.messages.back().title, "Info:");
  EXPECT_EQ(host.messages.back().text,
            "The original file is stored with additional extension .old.\r\n"
            "The modified file is stored under the original filename in the program directory!"
            "\r\n" +
                programDir.file("song.wav"));

  EXPECT_FALSE(test::fileExists(path));
  EXPECT_EQ(test::readFile(path + ".old"), wav);
  const test::Bytes modified = test::readFile(programDir.file("song.wav"));
  ASSERT_EQ(modified.size(), wav.size());
  EXPECT_TRUE(std::equal(wav.begin(), wav.begin() + 44, modified.begin()));
  EXPECT_NE(modified, wav);

  const std::string shown = main->reportViewText();
  ASSERT_GT(shown.size(), report.size());
  EXPECT_EQ(shown.compare(0, report.size(), report), 0);
  const std::string tail = shown.substr(report.size());
  EXPECT_EQ(tail.rfind("\r\nManipulation time = ", 0), 0u) << tail;
  EXPECT_EQ(tail.substr(tail.size() - 7), " sec.\r\n");

  // A second batch run replaces the report.
  test::writeFile(dataDir.file("other.wav"), test::wavWithPeak(8000, 48000));
  openAndChoose("other.wav");
  EXPECT_EQ(ctx.session.reportText.rfind(headerLines(dataDir.file("other.wav")), 0), 0u);
  EXPECT_EQ(ctx.session.reportText.find("song.wav"), std::string::npos);
  EXPECT_EQ(main->reportViewText(), ctx.session.reportText);
  ASSERT_NE(ctx.modificationDialog, nullptr);
  EXPECT_FALSE(ctx.modificationDialog->deemphasisCheck->isEnabled());
}

TEST_F(BatchRunTest, AWavFileDroppedOntoTheWindowIsReadAsIfChosenInFileOpen) {
  const std::string path = dataDir.file("Song.WAV");
  const QString wav = QString::fromStdString(path);
  test::WavShape junkFirst;  // read right, with a finding
  junkFirst.firstChunks.push_back({"JUNK", test::Bytes(28, 0)});
  junkFirst.data = test::pcm16({100, -100, 200, -200});
  test::writeFile(path, test::buildWav(junkFirst));
  test::writeFile(dataDir.file("notes.txt"), {'h', 'i'});
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dataDir.file("folder.wav"))));
  // Refused: other files, and anything while a run is in progress.
  EXPECT_FALSE(drop({QString::fromStdString(dataDir.file("notes.txt"))}));
  EXPECT_FALSE(drop({QString::fromStdString(dataDir.file("folder.wav"))}));
  for (bool* running : {&ctx.batchRunning, &ctx.modifyRunning}) {
    *running = true;
    EXPECT_FALSE(drop({wav}));
    EXPECT_FALSE(main->openFiles({path}));  // taken just before the run began
    *running = false;
  }
  EXPECT_TRUE(ctx.session.filePaths.empty());
  EXPECT_TRUE(ctx.session.reportText.empty());

  openAndChoose("Song.WAV");
  const Session chosen = ctx.session;
  delete ctx.modificationDialog.data();
  ctx.session.reportText.clear();
  EXPECT_TRUE(drop({wav}));
  EXPECT_EQ(ctx.session.filePaths, chosen.filePaths);
  EXPECT_EQ(ctx.session.fileNames, chosen.fileNames);
  EXPECT_EQ(ctx.session.lastFileIndex, 0);
  EXPECT_EQ(ctx.session.reportText, chosen.reportText);
  ASSERT_NE(ctx.modificationDialog, nullptr);
  EXPECT_TRUE(ctx.modificationDialog->isVisible());

  // The header's finding shows in the findings area, not in the report, until
  // the next file is read.
  ASSERT_EQ(main->findings().size(), 1u);
  EXPECT_EQ(main->findings()[0],
            "A 'JUNK' chunk comes before the format chunk, keeping room for a larger header; "
            "the file is read correctly. (WAVEJUNK)");
  EXPECT_TRUE(main->findingsArea->isVisibleTo(main.get()));
  EXPECT_EQ(ctx.session.reportText.find("JUNK"), std::string::npos);
  test::writeFile(dataDir.file("plain.wav"), test::wavWithPeak(1000));
  openAndChoose("plain.wav");
  EXPECT_TRUE(main->findings().empty());
  EXPECT_FALSE(main->findingsArea->isVisibleTo(main.get()));
}

TEST_F(BatchRunTest, SeveralFilesAreReadInTurnAndTheLastIsOfferedUnderItsOwnName) {
  // Dropped together with a file that is not WAV; the 48 kHz file comes last.
  const std::string first = dataDir.file("a.wav");
  const std::string second = dataDir.file("b.wav");
  test::writeFile(first, test::wavWithPeak(8000));
  test::writeFile(second, test::wavWithPeak(16384, 48000));
  test::writeFile(dataDir.file("notes.txt"), {'h', 'i'});
  EXPECT_TRUE(
      drop({QString::fromStdString(first), QString::fromStdString(dataDir.file("notes.txt")),
            QString::fromStdString(second)}));
  EXPECT_EQ(ctx.session.filePaths, (std::vector<std::string>{first, second}));
  EXPECT_EQ(ctx.session.fileNames, (std::vector<std::string>{"a.wav", "b.wav"}));
  const std::string& report = ctx.session.reportText;
  EXPECT_EQ(report.rfind(headerLines(first), 0), 0u);
  EXPECT_NE(report.find("\r\n\r\n" + headerLines(second)), std::string::npos);
  EXPECT_EQ(ctx.session.currentPath(), second);
  ModificationDialog* d = ctx.modificationDialog;
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isEnabled());
  EXPECT_FALSE(d->deemphasisCheck->isEnabled());  // b.wav's 48 kHz
  EXPECT_EQ(d->maxGain(), 32767.0 / 16384.0);

  // Modify works on b.wav, not on the first file chosen.
  d->maximizeCheck->click();
  d->modifyButton->click();
  finishRuns();
  EXPECT_EQ(test::readFile(first), test::wavWithPeak(8000));
  EXPECT_TRUE(test::fileExists(second + ".old"));
  EXPECT_TRUE(test::fileExists(programDir.file("b.wav")));
}

TEST_F(BatchRunTest, FilesNamedOnTheCommandLineAreReadAsIfChosen) {
  const std::string a = dataDir.file("a.wav"), b = dataDir.file("b.wav");
  test::writeFile(a, test::wavWithPeak(8000));
  test::writeFile(b, test::wavWithPeak(9000));
  const std::unique_ptr<MainWindow> started = startUp(ctx, programDir.path(), {a, b});
  EXPECT_TRUE(ctx.session.filePaths.empty());  // not before the window is up
  QCoreApplication::processEvents();
  finishRuns();
  EXPECT_EQ(ctx.session.filePaths, (std::vector<std::string>{a, b}));
  EXPECT_EQ(ctx.session.fileNames, (std::vector<std::string>{"a.wav", "b.wav"}));
  EXPECT_NE(ctx.session.reportText.find("Filename:\t" + b), std::string::npos);
  EXPECT_EQ(started->reportViewText(), ctx.session.reportText);
}

TEST_F(BatchRunTest, OpenRecentListsTheFilesReadNewestFirstAndReadsTheOneChosen) {
  RecentFiles recent(QString::fromStdString(programDir.file("config/recent-files.ini")));
  ctx.recentFiles = &recent;
  EXPECT_FALSE(main->recentMenu->isEnabled());
  test::writeFile(dataDir.file("a.wav"), test::wavWithPeak(8000));
  test::writeFile(dataDir.file("b.wav"), test::wavWithPeak(9000));
  openAndChoose("a.wav");
  openAndChoose("b.wav");
  EXPECT_EQ(recent.list(),
            (std::vector<std::string>{dataDir.file("b.wav"), dataDir.file("a.wav")}));
  main->fillRecentMenu();
  EXPECT_TRUE(main->recentMenu->isEnabled());
  const QList<QAction*> entries = main->recentMenu->actions();
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0]->text(),
            QStringLiteral("&1 ") + QString::fromStdString(dataDir.file("b.wav")));
  entries[1]->trigger();
  finishRuns();
  EXPECT_EQ(ctx.session.filePaths, std::vector<std::string>{dataDir.file("a.wav")});
  EXPECT_EQ(recent.list().front(), dataDir.file("a.wav"));
  ctx.recentFiles = nullptr;
}

TEST(RecentFiles, KeepsTheNewestEightOnceEachWithTheirBytesAsTheyWere) {
  test::TempDir dir;
  const QString file = QString::fromStdString(dir.file("sub/recent.ini"));
  RecentFiles recent(file);
  EXPECT_TRUE(recent.list().empty());
  const std::string latin1 = "/music/caf\xE9.wav";  // not UTF-8
  for (int i = 0; i < 10; ++i) recent.add("/music/" + std::to_string(i) + ".wav");
  recent.add("/music/3.wav");
  recent.add(latin1);
  const std::vector<std::string> kept = RecentFiles(file).list();  // read anew
  EXPECT_EQ(kept, (std::vector<std::string>{latin1, "/music/3.wav", "/music/9.wav", "/music/8.wav",
                                            "/music/7.wav", "/music/6.wav", "/music/5.wav",
                                            "/music/4.wav"}));
}

TEST_F(BatchRunTest, FileOpenIsDisabledAndThePointerBusyWhileFilesAreRead) {
  test::writeFile(dataDir.file("a.wav"), test::wavWithPeak(1000));
  bool sawRun = false;
  main->openAction->trigger();
  duringTheRun([&] {
    sawRun = true;
    EXPECT_TRUE(ctx.batchRunning);
    EXPECT_FALSE(main->openAction->isEnabled());
    EXPECT_EQ(main->cursor().shape(), Qt::WaitCursor);
    showSelectionDialog(ctx);
    EXPECT_TRUE(ctx.selectionDialog.isNull());
  });
  ASSERT_EQ(ctx.selectionDialog->directoryList->setPath(dataDir.path()), "");
  ctx.selectionDialog->fileList->setSelected(0, true);
  ctx.selectionDialog->okButton->click();
  finishRuns();
  EXPECT_TRUE(sawRun);
  EXPECT_FALSE(ctx.batchRunning);
  EXPECT_TRUE(main->openAction->isEnabled());
  EXPECT_EQ(main->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(BatchRunTest, TheWindowStaysResponsiveWhileALargeFileIsAnalysed) {
  // Four blocks; the analysis is held in the second.
  const std::string path = dataDir.file("long.wav");
  test::writeFile(path, test::wavWithPeak(16384, 44100, 2, 800000));
  test::HeldReads held(1536 * 1024);
  ctx.fs = &held;
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  ASSERT_TRUE(main->openFiles({path}));
  ASSERT_TRUE(held.waitUntilHeld());
  // The header is shown, the title follows the analysis, and the window
  // handles events and repaints while the analysis waits for its data.
  EXPECT_EQ(main->reportViewText(), headerLines(path));
  EXPECT_TRUE(
      QTest::qWaitFor([this] { return main->windowTitle().endsWith(QStringLiteral("%")); }));
  EXPECT_FALSE(main->openAction->isEnabled());
  main->setOuterSizeTwips(12000, 9000);
  EXPECT_GT(main->reportView->width(), twipsToPixelsX(11000, main.get()));
  EXPECT_FALSE(main->grab().isNull());
  EXPECT_TRUE(ctx.batchRunning);
  held.release();
  finishRuns();
  ctx.fs = &realFileSystem();
  EXPECT_EQ(main->windowTitle().toStdString(), MainWindow::kTitle);
  EXPECT_NE(ctx.session.reportText.find("Volume of original data"), std::string::npos);
  EXPECT_NE(ctx.modificationDialog, nullptr);
}

TEST_F(BatchRunTest, DialogLeftOpenIsInitialisedForTheNextFileAnalysed) {
  // Settings for a quiet 44.1 kHz file must not carry over to a loud 48 kHz one.
  test::writeFile(dataDir.file("a.wav"), test::wavWithPeak(8000));
  test::writeFile(dataDir.file("b.wav"), test::wavWithPeak(19660, 48000));
  openAndChoose("a.wav");
  ModificationDialog* d = ctx.modificationDialog;
  ASSERT_NE(d, nullptr);
  d->deemphasisCheck->click();
  d->volumeScrollBar->setValue(2488);
  ASSERT_TRUE(d->deemphasisCheck->isChecked());
  ASSERT_EQ(d->volumeScrollBar->value(), 2488);

  openAndChoose("b.wav");
  d = ctx.modificationDialog;
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_TRUE(d->isEnabled());
  EXPECT_FALSE(d->deemphasisCheck->isChecked());
  EXPECT_FALSE(d->deemphasisCheck->isEnabled());
  EXPECT_FALSE(d->maximizeCheck->isChecked());
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
  EXPECT_EQ(d->volumeLabel->text().toStdString(), "100%");
  EXPECT_EQ(d->maxGain(), 32767.0 / 19660.0);
  // Modify now has nothing to do: b.wav is not touched.
  d->modifyButton->click();
  finishRuns();
  EXPECT_EQ(test::readFile(dataDir.file("b.wav")), test::wavWithPeak(19660, 48000));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(BatchRunTest, FilesThatCannotBeAnalysedAreReportedAndNotOffered) {
  test::WavShape noFrames;
  noFrames.data = {};
  test::WavShape compressed;
  compressed.formatTag = 2;  // Microsoft ADPCM
  compressed.bitsPerSample = 4;
  compressed.data = test::Bytes(600, 1);
  test::Bytes noData = test::buildWav(noFrames);
  noData.resize(noData.size() - 8);  // the "data" chunk header cut off
  const std::vector<std::pair<std::string, test::Bytes>> files{
      {"empty.wav", {}},
      {"nodata.wav", noData},
      {"noframes.wav", test::buildWav(noFrames)},
      {"adpcm.wav", test::buildWav(compressed)}};
  test::writeFile(dataDir.file("good.wav"), test::wavWithPeak(16384));
  for (const auto& [name, bytes] : files) test::writeFile(dataDir.file(name), bytes);

  for (const auto& [name, bytes] : files) {
    openAndChoose("good.wav");
    ASSERT_NE(ctx.modificationDialog, nullptr);
    openAndChoose(name);
    flushDeletes();
    EXPECT_TRUE(ctx.modificationDialog.isNull()) << name;  // the earlier file's dialog is gone too
    EXPECT_NE(ctx.session.reportText.find(name), std::string::npos) << name;
    EXPECT_EQ(main->reportViewText(), ctx.session.reportText) << name;
    EXPECT_EQ(main->cursor().shape(), Qt::ArrowCursor) << name;
    EXPECT_TRUE(main->openAction->isEnabled()) << name;
  }
}

TEST_F(BatchRunTest, AnUnfinishedRecordingsReportEndsWithWhatARepairWouldMend) {
  test::WavShape open;
  open.data = test::Bytes(4000, 0x81);
  open.dataSize = 0;
  test::writeFile(dataDir.file("open.wav"), test::buildWav(open));
  openAndChoose("open.wav");
  const std::string end =
      "The data chunk holds no samples.\r\nThe data chunk declares 0 bytes, but 4,000 bytes of "
      "audio follow it: it can be repaired (rilmaton-cli repair, or Repair\u2026 in the "
      "window).\r\n";
  const std::string& report = ctx.session.reportText;
  ASSERT_GE(report.size(), end.size());
  EXPECT_EQ(report.substr(report.size() - end.size()), end);
  EXPECT_EQ(main->reportViewText(), report);
}

TEST_F(BatchRunTest, ReadFailureDuringTheAnalysisIsNotOfferedForModification) {
  // 2 MiB of samples; reads fail past the first MiB, inside the analysis.
  std::vector<std::int16_t> samples(1024 * 1024, 100);
  test::WavShape layout;
  layout.data = test::pcm16(samples);
  test::writeFile(dataDir.file("bad.wav"), test::buildWav(layout));
  FailingReads failing(1024 * 1024);
  ctx.fs = &failing;
  ctx.session.peakLevel = {1234, 5678};
  openAndChoose("bad.wav");
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  EXPECT_EQ(ctx.session.peakLevel, (std::array<double, 2>{1234, 5678}));
  EXPECT_NE(ctx.session.reportText.find("bad.wav"), std::string::npos);
  EXPECT_FALSE(ctx.batchRunning);
}

TEST_F(BatchRunTest, CueSheetsBesideTheFileThatFlagItsTracksPreAreNamedInTheFindings) {
  test::writeFile(dataDir.file("album.wav"), test::wavWithPeak(1000));
  auto sheet = [this](const std::string& name, const std::string& text) {
    test::writeFile(dataDir.file(name), test::Bytes(text.begin(), text.end()));
  };
  auto tracks = [](const std::string& file, const std::vector<std::string>& flags) {
    std::string text = "FILE \"" + file + "\" WAVE\r\n";
    for (std::size_t i = 0; i < flags.size(); ++i) {
      text += "  TRACK 0" + std::to_string(i + 1) + " AUDIO\r\n";
      if (!flags[i].empty()) text += "    FLAGS " + flags[i] + "\r\n";
      text += "    INDEX 01 00:00:0" + std::to_string(i) + "\r\n";
    }
    return text;
  };
  sheet("album.cue", tracks("album.wav", {"", "PRE", "DCP", "", "DCP PRE"}));
  sheet("b.cue", tracks("./album.wav", {"", "", "PRE"}));
  sheet("broken.cue", "TRACK 01 AUDIO\nINDEX 01 99:99:99\n");
  sheet("other.cue", tracks("other.wav", {"PRE"}));
  sheet("unflagged.cue", tracks("album.wav", {"DCP"}));
  openAndChoose("album.wav");
  EXPECT_EQ(main->findings(),
            (std::vector<std::string>{"The cue sheet album.cue marks tracks 2, 5 as pre-emphasised",
                                      "The cue sheet b.cue marks track 3 as pre-emphasised"}));
  EXPECT_TRUE(main->findingsArea->isVisibleTo(main.get()));
  // The report reads as it would without the sheets.
  const std::string report = ctx.session.reportText;
  for (const char* name : {"album.cue", "b.cue", "broken.cue", "other.cue", "unflagged.cue"}) {
    std::remove(dataDir.file(name).c_str());
  }
  openAndChoose("album.wav");
  EXPECT_TRUE(main->findings().empty());
  EXPECT_EQ(test::withoutTimes(ctx.session.reportText), test::withoutTimes(report));
}

}  // namespace
}  // namespace ril
