// Which vector instructions the kernels may use. SSE2 is the x86-64 baseline
// and decided at build time; AVX2 code is built alongside (per function) and
// chosen at run time where the processor has it. Including this header
// brings the intrinsics of both.
#pragma once

#if defined(__SSE2__)
#define RIL_SSE2 1
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define RIL_AVX2 1
#include <immintrin.h>
#endif

namespace ril::kernels {

// True when the processor has AVX2 and the kernels are allowed to use it.
bool haveAvx2();

// Lets the kernels use AVX2 where the processor has it (the default), or
// keeps them to the baseline; for tests of both paths.
void allowWideVectors(bool allow);

}  // namespace ril::kernels
