#include "core/picture/level_picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/analysis/loudness.h"
#include "core/io/files.h"
#include "core/picture/svg_picture.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

constexpr int kRate = 8000;

// 20 s of mono 16-bit at 8 kHz: a quiet tone, louder from 10 s on, and a
// burst at full scale at 5 s.
AnalysisResult analysedTone(bool loudness) {
  std::vector<std::int16_t> v(20 * kRate);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const double amplitude = i < 10 * kRate ? 1000 : 8000;
    v[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(i * 0.3)));
  }
  for (std::size_t i = 5 * kRate; i < 5 * kRate + 20; ++i) v[i] = 32767;
  v[15 * kRate] = -20000;
  WavFormat format{1, 1, 16, kRate};
  WavLayout layout;
  layout.framesInFile = layout.sampleFrames = static_cast<std::int64_t>(v.size());
  MemorySource source(test::pcm16(v));
  ScriptedHost host;
  ManualClock clock;
  return analyseSamples(source, format, layout, host, clock, '.', 1, loudness);
}

const Shape* find(const LevelPicture& p, Shape::Kind kind, Colour colour, int skip = 0) {
  for (const Shape& s : p.shapes) {
    if (s.kind == kind && s.colour == colour && skip-- == 0) return &s;
  }
  return nullptr;
}

TEST(LevelPictureTest, DrawsAColumnPerPixelRedOnlyWhereSamplesReachFullScale) {
  const LevelPicture p = drawLevels(analysedTone(false), kRate, 454, 120);
  const PictureLayout& l = p.layout;
  ASSERT_EQ(l.plotWidth, 400);
  const Shape* blue = find(p, Shape::Kind::kBars, Colour{47, 109, 181});
  const Shape* red = find(p, Shape::Kind::kBars, Colour{214, 30, 30});
  ASSERT_TRUE(blue && red);
  EXPECT_EQ(blue->points.size() / 3 + red->points.size() / 3, 400u);
  ASSERT_EQ(red->points.size(), 3u) << "one column holds the burst at 5 s";
  EXPECT_EQ(red->points[0], l.plotLeft + 100.5);
  EXPECT_NEAR(red->points[1], l.laneTop[0], 0.01) << "full scale reaches the lane's top";
  // The loud half's columns are taller than the quiet half's.
  auto heightAt = [&](double x) {
    for (std::size_t i = 0; i < blue->points.size(); i += 3) {
      if (blue->points[i] == l.plotLeft + x + 0.5) return blue->points[i + 2] - blue->points[i + 1];
    }
    return -1.0;
  };
  EXPECT_GT(heightAt(300), 4 * heightAt(50));
  EXPECT_EQ(l.loudnessHeight, 0) << "no loudness strip without the loudness";
}

TEST(LevelPictureTest, MarksTheReportsExtremesAndReadsThePointer) {
  const AnalysisResult r = analysedTone(true);
  const LevelPicture p = drawLevels(r, kRate, 454, 200);
  const Shape* max = find(p, Shape::Kind::kLine, Colour{0, 130, 70});
  const Shape* min = find(p, Shape::Kind::kLine, Colour{190, 100, 0});
  ASSERT_TRUE(max && min);
  EXPECT_NEAR(max->points[0], p.layout.plotLeft + 100, 0.01) << "the burst at 5 s";
  EXPECT_NEAR(min->points[0], p.layout.plotLeft + 300, 0.01) << "-20000 at 15 s";
  const PictureLayout& l = p.layout;
  EXPECT_EQ(pointerText(p, l.plotLeft + 200, l.laneTop[0] + l.laneHeight[0] / 4),
            "0:10.000  channel 1  50.0% (-6.0 dBFS)");
  EXPECT_EQ(pointerText(p, l.plotLeft - 1, l.laneTop[0]), "");
  EXPECT_EQ(pointerText(p, l.plotLeft + 20, l.loudnessTop + 1),
            "0:01.000  short-term loudness: none (the first 3 s)");
  EXPECT_NE(pointerText(p, l.plotLeft + 300, l.loudnessTop + 1).find(" LUFS"), std::string::npos);
}

TEST(LevelPictureTest, DrawsTheShortTermLoudnessAndTheIntegratedLevel) {
  const AnalysisResult r = analysedTone(true);
  const LevelPicture p = drawLevels(r, kRate, 454, 200);
  const PictureLayout& l = p.layout;
  ASSERT_GT(l.loudnessHeight, 0);
  ASSERT_EQ(l.shortTerm.size(), 200u - 30 + 1);
  const Shape* curve = find(p, Shape::Kind::kPolyline, Colour{120, 60, 170});
  ASSERT_TRUE(curve);
  EXPECT_NEAR(curve->points.front(), l.plotLeft + 60, 1.0) << "the first 3 s end at 60 px";
  EXPECT_LT(curve->points.back(), curve->points[1]) << "louder at the end: higher up";
  const Shape* integrated = find(p, Shape::Kind::kLine, Colour{25, 25, 25});
  ASSERT_TRUE(integrated && integrated->dashed);
  const double lufs = *integratedLoudness({&*r.loudness}).value;
  EXPECT_NEAR(integrated->points[1], l.loudnessTop + (0 - lufs) / 60.0 * l.loudnessHeight, 1e-9);
}

TEST(LevelPictureTest, SvgHoldsEveryShapeWithItsTextEscaped) {
  const LevelPicture p = drawLevels(analysedTone(true), kRate, 454, 200);
  const std::string svg = svgOf(p, "a&b <c> \"d\" \xff\x01");
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_NE(svg.find("width=\"454\" height=\"200\""), std::string::npos);
  EXPECT_NE(svg.find("<title>a&amp;b &lt;c&gt; &quot;d&quot; ?\?</title>"), std::string::npos);
  EXPECT_NE(svg.find("<path d=\"M146.5 4V"), std::string::npos) << "the red column at 5 s";
  EXPECT_NE(svg.find("stroke=\"#d61e1e\""), std::string::npos);
  EXPECT_NE(svg.find("<polyline points=\""), std::string::npos);
  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  std::size_t elements = 0;
  for (std::size_t at = svg.find("\n<"); at != std::string::npos; at = svg.find("\n<", at + 1)) {
    ++elements;
  }
  EXPECT_EQ(elements, p.shapes.size() + 3) << "the svg element, its title, the shapes, its end";
}

TEST(LevelPictureTest, ClockTextCarriesIntoMinutesAndHours) {
  EXPECT_EQ(clockText(59.6, 0), "1:00");
  EXPECT_EQ(clockText(3725.25, 2), "1:02:05.25");
  EXPECT_EQ(clockText(0.0005, 3), "0:00.001");
  EXPECT_EQ(fixedText(-6.02, 1), "-6.0");
}

}  // namespace
}  // namespace ril
