#include "cli/level_pictures.h"

#include <sys/stat.h>

#include <map>

#include "cli/terminal.h"
#include "core/base/errors.h"
#include "core/io/directories.h"
#include "core/io/files.h"
#include "core/picture/svg_picture.h"

namespace ril::cli {

namespace {

constexpr int kPictureWidth = 1200;

std::string pictureName(const std::string& file) {
  std::string name = baseNameOf(file);
  if (name.size() > 4) {
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (suffix == ".wav") name.resize(name.size() - 4);
  }
  return name + ".svg";
}

}  // namespace

std::string checkPictureDirectory(const std::string& dir, const std::vector<std::string>& files) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return "--svg " + shownName(dir) + " is not a directory";
  }
  std::map<std::string, std::string> byName;
  for (const std::string& file : files) {
    const auto [it, added] = byName.emplace(pictureName(file), file);
    if (!added) {
      return "--svg: the pictures of " + shownName(it->second) + " and " + shownName(file) +
             " would both be " + shownName(joinPath(dir, it->first));
    }
  }
  return {};
}

std::string picturePath(const std::string& dir, const std::string& file) {
  return joinPath(dir, pictureName(file));
}

std::string writeLevelPicture(const std::string& path, const std::string& file,
                              const AnalysisResult& result, const WavFormat& format) {
  const bool loudness = result.loudness && result.loudness->weighted;
  const int height = 40 + 130 * format.channels + (loudness ? 130 : 0);
  const std::string svg = svgOf(drawLevels(result, format.sampleRate, kPictureWidth, height),
                                shownName(baseNameOf(file)));
  try {
    std::unique_ptr<NewFile> out = realFileSystem().createNewFile(path);
    out->takeAttributesOf(file);  // readable by whoever may read the file
    out->write(svg.data(), svg.size());
    out->sync();
    out->publish();
  } catch (const RunError& e) {
    return "cannot write " + shownName(path) + ": " +
           (e.sysErrno() ? errorText(e.sysErrno()) : errorDescription(e.number()));
  }
  return {};
}

}  // namespace ril::cli
