#include "core/picture/level_picture.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "core/analysis/loudness.h"

namespace ril {

namespace {

constexpr Colour kBackground{255, 255, 255};
constexpr Colour kLaneBackground{243, 246, 250};
constexpr Colour kGrid{218, 223, 231};
constexpr Colour kZeroLine{165, 172, 184};
constexpr Colour kLevels{47, 109, 181};
constexpr Colour kFullScale{214, 30, 30};
constexpr Colour kMaxMark{0, 130, 70};
constexpr Colour kMinMark{190, 100, 0};
constexpr Colour kLoudness{120, 60, 170};
constexpr Colour kIntegrated{25, 25, 25};
constexpr Colour kLabel{70, 70, 70};

constexpr double kLeftMargin = 46, kRightMargin = 8, kTopMargin = 4, kAxisHeight = 18;
constexpr double kGap = 4;
constexpr int kShortTermBins = 30;  // 3 s of 100 ms

Shape rect(double x, double y, double w, double h, Colour colour) {
  Shape s;
  s.kind = Shape::Kind::kRect;
  s.points = {x, y, w, h};
  s.colour = colour;
  return s;
}

Shape line(double x1, double y1, double x2, double y2, Colour colour, bool dashed = false) {
  Shape s;
  s.kind = Shape::Kind::kLine;
  s.points = {x1, y1, x2, y2};
  s.colour = colour;
  s.dashed = dashed;
  return s;
}

Shape text(double x, double y, std::string words, Shape::Anchor anchor, Colour colour = kLabel) {
  Shape s;
  s.kind = Shape::Kind::kText;
  s.points = {x, y};
  s.text = std::move(words);
  s.anchor = anchor;
  s.colour = colour;
  return s;
}

// The short-term loudness (3 s windows, one every 100 ms) of a trace; none
// when the sample rate allowed no weighting.
std::vector<double> shortTermLoudness(const LoudnessTrace& t) {
  std::vector<double> out;
  if (!t.weighted || t.binFrames <= 0) return out;
  const double frames = kShortTermBins * static_cast<double>(t.binFrames);
  for (std::size_t k = 0; k + kShortTermBins <= t.bins.size(); ++k) {
    double sum = 0.0;
    for (int i = 0; i < kShortTermBins; ++i) sum = sum + t.bins[k + static_cast<std::size_t>(i)];
    out.push_back(loudnessOfPower(sum / frames));
  }
  return out;
}

double xOfFrame(const PictureLayout& l, double frame) {
  return l.plotLeft +
         frame / static_cast<double>(std::max<std::int64_t>(l.frames, 1)) * l.plotWidth;
}

double yOfLevel(double top, double height, double level) {
  return top + (1.0 - std::clamp(level, -1.0, 1.0)) * height / 2.0;
}

double yOfLoudness(const PictureLayout& l, double lufs) {
  const double v =
      std::clamp(std::isnan(lufs) ? l.loudnessFloor : lufs, l.loudnessFloor, l.loudnessCeiling);
  return l.loudnessTop +
         (l.loudnessCeiling - v) / (l.loudnessCeiling - l.loudnessFloor) * l.loudnessHeight;
}

// One column per pixel: the buckets that the column's frames fall in merged,
// blue, or red where a sample is at full scale.
void drawColumns(LevelPicture& p, const LevelOverview& o, int channel) {
  const PictureLayout& l = p.layout;
  const double top = l.laneTop[static_cast<std::size_t>(channel)];
  const double height = l.laneHeight[static_cast<std::size_t>(channel)];
  Shape normal, full;
  normal.kind = full.kind = Shape::Kind::kBars;
  normal.colour = kLevels;
  full.colour = kFullScale;
  const auto columns = static_cast<std::int64_t>(l.plotWidth);
  const std::int64_t buckets = o.bucketCount();
  for (std::int64_t x = 0; x < columns && buckets > 0; ++x) {
    const double from = static_cast<double>(x) * static_cast<double>(o.frames) / l.plotWidth;
    const double to = static_cast<double>(x + 1) * static_cast<double>(o.frames) / l.plotWidth;
    // The buckets that begin in the column; the one it lies in when none does.
    const auto bf = static_cast<double>(o.bucketFrames);
    std::int64_t b = static_cast<std::int64_t>(std::ceil(from / bf));
    std::int64_t last = std::min(buckets, static_cast<std::int64_t>(std::ceil(to / bf)));
    if (last <= b) {
      b = std::min(buckets - 1, static_cast<std::int64_t>(from / bf));
      last = b + 1;
    }
    LevelBucket m = o.at(channel, b);
    for (++b; b < last; ++b) {
      const LevelBucket& n = o.at(channel, b);
      m.min = std::min(m.min, n.min);
      m.max = std::max(m.max, n.max);
      m.fullScale += n.fullScale;
    }
    const double yTop = yOfLevel(top, height, m.max);
    const double yBottom = std::max(yOfLevel(top, height, m.min), yTop + 1.0);
    Shape& into = m.fullScale > 0 ? full : normal;
    into.points.insert(into.points.end(),
                       {l.plotLeft + static_cast<double>(x) + 0.5, yTop, yBottom});
  }
  p.shapes.push_back(std::move(normal));
  p.shapes.push_back(std::move(full));
}

// A lane: its ground, lines at full scale halved and at zero, the columns,
// the report's extremes marked, the channel's name.
void drawLane(LevelPicture& p, const AnalysisResult& r, int channel) {
  const PictureLayout& l = p.layout;
  const double top = l.laneTop[static_cast<std::size_t>(channel)];
  const double height = l.laneHeight[static_cast<std::size_t>(channel)];
  const double right = l.plotLeft + l.plotWidth;
  p.shapes.push_back(rect(l.plotLeft, top, l.plotWidth, height, kLaneBackground));
  for (double level : {0.5, -0.5}) {
    const double y = yOfLevel(top, height, level);
    p.shapes.push_back(line(l.plotLeft, y, right, y, kGrid));
  }
  const double zero = yOfLevel(top, height, 0.0);
  p.shapes.push_back(line(l.plotLeft, zero, right, zero, kZeroLine));
  drawColumns(p, r.overview, channel);
  if (channel < 2) {
    const ChannelStats& s = r.records[static_cast<std::size_t>(channel)];
    const struct {
      std::int64_t at;
      double level;
      Colour colour;
      const char* name;
      double labelY;
    } marks[] = {{s.maxPos, s.max / 32768.0, kMaxMark, "max", top + 11},
                 {s.minPos, s.min / 32768.0, kMinMark, "min", top + height - 3}};
    for (const auto& m : marks) {
      const double x = xOfFrame(l, static_cast<double>(m.at) + 0.5);
      p.shapes.push_back(line(x, top, x, top + height, m.colour, true));
      const double y = yOfLevel(top, height, m.level);
      p.shapes.push_back(rect(x - 3, y - 3, 6, 6, m.colour));
      const bool leftOfMark = x > right - 30;
      p.shapes.push_back(text(leftOfMark ? x - 3 : x + 3, m.labelY, m.name,
                              leftOfMark ? Shape::Anchor::kEnd : Shape::Anchor::kStart, m.colour));
    }
  }
  p.shapes.push_back(
      text(kLeftMargin - 6, zero + 4, "ch " + std::to_string(channel + 1), Shape::Anchor::kEnd));
}

// The short-term loudness over time, its largest value per column, and the
// integrated level as a dashed line.
void drawLoudness(LevelPicture& p, const std::optional<double>& integrated) {
  const PictureLayout& l = p.layout;
  const double right = l.plotLeft + l.plotWidth;
  p.shapes.push_back(
      rect(l.plotLeft, l.loudnessTop, l.plotWidth, l.loudnessHeight, kLaneBackground));
  for (int lufs = -10; lufs > l.loudnessFloor; lufs -= 10) {
    const double y = yOfLoudness(l, lufs);
    p.shapes.push_back(line(l.plotLeft, y, right, y, kGrid));
    if (lufs % 20 == 0) {
      p.shapes.push_back(text(kLeftMargin - 6, y + 4, std::to_string(lufs), Shape::Anchor::kEnd));
    }
  }
  // The unit above the first figure, where there is room for it.
  if (yOfLoudness(l, -20) - l.loudnessTop >= 22) {
    p.shapes.push_back(text(kLeftMargin - 6, l.loudnessTop + 11, "LUFS", Shape::Anchor::kEnd));
  }
  Shape curve;
  curve.kind = Shape::Kind::kPolyline;
  curve.colour = kLoudness;
  curve.width = 1.5;
  const double rate = l.sampleRate > 0 ? l.sampleRate : 1.0;
  for (std::size_t k = 0; k < l.shortTerm.size(); ++k) {
    const double seconds = static_cast<double>(k + kShortTermBins) * l.shortTermStep;
    const double x = std::min(xOfFrame(l, seconds * rate), right);
    const double y = yOfLoudness(l, l.shortTerm[k]);
    const std::size_t n = curve.points.size();
    if (n >= 2 && std::floor(curve.points[n - 2]) == std::floor(x)) {
      curve.points[n - 1] = std::min(curve.points[n - 1], y);  // the louder one
    } else {
      curve.points.insert(curve.points.end(), {x, y});
    }
  }
  if (!curve.points.empty()) p.shapes.push_back(std::move(curve));
  if (integrated) {
    const double y = yOfLoudness(l, *integrated);
    p.shapes.push_back(line(l.plotLeft, y, right, y, kIntegrated, true));
    p.shapes.back().width = 1.5;
    // Above the line, or below it when it runs along the strip's top.
    const double baseline = y - 4 < l.loudnessTop + 11 ? y + 13 : y - 4;
    p.shapes.push_back(text(right - 4, baseline,
                            "integrated " + fixedText(*integrated, 1) + " LUFS",
                            Shape::Anchor::kEnd, kIntegrated));
  }
}

// Ticks and times under the plot, at least 90 pixels apart.
void drawTimeAxis(LevelPicture& p, double axisTop) {
  const PictureLayout& l = p.layout;
  const double seconds = static_cast<double>(l.frames) / std::max(l.sampleRate, 1.0);
  static constexpr double kSteps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05,  0.1,   0.2,  0.5,
                                      1,     2,     5,     10,   15,   30,    60,    120,  300,
                                      600,   900,   1800,  3600, 7200, 18000, 36000, 86400};
  double step = kSteps[std::size(kSteps) - 1];
  for (double s : kSteps) {
    if (seconds <= 0 || s / seconds * l.plotWidth >= 90) {
      step = s;
      break;
    }
  }
  const int decimals = step < 0.01 ? 3 : step < 0.1 ? 2 : step < 1 ? 1 : 0;
  for (std::int64_t i = 0; static_cast<double>(i) * step <= seconds; ++i) {
    const double t = static_cast<double>(i) * step;
    const double x = l.plotLeft + t / std::max(seconds, 1e-12) * l.plotWidth;
    p.shapes.push_back(line(x, axisTop, x, axisTop + 4, kLabel));
    const Shape::Anchor anchor = i == 0                              ? Shape::Anchor::kStart
                                 : x > l.plotLeft + l.plotWidth - 20 ? Shape::Anchor::kEnd
                                                                     : Shape::Anchor::kMiddle;
    p.shapes.push_back(text(x, axisTop + 15, clockText(t, decimals), anchor));
  }
}

}  // namespace

std::string fixedText(double value, int decimals) {
  std::array<char, 400> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                 std::chars_format::fixed, decimals)
                       .ptr;
  return std::string(digits.data(), end);
}

std::string clockText(double seconds, int decimals) {
  const double scale = std::pow(10.0, decimals);
  const double units = std::round(std::max(seconds, 0.0) * scale);
  const auto whole = static_cast<std::int64_t>(std::floor(units / scale));
  const double fraction = units - static_cast<double>(whole) * scale;
  auto two = [](std::int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  std::string out = whole >= 3600 ? std::to_string(whole / 3600) + ":" + two(whole / 60 % 60)
                                  : std::to_string(whole / 60);
  out += ":" + two(whole % 60);
  if (decimals > 0) {
    std::string digits = std::to_string(static_cast<std::int64_t>(fraction));
    out += "." + std::string(static_cast<std::size_t>(decimals) - digits.size(), '0') + digits;
  }
  return out;
}

LevelPicture drawLevels(const AnalysisResult& result, double sampleRate, int width, int height) {
  LevelPicture p;
  p.width = std::max(width, 0);
  p.height = std::max(height, 0);
  const LevelOverview& o = result.overview;
  if (o.channels <= 0 || o.frames <= 0 || width <= 0 || height <= 0) return p;
  PictureLayout& l = p.layout;
  l.frames = o.frames;
  l.sampleRate = sampleRate;
  l.plotLeft = kLeftMargin;
  l.plotWidth = std::max(1.0, std::floor(width - kLeftMargin - kRightMargin));
  std::optional<double> integrated;
  if (result.loudness && result.loudness->weighted) {
    l.shortTerm = shortTermLoudness(*result.loudness);
    l.shortTermStep = static_cast<double>(result.loudness->binFrames) / std::max(sampleRate, 1.0);
    integrated = integratedLoudness({&*result.loudness}).value;
  }
  const bool loudness = result.loudness && result.loudness->weighted;
  const double room = std::max(0.0, height - kTopMargin - kAxisHeight);
  l.loudnessHeight = loudness ? std::floor(std::max(30.0, room * 0.3)) : 0;
  const double lanes = std::max(0.0, room - l.loudnessHeight - (loudness ? kGap : 0));
  const double lane = std::max(2.0, std::floor((lanes - kGap * (o.channels - 1)) / o.channels));
  p.shapes.push_back(rect(0, 0, width, height, kBackground));
  for (int c = 0; c < o.channels; ++c) {
    l.laneTop.push_back(kTopMargin + c * (lane + kGap));
    l.laneHeight.push_back(lane);
    drawLane(p, result, c);
  }
  const double below = kTopMargin + o.channels * (lane + kGap);
  if (loudness) {
    l.loudnessTop = below;
    drawLoudness(p, integrated);
  }
  drawTimeAxis(p, (loudness ? l.loudnessTop + l.loudnessHeight : below - kGap) + 1);
  return p;
}

std::string pointerText(const LevelPicture& p, double x, double y) {
  const PictureLayout& l = p.layout;
  if (l.frames <= 0 || x < l.plotLeft || x > l.plotLeft + l.plotWidth) return {};
  const double seconds =
      (x - l.plotLeft) / l.plotWidth * static_cast<double>(l.frames) / std::max(l.sampleRate, 1.0);
  const std::string time = clockText(seconds, 3);
  for (std::size_t c = 0; c < l.laneTop.size(); ++c) {
    if (y < l.laneTop[c] || y > l.laneTop[c] + l.laneHeight[c]) continue;
    const double level = std::clamp(1.0 - 2.0 * (y - l.laneTop[c]) / l.laneHeight[c], -1.0, 1.0);
    const double magnitude = std::fabs(level);
    const std::string db = magnitude > 0 ? fixedText(20.0 * std::log10(magnitude), 1) : "-inf";
    return time + "  channel " + std::to_string(c + 1) + "  " + fixedText(level * 100.0, 1) +
           "% (" + db + " dBFS)";
  }
  if (l.loudnessHeight > 0 && y >= l.loudnessTop && y <= l.loudnessTop + l.loudnessHeight) {
    const auto count = static_cast<std::int64_t>(l.shortTerm.size());
    const std::int64_t k =
        std::min(static_cast<std::int64_t>(std::floor(seconds / l.shortTermStep)) - kShortTermBins,
                 count - 1);
    if (k < 0) return time + "  short-term loudness: none (the first 3 s)";
    const double lufs = l.shortTerm[static_cast<std::size_t>(k)];
    return time + "  short-term loudness " +
           (std::isfinite(lufs) ? fixedText(lufs, 1) + " LUFS" : std::string("none (silence)"));
  }
  return time;
}

}  // namespace ril
