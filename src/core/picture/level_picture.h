// The picture of a file's levels, as shapes on a canvas of a given size in
// pixels, for any painter to draw (the desktop program's, an SVG file's):
// per channel a lane with the smallest and largest sample of each column
// (red where samples reach full scale), the report's minimum and maximum
// marked; with the loudness measured, a strip with the short-term loudness
// over time and the integrated level; a time axis below.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"

namespace ril {

struct Colour {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Colour&) const = default;
};

struct Shape {
  enum class Kind {
    kRect,      // points: x y width height; filled with `colour`
    kLine,      // points: x1 y1 x2 y2
    kBars,      // points: x top bottom, x top bottom, ...: vertical lines
    kPolyline,  // points: x y, x y, ...
    kText,      // points: x y (the baseline); anchored at its start, middle or end
  };
  enum class Anchor { kStart, kMiddle, kEnd };
  Kind kind = Kind::kRect;
  std::vector<double> points;
  Colour colour;
  double width = 1.0;  // of lines
  bool dashed = false;
  std::string text;
  Anchor anchor = Anchor::kStart;
  double size = 11.0;  // of text, in pixels
};

// Where the parts of the picture lie, for reading the pointer.
struct PictureLayout {
  double plotLeft = 0, plotWidth = 0;               // the time axis' extent
  std::vector<double> laneTop, laneHeight;          // per channel
  double loudnessTop = 0, loudnessHeight = 0;       // 0 high: no loudness strip
  double loudnessFloor = -60, loudnessCeiling = 0;  // LUFS at its bottom and top
  std::int64_t frames = 0;
  double sampleRate = 0;
  std::vector<double> shortTerm;  // LUFS per 100 ms step, each at its window's end
  double shortTermStep = 0.1;     // seconds
};

struct LevelPicture {
  int width = 0, height = 0;
  std::vector<Shape> shapes;  // in the order they are drawn
  PictureLayout layout;
};

// The picture of a complete analysis at `sampleRate`; empty (no shapes)
// when the analysis has no overview.
LevelPicture drawLevels(const AnalysisResult& result, double sampleRate, int width, int height);

// What lies under the pointer at (x, y): the time, and the level of the lane
// or the short-term loudness of the strip there ("00:12.345  channel 1
// 50.0% (-6.0 dBFS)"); empty outside the plot.
std::string pointerText(const LevelPicture& picture, double x, double y);

// "m:ss", "h:mm:ss", with `decimals` places of the second.
std::string clockText(double seconds, int decimals);
// `value` with `decimals` places, a "." before them whatever the locale.
std::string fixedText(double value, int decimals);

}  // namespace ril
