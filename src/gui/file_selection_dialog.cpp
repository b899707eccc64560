#include "gui/file_selection_dialog.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

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

// The directory list draws each entry indented by its level, like the
// classic tree of open folders.
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

// ---- Drive1 -----------------------------------------------------------------

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

// ---- Dir1 -------------------------------------------------------------------

DirList::DirList(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new IndentDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { open(row(item)); });
}

std::string DirList::pathOf(int r) const {
  QListWidgetItem* it = item(r);
  return it ? it->data(kPathRole).toByteArray().toStdString() : std::string();
}

std::string DirList::setPath(const std::string& requested) {
  std::string p = normalPath(requested, path_);
  const DirectoryListing subdirs = listEntries(p, EntryKind::kDirectory);
  if (subdirs.error != 0) return errorText(subdirs.error);
  if (const int error = directoryAccessError(p); error != 0) return errorText(error);

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

void DirList::open(int r) {
  std::string target = pathOf(r);
  if (target.empty()) return;
  std::string reason = setPath(target);
  if (!reason.empty()) emit failed(display(target), QString::fromStdString(reason));
}

void DirList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter opens the directory and stays here; it does not press OK.
    if (currentRow() >= 0) open(currentRow());
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

// ---- File1 ------------------------------------------------------------------

FileList::FileList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
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

bool FileList::Selected(std::int16_t i) const {
  const QListWidgetItem* it = item(i);
  return it && it->isSelected();
}

void FileList::setSelected(std::int16_t i, bool selected) {
  if (QListWidgetItem* it = item(i)) {
    if (selected) setCurrentItem(it);
    it->setSelected(selected);
  }
}

// ---- frmSel -----------------------------------------------------------------

const char* const frmSel::kTitle = "Select WAV-file";

frmSel::frmSel(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setModal(false);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSizeF(8.25);
  font.setBold(true);
  setFont(font);

  auto place = [this](QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(twipsToPixelsX(left, this), twipsToPixelsY(top, this),
                   twipsToPixelsX(width, this), twipsToPixelsY(height, this));
  };
  // Created in tab order.
  cmdDisp = new QPushButton(tr("OK"), this);
  cmdEsc = new QPushButton(tr("Cancel"), this);
  Drive1 = new DriveList(this);
  Dir1 = new DirList(this);
  File1 = new FileList(this);
  place(cmdDisp, 120, 4200, 1575, 495);
  place(cmdEsc, 1920, 4200, 1455, 495);
  place(Drive1, 120, 120, 3255, 315);
  place(Dir1, 120, 600, 3255, 3465);
  place(File1, 3600, 120, 4215, 4515);
  setTabOrder(cmdDisp, cmdEsc);
  setTabOrder(cmdEsc, Drive1);
  setTabOrder(Drive1, Dir1);
  setTabOrder(Dir1, File1);
  cmdDisp->setDefault(true);
  cmdEsc->setAutoDefault(false);
  setFixedSize(twipsToPixelsX(7965, this), twipsToPixelsY(4830, this));

  // The lists start at the process's current drive and directory.
  for (const std::string& root : machineRoots()) {
    Drive1->addRoot(root, display(root));
  }
  std::string cwd = currentDirectory();
  if (cwd.empty()) cwd = "/";
  Drive1->restoreDrive(cwd);
  if (!Dir1->setPath(cwd).empty()) Dir1->setPath("/");
  File1->setPath(Dir1->path());
  lastDrive_ = Drive1->drive();

  connect(Drive1, &DriveList::changed, this, &frmSel::Drive1_Change);
  connect(Dir1, &DirList::changed, this, &frmSel::Dir1_Change);
  connect(Dir1, &DirList::failed, this, &frmSel::tellUnreadable);
  connect(File1, &QListWidget::itemDoubleClicked, this, &frmSel::File1_DblClick);
  connect(cmdDisp, &QPushButton::clicked, this, &frmSel::cmdDisp_Click);
  connect(cmdEsc, &QPushButton::clicked, this, &frmSel::cmdEsc_Click);

  // Centred on the screen.
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) {
    QRect area = screen->availableGeometry();
    QSize extra;
    if (ctx_.main && ctx_.main->isVisible()) {
      extra = ctx_.main->frameGeometry().size() - ctx_.main->geometry().size();
    }
    QSize outer = size() + extra;
    move(area.center().x() - outer.width() / 2, area.center().y() - outer.height() / 2);
  }
}

void frmSel::Form_Load() {
  if (!ctx_.state.firstSelection) return;
  const std::string program = normalPath(ctx_.state.appPath, "/");
  Drive1->setDrive(program);
  std::string reason = Dir1->setPath(program);
  if (!reason.empty()) tellUnreadable(display(program), QString::fromStdString(reason));
  changeDirectory(Dir1->path());
}

void frmSel::Drive1_Change() {
  std::string reason = Dir1->setPath(Drive1->drive());
  if (!reason.empty()) {
    const std::string chosen = Drive1->drive();
    Drive1->restoreDrive(lastDrive_);
    tellUnreadable(display(chosen), QString::fromStdString(reason));
    return;
  }
  lastDrive_ = Drive1->drive();
  changeDirectory(Dir1->path());
}

void frmSel::Dir1_Change() {
  File1->setPath(Dir1->path());
  changeDirectory(Dir1->path());
  // The drive list shows the root that holds the directory.
  Drive1->restoreDrive(Dir1->path());
  lastDrive_ = Drive1->drive();
}

bool frmSel::changeDirectory(const std::string& path) {
  const int error = setCurrentDirectory(path);
  if (error == 0) return true;
  tellUnreadable(display(path), QString::fromLocal8Bit(errorText(error)));
  return false;
}

void frmSel::tellUnreadable(const QString& path, const QString& reason) {
  Message m;
  m.title = "Message";
  m.text = ("Directory " + path + " cannot be opened (" + reason +
            ")! The previous directory stays selected.")
               .toStdString();
  m.icon = MsgIcon::kExclamation;
  m.buttons = MsgButtons::kOk;
  m.defaultButton = MsgAnswer::kOk;
  if (ctx_.messages) ctx_.messages->show(m);
}

void frmSel::File1_DblClick() {
  cmdDisp_Click();
}

void frmSel::cmdDisp_Click() {
  // A modification run is working on the current file's state.
  if (ctx_.modifyRunning || ctx_.batchRunning) return;
  std::int16_t count = 0;
  for (std::int16_t i = 0; i < File1->ListCount(); ++i) {
    if (File1->Selected(i)) ++count;
  }
  if (count == 0) {
    Message m;
    m.title = "Message";
    m.text = "You must at least select 1 valid file!";
    m.icon = MsgIcon::kInformation;
    m.buttons = MsgButtons::kOk;
    m.defaultButton = MsgAnswer::kOk;
    if (ctx_.messages) ctx_.messages->show(m);
    return;
  }
  ProgramState& s = ctx_.state;
  s.filePaths.assign(count, std::string());
  s.fileNames.assign(count, std::string());
  std::int16_t k = 0;
  const std::string& dir = File1->path();
  for (std::int16_t i = 0; i < File1->ListCount(); ++i) {
    if (!File1->Selected(i)) continue;
    s.fileNames[k] = File1->List(i);
    s.filePaths[k] = joinPath(dir, File1->List(i));
    ++k;
  }
  s.lastFileIndex = static_cast<std::int16_t>(k - 1);
  RunBatch(ctx_);
}

void frmSel::cmdEsc_Click() {
  unload();
}

void frmSel::unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (ctx_.sel == this) ctx_.sel = nullptr;
  hide();
  deleteLater();
}

void frmSel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();  // Cancel is not bound to Esc
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmSel::closeEvent(QCloseEvent* event) {
  event->accept();
  unload();
}

void showSelectionDialog(AppContext& ctx) {
  if (ctx.batchRunning || ctx.modifyRunning) return;
  if (!ctx.sel) {
    auto* dialog = new frmSel(ctx, ctx.main);
    ctx.sel = dialog;
    dialog->Form_Load();
  }
  if (!ctx.sel) return;
  ctx.sel->show();
  ctx.sel->raise();
  ctx.sel->activateWindow();
}

}  // namespace ril
