// A clock tests set by hand.
#pragma once

#include "core/base/clock.h"

namespace ril {

class ManualClock : public Clock {
 public:
  double seconds() override { return now; }
  double now = 0.0;
};

}  // namespace ril
