// File, Open Recent: the last files read, newest first. The one setting the
// program keeps, in a small file under the user's configuration directory.
#pragma once

#include <QString>
#include <string>
#include <vector>

namespace ril {

class RecentFiles {
 public:
  static constexpr std::size_t kKept = 8;

  // Keeps the list in `file` (an INI file; made when the first file is added).
  explicit RecentFiles(QString file);

  // $XDG_CONFIG_HOME/rilmaton/recent-files.ini, or ~/.config/... without it.
  static QString defaultFile();

  // The files, newest first, as the file system spells their paths.
  std::vector<std::string> list() const;
  // Puts `path` first, once, and keeps the newest kKept.
  void add(const std::string& path);

 private:
  QString file_;
};

}  // namespace ril
