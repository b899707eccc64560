#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/analysis/sample_statistics.h"
#include "core/wav/sample_blocks.h"
#include "support/kernel_switches.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using Method = SampleAccumulator::Method;

// Runs a check once with the kernels free to use AVX2 and once kept to the
// baseline, so both paths of the tuned method are compared.
template <typename Check>
void onBothVectorPaths(Check check) {
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "AVX2 where available" : "baseline vectors");
    test::allowWideVectors(wide);
    check();
  }
  test::allowWideVectors(true);
}

struct Format {
  int channels;
  int bits;
  bool deemphasis;
};

const Format kFormats[] = {{1, 8, false}, {1, 8, true},   {2, 8, true},  {2, 8, false},
                           {1, 16, true}, {1, 16, false}, {2, 16, true}, {2, 16, false}};

int frameBytes(const Format& f) {
  return f.channels * f.bits / 8;
}

// Runs the data through an accumulator in blocks of the given sizes (the rest
// in one last block).
StatsRecords accumulate(const Format& f, const Bytes& data, Method method,
                        const std::vector<std::int64_t>& blocks = {}) {
  SampleAccumulator acc(f.channels, f.bits, f.deemphasis, method);
  const std::int64_t frames = static_cast<std::int64_t>(data.size()) / frameBytes(f);
  std::int64_t done = 0;
  for (std::int64_t b : blocks) {
    b = std::min(b, frames - done);
    acc.addBlock(data.data() + done * frameBytes(f), b);
    done += b;
  }
  acc.addBlock(data.data() + done * frameBytes(f), frames - done);
  EXPECT_EQ(acc.frames(), frames);
  return acc.finish();
}

// The pass exactly as first written down: doubles for the sums, the filter in
// doubles rounded half to even, channel by channel.
StatsRecords literalReference(const Format& f, const Bytes& data) {
  struct Rec {
    std::int32_t min = 0, max = 0;
    std::int64_t minPos = 0, maxPos = 0;
    double sum = 0, sumSq = 0;
    std::int64_t fullScale = 0;
  } rec[4];
  const std::int64_t frames = static_cast<std::int64_t>(data.size()) / frameBytes(f);
  for (int c = 0; c < f.channels; ++c) {
    double x1 = 0, y1 = 0;
    for (std::int64_t k = 0; k < frames; ++k) {
      const std::int64_t i = k * f.channels + c;
      std::int32_t s = f.bits == 8
                           ? (data[i] - 128) * 256
                           : static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
      auto upd = [&](Rec& r, std::int32_t v, bool atLimit) {
        r.fullScale += atLimit;
        if (v > r.max) r.max = v, r.maxPos = k;
        if (v < r.min) r.min = v, r.minPos = k;
        r.sum += v;
        r.sumSq += static_cast<double>(v * v);
      };
      const bool stored =
          f.bits == 8 ? (data[i] == 0 || data[i] == 255) : (s == -32768 || s == 32767);
      upd(rec[c], s, stored);
      if (f.deemphasis) {
        double v = 15.5 * x1 + (-2.75) * s;
        v = v + 20.75 * y1;
        v = v / 33.5;
        const double y = std::nearbyint(v);
        x1 = s;
        y1 = y;
        upd(rec[c + 2], static_cast<std::int32_t>(y), y <= -32768 || y >= 32767);
      }
    }
  }
  StatsRecords out{};
  for (int r = 0; r < 4; ++r) {
    out[r].min = rec[r].min;
    out[r].max = rec[r].max;
    out[r].minPos = rec[r].minPos;
    out[r].maxPos = rec[r].maxPos;
    out[r].sum = static_cast<std::int64_t>(rec[r].sum);
    out[r].sumSq = static_cast<std::uint64_t>(rec[r].sumSq);
    out[r].fullScale = rec[r].fullScale;
    if (frames > 0) {
      out[r].avg = (rec[r].sum / static_cast<double>(frames)) / 32768.0;
      out[r].rms = std::sqrt(rec[r].sumSq / static_cast<double>(frames)) / 32768.0;
    }
  }
  return out;
}

Bytes randomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<unsigned char>(rng());
  return b;
}

// Sample bytes for a sequence of values on the 16-bit scale.
Bytes encode(const Format& f, const std::vector<std::int32_t>& values) {
  Bytes b;
  for (std::int32_t v : values) {
    if (f.bits == 8) {
      b.push_back(static_cast<unsigned char>(std::clamp(v / 256 + 128, 0, 255)));
    } else {
      test::putLe16(b, static_cast<std::uint16_t>(std::clamp(v, -32768, 32767)));
    }
  }
  return b;
}

void expectSameRecords(const StatsRecords& got, const StatsRecords& want) {
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE("record " + std::to_string(r + 1));
    EXPECT_EQ(got[r].min, want[r].min);
    EXPECT_EQ(got[r].minPos, want[r].minPos);
    EXPECT_EQ(got[r].max, want[r].max);
    EXPECT_EQ(got[r].maxPos, want[r].maxPos);
    EXPECT_EQ(got[r].sum, want[r].sum);
    EXPECT_EQ(got[r].sumSq, want[r].sumSq);
    EXPECT_EQ(got[r].fullScale, want[r].fullScale);
    EXPECT_EQ(got[r].avg, want[r].avg);
    EXPECT_EQ(got[r].rms, want[r].rms);
  }
}

TEST(SampleAccumulatorTest, PlainMethodMatchesTheLiteralDoubleReference) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(testing::Message() << f.channels << " ch " << f.bits << " bit");
    const Bytes data = randomBytes(frameBytes(f) * 5000, 7);
    expectSameRecords(accumulate(f, data, Method::kPlain), literalReference(f, data));
  }
}

TEST(SampleAccumulatorTest, TunedMethodEqualsPlainOnRandomDataAndRandomBlockSplits) {
  onBothVectorPaths([] {
    std::mt19937 rng(99);
    for (const Format& f : kFormats) {
      for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(testing::Message()
                     << f.channels << " ch " << f.bits << " bit, round " << round);
        const std::size_t frames = 1 + rng() % 40000;
        const Bytes data = randomBytes(frames * frameBytes(f), rng());
        std::vector<std::int64_t> blocks;
        for (int i = 0; i < 5; ++i) blocks.push_back(rng() % 9000);
        expectSameRecords(accumulate(f, data, Method::kTuned, blocks),
                          accumulate(f, data, Method::kPlain));
      }
    }
  });
}

// Inputs chosen to hit the corners: full-scale alternation, the sequence that
// drives the filter output furthest, long runs of equal extremes (first
// position must win), extremes that grow block after block, and slow ramps
// that produce many exact halves in the filter.
std::vector<std::vector<std::int32_t>> adversarialSignals(int frames) {
  std::vector<std::vector<std::int32_t>> out;
  std::vector<std::int32_t> s(frames);
  for (int n = 0; n < frames; ++n) s[n] = n % 2 ? -32768 : 32767;
  out.push_back(s);
  DeemphasisFilterDouble impulse;
  std::vector<double> h(64);
  for (int n = 0; n < 64; ++n) h[n] = impulse.step(n == 0 ? 1.0 : 0.0);
  for (int n = 0; n < frames; ++n) s[n] = h[63 - n % 64] >= 0 ? 32767 : -32768;
  out.push_back(s);
  for (int n = 0; n < frames; ++n) s[n] = (n % 1000 < 500) ? 32767 : -32768;
  out.push_back(s);
  for (int n = 0; n < frames; ++n) s[n] = -((n * 7) % 32768) - (n / 4096);
  out.push_back(s);
  for (int n = 0; n < frames; ++n) s[n] = (n * 67) % 65536 - 32768;
  out.push_back(s);
  for (int n = 0; n < frames; ++n) s[n] = (n / 3) % 2 ? 201 * (n % 5) : -67 * (n % 7);
  out.push_back(s);
  std::fill(s.begin(), s.end(), 0);
  out.push_back(s);
  std::fill(s.begin(), s.end(), -32768);
  out.push_back(s);
  return out;
}

TEST(SampleAccumulatorTest, TunedMethodEqualsPlainOnAdversarialSignals) {
  onBothVectorPaths([] {
    for (const Format& f : kFormats) {
      int index = 0;
      for (const auto& signal : adversarialSignals(70001)) {
        SCOPED_TRACE(testing::Message()
                     << f.channels << " ch " << f.bits << " bit, signal " << index++);
        std::vector<std::int32_t> interleaved;
        for (std::size_t n = 0; n < signal.size(); ++n) {
          interleaved.push_back(signal[n]);
          if (f.channels == 2) interleaved.push_back(-1 - signal[signal.size() - 1 - n]);
        }
        const Bytes data = encode(f, interleaved);
        expectSameRecords(accumulate(f, data, Method::kTuned, {4097, 1, 30000}),
                          accumulate(f, data, Method::kPlain));
      }
    }
  });
}

TEST(SampleAccumulatorTest, SegmentsThatStartInTheFiltersDeadBandAreRepaired) {
  // After an excitation dies away the rounded filter rests at 1 instead of 0
  // (83 / 134 rounds back up), so a segment that starts in the silence from
  // a guess of 0 is wrong all the way; another one meets the true run only
  // when the signal comes back.
  onBothVectorPaths([] {
    for (const Format& f : {Format{2, 16, true}, Format{1, 16, true}, Format{1, 8, true}}) {
      std::vector<std::int32_t> v(3 * 8192 + 77, 0);
      v[0] = 30000;
      for (int n = 5000; n < 5003; ++n) v[n] = -30000;
      for (int n = 14000; n < 15500; ++n) v[n] = (n * 7919) % 20000 - 10000;
      v[20000] = 25000;
      std::vector<std::int32_t> interleaved;
      for (std::int32_t s : v) {
        interleaved.push_back(s);
        if (f.channels == 2) interleaved.push_back(-s);
      }
      const Bytes data = encode(f, interleaved);
      DeemphasisFilter probe;
      std::int32_t rest = 0;
      for (int n = 0; n < 5000; ++n) rest = probe.step(f.bits == 8 ? (v[n] / 256) * 256 : v[n]);
      EXPECT_EQ(std::abs(rest), 1);  // the dead band really is there
      const StatsRecords plain = accumulate(f, data, Method::kPlain);
      expectSameRecords(accumulate(f, data, Method::kTuned), plain);
      expectSameRecords(accumulate(f, data, Method::kTuned, {8000, 5000}), plain);
    }
  });
}

TEST(SampleAccumulatorTest, BlockSplitsGiveTheSameRecordsAsOneContinuousRun) {
  const Format f{2, 16, true};
  const Bytes data = randomBytes(frameBytes(f) * 100000, 3);
  for (Method m : {Method::kPlain, Method::kTuned}) {
    const StatsRecords whole = accumulate(f, data, m);
    expectSameRecords(accumulate(f, data, m, {1, 2, 3, 262144}), whole);
    expectSameRecords(accumulate(f, data, m, {33333, 33333}), whole);
  }
}

TEST(SampleAccumulatorTest, ChannelTwoDoesNotDependOnChannelOne) {
  const Format f{2, 16, true};
  Bytes a = randomBytes(frameBytes(f) * 3000, 11);
  Bytes b = a;
  for (std::size_t i = 0; i < b.size(); i += 4) b[i] ^= 0x5A, b[i + 1] ^= 0xA5;  // channel 1 only
  for (Method m : {Method::kPlain, Method::kTuned}) {
    const StatsRecords ra = accumulate(f, a, m), rb = accumulate(f, b, m);
    EXPECT_EQ(ra[1], rb[1]);
    EXPECT_EQ(ra[3], rb[3]);
    EXPECT_NE(ra[2], rb[2]);
  }
}

TEST(SampleAccumulatorTest, MinAndMaxStartAtZeroAndKeepTheFirstPosition) {
  const Format f{1, 16, false};
  for (Method m : {Method::kPlain, Method::kTuned}) {
    std::vector<std::int32_t> v(20000, 5);
    v[3] = 900;
    v[9000] = 900;
    v[15000] = 900;
    const StatsRecords r = accumulate(f, encode(f, v), m, {4000, 4000});
    EXPECT_EQ(r[0].min, 0);
    EXPECT_EQ(r[0].minPos, 0);
    EXPECT_EQ(r[0].max, 900);
    EXPECT_EQ(r[0].maxPos, 3);
  }
}

TEST(SampleAccumulatorTest, EightBitBytesUseTheSixteenBitScale) {
  const Format f{1, 8, false};
  for (Method m : {Method::kPlain, Method::kTuned}) {
    const StatsRecords r = accumulate(f, Bytes{128, 0, 255, 128}, m);
    EXPECT_EQ(r[0].min, -32768);
    EXPECT_EQ(r[0].minPos, 1);
    EXPECT_EQ(r[0].max, 32512);
    EXPECT_EQ(r[0].maxPos, 2);
    EXPECT_EQ(r[0].sum, -256);
    EXPECT_EQ(r[0].sumSq, 32768ULL * 32768 + 32512ULL * 32512);
    EXPECT_EQ(r[0].fullScale, 2);  // the bytes 0 and 255
  }
}

TEST(SampleAccumulatorTest, NominalBlocksHoldOneMebibyteOfSamples) {
  EXPECT_EQ(nominalBlockFrames(1, 8), 1048576);
  EXPECT_EQ(nominalBlockFrames(2, 8), 524288);
  EXPECT_EQ(nominalBlockFrames(1, 16), 524288);
  EXPECT_EQ(nominalBlockFrames(2, 16), 262144);
}

}  // namespace
}  // namespace ril
