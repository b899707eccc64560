// The main window: sizes in twips, the menu, the copy command, the findings
// area, Exit and Help.
#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <memory>

#include "gui/help_viewer.h"
#include "gui/session.h"
#include "gui/twips.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

class RecordingEditor : public EditorLauncher {
 public:
  bool open(const std::string& path) override {
    opened.push_back(path);
    return starts;
  }
  std::vector<std::string> opened;
  bool starts = true;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.fs = &realFileSystem();
    ctx.messages = &host;
    ctx.editor = &editor;
    ctx.endProgram = [this] { ++ended; };
    startSession(ctx.session, dir.path());
    window = std::make_unique<MainWindow>(ctx);
  }

  void loadAndShow() {
    window->initialise();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  int px(double twips) const { return twipsToPixelsX(twips, window.get()); }
  int py(double twips) const { return twipsToPixelsY(twips, window.get()); }

  // Distances from reportView to the four edges of the client area, in pixels.
  QMargins reportViewMargins() const {
    const QRect client = window->centralWidget()->rect();
    const QRect box = window->reportView->geometry();
    return {box.left(), box.top(), client.width() - box.right() - 1,
            client.height() - box.bottom() - 1};
  }

  test::TempDir dir;
  ScriptedHost host;
  RecordingEditor editor;
  AppContext ctx;
  int ended = 0;
  std::unique_ptr<MainWindow> window;
};

// ---- start-up and sizes -------------------------------------------------------

TEST(StartUp, SetsTheFixedFieldsAndShowsAFreshWindow) {
  ScriptedHost host;
  AppContext ctx;
  ctx.messages = &host;
  ctx.endProgram = [] {};
  const std::unique_ptr<MainWindow> window = startUp(ctx, "/opt/my tools/");
  EXPECT_EQ(ctx.mainWindow, window.get());
  EXPECT_EQ(ctx.session.lineBreak, "\r\n");
  EXPECT_EQ(ctx.session.appPath, "/opt/my tools/");
  EXPECT_TRUE(ctx.session.firstSelection);
  EXPECT_TRUE(ctx.session.reportText.empty());
  EXPECT_EQ(ctx.session.peakLevel, (std::array<double, 2>{0, 0}));
  EXPECT_TRUE(ctx.session.filePaths.empty());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->reportView->toPlainText().isEmpty());
  EXPECT_DOUBLE_EQ(window->widthTwips(), 9600);
  EXPECT_DOUBLE_EQ(window->heightTwips(), 7200);
}

TEST_F(MainWindowTest, InitialiseSetsOuterSizeAndLeavesBottomMarginUntilFirstDisplay) {
  EXPECT_FALSE(ctx.session.firstSelection);
  window->initialise();
  EXPECT_TRUE(ctx.session.firstSelection);
  EXPECT_DOUBLE_EQ(window->widthTwips(), 9600);
  EXPECT_DOUBLE_EQ(window->heightTwips(), 7200);
  // Before the window is displayed the report view keeps initialise()'s 840 at the bottom.
  EXPECT_EQ(window->reportView->geometry(),
            QRect(px(120), py(120), px(window->clientWidthTwips() - 240),
                  py(window->clientHeightTwips() - 960)));
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  EXPECT_EQ(reportViewMargins(), QMargins(px(120), py(120), px(120), py(120)));
  // The outer size stays 9600 x 7200 once the window has its frame.
  EXPECT_DOUBLE_EQ(window->widthTwips(), 9600);
  EXPECT_DOUBLE_EQ(window->heightTwips(), 7200);
  EXPECT_EQ(window->frameGeometry().size(), QSize(px(9600), py(7200)));
}

TEST_F(MainWindowTest, ClientAreaIsTheSurfaceBelowTheMenuBar) {
  loadAndShow();
  const QWidget* client = window->centralWidget();
  EXPECT_EQ(client->width(), px(window->clientWidthTwips()));
  EXPECT_EQ(client->height(), py(window->clientHeightTwips()));
  EXPECT_EQ(client->y(), window->menuBar()->height());
  EXPECT_LT(window->clientHeightTwips(), window->heightTwips());
}

TEST_F(MainWindowTest, TheDefaultSizeIsTheSmallestAndTheReportViewGrowsWithTheWindow) {
  loadAndShow();
  window->setWidthTwips(5000);
  EXPECT_DOUBLE_EQ(window->widthTwips(), 9600);
  EXPECT_DOUBLE_EQ(window->heightTwips(), 7200);
  window->setHeightTwips(3000);
  EXPECT_DOUBLE_EQ(window->heightTwips(), 7200);
  EXPECT_EQ(reportViewMargins(), QMargins(px(120), py(120), px(120), py(120)));

  // Larger sizes are taken as they are, to the nearest pixel.
  window->setOuterSizeTwips(15000, 12000);
  EXPECT_DOUBLE_EQ(window->widthTwips(), pixelsToTwipsX(px(15000), window.get()));
  EXPECT_DOUBLE_EQ(window->heightTwips(), pixelsToTwipsY(py(12000), window.get()));
  EXPECT_EQ(reportViewMargins(), QMargins(px(120), py(120), px(120), py(120)));
  EXPECT_GT(window->reportView->width(), px(9000));

  // A view below the report takes the bottom of its place.
  QWidget below;
  window->setViewBelowReport(&below, 100);
  EXPECT_EQ(below.parentWidget(), window->centralWidget());
  EXPECT_EQ(below.geometry().bottom(), window->centralWidget()->height() - py(120) - 1);
  EXPECT_EQ(below.height(), 100);
  EXPECT_LT(window->reportView->geometry().bottom(), below.y());
  window->setViewBelowReport(nullptr, 0);
  below.setParent(nullptr);
  EXPECT_EQ(reportViewMargins(), QMargins(px(120), py(120), px(120), py(120)));
}

TEST_F(MainWindowTest, UserCanResizeMaximiseAndMinimise) {
  loadAndShow();
  EXPECT_EQ(window->minimumSize(), window->size());
  EXPECT_GT(window->maximumWidth(), window->width());
  EXPECT_GT(window->maximumHeight(), window->height());
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  window->showMaximized();
  EXPECT_TRUE(QTest::qWaitFor([this] { return window->isMaximized(); }));
  EXPECT_EQ(reportViewMargins(), QMargins(px(120), py(120), px(120), py(120)));
}

TEST_F(MainWindowTest, TitleFontAndTextBox) {
  EXPECT_EQ(window->windowTitle().toStdString(),
            "Rilmaton - statistical analysis and application of De-Emphasis of WAV-files");
  EXPECT_DOUBLE_EQ(window->font().pointSizeF(), 9.75);
  EXPECT_EQ(window->font().family(), QStringLiteral("Arial"));
  EXPECT_TRUE(window->reportView->isReadOnly());
  EXPECT_TRUE(window->reportView->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_TRUE(window->reportView->toPlainText().isEmpty());
}

// ---- the menu -------------------------------------------------------------------

TEST_F(MainWindowTest, MenusCarryTheCaptionsAccessKeysAndShortcutsInOrder) {
  const QList<QAction*> bar = window->menuBar()->actions();
  ASSERT_EQ(bar.size(), 2);
  EXPECT_EQ(bar[0]->text(), QStringLiteral("&File"));
  EXPECT_EQ(bar[0]->menu(), window->fileMenu);
  EXPECT_EQ(bar[1]->text(), QStringLiteral("&Help"));
  EXPECT_EQ(bar[1]->menu(), window->helpMenu);

  struct Item {
    QAction* action;  // nullptr: a separator
    const char* caption;
    QKeySequence shortcut;
  };
  const std::vector<Item> file = {
      {window->openAction, "&Open", QKeySequence(Qt::CTRL | Qt::Key_O)},
      {window->recentMenu->menuAction(), "Open &Recent", QKeySequence()},
      {window->copyAction, "&Copy result to clipboard", QKeySequence(Qt::CTRL | Qt::Key_C)},
      {window->savePictureAction, "&Save Picture\u2026", QKeySequence(Qt::CTRL | Qt::Key_S)},
      {nullptr, nullptr, {}},
      {window->exitAction, "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X)},
  };
  const std::vector<Item> help = {
      {window->helpContentAction, "&Content", QKeySequence(Qt::Key_F1)},
      {nullptr, nullptr, {}},
      {window->aboutAction, "&About", QKeySequence()},
  };
  for (const auto& [menu, items] :
       {std::pair{window->fileMenu, file}, std::pair{window->helpMenu, help}}) {
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i) {
      SCOPED_TRACE(i);
      if (items[i].action == nullptr) {
        EXPECT_TRUE(actions[i]->isSeparator());
      } else {
        EXPECT_EQ(actions[i], items[i].action);
        EXPECT_EQ(actions[i]->text(), QString::fromUtf8(items[i].caption));
        EXPECT_EQ(actions[i]->shortcut(), items[i].shortcut);
      }
    }
  }
  // Ctrl+Q quits as well.
  EXPECT_EQ(window->exitAction->shortcuts(),
            (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_X),
                                 QKeySequence(Qt::CTRL | Qt::Key_Q)}));
}

TEST_F(MainWindowTest, FileOpenIsDisabledWhileABatchRunOrModificationRuns) {
  EXPECT_TRUE(window->openAction->isEnabled());
  ctx.batchRunning = true;
  window->updateCommands();
  EXPECT_FALSE(window->openAction->isEnabled());
  window->openFile();  // even called directly, no dialog
  EXPECT_TRUE(ctx.selectionDialog.isNull());
  ctx.batchRunning = false;
  ctx.modifyRunning = true;
  window->updateCommands();
  EXPECT_FALSE(window->openAction->isEnabled());
  ctx.modifyRunning = false;
  window->updateCommands();
  EXPECT_TRUE(window->openAction->isEnabled());
}

// ---- report view and clipboard ------------------------------------------------

TEST_F(MainWindowTest, ReportIsShownWithLineBreaksAndReadBackWithCrLf) {
  const std::string report = "Filename:\t/tmp/a b.wav\r\nFilelength:\t0.000 MB\r\n";
  window->setReportText(report);
  EXPECT_EQ(window->reportViewText(), report);
  EXPECT_EQ(window->reportView->toPlainText(),
            QStringLiteral("Filename:\t/tmp/a b.wav\nFilelength:\t0.000 MB\n"));
  EXPECT_EQ(window->reportView->blockCount(), 3);
}

TEST_F(MainWindowTest, CtrlCWithAPartialSelectionCopiesTheWholeReport) {
  loadAndShow();
  const std::string report = "Nr of channels:\t2 (Stereo)\r\nSample frequ.:\t44100 Hz\r\n";
  window->setReportText(report);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->reportView->setFocus();
  QTextCursor cursor = window->reportView->textCursor();
  cursor.setPosition(4);
  cursor.setPosition(12, QTextCursor::KeepAnchor);
  window->reportView->setTextCursor(cursor);
  ASSERT_TRUE(window->reportView->textCursor().hasSelection());
  QGuiApplication::clipboard()->setText(QStringLiteral("something else"));

  QTest::keyClick(window->reportView, Qt::Key_C, Qt::ControlModifier);

  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), report);
  // The selection itself is left alone.
  EXPECT_TRUE(window->reportView->textCursor().hasSelection());
}

TEST_F(MainWindowTest, CopyOfAnEmptyReportLeavesEmptyText) {
  loadAndShow();
  QGuiApplication::clipboard()->setText(QStringLiteral("left over"));
  window->copyAction->trigger();
  EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
}

// ---- findings area ---------------------------------------------------------------

// Rows of the image that hold any dark pixel.
int darkRows(const QImage& image, const QRect& area) {
  int rows = 0;
  for (int y = area.top(); y <= area.bottom() && y < image.height(); ++y) {
    for (int x = area.left(); x <= area.right() && x < image.width(); ++x) {
      if (qGray(image.pixel(x, y)) < 128) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

TEST_F(MainWindowTest, FindingsShowAboveTheReportOutsideItsTextAndGoWhenCleared) {
  loadAndShow();
  const QRect place = window->reportView->geometry();
  const std::string report = "Filename:\t/a.wav\r\n";
  window->setReportText(report);
  EXPECT_FALSE(window->findingsArea->isVisible());
  const std::string junk =
      "A 'JUNK' chunk comes before the format chunk, keeping room for a larger header; the file "
      "is read correctly. (WAVEJUNK)";
  window->addFinding(junk);
  window->addFinding("The samples are floating-point numbers, not PCM. (format tag 3)");
  ASSERT_TRUE(window->findingsArea->isVisible());
  EXPECT_EQ(
      window->findingsText->text(),
      QString::fromStdString(junk) +
          QStringLiteral("\nThe samples are floating-point numbers, not PCM. (format tag 3)"));
  // The area takes the top of the report view's place, and both lines show there.
  const QRect area = window->findingsArea->geometry();
  const QRect box = window->reportView->geometry();
  EXPECT_EQ(area.united(box), place);
  EXPECT_FALSE(area.intersects(box));
  const int lineHeight = window->findingsText->fontMetrics().lineSpacing();
  EXPECT_GE(area.height(), 2 * lineHeight);
  const QImage shown = window->centralWidget()->grab().toImage();
  EXPECT_GE(darkRows(shown, area.adjusted(2, 2, -2, -2)), lineHeight);
  // Not part of the report, nor of what is copied.
  EXPECT_EQ(window->reportViewText(), report);
  window->copyAction->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), report);

  window->setOuterSizeTwips(8000, 6000);
  EXPECT_FALSE(window->findingsArea->geometry().intersects(window->reportView->geometry()));
  window->clearFindings();
  EXPECT_FALSE(window->findingsArea->isVisible());
  EXPECT_EQ(reportViewMargins(), QMargins(px(120), py(120), px(120), py(120)));
}

// ---- Exit -------------------------------------------------------------------------

TEST_F(MainWindowTest, ExitAndClosingTheWindowEndTheProgram) {
  loadAndShow();
  window->exitAction->trigger();
  EXPECT_EQ(ended, 1);
  window->close();
  EXPECT_EQ(ended, 2);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->reportView->setFocus();
  QTest::keyClick(window->reportView, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(ended, 3);
  QTest::keyClick(window->reportView, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(ended, 4);
  EXPECT_FALSE(ctx.exitRequested);
}

TEST_F(MainWindowTest, ExitDuringAModificationOnlyAsksTheRunToStop) {
  loadAndShow();
  ctx.modifyRunning = true;
  const std::stop_token run = ctx.stopRun.get_token();
  window->exitAction->trigger();
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(ctx.exitRequested);
  EXPECT_TRUE(run.stop_requested());
  window->close();
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(window->isVisible());
}

// ---- Help, Content ----------------------------------------------------------------

TEST_F(MainWindowTest, HelpWithoutTheHelpFileNamesTheFileLookedFor) {
  window->helpContentAction->trigger();
  EXPECT_TRUE(editor.opened.empty());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, "Warning");
  EXPECT_EQ(host.messages[0].text,
            "The help text " + dir.path() + "Rilmaton.txt cannot be shown: not found.");
  EXPECT_EQ(host.messages[0].kind, MessageKind::kInformation);
}

TEST_F(MainWindowTest, HelpOpensTheHelpFileAsOnePathOrShowsItItselfWithoutAnEditor) {
  const std::string programDir = dir.path() + "my programs; $HOME/";
  ASSERT_EQ(QDir().mkpath(QString::fromStdString(programDir)), true);
  test::writeFile(programDir + "Rilmaton.txt", {'h', 'e', 'l', 'p', '\n'});
  startSession(ctx.session, programDir);
  window->helpContentAction->trigger();
  ASSERT_EQ(editor.opened.size(), 1u);
  EXPECT_EQ(editor.opened[0], programDir + "Rilmaton.txt");
  EXPECT_TRUE(window->findChildren<HelpViewer*>().isEmpty());

  // No editor starts: the program's own read-only viewer shows the text.
  editor.starts = false;
  window->helpContentAction->trigger();
  EXPECT_EQ(editor.opened.size(), 2u);
  EXPECT_TRUE(host.messages.empty());
  const QList<HelpViewer*> viewers = window->findChildren<HelpViewer*>();
  ASSERT_EQ(viewers.size(), 1);
  EXPECT_TRUE(viewers[0]->isVisible());
  EXPECT_TRUE(viewers[0]->textView->isReadOnly());
  EXPECT_EQ(viewers[0]->textView->toPlainText(), QStringLiteral("help\n"));
  viewers[0]->close();
}

// ---- pointer ------------------------------------------------------------------------

TEST_F(MainWindowTest, BusyPointerCoversTheReportViewAndReturnsToTheArrow) {
  window->setBusyPointer(true);
  EXPECT_EQ(window->cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(window->reportView->viewport()->cursor().shape(), Qt::WaitCursor);
  window->setBusyPointer(false);
  EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(window->reportView->viewport()->cursor().shape(), Qt::IBeamCursor);
}

}  // namespace
}  // namespace ril
