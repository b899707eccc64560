// Which vector instructions the kernels may use. SSE2 is the x86-64 baseline
// and decided at build time; AVX2 and AVX-512 code is built alongside (per
// function) and chosen at run time where the processor has it. Including this header
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

#include <cstdint>

namespace ril::kernels {

// Frames past the last a kernel takes that its vector loads may still
// touch (bytes of the frames after, whose values it leaves alone): a load
// is at most 64 bytes, and a frame at least one.
inline constexpr std::int64_t kLoadMargin = 64;

// True when the processor has AVX2 (and tests have not kept the kernels to
// the baseline, kernel_switches.h).
bool haveAvx2();
// True when it also has AVX-512 (F, DQ, BW, VL), under the same switch and
// one of its own: the kernels that have such a path take it before AVX2.
bool haveAvx512();

}  // namespace ril::kernels
