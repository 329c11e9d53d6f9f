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

// printf's "%.<precision><conversion>" for g, G, e, E, f and F as the "C" locale writes it, byte
// for byte, whatever the locale of the process or the thread: the one way this library writes a
// number into a command, a message or a trace. Writes into the caller's buffer and returns the end
// of the text (`first` when it does not fit; 400 bytes hold any double in any of them).
char* PrintNumber(char* first, char* last, double value, char conversion, int precision);
inline char* PrintG(char* first, char* last, double value, int precision = 15) {
  return PrintNumber(first, last, value, 'g', precision);
}
std::string FormatG(double value, int precision = 15);
std::string FormatFixed(double value, int precision = 6);

// Shortest text that reads back as the same value ("5", "0.1", "1e+21", "nan", "inf").
std::string FormatDouble(double value);
std::string FormatFloat(float value);
std::string FormatInteger(int64_t value);

}  // namespace vmk::visa
