#include "gui/file_selection_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUrl>
#include <algorithm>

#include "core/base/errors.h"
#include "core/io/directories.h"
#include "gui/batch_run.h"
#include "gui/main_window.h"
#include "gui/twips.h"

namespace ril {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;

QString display(const std::string& bytes) {
  return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// The directory list draws each entry indented by its level, so the open
// folders form a tree.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem o(option);
    o.rect.adjust(indent(option) * index.data(kLevelRole).toInt(), 0, 0, 0);
    QStyledItemDelegate::paint(painter, o, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    return {s.width() + indent(option) * index.data(kLevelRole).toInt(), s.height()};
  }

 private:
  static int indent(const QStyleOptionViewItem& option) {
    return std::max(6, option.fontMetrics.height() / 2);
  }
};

}  // namespace

// ---- DriveList -------------------------------------------------------------

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::currentIndexChanged, this, &DriveList::onIndexChanged);
}

void DriveList::addRoot(const std::string& root, const QString& label) {
  bool was = quiet_;
  quiet_ = true;
  addItem(label, QByteArray::fromStdString(root));
  quiet_ = was;
}

std::vector<std::string> DriveList::roots() const {
  std::vector<std::string> out;
  for (int i = 0; i < count(); ++i)
    out.push_back(itemData(i, kPathRole).toByteArray().toStdString());
  return out;
}

std::string DriveList::drive() const {
  return currentIndex() < 0 ? std::string("/") : currentData(kPathRole).toByteArray().toStdString();
}

int DriveList::rootIndexFor(const std::string& path) const {
  int best = -1;
  std::size_t bestLength = 0;
  for (int i = 0; i < count(); ++i) {
    std::string r = itemData(i, kPathRole).toByteArray().toStdString();
    if (isWithin(path, r) && (best < 0 || r.size() > bestLength)) {
      best = i;
      bestLength = r.size();
    }
  }
  return best;
}

void DriveList::setDrive(const std::string& path) {
  int i = rootIndexFor(path);
  if (i >= 0) setCurrentIndex(i);
}

void DriveList::restoreDrive(const std::string& root) {
  quiet_ = true;
  int i = rootIndexFor(root);
  if (i >= 0) setCurrentIndex(i);
  quiet_ = false;
}

void DriveList::onIndexChanged(int) {
  if (!quiet_) emit changed();
}

// ---- DirectoryList ---------------------------------------------------------

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new IndentDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  // One click opens a directory. The second click of a double-click lands on
  // whatever entry the list shows by then, and is not taken as another.
  connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    if (sinceOpened_.isValid() && sinceOpened_.elapsed() < QApplication::doubleClickInterval()) {
      return;
    }
    sinceOpened_.start();
    open(row(item));
  });
}

std::string DirectoryList::pathOf(int r) const {
  QListWidgetItem* it = item(r);
  return it ? it->data(kPathRole).toByteArray().toStdString() : std::string();
}

std::string DirectoryList::setPath(const std::string& requested) {
  std::string p = normalPath(requested, path_);
  const DirectoryListing subdirs = listEntries(p, EntryKind::kDirectory);
  if (subdirs.error != 0) return systemErrorText(subdirs.error);
  if (const int error = directoryAccessError(p); error != 0) return systemErrorText(error);

  clear();
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  auto add = [&](const std::string& dir, const std::string& label, int level, const QIcon& icon) {
    auto* it = new QListWidgetItem(icon, display(label), this);
    it->setData(kPathRole, QByteArray::fromStdString(dir));
    it->setData(kLevelRole, level);
  };
  // The root, then each ancestor down to the current directory, all open.
  add("/", "/", 0, openIcon);
  int level = 0;
  std::string sofar;
  std::size_t start = 1;
  while (start < p.size()) {
    std::size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    sofar += "/" + p.substr(start, end - start);
    add(sofar, p.substr(start, end - start), ++level, openIcon);
    start = end + 1;
  }
  const int current = count() - 1;
  for (const std::string& name : subdirs.names) add(joinPath(p, name), name, level + 1, closedIcon);
  setCurrentRow(current);

  bool changedPath = p != path_;
  path_ = p;
  if (changedPath) emit changed();
  return {};
}

void DirectoryList::open(int r) {
  std::string target = pathOf(r);
  if (target.empty()) return;
  std::string reason = setPath(target);
  if (!reason.empty()) emit failed(display(target), QString::fromStdString(reason));
}

void DirectoryList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter opens the directory and stays here; it does not press OK.
    if (currentRow() >= 0) open(currentRow());
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

// ---- FileList --------------------------------------------------------------

FileList::FileList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void FileList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter chooses the file the list stands on, selected or not.
    if (QListWidgetItem* it = currentItem()) it->setSelected(true);
    event->accept();
    emit chosen();
    return;
  }
  QListWidget::keyPressEvent(event);
}

void FileList::setPath(const std::string& path) {
  path_ = path;
  refresh();
}

void FileList::refresh() {
  DirectoryListing files = listEntries(path_, EntryKind::kWavFile);
  clear();
  names_ = std::move(files.names);
  for (const std::string& n : names_) addItem(display(n));
}

bool FileList::isSelected(std::int16_t i) const {
  const QListWidgetItem* it = item(i);
  return it && it->isSelected();
}

void FileList::setSelected(std::int16_t i, bool selected) {
  if (QListWidgetItem* it = item(i)) {
    if (selected) setCurrentItem(it);
    it->setSelected(selected);
  }
}

// ---- FileSelectionDialog ---------------------------------------------------

const char* const FileSelectionDialog::kTitle = "Select WAV-file";

FileSelectionDialog::FileSelectionDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
  setModal(false);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSizeF(8.25);
  font.setBold(true);
  setFont(font);
  buildControls();

  // The lists start at the process's current drive and directory.
  for (const std::string& root : machineRoots()) {
    driveList->addRoot(root, display(root));
  }
  std::string cwd = currentDirectory();
  if (cwd.empty()) cwd = "/";
  driveList->restoreDrive(cwd);
  if (!directoryList->setPath(cwd).empty()) directoryList->setPath("/");
  fileList->setPath(directoryList->path());
  pathField->setText(display(directoryList->path()));
  lastDrive_ = driveList->drive();

  connect(driveList, &DriveList::changed, this, &FileSelectionDialog::onDriveChanged);
  connect(directoryList, &DirectoryList::changed, this, &FileSelectionDialog::onDirectoryChanged);
  connect(directoryList, &DirectoryList::failed, this, &FileSelectionDialog::tellUnreadable);
  connect(fileList, &QListWidget::itemDoubleClicked, this,
          &FileSelectionDialog::onFileDoubleClicked);
  connect(fileList, &FileList::chosen, this, &FileSelectionDialog::acceptSelection);
  pathField->installEventFilter(this);
  connect(okButton, &QPushButton::clicked, this, &FileSelectionDialog::acceptSelection);
  connect(cancelButton, &QPushButton::clicked, this, &FileSelectionDialog::cancel);

  // Centred on the screen.
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) {
    QRect area = screen->availableGeometry();
    QSize extra;
    if (ctx_.mainWindow && ctx_.mainWindow->isVisible()) {
      extra = ctx_.mainWindow->frameGeometry().size() - ctx_.mainWindow->geometry().size();
    }
    QSize outer = size() + extra;
    move(area.center().x() - outer.width() / 2, area.center().y() - outer.height() / 2);
  }
}

// The lists in a grid that grows with the dialog: the drive list, the
// directories and the buttons on the left, the files on the right, a path
// field across the top. Its first size is the design's (7965 x 4830 twips)
// with the path field added, and that is also its smallest.
void FileSelectionDialog::buildControls() {
  // Created in tab order; the path field comes last.
  okButton = new QPushButton(tr("OK"), this);
  cancelButton = new QPushButton(tr("Cancel"), this);
  driveList = new DriveList(this);
  directoryList = new DirectoryList(this);
  fileList = new FileList(this);
  pathField = new QLineEdit(this);
  pathField->setObjectName(QStringLiteral("pathField"));
  pathField->setPlaceholderText(tr("Type or paste a directory or a file, then press Enter"));
  pathField->setClearButtonEnabled(true);
  okButton->setDefault(true);
  cancelButton->setAutoDefault(false);

  const int gap = twipsToPixelsX(225, this);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(twipsToPixelsX(225, this));
  buttons->addWidget(okButton, 1575);
  buttons->addWidget(cancelButton, 1455);
  okButton->setMinimumHeight(twipsToPixelsY(495, this));
  cancelButton->setMinimumHeight(twipsToPixelsY(495, this));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(twipsToPixelsX(120, this), twipsToPixelsY(120, this),
                           twipsToPixelsX(150, this), twipsToPixelsY(135, this));
  grid->setHorizontalSpacing(gap);
  grid->setVerticalSpacing(twipsToPixelsY(165, this));
  grid->addWidget(pathField, 0, 0, 1, 2);
  grid->addWidget(driveList, 1, 0);
  grid->addWidget(directoryList, 2, 0);
  grid->addLayout(buttons, 3, 0);
  grid->addWidget(fileList, 1, 1, 3, 1);
  grid->setColumnStretch(0, 3255);
  grid->setColumnStretch(1, 4215);
  grid->setRowStretch(2, 1);

  const QSize design(
      twipsToPixelsX(7965, this),
      twipsToPixelsY(4830, this) + pathField->sizeHint().height() + grid->verticalSpacing());
  setMinimumSize(design);
  resize(design);
}

void FileSelectionDialog::initialise() {
  if (!ctx_.session.firstSelection) return;
  const std::string program = normalPath(ctx_.session.appPath, "/");
  driveList->setDrive(program);
  std::string reason = directoryList->setPath(program);
  if (!reason.empty()) tellUnreadable(display(program), QString::fromStdString(reason));
  changeDirectory(directoryList->path());
}

void FileSelectionDialog::onDriveChanged() {
  std::string reason = directoryList->setPath(driveList->drive());
  if (!reason.empty()) {
    const std::string chosen = driveList->drive();
    driveList->restoreDrive(lastDrive_);
    tellUnreadable(display(chosen), QString::fromStdString(reason));
    return;
  }
  lastDrive_ = driveList->drive();
  changeDirectory(directoryList->path());
}

void FileSelectionDialog::onDirectoryChanged() {
  fileList->setPath(directoryList->path());
  pathField->setText(display(directoryList->path()));
  changeDirectory(directoryList->path());
  // The drive list shows the root that holds the directory.
  driveList->restoreDrive(directoryList->path());
  lastDrive_ = driveList->drive();
}

bool FileSelectionDialog::changeDirectory(const std::string& path) {
  const int error = setCurrentDirectory(path);
  if (error == 0) return true;
  tellUnreadable(display(path), QString::fromLocal8Bit(systemErrorText(error)));
  return false;
}

void FileSelectionDialog::tellUnreadable(const QString& path, const QString& reason) {
  Message m;
  m.kind = MessageKind::kWarning;
  m.title = "Message";
  m.text = ("Directory " + path + " cannot be opened (" + reason +
            ")! The previous directory stays selected.")
               .toStdString();
  if (ctx_.messages) ctx_.messages->show(m);
}

void FileSelectionDialog::onFileDoubleClicked() {
  acceptSelection();
}

void FileSelectionDialog::acceptSelection() {
  // A modification run is working on the current file.
  if (ctx_.modifyRunning || ctx_.batchRunning) return;
  std::int16_t count = 0;
  for (std::int16_t i = 0; i < fileList->fileCount(); ++i) {
    if (fileList->isSelected(i)) ++count;
  }
  if (count == 0) {
    Message m;
    m.kind = MessageKind::kInformation;
    m.title = "Message";
    m.text = "You must at least select 1 valid file!";
    if (ctx_.messages) ctx_.messages->show(m);
    return;
  }
  std::vector<std::string> paths, names;
  const std::string& dir = fileList->path();
  for (std::int16_t i = 0; i < fileList->fileCount(); ++i) {
    if (!fileList->isSelected(i)) continue;
    names.push_back(fileList->fileName(i));
    paths.push_back(joinPath(dir, fileList->fileName(i)));
  }
  runBatchOn(ctx_, std::move(paths), std::move(names));
}

void FileSelectionDialog::cancel() {
  unload();
}

// A directory moves the lists there; a file is read as if it had been
// chosen. "~" stands for the home directory, and a file:// address pasted
// from a file manager for its path; a relative path is taken from the
// directory shown.
void FileSelectionDialog::onPathEntered() {
  QString typed = pathField->text().trimmed();
  if (typed.startsWith(QStringLiteral("file:"))) typed = QUrl(typed).toLocalFile();
  if (typed == QStringLiteral("~") || typed.startsWith(QStringLiteral("~/"))) {
    typed.replace(0, 1, QDir::homePath());
  }
  if (typed.isEmpty()) return;
  const std::string path =
      normalPath(QFile::encodeName(typed).toStdString(), directoryList->path());
  const QFileInfo info(display(path));
  if (info.isFile()) {
    if (ctx_.modifyRunning || ctx_.batchRunning) return;
    runBatchOn(ctx_, {path}, {baseNameOf(path)});
    return;
  }
  const std::string reason = directoryList->setPath(path);
  if (!reason.empty()) tellUnreadable(display(path), QString::fromStdString(reason));
  // The field shows the directory the lists stand in.
  pathField->setText(display(directoryList->path()));
}

void FileSelectionDialog::unload() {
  discardWindow(this, ctx_.selectionDialog, unloaded_);
}

void FileSelectionDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();  // Cancel is not bound to Esc
    return;
  }

  QDialog::keyPressEvent(event);
}

// Enter in the path field is the field's own: it takes the path and does
// not press OK.
bool FileSelectionDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pathField && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      onPathEntered();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void FileSelectionDialog::closeEvent(QCloseEvent* event) {
  event->accept();
  unload();
}

void showSelectionDialog(AppContext& ctx) {
  if (ctx.batchRunning || ctx.modifyRunning) return;
  if (!ctx.selectionDialog) {
    auto* dialog = new FileSelectionDialog(ctx, ctx.mainWindow);
    ctx.selectionDialog = dialog;
    dialog->initialise();
  }
  if (!ctx.selectionDialog) return;
  ctx.selectionDialog->show();
  ctx.selectionDialog->raise();
  ctx.selectionDialog->activateWindow();
  // Focus starts in the file list, on its first file, so that Enter opens it.
  FileList* files = ctx.selectionDialog->fileList;
  if (files->currentRow() < 0 && files->count() > 0) {
    files->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  }
  files->setFocus();
}

}  // namespace ril
