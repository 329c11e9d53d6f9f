// The option string of Initialize: IVI options ("Simulate=true, RangeCheck=false") and, after the
// "DriverSetup=" marker, the driver's own keys ("Model=K4301A, Trace=true").
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vmk {

using OptionPairs = std::vector<std::pair<std::string, std::string>>;

// Name/value pairs of `text`, trimmed, in the order of their first appearance; a name given twice
// keeps its last value. A pair is a run of characters other than ',' and '=', an '=', and another
// such run; anything between pairs (commas, stray words, a lone "=value") is skipped.
OptionPairs ExtractPairs(std::string_view text);

// Splits an option string at the "DriverSetup=" marker (any letter case): the options before it,
// and the DriverSetup text after it in its original case. `found` tells whether the marker was
// there at all.
struct SplitOptions {
  std::string options;
  std::string driverSetup;
  bool found = false;
};
SplitOptions SplitOptionString(std::string_view optionString);

// "true", "VI_TRUE", "1" and "false", "VI_FALSE", "0" in any letter case; false when `value` is
// none of them.
bool ParseOptionBool(std::string_view value, bool* result);

// The leading, optionally signed decimal digits of `value` (0 when there are none), held within
// the range of a 32-bit integer.
int32_t ParseOptionInteger(std::string_view value);

std::string TrimCopy(std::string_view s);
std::string LowerCopy(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vmk
