#include "core/dsp/cpu_features.h"

#include "core/dsp/kernel_switches.h"

namespace ril::kernels {

__attribute__((weak)) bool wideVectorsAllowed() {
  return true;
}

__attribute__((weak)) bool widestVectorsAllowed() {
  return true;
}

__attribute__((weak)) bool spoilGuesses() {
  return false;
}

bool haveAvx2() {
#if RIL_AVX2
  static const bool have = __builtin_cpu_supports("avx2");
  return have && wideVectorsAllowed();
#else
  return false;
#endif
}

bool haveAvx512() {
#if RIL_AVX2
  static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512dq") &&
                           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  return have && wideVectorsAllowed() && widestVectorsAllowed();
#else
  return false;
#endif
}

}  // namespace ril::kernels
