// Option bytes and a WAV file, through reading, analysis and the Modify
// command in memory; the output is checked against a sample-by-sample
// computation, and a failed run must leave every file as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "properties/properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = ril::properties::checkModify(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
