// A monotonic seconds clock for elapsed times.
#pragma once

namespace ril {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double seconds() = 0;  // monotonic, arbitrary origin
};

Clock& steadyClock();

// A clock tests set by hand.
class ManualClock : public Clock {
 public:
  double seconds() override { return now; }
  double now = 0.0;
};

}  // namespace ril
