#include "platform/com/unicode.h"

#include <cstdint>
#include <limits>

namespace vmk::com {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes UTF-8 and hands each code point to `emit`. Malformed input follows Unicode's
// "maximal subpart" practice (the one WHATWG and ICU use): the longest prefix of a valid
// sequence becomes one U+FFFD, and decoding resumes at the byte that broke it, so a stray
// byte never swallows the valid character after it.
template <class Emit>
void DecodeUtf8(std::string_view text, Emit&& emit) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const unsigned char b0 = *p;
    if (b0 < 0x80) {
      emit(char32_t{b0});
      ++p;
      continue;
    }
    int trail;
    // The bounds of the first trail byte exclude overlong forms, surrogates and values past
    // U+10FFFF, which is what makes those sequences break after their lead byte.
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      trail = 1;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      trail = 2;
      cp = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      trail = 3;
      cp = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      emit(kReplacement);
      ++p;
      continue;
    }
    ++p;
    bool ok = true;
    for (int i = 0; i < trail; ++i) {
      if (p == end || *p < lo || *p > hi) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (*p & 0x3F);
      ++p;
      lo = 0x80;
      hi = 0xBF;
    }
    emit(ok ? cp : kReplacement);
  }
}

// Decodes UTF-16; an unpaired surrogate becomes U+FFFD on its own.
template <class Emit>
void DecodeUtf16(std::u16string_view text, Emit&& emit) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u < 0xD800 || u > 0xDFFF) {
      emit(char32_t{u});
    } else if (u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      emit(0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      emit(kReplacement);
    }
  }
}

size_t Utf16Units(char32_t cp) {
  return cp > 0xFFFF ? 2 : 1;
}

template <class Out>
void PutUtf16(char32_t cp, Out& out) {
  if (cp > 0xFFFF) {
    cp -= 0x10000;
    out(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out(static_cast<char16_t>(cp));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  auto put = [&](char16_t u) { out.push_back(u); };
  DecodeUtf8(text, [&](char32_t cp) { PutUtf16(cp, put); });
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  DecodeUtf16(text, [&](char32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  });
  return out;
}

std::string BstrToUtf8(const OLECHAR* bstr) {
  if (!bstr) return {};
  return Utf16ToUtf8(std::u16string_view(bstr, SysStringLen(const_cast<BSTR>(bstr))));
}

// Decodes twice (count, then fill) straight into the BSTR: no intermediate string, so the only
// failure is the one allocation, reported as nullptr rather than an exception.
BSTR Utf8ToBstr(std::string_view text) {
  size_t units = 0;
  DecodeUtf8(text, [&](char32_t cp) { units += Utf16Units(cp); });
  if (units > std::numeric_limits<UINT>::max()) return nullptr;
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (!b) return nullptr;
  OLECHAR* w = b;
  auto put = [&](char16_t u) { *w++ = u; };
  DecodeUtf8(text, [&](char32_t cp) { PutUtf16(cp, put); });
  return b;
}

}  // namespace vmk::com
