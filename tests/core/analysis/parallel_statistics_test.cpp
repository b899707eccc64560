#include "core/analysis/parallel_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "support/kernel_switches.h"
#include "support/shared_blocks.h"
#include "support/test_support.h"

namespace ril {
namespace {

struct Layout {
  int channels;
  int bits;
  bool deemphasis;
  int frameBytes() const { return channels * bits / 8; }
};

// The records of the data fed to a ParallelAccumulator in blocks of the given
// sizes (the rest in one last block), and how many parts it redid.
struct Parallel {
  StatsRecords records;
  std::int64_t repairs = 0;
};

// `shared`: two threads sharing each block, the partner reading its piece.
Parallel accumulateInParallel(const Layout& r, const test::Bytes& data, int threads,
                              const std::vector<std::int64_t>& blocks, bool spoil = false,
                              bool shared = false) {
  const std::int64_t frames = static_cast<std::int64_t>(data.size()) / r.frameBytes();
  test::spoilGuesses(spoil);
  ParallelAccumulator acc(r.channels, r.bits, r.deemphasis, threads, frames, shared);
  EXPECT_EQ(acc.sharesBlocks(), shared && threads == 2);
  std::int64_t done = 0;
  auto add = [&](std::int64_t n) {
    EXPECT_TRUE(test::addBlock(acc, data.data(), r.frameBytes(), done, n));
    done += n;
  };
  for (std::int64_t b : blocks) add(std::min(b, frames - done));
  add(frames - done);
  EXPECT_EQ(acc.frames(), frames);
  const Parallel result{acc.finish(), acc.repairs()};
  test::spoilGuesses(false);
  return result;
}

StatsRecords accumulatePlainly(const Layout& r, const test::Bytes& data) {
  SampleAccumulator acc(r.channels, r.bits, r.deemphasis, SampleAccumulator::Method::kPlain);
  acc.addBlock(data.data(), static_cast<std::int64_t>(data.size()) / r.frameBytes());
  return acc.finish();
}

test::Bytes samplesOf(const Layout& r, const std::vector<std::int32_t>& values) {
  test::Bytes b;
  for (std::int32_t v : values) {
    for (int c = 0; c < r.channels; ++c) {
      const std::int32_t s = c == 0 ? v : -1 - v;
      if (r.bits == 8) {
        b.push_back(static_cast<unsigned char>(std::clamp(s / 256 + 128, 0, 255)));
      } else {
        test::putLe16(b, static_cast<std::uint16_t>(std::clamp(s, -32768, 32767)));
      }
    }
  }
  return b;
}

const Layout kRuns[] = {{2, 16, true}, {1, 16, true}, {2, 8, true}, {1, 8, false}, {2, 16, false}};

TEST(ParallelAccumulatorTest, AnyThreadCountAndBlockSplitGivesThePlainRecords) {
  std::mt19937 rng(15);
  for (bool wide : {true, false}) {
    test::allowWideVectors(wide);
    for (const Layout& r : kRuns) {
      // Noise, and full scale throughout: every part then holds the extremes,
      // and the first frame of the file must keep them.
      std::vector<std::int32_t> noise(150000 + rng() % 50000);
      for (std::int32_t& v : noise) v = static_cast<std::int32_t>(rng() % 65536) - 32768;
      for (const std::vector<std::int32_t>& values :
           {noise, std::vector<std::int32_t>(140000, -32768)}) {
        const test::Bytes data = samplesOf(r, values);
        const StatsRecords plain = accumulatePlainly(r, data);
        for (int threads = 1; threads <= 4; ++threads) {
          SCOPED_TRACE(testing::Message() << r.channels << " ch " << r.bits << " bit, " << threads
                                          << " threads, wide " << wide);
          const std::vector<std::int64_t> blocks = {static_cast<std::int64_t>(rng() % 70000), 1,
                                                    static_cast<std::int64_t>(rng() % 40000)};
          EXPECT_EQ(accumulateInParallel(r, data, threads, blocks).records, plain);
          if (threads == 2) {
            EXPECT_EQ(accumulateInParallel(r, data, 2, blocks, false, true).records, plain);
          }
        }
      }
    }
  }
  test::allowWideVectors(true);
}

TEST(ParallelAccumulatorTest, PartsWhoseGuessIsWrongAreRedoneFromTheTrueState) {
  std::mt19937 rng(5);
  std::vector<std::int32_t> values(120000);
  for (std::int32_t& v : values) v = static_cast<std::int32_t>(rng() % 65536) - 32768;
  for (const Layout& r : {Layout{2, 16, true}, Layout{1, 8, true}}) {
    const test::Bytes data = samplesOf(r, values);
    for (bool shared : {false, true}) {
      const Parallel spoilt = accumulateInParallel(r, data, shared ? 2 : 3, {60000}, true, shared);
      EXPECT_GT(spoilt.repairs, 0);
      EXPECT_EQ(spoilt.records, accumulatePlainly(r, data));
    }
  }
}

TEST(ParallelAccumulatorTest, PartsThatStartInTheFiltersDeadBandAreRepaired) {
  // After the impulse the rounded filter rests at 1 for good, while a part
  // that starts in the silence guesses 0 from its input.
  std::vector<std::int32_t> values(100000, 0);
  values[10] = 30000;
  values[90000] = 20000;
  const Layout r{2, 16, true};
  const test::Bytes data = samplesOf(r, values);
  const Parallel run = accumulateInParallel(r, data, 4, {});
  EXPECT_GT(run.repairs, 0);
  EXPECT_EQ(run.records, accumulatePlainly(r, data));
}

}  // namespace
}  // namespace ril
