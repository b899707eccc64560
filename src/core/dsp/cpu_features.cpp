#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {
bool wideAllowed = true;
}  // namespace

bool haveAvx2() {
#if RIL_AVX2
  static const bool have = __builtin_cpu_supports("avx2");
  return have && wideAllowed;
#else
  return false;
#endif
}

void allowWideVectors(bool allow) {
  wideAllowed = allow;
}

}  // namespace ril::kernels
