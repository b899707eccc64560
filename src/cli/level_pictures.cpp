#include "cli/level_pictures.h"

#include "cli/file_list.h"
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
  return outputDirectoryProblem(
      "--svg", dir, files, pictureName,
      [](const std::string& first, const std::string& second, const std::string& output) {
        return "the pictures of " + first + " and " + second + " would both be " + output;
      });
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
           (e.sysErrno() ? systemErrorText(e.sysErrno()) : errorDescription(e.number()));
  }
  return {};
}

}  // namespace ril::cli
