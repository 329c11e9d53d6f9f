#include "platform/visa/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/com/ascii.h"

namespace vmk::visa {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

size_t ParseNonDecimal(std::string_view text, size_t at, double* value) {
  // #H1F, #Q17, #B1011: unsigned integers in hex, octal, binary.
  if (at + 2 > text.size() || text[at] != '#') return 0;
  int base = 0;
  switch (text[at + 1]) {
    case 'H':
    case 'h':
      base = 16;
      break;
    case 'Q':
    case 'q':
      base = 8;
      break;
    case 'B':
    case 'b':
      base = 2;
      break;
    default:
      return 0;
  }
  uint64_t v = 0;
  const char* begin = text.data() + at + 2;
  const auto [p, ec] = std::from_chars(begin, text.data() + text.size(), v, base);
  if (ec != std::errc() || p == begin) return 0;
  *value = static_cast<double>(v);
  return static_cast<size_t>(p - text.data());
}

// The common reply, a decimal of at most 19 digits with a small exponent ("+5.00000E+00"), read
// without the general algorithm: when the digits make an integer below 2^53 and the power of ten
// is at most 22, both are exact doubles and one multiplication or division rounds correctly, so
// the value is the one from_chars gives. Returns the text's end of the number, or null when the
// text is not of this simple kind and the general reader must decide.
const char* ParseSimpleDecimal(const char* p, const char* end, double* value) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  uint64_t digits = 0;
  int significant = 0;
  int scale = 0;  // digits after the radix point
  bool any = false;
  auto take = [&](bool fraction) {
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
      any = true;
      if (digits == 0 && *p == '0') {
        if (fraction) ++scale;
        continue;
      }
      if (++significant > 19) return false;
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
      if (fraction) ++scale;
    }
    return true;
  };
  if (!take(false)) return nullptr;
  if (p != end && *p == '.') {
    ++p;
    if (!take(true)) return nullptr;
  }
  if (!any) return nullptr;
  int exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool negative = false;
    if (q != end && (*q == '+' || *q == '-')) negative = *q++ == '-';
    // An exponent without digits is no part of the number; the general reader knows that case.
    if (q == end || *q < '0' || *q > '9') return nullptr;
    for (; q != end && *q >= '0' && *q <= '9'; ++q) {
      if (exponent > 1000) return nullptr;
      exponent = exponent * 10 + (*q - '0');
    }
    if (negative) exponent = -exponent;
    p = q;
  }
  if (digits > (uint64_t{1} << 53)) return nullptr;
  const int power = exponent - scale;
  if (power < -22 || power > 22) return digits == 0 ? (*value = 0.0, p) : nullptr;
  const double d = static_cast<double>(digits);
  *value = power < 0 ? d / kPowers[-power] : d * kPowers[power];
  return p;
}

}  // namespace

size_t ParseNumber(std::string_view text, double* value) {
  size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (const size_t n = ParseNonDecimal(text, at, value)) return n;
  size_t start = at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    start = ++at;
  }
  // from_chars knows no sign of its own before the digits of a '+' and reads "inf"/"nan" too,
  // which instruments write as 9.9E37 instead; only digits or a radix point may start a number.
  if (start >= text.size() || !(ascii::IsDigit(text[start]) || text[start] == '.')) return 0;
  double v = 0;
  if (const char* p = ParseSimpleDecimal(text.data() + start, text.data() + text.size(), &v)) {
    *value = negative ? -v : v;
    return static_cast<size_t>(p - text.data());
  }
  const auto [p, ec] = std::from_chars(text.data() + start, text.data() + text.size(), v,
                                       std::chars_format::general);
  if (p == text.data() + start) return 0;
  if (ec == std::errc::result_out_of_range) {
    // Still a number, only beyond a double: a negative exponent underflows to 0, else infinity.
    const std::string_view digits(text.data() + start,
                                  static_cast<size_t>(p - (text.data() + start)));
    const size_t e = digits.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc()) {
    return 0;
  }
  *value = negative ? -v : v;
  return static_cast<size_t>(p - text.data());
}

char* PrintNumber(char* first, char* last, double value, char conversion, int precision) {
  const char lower = ascii::Lower(conversion);
  const std::chars_format format = lower == 'f'   ? std::chars_format::fixed
                                   : lower == 'e' ? std::chars_format::scientific
                                                  : std::chars_format::general;
  const auto [p, ec] = std::to_chars(first, last, value, format, precision);
  if (ec != std::errc()) return first;
  // %G, %E and %F write the exponent letter and inf/nan in capitals.
  if (lower != conversion)
    for (char* c = first; c != p; ++c) *c = ascii::Upper(*c);
  return p;
}

std::string FormatG(double value, int precision) {
  char buf[64];
  return std::string(buf, PrintG(buf, buf + sizeof buf, value, precision));
}

std::string FormatFixed(double value, int precision) {
  // A fixed text of a large value runs to hundreds of digits.
  char buf[400];
  return std::string(buf, PrintNumber(buf, buf + sizeof buf, value, 'f', precision));
}

std::string FormatDouble(double value) {
  char buf[64];
  const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, p) : std::string();
}

std::string FormatFloat(float value) {
  char buf[64];
  const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, p) : std::string();
}

std::string FormatInteger(int64_t value) {
  char buf[32];
  const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, p);
}

}  // namespace vmk::visa
