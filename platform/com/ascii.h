// Letter case and blanks of the ASCII range only. Resource strings, option names, SCPI keywords
// and registry paths are ASCII by definition; <cctype> would read the process locale instead, and
// in a Turkish 8-bit locale toupper('i') is 0xDD and tolower('I') is 0xFD, so "tcpip::...::instr"
// or "QueryInstrStatus=1" stopped matching once a host program called setlocale(LC_ALL, "").
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace vmk::ascii {

constexpr char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// What isspace accepts in the "C" locale.
constexpr bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

inline std::string UpperCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}
inline std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace vmk::ascii
