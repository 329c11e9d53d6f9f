// The status table: HRESULT to ViStatus for every status the driver object can return, and the
// text of each of them for VmK40xx_error_message. Both lookups are searches in arrays sorted at
// compile time, so there is nothing to build at run time and nothing to guard across threads.
#include <algorithm>
#include <array>
#include <cstdint>

#include "ivic/frame.h"

namespace vmk::ivic {

namespace {

struct Row {
  uint32_t vistatus;
  uint32_t hresult;
  const char* text;
};

#define STATUS(name, vistatus, hresult, text)                                              \
  static_assert(uint32_t(VMK40XX_##name) == vistatus, "VMK40XX_" #name " in vmk40xx_c.h"); \
  static_assert(uint32_t(hresult) == uint32_t(0) ||                                        \
                (uint32_t(hresult) >> 31) == (uint32_t(vistatus) >> 31));
#define OWN_STATUS(name, vistatus) \
  static_assert(uint32_t(VMK40XX_##name) == vistatus, "VMK40XX_" #name " in vmk40xx_c.h");
#include "ivic/statuses.def"

constexpr Row kRows[] = {
#define STATUS(name, vistatus, hresult, text) {vistatus, hresult, text},
#define OWN_STATUS(name, vistatus)
#include "ivic/statuses.def"
};

constexpr auto kByStatus = [] {
  std::array<Row, std::size(kRows)> rows{};
  std::copy(std::begin(kRows), std::end(kRows), rows.begin());
  std::sort(rows.begin(), rows.end(),
            [](const Row& a, const Row& b) { return a.vistatus < b.vistatus; });
  return rows;
}();

constexpr auto kByHresult = [] {
  auto rows = kByStatus;
  std::sort(rows.begin(), rows.end(),
            [](const Row& a, const Row& b) { return a.hresult < b.hresult; });
  return rows;
}();

constexpr bool Unique(const auto& rows, auto key) {
  for (size_t i = 1; i < rows.size(); ++i)
    if (key(rows[i - 1]) == key(rows[i])) return false;
  return true;
}
static_assert(Unique(kByStatus, [](const Row& r) { return r.vistatus; }));
static_assert(Unique(kByHresult, [](const Row& r) { return r.hresult; }));

}  // namespace

ViStatus MapStatus(HRESULT hr) {
  if (hr == S_OK) return VI_SUCCESS;
  const auto key = static_cast<uint32_t>(hr);
  auto it = std::lower_bound(kByHresult.begin(), kByHresult.end(), key,
                             [](const Row& r, uint32_t k) { return r.hresult < k; });
  if (it != kByHresult.end() && it->hresult == key) return static_cast<ViStatus>(it->vistatus);
  return static_cast<ViStatus>(key & 0x80000000u);
}

const char* StatusText(ViStatus status) {
  const auto key = static_cast<uint32_t>(status);
  auto it = std::lower_bound(kByStatus.begin(), kByStatus.end(), key,
                             [](const Row& r, uint32_t k) { return r.vistatus < k; });
  return it != kByStatus.end() && it->vistatus == key ? it->text : nullptr;
}

}  // namespace vmk::ivic
