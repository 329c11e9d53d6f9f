// Formats an instrument command from one of the driver's own templates ("VOLT %.15g",
// "INST:NSEL %d", "DISP:TEXT \"%s\""). Each conversion takes the next argument converted to what
// the conversion asks for, so an argument of the wrong type cannot reach printf, and user text
// is only ever an argument, never a format.
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace vmk {

using CommandArg = std::variant<double, long long, std::string>;

std::string FormatCommand(const char* tmpl, const std::vector<CommandArg>& args);

}  // namespace vmk
