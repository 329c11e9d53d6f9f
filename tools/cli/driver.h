// The tool's view of the driver: a session over the C interface that turns failing statuses into
// exceptions carrying the driver's text, and the attributes by the names people type.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vmk40xx/vmk40xx_c.h"

namespace vmkcli {

// A failure the driver reported: its status and its description. Exit code 1.
struct DriverError : std::runtime_error {
  DriverError(ViStatus s, const std::string& text) : std::runtime_error(text), status(s) {}
  ViStatus status;
};

// A command line that asks for something that cannot be: exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Type { Boolean, Int32, Real64, String };
enum class Access { RW, RO, WO };
enum class Repcap { None, Output, Trigger };

struct Attribute {
  ViAttr id;
  const char* cname;  // the macro name without VMK40XX_ATTR_
  const char* path;   // "Display.Text"; for a per-instance row the part after the instance
  Type type;
  Access access;
  Repcap repcap;
};

std::span<const Attribute> Attributes();
const char* TypeName(Type t);
const char* AccessName(Access a);
// "Display.Text", or "Output<n>.VoltageLevel" for a per-output row.
std::string ListName(const Attribute& a);

// "Output2.VoltageLevel": the row and the instance the driver is given as channel name. The
// instance part may be any name the session knows (a virtual name of the store too); the row
// names compare without regard to case.
struct Resolved {
  const Attribute* attribute;
  std::string channel;
};
std::optional<Resolved> Resolve(std::string_view name);

using Value = std::variant<bool, int32_t, double, std::string>;
std::string FormatValue(const Value& v);
std::string JsonValue(const Value& v);
std::string JsonString(std::string_view s);
std::string FormatReal(double v);

// The error recorded with `vi` (VI_NULL: with this thread), as an exception to throw.
DriverError TakeError(ViSession vi, ViStatus status);

class Session {
 public:
  // Opens the instrument (identification query on, no reset). Throws DriverError.
  Session(const std::string& resource, const std::string& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ViSession vi() const { return vi_; }
  // Throws the recorded error when `status` is an error; warnings pass.
  void Check(ViStatus status) const;

  Value Get(const Resolved& r) const;
  // `text` in the attribute's type: true/false/on/off/1/0, a decimal integer, a number, text.
  void Set(const Resolved& r, std::string_view text) const;

  std::string StringAttribute(ViAttr id) const;
  int32_t IntAttribute(ViAttr id) const;
  std::vector<std::string> OutputNames() const;
  std::vector<std::string> TriggerNames() const;

 private:
  ViSession vi_ = VI_NULL;
};

bool ParseBool(std::string_view text, bool* value);

}  // namespace vmkcli
