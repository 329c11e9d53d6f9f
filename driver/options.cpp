#include "driver/options.h"

#include <algorithm>
#include <climits>

#include "platform/com/ascii.h"

namespace vmk {

namespace {
bool IsBlank(unsigned char c) {
  return ascii::IsSpace(static_cast<char>(c));
}
bool IsDelimiter(char c) {
  return c == ',' || c == '=';
}
}  // namespace

std::string TrimCopy(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

std::string LowerCopy(std::string_view s) {
  return ascii::LowerCopy(s);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return ascii::EqualsNoCase(a, b);
}

OptionPairs ExtractPairs(std::string_view text) {
  OptionPairs pairs;
  size_t pos = 0;
  while (pos < text.size()) {
    if (IsDelimiter(text[pos])) {
      ++pos;
      continue;
    }
    // A name runs up to the next delimiter; it forms a pair only when that delimiter is '=' and
    // a non-empty value follows it.
    size_t nameEnd = pos;
    while (nameEnd < text.size() && !IsDelimiter(text[nameEnd])) ++nameEnd;
    if (nameEnd == text.size() || text[nameEnd] != '=') {
      pos = nameEnd + 1;
      continue;
    }
    size_t valueBegin = nameEnd + 1;
    size_t valueEnd = valueBegin;
    while (valueEnd < text.size() && !IsDelimiter(text[valueEnd])) ++valueEnd;
    if (valueEnd == valueBegin) {
      pos = valueBegin;
      continue;
    }
    std::string name = TrimCopy(text.substr(pos, nameEnd - pos));
    std::string value = TrimCopy(text.substr(valueBegin, valueEnd - valueBegin));
    auto same =
        std::find_if(pairs.begin(), pairs.end(), [&](const auto& p) { return p.first == name; });
    if (same != pairs.end())
      same->second = std::move(value);
    else
      pairs.emplace_back(std::move(name), std::move(value));
    pos = valueEnd;
  }
  return pairs;
}

SplitOptions SplitOptionString(std::string_view optionString) {
  static constexpr std::string_view kMarker = "DRIVERSETUP=";
  SplitOptions out;
  std::string upper(optionString);
  for (char& c : upper) c = ascii::Upper(c);
  size_t p = upper.find(kMarker);
  if (p == std::string::npos) {
    out.options = std::string(optionString);
    return out;
  }
  out.found = true;
  out.options = std::string(optionString.substr(0, p));
  out.driverSetup = std::string(optionString.substr(p + kMarker.size()));
  return out;
}

bool ParseOptionBool(std::string_view value, bool* result) {
  for (std::string_view t : {"true", "VI_TRUE", "1"})
    if (EqualsNoCase(value, t)) return *result = true, true;
  for (std::string_view f : {"false", "VI_FALSE", "0"})
    if (EqualsNoCase(value, f)) return *result = false, true;
  return false;
}

int32_t ParseOptionInteger(std::string_view value) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  long long n = 0;
  for (; i < value.size() && ascii::IsDigit(value[i]); ++i) {
    n = n * 10 + (value[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) n = -n;
  return static_cast<int32_t>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

}  // namespace vmk
