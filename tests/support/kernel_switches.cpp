#include "support/kernel_switches.h"

#include <atomic>

#include "core/dsp/kernel_switches.h"

namespace ril {

namespace {
// Read by the kernels on any thread.
std::atomic<bool> wide{true};
std::atomic<bool> widest{true};
std::atomic<bool> spoil{false};
}  // namespace

// These replace the library's weak definitions.
bool kernels::wideVectorsAllowed() {
  return wide.load(std::memory_order_relaxed);
}

bool kernels::widestVectorsAllowed() {
  return widest.load(std::memory_order_relaxed);
}

bool kernels::spoilGuesses() {
  return spoil.load(std::memory_order_relaxed);
}

void test::allowWideVectors(bool allow) {
  wide.store(allow, std::memory_order_relaxed);
}

void test::allowWidestVectors(bool allow) {
  widest.store(allow, std::memory_order_relaxed);
}

void test::spoilGuesses(bool on) {
  spoil.store(on, std::memory_order_relaxed);
}

}  // namespace ril
