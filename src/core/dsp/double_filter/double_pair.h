// Two doubles side by side, for running two channels through the same
// arithmetic at once (deemphasisStep<DoublePair>). Every operator is the IEEE
// operation of double, done lane by lane, so each lane gives exactly what a
// plain double gives.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ril {

#if defined(__SSE2__)

class DoublePair {
 public:
  DoublePair() = default;
  // Both lanes the same value.
  explicit DoublePair(double both) : v_(_mm_set1_pd(both)) {}
  DoublePair(double first, double second) : v_(_mm_set_pd(second, first)) {}
  explicit DoublePair(__m128d v) : v_(v) {}

  __m128d vector() const { return v_; }
  double first() const { return _mm_cvtsd_f64(v_); }
  double second() const { return _mm_cvtsd_f64(_mm_unpackhi_pd(v_, v_)); }

  friend DoublePair operator+(DoublePair a, DoublePair b) {
    return DoublePair(_mm_add_pd(a.v_, b.v_));
  }
  friend DoublePair operator*(DoublePair a, DoublePair b) {
    return DoublePair(_mm_mul_pd(a.v_, b.v_));
  }
  friend DoublePair operator/(DoublePair a, DoublePair b) {
    return DoublePair(_mm_div_pd(a.v_, b.v_));
  }

 private:
  __m128d v_ = _mm_setzero_pd();
};

#else

class DoublePair {
 public:
  DoublePair() = default;
  explicit DoublePair(double both) : first_(both), second_(both) {}
  DoublePair(double first, double second) : first_(first), second_(second) {}

  double first() const { return first_; }
  double second() const { return second_; }

  friend DoublePair operator+(DoublePair a, DoublePair b) {
    return DoublePair(a.first_ + b.first_, a.second_ + b.second_);
  }
  friend DoublePair operator*(DoublePair a, DoublePair b) {
    return DoublePair(a.first_ * b.first_, a.second_ * b.second_);
  }
  friend DoublePair operator/(DoublePair a, DoublePair b) {
    return DoublePair(a.first_ / b.first_, a.second_ / b.second_);
  }

 private:
  double first_ = 0.0;
  double second_ = 0.0;
};

#endif

}  // namespace ril
