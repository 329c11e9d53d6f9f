// What the I/O layer needs from the driver above it, as narrow interfaces: the session's status
// setting, the enumeration keyword tables and the tracer.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vmk {

class IoHost {
 public:
  // The session's QueryInstrumentStatus setting, read before every status poll.
  virtual bool QueryInstrumentStatus() const = 0;

 protected:
  ~IoHost() = default;
};

// The instrument keywords of one enumeration type.
class KeywordLookup {
 public:
  virtual bool ValueOf(std::string_view keyword, int32_t* value) const = 0;
  virtual ~KeywordLookup() = default;
};

struct IoTraceParam {
  std::string_view name;
  std::string value;
};

// Receives one record per I/O manager operation; the tracer fills it in.
class IoTraceSink {
 public:
  virtual void TraceIo(std::string_view className, std::string_view operation,
                       std::span<const IoTraceParam> params) = 0;

 protected:
  ~IoTraceSink() = default;
};

// lTimeout values of the I/O operations besides a count of milliseconds.
constexpr int32_t kIoTimeoutKeep = -2;
constexpr int32_t kIoTimeoutInfinite = -1;

}  // namespace vmk
