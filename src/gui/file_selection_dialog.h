// FileSelectionDialog: the dialog in which the user picks the WAV file to work on.
// It can be resized; a path field takes a directory or a file typed or pasted.
//
// There are no drive letters here: the drive list holds the roots a user
// browses from ("/", the home directory and the mounted volumes under /media,
// /mnt and /run/media); the directory list shows the ancestors from the root
// down, the current directory open and its subdirectories below; the file list
// shows the "*.WAV" files of that directory in any case. Paths are kept as the
// bytes the file system uses; a directory path ends in "/" only when it is the
// root.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <string>
#include <vector>

#include "gui/app_context.h"

class QLineEdit;
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
  // Adds a root (the dialog fills the list from the mounts when it is built).
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

// The directory list: the root and each ancestor down to the current
// directory, all open, then its subdirectories; each indented by its level.
class DirectoryList : public QListWidget {
  Q_OBJECT

 public:
  explicit DirectoryList(QWidget* parent = nullptr);

  const std::string& path() const { return path_; }
  // Moves the list to `path` (made absolute and normal); raises changed() when
  // the path differs. A directory that cannot be read leaves the list as it was
  // and returns the reason (empty on success).
  std::string setPath(const std::string& path);
  // The directory of entry `row`.
  std::string pathOf(int row) const;
  // Opens the directory of entry `row`, as one click on it does; reports a
  // failure through failed().
  void open(int row);

 signals:
  void changed();
  void failed(const QString& path, const QString& reason);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::string path_;
  QElapsedTimer sinceOpened_;
};

// The file list: "*.WAV" in any case, sorted, single selection.
class FileList : public QListWidget {
  Q_OBJECT

 public:
  explicit FileList(QWidget* parent = nullptr);

  const std::string& path() const { return path_; }
  void setPath(const std::string& path);
  void refresh();

  // The listed files by index, as the file system spells their names.
  std::int16_t fileCount() const { return static_cast<std::int16_t>(names_.size()); }
  const std::string& fileName(std::int16_t i) const { return names_.at(i); }
  bool isSelected(std::int16_t i) const;
  void setSelected(std::int16_t i, bool selected);

 signals:
  // Enter on a file: it is selected and chosen, as OK would take it.
  void chosen();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::string path_;
  std::vector<std::string> names_;
};

class FileSelectionDialog : public QDialog {
  Q_OBJECT

 public:
  static const char* const kTitle;  // "Select WAV-file"

  // Builds the window; the lists start at the process's current directory.
  explicit FileSelectionDialog(AppContext& ctx, QWidget* parent = nullptr);

  // ---- commands and events --------------------------------------------------
  // On the session's first selection, moves the lists to the program
  // directory and makes it the current directory; later the dialog opens
  // where the last one was left.
  void initialise();
  // Moves the directory list to the chosen root; a root that cannot be read
  // brings the previous one back and says why.
  void onDriveChanged();
  // The file list and the current directory follow the directory list, and
  // the drive list shows the root that holds it.
  void onDirectoryChanged();
  void onFileDoubleClicked();  // as OK
  void onPathEntered();        // Enter in the path field
  // OK: stores the selected files in the session and starts the batch
  // run; with nothing selected only a message says so.
  void acceptSelection();
  void cancel();  // unloads the dialog

  // Closes and discards the dialog (ctx.selectionDialog becomes empty at once).
  void unload();

  // ---- controls, in tab order -------------------------------------------
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  DriveList* driveList = nullptr;
  DirectoryList* directoryList = nullptr;
  FileList* fileList = nullptr;
  // A directory or a file, typed or pasted; shows the directory listed.
  QLineEdit* pathField = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void tellUnreadable(const QString& path, const QString& reason);
  bool changeDirectory(const std::string& path);

  AppContext& ctx_;
  std::string lastDrive_;
  bool unloaded_ = false;
};

// File, Open: builds and initialises the dialog when there is none, shows it
// modeless and brings it to the front.
void showSelectionDialog(AppContext& ctx);

}  // namespace ril
