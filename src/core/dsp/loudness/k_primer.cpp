#include "core/dsp/loudness/k_primer.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

// What the response beyond its cut may weigh at most.
constexpr double kCut = 1e-13;

// Sums a and b of pairDot from their partial sums, in order.
void addUp(const double* sa, const double* sb, double& a, double& b) {
  a = sa[0];
  b = sb[0];
  for (int j = 1; j < kDotLanes; ++j) {
    a = a + sa[j];
    b = b + sb[j];
  }
}

void pairDotScalar(const double* r, const double* p, std::int64_t n, double& a, double& b) {
  double sa[kDotLanes] = {}, sb[kDotLanes] = {};
  for (std::int64_t i = 0; i < n; i += kDotLanes) {
    for (int j = 0; j < kDotLanes; ++j) {
      sa[j] = sa[j] + r[i + j] * p[i + j];
      sb[j] = sb[j] + r[i + j] * p[i + j - 1];
    }
  }
  addUp(sa, sb, a, b);
}

#if RIL_AVX2
__attribute__((target("avx2"))) void pairDotAvx2(const double* r, const double* p, std::int64_t n,
                                                 double& a, double& b) {
  constexpr int V = kDotLanes / 4;
  __m256d sa[V], sb[V];
  for (int k = 0; k < V; ++k) sa[k] = sb[k] = _mm256_setzero_pd();
  for (std::int64_t i = 0; i < n; i += kDotLanes) {
#pragma GCC unroll 4
    for (int k = 0; k < V; ++k) {
      const __m256d w = _mm256_loadu_pd(r + i + 4 * k);
      sa[k] = _mm256_add_pd(sa[k], _mm256_mul_pd(w, _mm256_loadu_pd(p + i + 4 * k)));
      sb[k] = _mm256_add_pd(sb[k], _mm256_mul_pd(w, _mm256_loadu_pd(p + i + 4 * k - 1)));
    }
  }
  alignas(32) double pa[kDotLanes], pb[kDotLanes];
  for (int k = 0; k < V; ++k) {
    _mm256_store_pd(pa + 4 * k, sa[k]);
    _mm256_store_pd(pb + 4 * k, sb[k]);
  }
  addUp(pa, pb, a, b);
}

// Two vectors of eight partial sums for each product.
__attribute__((target("avx512f"))) void pairDotAvx512(const double* r, const double* p,
                                                      std::int64_t n, double& a, double& b) {
  constexpr int V = kDotLanes / 8;
  __m512d sa[V], sb[V];
  for (int k = 0; k < V; ++k) sa[k] = sb[k] = _mm512_setzero_pd();
  for (std::int64_t i = 0; i < n; i += kDotLanes) {
#pragma GCC unroll 2
    for (int k = 0; k < V; ++k) {
      const __m512d w = _mm512_loadu_pd(r + i + 8 * k);
      sa[k] = _mm512_add_pd(sa[k], _mm512_mul_pd(w, _mm512_loadu_pd(p + i + 8 * k)));
      sb[k] = _mm512_add_pd(sb[k], _mm512_mul_pd(w, _mm512_loadu_pd(p + i + 8 * k - 1)));
    }
  }
  alignas(64) double pa[kDotLanes], pb[kDotLanes];
  for (int k = 0; k < V; ++k) {
    _mm512_store_pd(pa + 8 * k, sa[k]);
    _mm512_store_pd(pb + 8 * k, sb[k]);
  }
  addUp(pa, pb, a, b);
}
#endif

// The first `h`'s taps that matter, last first: as many as leave the rest
// weighing at most kCut, made up to a multiple of kDotLanes.
std::vector<double> cutReversed(const std::vector<double>& h) {
  std::size_t n = h.size();
  for (double rest = 0; n > 0 && rest + std::fabs(h[n - 1]) <= kCut; --n) {
    rest += std::fabs(h[n - 1]);
  }
  n = std::min(h.size(), (n + kDotLanes - 1) / kDotLanes * kDotLanes);
  n = std::max<std::size_t>(n, kDotLanes);
  std::vector<double> r(n, 0.0);
  for (std::size_t i = 0; i < n && i < h.size(); ++i) r[n - 1 - i] = h[i];
  return r;
}

}  // namespace

void pairDot(const double* r, const double* p, std::int64_t n, double& a, double& b) {
#if RIL_AVX2
  if (haveAvx512()) return pairDotAvx512(r, p, n, a, b);
  if (haveAvx2()) return pairDotAvx2(r, p, n, a, b);
#endif
  pairDotScalar(r, p, n, a, b);
}

KPrimer::KPrimer(const KWeighting& k) {
  // The responses die away as n q^n, q the high-pass's pole radius (the
  // shelf's are far smaller): taken until that is 1e-20, so that what is
  // cut off is known.
  const double q = std::sqrt(std::max(k.highPass.a2, 0.0));
  std::int64_t length = 64;
  while (static_cast<double>(length) * std::pow(q, static_cast<double>(length)) > 1e-20 &&
         length < (std::int64_t{1} << 24)) {
    length += length / 8;
  }
  // In extended precision: in double, the high-pass's poles near 1 would
  // carry the rounding of each step far enough to reach 1e-12.
  std::vector<double> u(static_cast<std::size_t>(length)), y(u.size());
  using Wide = long double;
  const Biquad& p = k.shelf;
  const Biquad& h = k.highPass;
  Wide x1 = 0, x2 = 0, u1 = 0, u2 = 0, y1 = 0, y2 = 0;
  for (std::size_t i = 0; i < u.size(); ++i) {
    const Wide x = i == 0 ? 1 : 0;
    const Wide un =
        Wide{p.b0} * x + Wide{p.b1} * x1 + Wide{p.b2} * x2 - Wide{p.a1} * u1 - Wide{p.a2} * u2;
    const Wide yn = un - 2 * u1 + u2 - Wide{h.a1} * y1 - Wide{h.a2} * y2;
    x2 = x1;
    x1 = x;
    u2 = u1;
    u1 = un;
    y2 = y1;
    y1 = yn;
    u[i] = static_cast<double>(un);
    y[i] = static_cast<double>(yn);
  }
  shelf_ = cutReversed(u);
  cascade_ = cutReversed(y);
  frames_ = static_cast<std::int64_t>(std::max(shelf_.size(), cascade_.size())) + 1;
}

KState KPrimer::state(const double* x) const {
  KState st;
  const auto nu = static_cast<std::int64_t>(shelf_.size());
  const auto ny = static_cast<std::int64_t>(cascade_.size());
  st.s[kX1] = x[-1];
  st.s[kX2] = x[-2];
  pairDot(shelf_.data(), x - nu, nu, st.s[kU1], st.s[kU2]);
  pairDot(cascade_.data(), x - ny, ny, st.s[kY1], st.s[kY2]);
  return st;
}

std::shared_ptr<const KPrimer> kPrimerFor(double sampleRate) {
  static std::mutex mutex;
  static std::map<double, std::shared_ptr<const KPrimer>> made;
  const std::lock_guard lock(mutex);
  if (made.size() >= 16 && !made.contains(sampleRate)) made.clear();  // a few rates are the rule
  std::shared_ptr<const KPrimer>& p = made[sampleRate];
  if (!p) p = std::make_shared<const KPrimer>(kWeightingFor(sampleRate));
  return p;
}

}  // namespace ril::kernels
