// Float samples that are no levels (NaN, infinities) count as 0 in every
// figure and are written back as they were; finite samples of any magnitude
// give finite figures.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/peak_scan.h"
#include "core/modify/volume_policy.h"
#include "core/wav/wav_header_reader.h"
#include "support/analysed_file.h"
#include "support/format_files.h"
#include "support/memory_file_system.h"
#include "support/modify_test_support.h"
#include "support/scripted_host.h"

namespace ril {
namespace {

using test::Bytes;
using test::FormatCase;

const FormatCase kFloat32{"32 bit float", 3, 32, 2, 44100};
const FormatCase kFloat64{"64 bit float", 3, 64, 1, 44100};
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kSignallingNan = std::numeric_limits<float>::signaling_NaN();

// Float samples in [-0.9, 0.9), the same for the same seed; with
// `nonFinite` NaN and infinities among them, 0 in their places without.
std::vector<float> floatSamples(std::size_t count, bool nonFinite) {
  std::vector<float> v(count);
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < count; ++i) {
    x = x * 1664525u + 1013904223u;
    v[i] = static_cast<float>(static_cast<double>(x >> 8) / 16777216.0 * 1.8 - 0.9);
    const float special = i % 997 == 3    ? kNan
                          : i % 1231 == 7 ? kInf
                          : i % 1499 == 0 ? -kInf
                          : i % 4001 == 1 ? kSignallingNan
                                          : 1.0f;
    if (special != 1.0f) v[i] = nonFinite ? special : 0.0f;
  }
  return v;
}

template <class T>
Bytes bytesOf(const std::vector<T>& v) {
  Bytes b(v.size() * sizeof(T));
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

using Read = test::AnalysedFile;

Read analyse(const Bytes& file, int threads) {
  return test::analyseBytes(file, threads);
}

TEST(NonFiniteSamples, CountAsZeroInEveryFigureAndAreCountedOnOneLine) {
  const std::size_t count = 2 * 150001;
  const std::vector<float> withThem = floatSamples(count, true);
  std::int64_t expected = 0;
  for (float v : withThem) expected += std::isfinite(v) ? 0 : 1;
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    const Read bad = analyse(test::formatFile(kFloat32, bytesOf(withThem)), threads);
    const Read zero =
        analyse(test::formatFile(kFloat32, bytesOf(floatSamples(count, false))), threads);
    ASSERT_TRUE(bad.result.complete());
    EXPECT_EQ(bad.result.nonFiniteSamples, expected);
    EXPECT_EQ(zero.result.nonFiniteSamples, 0);
    EXPECT_EQ(bad.result.stored, zero.result.stored);
    EXPECT_EQ(bad.result.filtered, zero.result.filtered);
    EXPECT_EQ(bad.result.peakValue, zero.result.peakValue);
    EXPECT_EQ(bad.result.overview, zero.result.overview);
    // The loudness and true peak lines and everything else alike, the line
    // that counts them after the first table besides.
    const std::string line = "Samples that are not numbers or infinite:\t" +
                             std::to_string(expected) + " (counted as 0)\r\n";
    std::string report = bad.report;
    const std::size_t at = report.find(line);
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_LT(at, report.find("After application of De-emphasis:"));
    report.erase(at, line.size());
    EXPECT_EQ(report, zero.report);
  }
}

TEST(NonFiniteSamples, HugeFiniteSamplesGiveFiniteFiguresAsExactAsOrdinaryOnes) {
  // Ordinary values before and among the huge ones, which are summed apart.
  std::vector<double> v(100000);
  for (std::size_t i = 0; i < v.size(); ++i) {
    v[i] = 0.25 * std::sin(static_cast<double>(i));
    if (i > 5000 && i % 101 == 0) v[i] = (i % 2 ? -3e302 : 1e305);
  }
  v[7000] = DBL_MAX;
  v[7001] = -DBL_MAX;
  const Read r = analyse(test::formatFile(kFloat64, bytesOf(v)), 2);
  ASSERT_TRUE(r.result.complete());
  long double sum = 0, sumSq = 0;
  for (double x : v) {
    sum += x;
    sumSq += static_cast<long double>(x) * x;
  }
  const auto n = static_cast<long double>(v.size());
  const ChannelFigures& stored = r.result.stored[0];
  EXPECT_EQ(stored.max, DBL_MAX);
  EXPECT_EQ(stored.min, -DBL_MAX);
  EXPECT_NEAR(stored.avg / static_cast<double>(sum / n), 1.0, 1e-12);
  EXPECT_NEAR(stored.rms / static_cast<double>(std::sqrt(sumSq / n)), 1.0, 1e-12);
  for (const ChannelFigures& f : {stored, r.result.filtered[0]}) {
    for (double x : {f.min, f.max, f.avg, f.rms}) EXPECT_TRUE(std::isfinite(x)) << x;
  }
  std::string lower = r.report;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(lower.find("inf"), std::string::npos) << r.report;
  EXPECT_EQ(lower.find("nan"), std::string::npos) << r.report;
  EXPECT_NE(r.report.find("True peak\t"), std::string::npos);
}

TEST(NonFiniteSamples, PeakTooSmallForItsFactorSaysSoInsteadOfInfinity) {
  // 1e-309 is subnormal: 10 / peak is beyond the largest double, and so is
  // the percentage of 5e-307's factor; 1e-300's is written as ever.
  for (const double peak : {1.0e-309, 5.0e-307, 1.0e-300}) {
    std::vector<double> v(64, 0.0);
    v[5] = peak;
    const Read r = analyse(test::formatFile(kFloat64, bytesOf(v)), 1);
    ASSERT_TRUE(r.result.complete());
    std::string lower = r.report;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.find("inf"), std::string::npos) << r.report;
    const bool writable = peak == 1.0e-300;
    EXPECT_EQ(r.report.find("Volume of original data may be") != std::string::npos, writable);
    EXPECT_EQ(r.report.find(tinyPeakLine(false, ReportFormat{})) != std::string::npos, !writable)
        << r.report;
  }
}

// The modified file's float samples.
std::vector<float> floatsOf(const test::ModifyHarness& h, const Bytes& out) {
  const auto offset = static_cast<std::size_t>(h.target.header.layout.dataOffset);
  std::vector<float> v((out.size() - offset) / 4);
  std::memcpy(v.data(), out.data() + offset, v.size() * 4);
  return v;
}

std::vector<float> modified(const std::vector<float>& samples, bool deemphasis, bool maximize,
                            double& peak) {
  test::ModifyHarness h;
  h.load(test::formatFile(kFloat32, bytesOf(samples)));
  const AnalysisResult a = analyse(test::formatFile(kFloat32, bytesOf(samples)), 1).result;
  peak = storedPeak(realFileSystem(), h.path(), h.target.header);
  EXPECT_EQ(peak, a.peakValue[0]);
  h.request.volumeTenths = 500;
  h.request.maximize = maximize;
  h.request.deemphasis = deemphasis;
  h.request.maxGain = safeGainFor(a.sample, a.peakValue[0], a.peakValue[1], deemphasis);
  h.request.peakToDivideBy = maximize ? peak : 0.0;
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  return floatsOf(h, test::readFile(h.progDir + "a.wav"));
}

TEST(NonFiniteSamples, AreWrittenBackAsTheyWereAndLeaveTheFilterAsZeroWould) {
  const std::size_t count = 2 * 50001;
  const std::vector<float> withThem = floatSamples(count, true);
  const std::vector<float> zeros = floatSamples(count, false);
  for (const auto& [deemphasis, maximize] : {std::pair{true, false}, std::pair{false, false},
                                             std::pair{false, true}, std::pair{true, true}}) {
    SCOPED_TRACE(std::string(deemphasis ? "de-emphasis " : "") + (maximize ? "maximize" : "50%"));
    double peakBad = 0, peakZero = 0;
    const std::vector<float> bad = modified(withThem, deemphasis, maximize, peakBad);
    const std::vector<float> good = modified(zeros, deemphasis, maximize, peakZero);
    EXPECT_EQ(peakBad, peakZero);
    ASSERT_EQ(bad.size(), count);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const bool kept = !std::isfinite(withThem[i]);
      const bool same = kept ? std::memcmp(&bad[i], &withThem[i], 4) == 0
                             : std::memcmp(&bad[i], &good[i], 4) == 0;
      wrong += same ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0u);
  }
}

}  // namespace
}  // namespace ril
