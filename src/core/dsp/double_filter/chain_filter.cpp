#include "core/dsp/double_filter/chain_filter.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "core/dsp/cpu_features.h"
#include "core/dsp/double_filter/double_pair.h"
#include "core/dsp/double_filter/pcm_words.h"

namespace ril::kernels {

namespace {

// One channel's chain with the results limited silently. No calls inside,
// so the state stays in registers.
template <class Pcm, bool Follow>
bool channelChain(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                  int channels, int channel, double factor, DeemphasisFilterDouble& state,
                  FollowedFilter* follow) {
  DeemphasisFilterDouble filter = state;
  FollowedFilter f = Follow ? *follow : FollowedFilter{};
  bool clipped = false;
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::size_t k = static_cast<std::size_t>(i * channels + channel);
    if constexpr (Follow) f.step(Pcm::analysisValue(in[k]));
    const std::int64_t r = Pcm::roundFiltered(filter.step(Pcm::sampleValue(in[k]) * factor));
    clipped |= (r > Pcm::kHigh) | (r < Pcm::kLow);
    out[k] = Pcm::store(std::clamp(r, Pcm::kLow, Pcm::kHigh));
  }
  state = filter;
  if constexpr (Follow) *follow = f;
  return clipped;
}

template <class Pcm, bool Follow>
unsigned stereoChains(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                      double factor, DeemphasisFilterDouble* filters, FollowedFilter* follow) {
  DeemphasisFilterDouble f1 = filters[0], f2 = filters[1];
  FollowedFilter g1 = Follow ? follow[0] : FollowedFilter{};
  FollowedFilter g2 = Follow ? follow[1] : FollowedFilter{};
  bool c1 = false, c2 = false;
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::size_t k = static_cast<std::size_t>(2 * i);
    if constexpr (Follow) {
      g1.step(Pcm::analysisValue(in[k]));
      g2.step(Pcm::analysisValue(in[k + 1]));
    }
    const std::int64_t r1 = Pcm::roundFiltered(f1.step(Pcm::sampleValue(in[k]) * factor));
    const std::int64_t r2 = Pcm::roundFiltered(f2.step(Pcm::sampleValue(in[k + 1]) * factor));
    c1 |= (r1 > Pcm::kHigh) | (r1 < Pcm::kLow);
    c2 |= (r2 > Pcm::kHigh) | (r2 < Pcm::kLow);
    out[k] = Pcm::store(std::clamp(r1, Pcm::kLow, Pcm::kHigh));
    out[k + 1] = Pcm::store(std::clamp(r2, Pcm::kLow, Pcm::kHigh));
  }
  filters[0] = f1;
  filters[1] = f2;
  if constexpr (Follow) {
    follow[0] = g1;
    follow[1] = g2;
  }
  return (c1 ? 1u : 0u) | (c2 ? 2u : 0u);
}

#if RIL_SSE2
// Below this factor every filtered value stays well inside 32 bits: the
// output is at most 1.44 times the largest input (15.5 + 2.75 over
// 33.5 - 20.75), and the largest input is 32768 x factor.
constexpr double kPackedFactorLimit = 16384.0;

// stereoChains for 16 bits, both channels in the two lanes of one register
// through the same filter step: each lane does the same IEEE operations in
// the same order, so the results are those of the scalar loop, bit for bit.
// The rounding is floor(v + 0.5) as there (truncate, then step down where
// that went up), and the limiting is the saturation of the pack to 16 bits.
template <bool Follow>
unsigned stereoChainsSse2(const std::uint16_t* in, std::uint16_t* out, std::int64_t frames,
                          double factor, DeemphasisFilterDouble* filters, FollowedFilter* follow) {
  const DoublePair f(factor);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128i high = _mm_set1_epi32(32767);
  const __m128i low = _mm_set1_epi32(-32768);
  DoublePair prevIn(filters[0].prevInput, filters[1].prevInput);
  DoublePair prevOut(filters[0].prevOutput, filters[1].prevOutput);
  __m128i outside = _mm_setzero_si128();
  FollowedFilter g1 = Follow ? follow[0] : FollowedFilter{};
  FollowedFilter g2 = Follow ? follow[1] : FollowedFilter{};
  for (std::int64_t i = 0; i < frames; ++i) {
    if constexpr (Follow) {
      g1.step(Pcm16::analysisValue(in[2 * i]));
      g2.step(Pcm16::analysisValue(in[2 * i + 1]));
    }
    std::int32_t pair;
    std::memcpy(&pair, in + 2 * i, sizeof pair);
    __m128i w = _mm_cvtsi32_si128(pair);
    w = _mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16);  // the two samples, sign-extended
    const DoublePair x = DoublePair(_mm_cvtepi32_pd(w)) * f;
    const DoublePair v = deemphasisStep(prevIn, x, prevOut);
    prevIn = x;
    prevOut = v;
    const __m128d t = _mm_add_pd(v.vector(), half);
    __m128i r = _mm_cvttpd_epi32(t);
    const __m128d up = _mm_cmpgt_pd(_mm_cvtepi32_pd(r), t);
    r = _mm_add_epi32(r, _mm_shuffle_epi32(_mm_castpd_si128(up), 0x08));
    outside =
        _mm_or_si128(outside, _mm_or_si128(_mm_cmpgt_epi32(r, high), _mm_cmplt_epi32(r, low)));
    const std::int32_t stored = _mm_cvtsi128_si32(_mm_packs_epi32(r, r));
    std::memcpy(out + 2 * i, &stored, sizeof stored);
  }
  filters[0].prevInput = prevIn.first();
  filters[1].prevInput = prevIn.second();
  filters[0].prevOutput = prevOut.first();
  filters[1].prevOutput = prevOut.second();
  if constexpr (Follow) {
    follow[0] = g1;
    follow[1] = g2;
  }
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(outside))) & 3u;
}
#endif

}  // namespace

template <class Pcm>
bool filterChannel(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                   int channels, int channel, double factor, DeemphasisFilterDouble& filter,
                   FollowedFilter* follow) {
  return follow
             ? channelChain<Pcm, true>(in, out, frames, channels, channel, factor, filter, follow)
             : channelChain<Pcm, false>(in, out, frames, channels, channel, factor, filter,
                                        nullptr);
}

template <class Pcm>
unsigned filterStereo(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                      double factor, DeemphasisFilterDouble* filters, FollowedFilter* follow) {
#if RIL_SSE2
  if constexpr (std::is_same_v<Pcm, Pcm16>) {
    if (factor <= kPackedFactorLimit) {
      return follow ? stereoChainsSse2<true>(in, out, frames, factor, filters, follow)
                    : stereoChainsSse2<false>(in, out, frames, factor, filters, nullptr);
    }
  }
#endif
  return follow ? stereoChains<Pcm, true>(in, out, frames, factor, filters, follow)
                : stereoChains<Pcm, false>(in, out, frames, factor, filters, nullptr);
}

template bool filterChannel<Pcm8>(const std::uint8_t*, std::uint8_t*, std::int64_t, int, int,
                                  double, DeemphasisFilterDouble&, FollowedFilter*);
template bool filterChannel<Pcm16>(const std::uint16_t*, std::uint16_t*, std::int64_t, int, int,
                                   double, DeemphasisFilterDouble&, FollowedFilter*);
template unsigned filterStereo<Pcm8>(const std::uint8_t*, std::uint8_t*, std::int64_t, double,
                                     DeemphasisFilterDouble*, FollowedFilter*);
template unsigned filterStereo<Pcm16>(const std::uint16_t*, std::uint16_t*, std::int64_t, double,
                                      DeemphasisFilterDouble*, FollowedFilter*);

}  // namespace ril::kernels
