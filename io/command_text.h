// Instrument commands from the driver's own templates ("VOLT %.15g", "INST:NSEL %d",
// "DISP:TEXT %q"). Each conversion takes the next argument (or the one "%2$" names) and writes it
// as the conversion asks, so an argument of the wrong type cannot reach a printf, user text is
// only ever an argument, never a format, and no number depends on the process locale.
//
//   %.15g %e %f   the argument as a double, with printf's precision rule (6 when none is given)
//   %d %i         the argument as an integer; a double is cut toward zero
//   %s            the argument's text; a number as %.15g or in decimal
//   %q            the argument's text in double quotes, with every quote in it doubled, as
//                 IEEE 488.2 string data carries a quote
//   %%            a percent sign
//
// Flags and field widths are not used by any template and not supported; a missing argument
// writes nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace vmk {

struct CommandArg {
  enum class Kind : uint8_t { Number, Integer, Text };
  constexpr CommandArg() : kind(Kind::Integer) {}
  constexpr CommandArg(double v) : kind(Kind::Number), number(v) {}
  constexpr CommandArg(int v) : kind(Kind::Integer), integer(v) {}
  constexpr CommandArg(long v) : kind(Kind::Integer), integer(v) {}
  constexpr CommandArg(long long v) : kind(Kind::Integer), integer(v) {}
  constexpr CommandArg(std::string_view v) : kind(Kind::Text), text(v) {}
  constexpr CommandArg(const char* v) : kind(Kind::Text), text(v) {}
  CommandArg(const std::string& v) : kind(Kind::Text), text(v) {}

  Kind kind;
  double number = 0;
  long long integer = 0;
  std::string_view text;
};

// Appends the command to `out`, which keeps what it held before.
void AppendCommand(std::string& out, std::string_view tmpl, std::span<const CommandArg> args);

inline std::string FormatCommand(std::string_view tmpl, std::initializer_list<CommandArg> args) {
  std::string out;
  AppendCommand(out, tmpl, std::span<const CommandArg>(args.begin(), args.size()));
  return out;
}

}  // namespace vmk
