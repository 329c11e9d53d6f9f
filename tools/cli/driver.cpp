#include "driver.h"

#include <strings.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vmkcli {
namespace {

constexpr Type ViBoolean_ = Type::Boolean;
constexpr Type ViInt32_ = Type::Int32;
constexpr Type ViReal64_ = Type::Real64;
constexpr Type ViString_ = Type::String;

constexpr Attribute kAttributes[] = {
#define VMK_ATTRIBUTE(id, cname, path, type, access, repcap) \
  {id, cname, path, type##_, Access::access, Repcap::repcap},
#include "attribute_names.inc"
#undef VMK_ATTRIBUTE
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string> Names(ViSession vi, ViAttr countId,
                               ViStatus (*name)(ViSession, ViInt32, ViInt32, ViChar*),
                               const Session& s) {
  ViInt32 count = 0;
  s.Check(VmK40xx_GetAttributeViInt32(vi, "", countId, &count));
  std::vector<std::string> out;
  for (ViInt32 i = 1; i <= count; ++i) {
    ViChar text[256];
    s.Check(name(vi, i, sizeof text, text));
    out.emplace_back(text);
  }
  return out;
}

}  // namespace

std::span<const Attribute> Attributes() {
  return kAttributes;
}

const char* TypeName(Type t) {
  switch (t) {
    case Type::Boolean:
      return "ViBoolean";
    case Type::Int32:
      return "ViInt32";
    case Type::Real64:
      return "ViReal64";
    case Type::String:
      return "ViString";
  }
  return "";
}

const char* AccessName(Access a) {
  switch (a) {
    case Access::RW:
      return "read-write";
    case Access::RO:
      return "read-only";
    case Access::WO:
      return "write-only";
  }
  return "";
}

std::string ListName(const Attribute& a) {
  switch (a.repcap) {
    case Repcap::Output:
      return std::string("Output<n>.") + a.path;
    case Repcap::Trigger:
      return std::string("Trigger<n>.") + a.path;
    case Repcap::None:
      break;
  }
  return a.path;
}

std::optional<Resolved> Resolve(std::string_view name) {
  for (const Attribute& a : kAttributes)
    if (a.repcap == Repcap::None && EqualNoCase(name, a.path)) return Resolved{&a, ""};
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  const std::string_view instance = name.substr(0, dot), rest = name.substr(dot + 1);
  const Repcap repcap = StartsNoCase(instance, "Trigger") ? Repcap::Trigger : Repcap::Output;
  for (const Attribute& a : kAttributes)
    if (a.repcap == repcap && EqualNoCase(rest, a.path)) return Resolved{&a, std::string(instance)};
  return std::nullopt;
}

std::string FormatReal(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

std::string FormatValue(const Value& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
  if (auto* i = std::get_if<int32_t>(&v)) return std::to_string(*i);
  if (auto* d = std::get_if<double>(&v)) return FormatReal(*d);
  return std::get<std::string>(v);
}

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonValue(const Value& v) {
  if (auto* d = std::get_if<double>(&v))
    return std::isfinite(*d) ? FormatReal(*d) : "null";  // JSON has no NaN
  if (auto* s = std::get_if<std::string>(&v)) return JsonString(*s);
  return FormatValue(v);
}

bool ParseBool(std::string_view text, bool* value) {
  for (const char* t : {"true", "on", "1", "yes"})
    if (EqualNoCase(text, t)) return *value = true, true;
  for (const char* f : {"false", "off", "0", "no"})
    if (EqualNoCase(text, f)) return *value = false, true;
  return false;
}

DriverError TakeError(ViSession vi, ViStatus status) {
  ViStatus recorded = status;
  ViChar text[1024] = "";
  VmK40xx_GetError(vi, &recorded, sizeof text, text);
  if (!text[0]) {
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "error 0x%08X", static_cast<unsigned>(status));
    return DriverError(status, fallback);
  }
  return DriverError(status, text);
}

Session::Session(const std::string& resource, const std::string& options) {
  ViSession vi = VI_NULL;
  // The thread's record keeps the first error of any session until it is read: cleared first,
  // it is this call's own failure that a failed open reads back.
  VmK40xx_ClearError(VI_NULL);
  const ViStatus s =
      VmK40xx_InitWithOptions(resource.c_str(), VI_TRUE, VI_FALSE, options.c_str(), &vi);
  // A simulated session needs no resource; any other is told what is missing, not that the
  // empty name is an unknown resource.
  if (s < 0 && resource.empty()) {
    VmK40xx_ClearError(VI_NULL);
    throw UsageError("no instrument: give -r/--resource or set VMK40XX_RESOURCE");
  }
  if (s < 0) throw TakeError(VI_NULL, s);
  vi_ = vi;
}

Session::~Session() {
  if (vi_ != VI_NULL) VmK40xx_close(vi_);
}

void Session::Check(ViStatus status) const {
  if (status < 0) throw TakeError(vi_, status);
}

Value Session::Get(const Resolved& r) const {
  const Attribute& a = *r.attribute;
  const char* ch = r.channel.c_str();
  switch (a.type) {
    case Type::Boolean: {
      ViBoolean v = VI_FALSE;
      Check(VmK40xx_GetAttributeViBoolean(vi_, ch, a.id, &v));
      return v != VI_FALSE;
    }
    case Type::Int32: {
      ViInt32 v = 0;
      Check(VmK40xx_GetAttributeViInt32(vi_, ch, a.id, &v));
      return int32_t{v};
    }
    case Type::Real64: {
      ViReal64 v = 0;
      Check(VmK40xx_GetAttributeViReal64(vi_, ch, a.id, &v));
      return double{v};
    }
    case Type::String:
      break;
  }
  // The size question first: a text attribute has no length limit of its own.
  const ViStatus need = VmK40xx_GetAttributeViString(vi_, ch, a.id, 0, nullptr);
  Check(need);
  std::string text(need > 0 ? static_cast<size_t>(need) : 1, '\0');
  Check(
      VmK40xx_GetAttributeViString(vi_, ch, a.id, static_cast<ViInt32>(text.size()), text.data()));
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

void Session::Set(const Resolved& r, std::string_view text) const {
  const Attribute& a = *r.attribute;
  const char* ch = r.channel.c_str();
  const std::string value(text);
  switch (a.type) {
    case Type::Boolean: {
      bool b = false;
      if (!ParseBool(value, &b))
        throw UsageError("'" + value + "' is not a boolean (true/false, on/off, 1/0)");
      Check(VmK40xx_SetAttributeViBoolean(vi_, ch, a.id, b ? VI_TRUE : VI_FALSE));
      return;
    }
    case Type::Int32: {
      char* end = nullptr;
      errno = 0;
      const long v = std::strtol(value.c_str(), &end, 0);
      if (value.empty() || *end || errno || v < INT32_MIN || v > INT32_MAX)
        throw UsageError("'" + value + "' is not a 32-bit integer");
      Check(VmK40xx_SetAttributeViInt32(vi_, ch, a.id, static_cast<ViInt32>(v)));
      return;
    }
    case Type::Real64: {
      char* end = nullptr;
      const double v = std::strtod(value.c_str(), &end);
      if (value.empty() || *end) throw UsageError("'" + value + "' is not a number");
      Check(VmK40xx_SetAttributeViReal64(vi_, ch, a.id, v));
      return;
    }
    case Type::String:
      Check(VmK40xx_SetAttributeViString(vi_, ch, a.id, value.c_str()));
      return;
  }
}

std::string Session::StringAttribute(ViAttr id) const {
  for (const Attribute& a : kAttributes)
    if (a.id == id) return std::get<std::string>(Get({&a, ""}));
  throw UsageError("no such attribute");
}

int32_t Session::IntAttribute(ViAttr id) const {
  ViInt32 v = 0;
  Check(VmK40xx_GetAttributeViInt32(vi_, "", id, &v));
  return v;
}

std::vector<std::string> Session::OutputNames() const {
  return Names(vi_, VMK40XX_ATTR_OUTPUT_COUNT, VmK40xx_GetOutputName, *this);
}

std::vector<std::string> Session::TriggerNames() const {
  return Names(vi_, VMK40XX_ATTR_TRIGGER_COUNT, VmK40xx_GetTriggerName, *this);
}

}  // namespace vmkcli
