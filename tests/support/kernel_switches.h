// The switches behind the kernels' test seam (core/dsp/kernel_switches.h).
// Linking them replaces the library's fixed answers; the program never does.
#pragma once

namespace ril::test {

// Lets the kernels take the AVX2 paths where the processor has them (the
// default), or keeps them to the baseline.
void allowWideVectors(bool allow);
// Lets the kernels take the AVX-512 paths among those (the default), or keeps
// them to AVX2.
void allowWidestVectors(bool allow);
// Makes every guess of the threads' ranges and parts wrong, so that each
// after the first is settled from the true state; off by default.
void spoilGuesses(bool spoil);

// Both switches as given while it lives, then back to the defaults.
class KernelPaths {
 public:
  explicit KernelPaths(bool wide, bool spoil = false) {
    allowWideVectors(wide);
    spoilGuesses(spoil);
  }
  ~KernelPaths() {
    allowWideVectors(true);
    spoilGuesses(false);
  }
  KernelPaths(const KernelPaths&) = delete;
  KernelPaths& operator=(const KernelPaths&) = delete;
};

}  // namespace ril::test
