#include "core/base/clock.h"

#include <chrono>

namespace ril {

namespace {
class SteadyClock : public Clock {
 public:
  double seconds() override {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
  }
};
}  // namespace

Clock& steadyClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace ril
