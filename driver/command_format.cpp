#include "driver/command_format.h"

#include <cstdio>
#include <cstring>

namespace vmk {

namespace {

double AsDouble(const CommandArg& a) {
  if (auto* d = std::get_if<double>(&a)) return *d;
  if (auto* i = std::get_if<long long>(&a)) return static_cast<double>(*i);
  return 0.0;
}

long long AsInteger(const CommandArg& a) {
  if (auto* i = std::get_if<long long>(&a)) return *i;
  if (auto* d = std::get_if<double>(&a)) return static_cast<long long>(*d);
  return 0;
}

std::string AsString(const CommandArg& a) {
  if (auto* s = std::get_if<std::string>(&a)) return *s;
  char buf[64];
  if (auto* d = std::get_if<double>(&a))
    std::snprintf(buf, sizeof buf, "%.15g", *d);
  else
    std::snprintf(buf, sizeof buf, "%lld", std::get<long long>(a));
  return buf;
}

}  // namespace

std::string FormatCommand(const char* tmpl, const std::vector<CommandArg>& args) {
  std::string out;
  size_t next = 0;
  for (const char* p = tmpl; *p; ++p) {
    if (*p != '%') {
      out.push_back(*p);
      continue;
    }
    if (p[1] == '%') {
      out.push_back('%');
      ++p;
      continue;
    }
    // A conversion: flags, width and precision, then its letter.
    const char* start = p++;
    while (*p && std::strchr("-+ #0123456789.", *p)) ++p;
    if (!*p) break;
    std::string spec(start, static_cast<size_t>(p - start));
    if (next >= args.size()) continue;  // a template with more conversions than arguments
    const CommandArg& arg = args[next++];
    char buf[128];
    switch (*p) {
      case 'g':
      case 'G':
      case 'f':
      case 'F':
      case 'e':
      case 'E':
        spec.push_back(*p);
        std::snprintf(buf, sizeof buf, spec.c_str(), AsDouble(arg));
        out += buf;
        break;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
        spec += "ll";
        spec.push_back(*p);
        std::snprintf(buf, sizeof buf, spec.c_str(), AsInteger(arg));
        out += buf;
        break;
      default:  // 's' and anything else: the argument's text as it is
        out += AsString(arg);
        break;
    }
  }
  return out;
}

}  // namespace vmk
