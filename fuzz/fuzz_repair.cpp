// Arbitrary bytes as a WAV file, through the repair planner and the repair.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "properties/properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = ril::properties::checkRepair(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
