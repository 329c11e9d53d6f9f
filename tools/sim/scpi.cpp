#include "scpi.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vmk40xx::sim::scpi {
namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool is_alpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// Finds the quote that closes a string starting at s[0]; doubled quotes stay inside.
std::size_t closing_quote(std::string_view s) {
  const char q = s[0];
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (s[i] != q) continue;
    if (i + 1 < s.size() && s[i + 1] == q) {
      ++i;
      continue;
    }
    return i;
  }
  return std::string_view::npos;
}

struct UnitSuffix {
  std::string_view name;
  double multiplier;
};
// Only the units a power supply's parameters are given in.
constexpr UnitSuffix kUnits[] = {
    {"V", 1}, {"MV", 1e-3}, {"KV", 1e3}, {"A", 1},      {"MA", 1e-3},  {"UA", 1e-6},
    {"S", 1}, {"MS", 1e-3}, {"OHM", 1},  {"KOHM", 1e3}, {"MOHM", 1e6},
};

int lex_number(std::string_view t, Param& p) {
  p.kind = ParamKind::Number;
  p.text = t;
  if (t[0] == '#') {
    if (t.size() < 3) return kInvalidCharInNumber;
    int base = 0;
    switch (upper(t[1])) {
      case 'H':
        base = 16;
        break;
      case 'Q':
        base = 8;
        break;
      case 'B':
        base = 2;
        break;
      default:
        return kInvalidCharInNumber;
    }
    unsigned long long v = 0;
    auto r = std::from_chars(t.data() + 2, t.data() + t.size(), v, base);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return kInvalidCharInNumber;
    p.number = static_cast<double>(v);
    return kNoError;
  }
  std::size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < t.size() && is_digit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && is_digit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return kNumericDataError;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    while (j < t.size() && is_space(t[j])) ++j;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    std::size_t exp_digits = 0;
    while (j < t.size() && is_digit(t[j])) ++j, ++exp_digits;
    // "5E" with no exponent digits is an error; an 'E' could not start a unit anyway.
    if (exp_digits == 0) return kNumericDataError;
    i = j;
  }
  // from_chars rejects a leading '+' and blanks inside the exponent, so copy the mantissa out.
  char buf[64];
  std::size_t n = 0;
  for (std::size_t k = (t[0] == '+') ? 1 : 0; k < i; ++k) {
    if (is_space(t[k])) continue;
    if (n + 1 >= sizeof buf) return kNumericDataError;
    buf[n++] = t[k];
  }
  double v = 0;
  auto r = std::from_chars(buf, buf + n, v);
  if (r.ec != std::errc() || r.ptr != buf + n) return kNumericDataError;
  std::string_view unit = trim(t.substr(i));
  if (!unit.empty()) {
    const UnitSuffix* hit = nullptr;
    for (const auto& u : kUnits)
      if (iequals(unit, u.name)) hit = &u;
    if (!hit) {
      for (char c : unit)
        if (!is_alpha(c)) return kInvalidCharInNumber;
      return kInvalidSuffix;
    }
    v *= hit->multiplier;
  }
  p.number = v;
  return kNoError;
}

int lex_param(std::string_view t, Param& p) {
  if (t.empty()) return kSyntaxError;
  const char c = t[0];
  if (c == '"' || c == '\'') {
    if (closing_quote(t) != t.size() - 1) return kInvalidStringData;
    p.kind = ParamKind::String;
    p.quote = c;
    p.text = t.substr(1, t.size() - 2);
    return kNoError;
  }
  if (is_digit(c) || c == '+' || c == '-' || c == '.' || c == '#') return lex_number(t, p);
  if (is_alpha(c)) {
    for (char ch : t)
      if (!is_alpha(ch) && !is_digit(ch) && ch != '_') return kInvalidCharacterData;
    p.kind = ParamKind::Chars;
    p.text = t;
    return kNoError;
  }
  return kSyntaxError;
}

}  // namespace

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

bool Param::is(std::string_view keyword) const {
  return kind == ParamKind::Chars && iequals(text, keyword);
}

std::string Param::unquoted() const {
  std::string s;
  s.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    s.push_back(text[i]);
    if (kind == ParamKind::String && text[i] == quote && i + 1 < text.size() &&
        text[i + 1] == quote)
      ++i;
  }
  return s;
}

bool next_unit(std::string_view line, std::size_t& pos, std::string_view& unit) {
  if (pos > line.size()) return false;
  std::size_t i = pos;
  char quote = 0;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote reopens at once, which is the same thing
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      break;
    }
  }
  unit = line.substr(pos, i - pos);
  pos = i + 1;
  return true;
}

int lex_unit(std::string_view text, Unit& u) {
  u.common = u.absolute = u.query = false;
  u.mnemonic_count = u.param_count = 0;
  text = trim(text);
  if (text.empty()) return kNoError;
  std::size_t i = 0;
  if (text[0] == '*') {
    u.common = true;
    i = 1;
    while (i < text.size() && is_alpha(text[i])) ++i;
    if (i == 1) return kSyntaxError;
    u.mnemonics[u.mnemonic_count++] = text.substr(0, i);
  } else {
    if (text[0] == ':') u.absolute = true, i = 1;
    for (;;) {
      const std::size_t start = i;
      if (i >= text.size() || !is_alpha(text[i])) return kSyntaxError;
      while (i < text.size() && (is_alpha(text[i]) || is_digit(text[i]) || text[i] == '_')) ++i;
      if (i - start > 12 + 3) return kMnemonicTooLong;  // 12 letters plus a suffix
      if (u.mnemonic_count == kMaxMnemonics) return kUndefinedHeader;
      u.mnemonics[u.mnemonic_count++] = text.substr(start, i - start);
      if (i < text.size() && text[i] == ':') {
        ++i;
        continue;
      }
      break;
    }
  }
  if (i < text.size() && text[i] == '?') u.query = true, ++i;
  if (i == text.size()) return kNoError;
  if (!is_space(text[i])) return kSyntaxError;
  std::string_view rest = trim(text.substr(i));
  // Parameters: split at commas outside quotes.
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t k = 0; k <= rest.size(); ++k) {
    if (k < rest.size()) {
      const char c = rest[k];
      if (quote) {
        if (c == quote) quote = 0;
        continue;
      }
      if (c == '"' || c == '\'') {
        quote = c;
        continue;
      }
      if (c != ',') continue;
    }
    if (u.param_count == kMaxParams) return kParameterNotAllowed;
    Param& p = u.params[u.param_count++];
    p = Param{};
    if (int e = lex_param(trim(rest.substr(start, k - start)), p); e != kNoError) return e;
    start = k + 1;
  }
  return kNoError;
}

Pattern::Pattern(std::string_view text) : text_(text) {
  bool optional = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '[') {
      optional = true, ++i;
    } else if (c == ']') {
      optional = false, ++i;
    } else if (c == ':') {
      ++i;
    } else {
      Node n;
      n.optional = optional;
      while (i < text.size() && text[i] != ':' && text[i] != '[' && text[i] != ']') {
        const char ch = text[i++];
        if (ch == '#') {
          n.suffix = true;
          continue;
        }
        if (!(ch >= 'a' && ch <= 'z')) n.short_form.push_back(ch);
        n.long_form.push_back(upper(ch));
      }
      nodes_.push_back(std::move(n));
    }
  }
}

bool Pattern::match(const std::string_view* mnemonics, std::size_t count,
                    std::array<int, 3>& suffixes) const {
  suffixes = {-1, -1, -1};
  return match_from(0, mnemonics, count, suffixes, 0);
}

bool Pattern::match_from(std::size_t node, const std::string_view* m, std::size_t count,
                         std::array<int, 3>& suffixes, std::size_t slot) const {
  if (node == nodes_.size()) return count == 0;
  const Node& n = nodes_[node];
  if (count > 0) {
    std::string_view word = m[0];
    int value = -1;
    if (n.suffix) {
      std::size_t end = word.size();
      while (end > 0 && is_digit(word[end - 1])) --end;
      if (end < word.size()) {
        std::string_view digits = word.substr(end);
        value = digits.size() > 6 ? 1000000 : 0;
        if (digits.size() <= 6)
          for (char d : digits) value = value * 10 + (d - '0');
        word = word.substr(0, end);
      }
    }
    if (iequals(word, n.short_form) || iequals(word, n.long_form)) {
      const int saved = slot < suffixes.size() ? suffixes[slot] : 0;
      if (n.suffix && slot < suffixes.size()) suffixes[slot] = value;
      if (match_from(node + 1, m + 1, count - 1, suffixes, slot + (n.suffix ? 1 : 0))) return true;
      if (n.suffix && slot < suffixes.size()) suffixes[slot] = saved;
    }
  }
  return n.optional && match_from(node + 1, m, count, suffixes, slot);
}

void append_number(std::string& out, double v) {
  char buf[40];
  if (std::isnan(v)) v = 9.91e37;
  if (std::isinf(v)) v = v > 0 ? 9.9e37 : -9.9e37;
  if (v == 0) v = 0;  // no "-0"
  const int n = std::snprintf(buf, sizeof buf, "%+.8E", v);
  out.append(buf, static_cast<std::size_t>(n));
}

void append_int(std::string& out, long long v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void append_quoted(std::string& out, std::string_view s) {
  out.push_back('"');
  for (char c : s) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  out.push_back('"');
}

std::string_view error_text(int code) {
  switch (code) {
    case kNoError:
      return "No error";
    case kSyntaxError:
      return "Syntax error";
      return "Invalid separator";
    case kDataTypeError:
      return "Data type error";
    case kParameterNotAllowed:
      return "Parameter not allowed";
    case kMissingParameter:
      return "Missing parameter";
      return "Header separator error";
    case kMnemonicTooLong:
      return "Program mnemonic too long";
    case kUndefinedHeader:
      return "Undefined header";
    case kHeaderSuffixOutOfRange:
      return "Header suffix out of range";
    case kNumericDataError:
      return "Numeric data error";
    case kInvalidCharInNumber:
      return "Invalid character in number";
    case kInvalidSuffix:
      return "Invalid suffix";
    case kInvalidCharacterData:
      return "Invalid character data";
    case kInvalidStringData:
      return "Invalid string data";
    case kCommandProtected:
      return "Command protected";
    case kTriggerIgnored:
      return "Trigger ignored";
    case kInitIgnored:
      return "Init ignored";
    case kSettingsConflict:
      return "Settings conflict";
    case kDataOutOfRange:
      return "Data out of range";
    case kTooMuchData:
      return "Too much data";
    case kIllegalParameterValue:
      return "Illegal parameter value";
    case kQueueOverflow:
      return "Queue overflow";
      return "Query error";
    default:
      return "Device-specific error";
  }
}

}  // namespace vmk40xx::sim::scpi
