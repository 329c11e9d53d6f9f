// The "Value" text of a traced parameter, by its VARIANT type.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "platform/com/unicode.h"
#include "platform/visa/number_text.h"
#include "services/tracer.h"

namespace vmk {

namespace {

// IDispatch references are interfaces too; the type code is COM's.
constexpr VARTYPE VT_DISPATCH = 9;

template <class T>
void AppendNumber(T v, std::string* out) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, r.ptr);
}

// "%.15g", and like it independent of the process locale: a trace read on another machine
// shows the same numbers.
void AppendDouble(double v, std::string* out) {
  char buf[40];
  out->append(buf, visa::PrintG(buf, buf + sizeof buf, v));
}

// The length of the UTF-8 sequence a byte starts; 1 for a byte that starts none.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

void AppendXmlText(std::string_view utf8, std::string* out) {
  // Characters XML 1.0 cannot hold even as references (C0 controls but tab, line feed and
  // carriage return; U+FFFE, U+FFFF) would make the file unreadable to every XML reader,
  // this driver's own next start included. Each becomes U+FFFD.
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      out->append(kReplacement);
      ++i;
      continue;
    }
    const size_t n = std::min(SequenceLength(c), utf8.size() - i);
    if (n == 3 && c == 0xEF && static_cast<unsigned char>(utf8[i + 1]) == 0xBF &&
        static_cast<unsigned char>(utf8[i + 2]) >= 0xBE)
      out->append(kReplacement);
    else
      out->append(utf8.substr(i, n));
    i += n;
  }
}

void AppendTraceValue(const VARIANT& v, std::string* out) {
  const bool byRef = (v.vt & VT_BYREF) != 0;
  const VARTYPE type = v.vt & VT_TYPEMASK;
  if ((v.vt & ~(VT_BYREF | VT_TYPEMASK)) != 0 || (byRef && !v.byref)) {
    out->append("<unknown>");
    return;
  }
  // A by-reference value is read through its pointer as the value itself would be.
  VARIANT value{};
  if (byRef) {
    switch (type) {
      case VT_EMPTY:
      case VT_NULL:
        out->append("<unknown>");
        return;
      case VT_VARIANT:
        out->append("<variant>");
        return;
      case VT_BSTR:
        value.bstrVal = *v.pbstrVal;
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        value.punkVal = *v.ppunkVal;
        break;
      case VT_I1:
      case VT_UI1:
        value.bVal = *v.pbVal;
        break;
      case VT_I2:
      case VT_UI2:
        value.iVal = *v.piVal;
        break;
      case VT_BOOL:
        value.boolVal = *v.pboolVal;
        break;
      case VT_I4:
      case VT_UI4:
      case VT_INT:
        value.lVal = *v.plVal;
        break;
      case VT_R4:
        value.fltVal = *v.pfltVal;
        break;
      case VT_R8:
        value.dblVal = *v.pdblVal;
        break;
      case VT_I8:
      case VT_UI8:
        value.llVal = *v.pllVal;
        break;
      default:
        out->append("<unknown>");
        return;
    }
  } else {
    value = v;
  }
  // Each value is shown as the number the caller passed: a signed byte keeps its sign and an
  // unsigned 32-bit value is not shown as a negative one.
  switch (type) {
    case VT_EMPTY:
      out->append("<empty>");
      return;
    case VT_NULL:
      out->append("<null>");
      return;
    case VT_I1:
      AppendNumber(static_cast<int>(static_cast<int8_t>(value.bVal)), out);
      return;
    case VT_UI1:
      AppendNumber(static_cast<int>(value.bVal), out);
      return;
    case VT_I2:
      AppendNumber(static_cast<int>(value.iVal), out);
      return;
    case VT_UI2:
      AppendNumber(static_cast<int>(static_cast<uint16_t>(value.iVal)), out);
      return;
    case VT_I4:
    case VT_INT:
      AppendNumber(static_cast<int32_t>(value.lVal), out);
      return;
    case VT_UI4:
      AppendNumber(static_cast<uint32_t>(value.lVal), out);
      return;
    case VT_I8:
      AppendNumber(value.llVal, out);
      return;
    case VT_UI8:
      AppendNumber(static_cast<uint64_t>(value.llVal), out);
      return;
    case VT_R4:
      AppendDouble(static_cast<double>(value.fltVal), out);
      return;
    case VT_R8:
      AppendDouble(value.dblVal, out);
      return;
    case VT_BSTR:
      AppendXmlText(com::BstrToUtf8(value.bstrVal), out);
      return;
    case VT_BOOL:
      out->append(value.boolVal ? "true" : "false");
      return;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      out->append("<interface>");
      return;
    case VT_VARIANT:
      out->append("<variant>");
      return;
    default:
      out->append("<unknown>");
      return;
  }
}

}  // namespace vmk
