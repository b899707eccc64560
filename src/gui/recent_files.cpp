#include "gui/recent_files.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <algorithm>

namespace ril {

namespace {

const QString kKey = QStringLiteral("recentFiles");

}  // namespace

RecentFiles::RecentFiles(QString file) : file_(std::move(file)) {}

QString RecentFiles::defaultFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/rilmaton/recent-files.ini");
}

// Paths are kept as bytes, so that names in any encoding come back as they were.
std::vector<std::string> RecentFiles::list() const {
  const QSettings settings(file_, QSettings::IniFormat);
  std::vector<std::string> paths;
  for (const QVariant& entry : settings.value(kKey).toList()) {
    const QByteArray path = entry.toByteArray();
    if (!path.isEmpty() && paths.size() < kKept) paths.push_back(path.toStdString());
  }
  return paths;
}

void RecentFiles::add(const std::string& path) {
  if (path.empty()) return;
  std::vector<std::string> paths = list();
  paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
  paths.insert(paths.begin(), path);
  if (paths.size() > kKept) paths.resize(kKept);
  QVariantList entries;
  for (const std::string& each : paths) entries << QByteArray::fromStdString(each);
  QSettings settings(file_, QSettings::IniFormat);
  settings.setValue(kKey, entries);
}

}  // namespace ril
