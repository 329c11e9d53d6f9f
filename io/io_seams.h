// What the I/O layer needs from the driver above it, as a narrow interface: the session's status
// setting.
#pragma once

#include <cstdint>

namespace vmk {

class IoHost {
 public:
  // The session's QueryInstrumentStatus setting, read before every status poll.
  virtual bool QueryInstrumentStatus() const = 0;

 protected:
  ~IoHost() = default;
};

// lTimeout values of the I/O operations besides a count of milliseconds.
constexpr int32_t kIoTimeoutKeep = -2;
constexpr int32_t kIoTimeoutInfinite = -1;

}  // namespace vmk
