// Where tests steer the kernels: whether they may take the AVX2 paths (and of
// those the AVX-512 ones), and
// whether the segmented passes spoil their guesses (so that every segment
// after the first is settled from the true state, the path a wrong guess
// takes). The library's own definitions are weak and never change: every
// path the processor has, guesses as computed. Only tests link the
// definitions that replace them with switches (tests/support/kernel_switches).
#pragma once

namespace ril::kernels {

bool wideVectorsAllowed();
bool widestVectorsAllowed();
bool spoilGuesses();

}  // namespace ril::kernels
