// frmSel: the dialog in which the user picks the WAV file to work on.
//
// There are no drive letters here: Drive1 lists the roots a user browses from
// ("/", the home directory and the mounted volumes under /media, /mnt and
// /run/media), Dir1 is the classic directory list (the ancestors from the root
// down, the current directory open, its subdirectories below) and File1 lists
// the "*.WAV" files of that directory in any case. Paths are kept as the bytes
// the file system uses; a directory path ends in "/" only when it is the root.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <string>
#include <vector>

#include "gui/app_context.h"

class QPushButton;

namespace ril {

// The drive list: the roots of the machine.
class DriveList : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveList(QWidget* parent = nullptr);

  // The chosen root ("/", "/home/ann", "/media/ann/STICK").
  std::string drive() const;
  // Chooses the root that holds `path` (the deepest one); raises changed()
  // when that is another root than before.
  void setDrive(const std::string& path);
  // Adds a root (the list is built from the mounts when the dialog loads).
  void addRoot(const std::string& root, const QString& label);
  // Goes back to `root` without raising changed() (an unreadable choice).
  void restoreDrive(const std::string& root);
  std::vector<std::string> roots() const;

 signals:
  void changed();

 private:
  void onIndexChanged(int index);
  int rootIndexFor(const std::string& path) const;

  bool quiet_ = false;
};

// The directory list.
class DirList : public QListWidget {
  Q_OBJECT

 public:
  explicit DirList(QWidget* parent = nullptr);

  const std::string& path() const { return path_; }
  // Moves the list to `path` (made absolute and normal); raises changed() when
  // the path differs. A directory that cannot be read leaves the list as it was
  // and returns the reason (empty on success).
  std::string setPath(const std::string& path);
  // The directory of entry `row`.
  std::string pathOf(int row) const;
  // Opens the directory of entry `row`, as a double-click does; reports a
  // failure through failed().
  void open(int row);

 signals:
  void changed();
  void failed(const QString& path, const QString& reason);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::string path_;
};

// The file list: "*.WAV" in any case, sorted, single selection.
class FileList : public QListWidget {
  Q_OBJECT

 public:
  explicit FileList(QWidget* parent = nullptr);

  const std::string& path() const { return path_; }
  void setPath(const std::string& path);
  void refresh();

  std::int16_t ListCount() const { return static_cast<std::int16_t>(names_.size()); }
  const std::string& List(std::int16_t i) const { return names_.at(i); }
  bool Selected(std::int16_t i) const;
  void setSelected(std::int16_t i, bool selected);

 private:
  std::string path_;
  std::vector<std::string> names_;
};

class frmSel : public QDialog {
  Q_OBJECT

 public:
  static const char* const kTitle;  // "Select WAV-file"

  // Builds the window; the lists start at the process's current directory.
  explicit frmSel(AppContext& ctx, QWidget* parent = nullptr);

  // ---- event handlers ---------------------------------------------------
  void Form_Load();
  void Drive1_Change();
  void Dir1_Change();
  void File1_DblClick();
  void cmdDisp_Click();
  void cmdEsc_Click();

  // Closes and discards the dialog (ctx.sel becomes empty at once).
  void unload();

  // ---- controls, in tab order -------------------------------------------
  QPushButton* cmdDisp = nullptr;
  QPushButton* cmdEsc = nullptr;
  DriveList* Drive1 = nullptr;
  DirList* Dir1 = nullptr;
  FileList* File1 = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void tellUnreadable(const QString& path, const QString& reason);
  bool changeDirectory(const std::string& path);

  AppContext& ctx_;
  std::string lastDrive_;
  bool unloaded_ = false;
};

// File, Open: loads frmSel when it is not loaded (its Form_Load runs), shows it
// modeless and brings it to the front.
void showSelectionDialog(AppContext& ctx);

}  // namespace ril
