// A monotonic seconds clock for elapsed times.
#pragma once

namespace ril {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double seconds() = 0;  // monotonic, arbitrary origin
};

Clock& steadyClock();

}  // namespace ril
