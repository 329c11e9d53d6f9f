#include "io/command_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/visa/number_text.h"

namespace vmk {

namespace {

double AsDouble(const CommandArg& a) {
  switch (a.kind) {
    case CommandArg::Kind::Number:
      return a.number;
    case CommandArg::Kind::Integer:
      return static_cast<double>(a.integer);
    default:
      return 0.0;
  }
}

long long AsInteger(const CommandArg& a) {
  if (a.kind == CommandArg::Kind::Integer) return a.integer;
  if (a.kind != CommandArg::Kind::Number || !std::isfinite(a.number)) return 0;
  // Beyond the range of the integer the cut has no defined result; the nearest end is honest.
  constexpr double kMax = 9.2233720368547748e18;
  if (a.number >= kMax) return std::numeric_limits<long long>::max();
  if (a.number <= -kMax) return std::numeric_limits<long long>::min();
  return static_cast<long long>(a.number);
}

void AppendInteger(std::string& out, long long v) {
  char buf[24];
  const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, p);
}

void AppendNumber(std::string& out, double v, char conversion, int precision) {
  char buf[400];
  out.append(buf, visa::PrintNumber(buf, buf + sizeof buf, v, conversion, precision));
}

void AppendText(std::string& out, const CommandArg& a) {
  switch (a.kind) {
    case CommandArg::Kind::Text:
      out.append(a.text);
      break;
    case CommandArg::Kind::Integer:
      AppendInteger(out, a.integer);
      break;
    case CommandArg::Kind::Number:
      AppendNumber(out, a.number, 'g', 15);
      break;
  }
}

void AppendQuoted(std::string& out, const CommandArg& a) {
  out.push_back('"');
  if (a.kind != CommandArg::Kind::Text) {
    AppendText(out, a);
  } else {
    for (char c : a.text) {
      out.push_back(c);
      if (c == '"') out.push_back('"');
    }
  }
  out.push_back('"');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

void AppendCommand(std::string& out, std::string_view tmpl, std::span<const CommandArg> args) {
  size_t next = 0;
  for (size_t i = 0; i < tmpl.size(); ++i) {
    // The text up to the next conversion goes in at once: most templates are nothing else.
    if (tmpl[i] != '%') {
      const size_t end = std::min(tmpl.find('%', i), tmpl.size());
      out.append(tmpl, i, end - i);
      i = end - 1;
      continue;
    }
    if (i + 1 < tmpl.size() && tmpl[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // %[n$][.precision]conversion
    size_t j = i + 1;
    size_t position = 0;
    size_t k = j;
    while (k < tmpl.size() && IsDigit(tmpl[k])) position = position * 10 + size_t(tmpl[k++] - '0');
    if (k > j && k < tmpl.size() && tmpl[k] == '$')
      j = k + 1;
    else
      position = 0;
    int precision = -1;
    if (j < tmpl.size() && tmpl[j] == '.') {
      precision = 0;
      while (++j < tmpl.size() && IsDigit(tmpl[j])) precision = precision * 10 + (tmpl[j] - '0');
    }
    if (j >= tmpl.size()) break;  // a template that ends inside a conversion
    const char conversion = tmpl[j];
    i = j;
    const size_t index = position ? position - 1 : next++;
    if (index >= args.size()) continue;
    const CommandArg& arg = args[index];
    switch (conversion) {
      case 'g':
      case 'G':
      case 'e':
      case 'E':
      case 'f':
      case 'F':
        AppendNumber(out, AsDouble(arg), conversion, precision < 0 ? 6 : precision);
        break;
      case 'd':
      case 'i':
        AppendInteger(out, AsInteger(arg));
        break;
      case 'q':
        AppendQuoted(out, arg);
        break;
      default:  // 's'
        AppendText(out, arg);
        break;
    }
  }
}

}  // namespace vmk
