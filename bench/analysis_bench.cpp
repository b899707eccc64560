// Throughput of the analysis pass and its kernels, in frames per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/analysis/sample_statistics.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/integer_filter/chunk_filter.h"
#include "core/dsp/integer_filter/filter_chain.h"
#include "core/dsp/integer_filter/segmented_filter.h"
#include "core/dsp/planar_conversion.h"
#include "core/dsp/run_statistics.h"

namespace {

using ril::SampleAccumulator;
namespace k = ril::kernels;

// One block of 1 MiB of music-like sample bytes (a random walk, not white noise).
// Loud, it often sits at full scale, as a clipped recording does; otherwise it
// stays within half of it.
std::vector<unsigned char> block(int bits, bool loud = true) {
  const int high16 = loud ? 32767 : 16383, high8 = loud ? 255 : 191;
  std::vector<unsigned char> bytes(1 << 20);
  std::mt19937 rng(42);
  if (bits == 16) {
    int v[2] = {0, 0};
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      int& c = v[(i / 2) % 2];
      c = std::clamp(c + static_cast<int>(rng() % 2001) - 1000, -high16 - 1, high16);
      bytes[i] = static_cast<unsigned char>(c & 0xFF);
      bytes[i + 1] = static_cast<unsigned char>((c >> 8) & 0xFF);
    }
  } else {
    int c = 128;
    for (auto& b : bytes)
      b = static_cast<unsigned char>(c = std::clamp(c + int(rng() % 9) - 4, 255 - high8, high8));
  }
  return bytes;
}

void Accumulator(benchmark::State& st, int channels, int bits, bool deemphasis,
                 SampleAccumulator::Method method, bool loud = true) {
  const auto bytes = block(bits, loud);
  const std::int64_t frames = static_cast<std::int64_t>(bytes.size()) / (channels * bits / 8);
  SampleAccumulator acc(channels, bits, deemphasis, method);
  for (auto _ : st) {
    acc.addBlock(bytes.data(), frames);
    benchmark::DoNotOptimize(acc.records());
  }
  st.SetItemsProcessed(st.iterations() * frames);
  st.SetBytesProcessed(st.iterations() * static_cast<std::int64_t>(bytes.size()));
}

BENCHMARK_CAPTURE(Accumulator, stereo16_44k1_tuned, 2, 16, true, SampleAccumulator::Method::kTuned);
BENCHMARK_CAPTURE(Accumulator, stereo16_44k1_plain, 2, 16, true, SampleAccumulator::Method::kPlain);
BENCHMARK_CAPTURE(Accumulator, stereo16_48k_tuned, 2, 16, false, SampleAccumulator::Method::kTuned);
BENCHMARK_CAPTURE(Accumulator, mono8_44k1_tuned, 1, 8, true, SampleAccumulator::Method::kTuned);
BENCHMARK_CAPTURE(Accumulator, mono8_44k1_plain, 1, 8, true, SampleAccumulator::Method::kPlain);
BENCHMARK_CAPTURE(Accumulator, mono8_22k_tuned, 1, 8, false, SampleAccumulator::Method::kTuned);
// Never at full scale: no chunk needs the count of full-scale samples.
BENCHMARK_CAPTURE(Accumulator, stereo16_44k1_tuned_quiet, 2, 16, true,
                  SampleAccumulator::Method::kTuned, false);
BENCHMARK_CAPTURE(Accumulator, stereo16_48k_tuned_quiet, 2, 16, false,
                  SampleAccumulator::Method::kTuned, false);

// The statistics kernel alone: conversion to the 16-bit scale and the sums.
void StatisticsKernel(benchmark::State& st, int channels, int bits) {
  const auto bytes = block(bits);
  const std::int64_t frames = static_cast<std::int64_t>(bytes.size()) / (channels * bits / 8);
  const std::int64_t chunk = k::kChunkFrames;
  std::vector<std::int16_t> left(chunk), right(chunk);
  const std::int64_t frameBytes = channels * bits / 8;
  for (auto _ : st) {
    std::int64_t total = 0;
    for (std::int64_t s = 0; s < frames; s += chunk) {
      k::toPlanar16(bytes.data() + s * frameBytes, chunk, channels, bits, left.data(),
                    right.data());
      total += k::statsOf16(left.data(), chunk, k::Limits{}).sum;
      if (channels == 2) total += k::statsOf16(right.data(), chunk, k::Limits{}).sum;
    }
    benchmark::DoNotOptimize(total);
  }
  st.SetItemsProcessed(st.iterations() * frames);
}
BENCHMARK_CAPTURE(StatisticsKernel, stereo16, 2, 16);
BENCHMARK_CAPTURE(StatisticsKernel, mono8, 1, 8);

// The filter alone: input preparation and the recurrence, as one serial chain
// per channel, as the speculative segments of filterChunk, or as the pass runs
// it (ChunkFilter: vector lanes where AVX2 is there, with the statistics).
enum class FilterWay { kSerial, kSegmented, kPass };

void FilterKernel(benchmark::State& st, int channels, int bits, FilterWay way) {
  const auto bytes = block(bits);
  const std::int64_t frames = static_cast<std::int64_t>(bytes.size()) / (channels * bits / 8);
  const std::int64_t chunk = k::kChunkFrames;
  std::vector<std::int16_t> left(chunk + 16), right(chunk + 16);
  std::vector<std::uint64_t> prep(2 * k::kChannelStride);
  std::vector<std::int32_t> yb(2 * k::kChannelStride);
  std::int16_t* x[2] = {left.data() + 8, right.data() + 8};
  const std::int64_t frameBytes = channels * bits / 8;
  std::int64_t state[2] = {65536, 65536};
  k::ChunkFilter filter;
  for (auto _ : st) {
    for (std::int64_t s = 0; s < frames; s += chunk) {
      k::toPlanar16(bytes.data() + s * frameBytes, chunk, channels, bits, x[0], x[1]);
      if (way == FilterWay::kPass) {
        filter.run(channels, x, chunk, state);
        benchmark::DoNotOptimize(filter.stats(0));
        continue;
      }
      for (int c = 0; c < channels; ++c)
        k::filterPrep(x[c], chunk, prep.data() + c * k::kChannelStride);
      if (way == FilterWay::kSegmented) {
        k::filterChunk(channels, prep.data(), x, chunk, state, yb.data());
      } else if (channels == 2) {
        const std::int64_t d = k::kChannelStride;
        k::filterChain2(prep.data(), prep.data() + d, chunk, state[0], state[1], yb.data(),
                        yb.data() + d);
      } else {
        k::filterChain(prep.data(), chunk, state[0], yb.data());
      }
    }
    benchmark::DoNotOptimize(yb.data());
  }
  st.SetItemsProcessed(st.iterations() * frames);
}
BENCHMARK_CAPTURE(FilterKernel, stereo16_serial, 2, 16, FilterWay::kSerial);
BENCHMARK_CAPTURE(FilterKernel, stereo16_segmented, 2, 16, FilterWay::kSegmented);
BENCHMARK_CAPTURE(FilterKernel, stereo16_pass, 2, 16, FilterWay::kPass);
BENCHMARK_CAPTURE(FilterKernel, mono8_serial, 1, 8, FilterWay::kSerial);
BENCHMARK_CAPTURE(FilterKernel, mono8_segmented, 1, 8, FilterWay::kSegmented);
BENCHMARK_CAPTURE(FilterKernel, mono8_pass, 1, 8, FilterWay::kPass);

// The plain filter step, for comparison.
void PlainFilterStep(benchmark::State& st) {
  const auto bytes = block(16);
  const std::int64_t frames = static_cast<std::int64_t>(bytes.size()) / 4;
  const auto* s = reinterpret_cast<const std::int16_t*>(bytes.data());
  ril::DeemphasisFilter f[2];
  for (auto _ : st) {
    std::int64_t acc = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
      acc += f[0].step(s[2 * i]);
      acc += f[1].step(s[2 * i + 1]);
    }
    benchmark::DoNotOptimize(acc);
  }
  st.SetItemsProcessed(st.iterations() * frames);
}
BENCHMARK(PlainFilterStep);

}  // namespace
