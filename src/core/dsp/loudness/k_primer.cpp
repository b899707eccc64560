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

// The cascade's response to a unit impulse, a step at a time, in extended
// precision: in double, the high-pass's poles near 1 would carry the rounding
// of each step far enough to reach 1e-12.
class Impulse {
 public:
  explicit Impulse(const KWeighting& k) : p_(k.shelf), h_(k.highPass) {}
  // The shelf's and the cascade's next outputs.
  void next(long double& u, long double& y) {
    using W = long double;
    u = W{p_.b0} * x_ + W{p_.b1} * x1_ + W{p_.b2} * x2_ - W{p_.a1} * u1_ - W{p_.a2} * u2_;
    y = u - 2 * u1_ + u2_ - W{h_.a1} * y1_ - W{h_.a2} * y2_;
    x2_ = x1_;
    x1_ = x_;
    x_ = 0;
    u2_ = u1_;
    u1_ = u;
    y2_ = y1_;
    y1_ = y;
  }

 private:
  Biquad p_, h_;
  long double x_ = 1, x1_ = 0, x2_ = 0, u1_ = 0, u2_ = 0, y1_ = 0, y2_ = 0;
};

// Taps of a response are kept while what is left of it weighs more than
// kCut, and on to a multiple of kDotLanes (at least one).
struct Taps {
  long double total = 0, kept = 0;
  std::vector<double> h;
  bool done = false;
  void offer(long double v) {
    if (done) return;
    if (!h.empty() && h.size() % kDotLanes == 0 && total - kept <= kCut) {
      done = true;
      return;
    }
    h.push_back(static_cast<double>(v));
    kept += std::fabs(v);
  }
  std::vector<double> reversed() const { return {h.rbegin(), h.rend()}; }
};

// Longer responses than this are not cut: their rates are too high for a
// block ever to hold a second segment.
constexpr std::int64_t kLongestResponse = std::int64_t{1} << 18;

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
  // shelf's are far smaller): summed until that is 1e-20, so that what is
  // cut off is known, and then taken again as far as they matter.
  const double q = std::sqrt(std::max(k.highPass.a2, 0.0));
  std::int64_t length = 64;
  while (static_cast<double>(length) * std::pow(q, static_cast<double>(length)) > 1e-20) {
    if (length > kLongestResponse) return;  // frames_ stays kNoPrimer
    length += length / 8;
  }
  Taps shelf, cascade;
  long double u = 0, y = 0;
  Impulse first(k);
  for (std::int64_t i = 0; i < length; ++i) {
    first.next(u, y);
    shelf.total += std::fabs(u);
    cascade.total += std::fabs(y);
  }
  Impulse again(k);
  for (std::int64_t i = 0; i < length && !(shelf.done && cascade.done); ++i) {
    again.next(u, y);
    shelf.offer(u);
    cascade.offer(y);
  }
  if (!shelf.done || !cascade.done) return;
  shelf_ = shelf.reversed();
  cascade_ = cascade.reversed();
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
