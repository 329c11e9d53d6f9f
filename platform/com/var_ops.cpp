// The two OLE Automation variant operations the driver uses: rounding a double to a number of
// decimals, and comparing two BSTRs.
#include <cmath>

#include "vmk40xx/com.h"

namespace {

// Simple (one-to-one) case folding to lower case for the scripts an instrument's text and a
// user's resource names realistically contain: Latin-1, Latin Extended-A, Greek, Cyrillic and
// fullwidth Latin. Other characters compare as they are.
char16_t Fold(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
  if (c >= 0x0100 && c <= 0x017F) {
    if (c == 0x0130 || c == 0x0131 || c == 0x0138 || c == 0x0149) return c;
    if (c == 0x0178) return 0x00FF;
    if (c == 0x017F) return u's';
    // Upper and lower alternate; the run from U+0139 to U+0148 and from U+0179 starts odd.
    const bool odd_upper = (c >= 0x0139 && c <= 0x0148) || c >= 0x0179;
    const bool is_upper = odd_upper ? (c & 1) : !(c & 1);
    return is_upper ? char16_t(c + 1) : c;
  }
  if (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) return char16_t(c + 32);
  if (c == 0x03C2) return 0x03C3;  // final sigma
  if (c == 0x0386) return 0x03AC;
  if (c >= 0x0388 && c <= 0x038A) return char16_t(c + 37);
  if (c == 0x038C) return 0x03CC;
  if (c == 0x038E || c == 0x038F) return char16_t(c + 63);
  if (c >= 0x0410 && c <= 0x042F) return char16_t(c + 32);
  if (c >= 0x0400 && c <= 0x040F) return char16_t(c + 80);
  if (c >= 0xFF21 && c <= 0xFF3A) return char16_t(c + 32);
  return c;
}

// Reorders UTF-16 code units so that comparing them compares code points: surrogates (astral
// characters) move above U+E000..U+FFFF.
uint32_t CodePointOrder(char16_t c) {
  if (c >= 0xE000) return c - 0x800u;
  if (c >= 0xD800) return c + 0x2000u;
  return c;
}

}  // namespace

extern "C" {

// Banker's rounding, as VarR8Round does: a value exactly half-way rounds to the even neighbour.
// The half-way test is made on the value scaled by 10^cDecimals, as OLE (and Wine) make it: 2.675
// is stored a little below 2.675, but times 100 it is exactly 267.5, so it rounds to 2.68, which
// is also what the decimal a user wrote asks for.
HRESULT VarR8Round(double dblIn, int cDecimals, double* pdblResult) {
  if (!pdblResult || cDecimals < 0) return E_INVALIDARG;
  const double scale = std::pow(10.0, cDecimals);
  const double scaled = dblIn * scale;
  // Past 2^52 a double has no fraction left to round (and NaN/infinity have none at all).
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0) {
    *pdblResult = dblIn;
    return S_OK;
  }
  double whole = std::trunc(scaled);
  const double fraction = std::fabs(scaled - whole);
  const double away = std::signbit(scaled) ? -1.0 : 1.0;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += away;
  *pdblResult = whole / scale;
  return S_OK;
}

// An ordinal comparison in code point order. COM compares by the locale's collation; this
// library has one locale, so lcid is not consulted, and NORM_IGNORECASE folds case (above).
// A null BSTR is the empty string.
HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID /*lcid*/, ULONG dwFlags) {
  const UINT n_left = SysStringLen(bstrLeft);
  const UINT n_right = SysStringLen(bstrRight);
  const bool fold = dwFlags & NORM_IGNORECASE;
  for (UINT i = 0; i < n_left && i < n_right; ++i) {
    char16_t a = bstrLeft[i], b = bstrRight[i];
    if (fold) {
      a = Fold(a);
      b = Fold(b);
    }
    if (a != b) return CodePointOrder(a) < CodePointOrder(b) ? VARCMP_LT : VARCMP_GT;
  }
  if (n_left == n_right) return VARCMP_EQ;
  return n_left < n_right ? VARCMP_LT : VARCMP_GT;
}

}  // extern "C"
