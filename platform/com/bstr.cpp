// BSTR as OLE Automation lays it out: a 32-bit byte count, then the UTF-16 text the BSTR points
// at, then a NUL that the count does not include. Callers may hand a BSTR to anything expecting a
// NUL-terminated OLECHAR string, and the count keeps embedded NULs.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "vmk40xx/com.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// The largest length whose byte count, prefix and terminator still fit the 32-bit prefix.
constexpr UINT kMaxChars = (std::numeric_limits<uint32_t>::max() - kPrefix - sizeof(OLECHAR)) / 2;

char* Base(BSTR b) {
  return reinterpret_cast<char*>(b) - kPrefix;
}

BSTR Allocate(UINT chars) {
  if (chars > kMaxChars) return nullptr;
  const uint32_t bytes = chars * uint32_t{sizeof(OLECHAR)};
  auto* base = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!base) return nullptr;
  std::memcpy(base, &bytes, kPrefix);
  BSTR b = reinterpret_cast<BSTR>(base + kPrefix);
  b[chars] = 0;
  return b;
}

UINT Length(const OLECHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  // Past the limit, Allocate refuses rather than truncating the count.
  return n > kMaxChars ? kMaxChars + 1 : static_cast<UINT>(n);
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, Length(psz));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  BSTR b = Allocate(ui);
  if (!b) return nullptr;
  if (strIn)
    std::memcpy(b, strIn, size_t{ui} * sizeof(OLECHAR));
  else
    std::memset(b, 0, size_t{ui} * sizeof(OLECHAR));
  return b;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return 0;
  // Allocate before freeing: psz may point into the string being replaced.
  BSTR fresh = psz ? SysAllocString(psz) : SysAllocStringLen(u"", 0);
  if (!fresh) return 0;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return 1;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(Base(bstrString));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, Base(bstr), kPrefix);
  return bytes;
}

UINT SysStringLen(BSTR pbstr) {
  return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

}  // extern "C"
