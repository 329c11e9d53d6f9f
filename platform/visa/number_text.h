// Numbers as instruments write them (IEEE 488.2 NR1, NR2, NR3 and #H/#Q/#B), read and written
// with a '.' radix point whatever the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vmk::visa {

// Parses a number at the start of `text` after leading blanks. Returns the count of characters
// used, 0 when no number starts there.
size_t ParseNumber(std::string_view text, double* value);

// Shortest text that reads back as the same value ("5", "0.1", "1e+21", "nan", "inf").
std::string FormatDouble(double value);
std::string FormatFloat(float value);
std::string FormatInteger(int64_t value);

}  // namespace vmk::visa
