#include "dcpwr/channel.h"

namespace vmk {

HRESULT CheckEnumValue(CNode& node, const Member& m, int32_t value, int32_t first, int32_t last,
                       const char* param) {
  if (value >= first && value <= last) return S_OK;
  return node.Errors().ReportInvalidValue(m.Name(), param, value);
}

HRESULT CheckEnumAndModelValue(CNode& node, const Member& m, int32_t value, int32_t first,
                               int32_t last, std::span<const EnumModels> models,
                               const char* param) {
  if (HRESULT hr = CheckEnumValue(node, m, value, first, last, param); FAILED(hr)) return hr;
  if (IsValueSupported(models, node.ModelBit(), value)) return S_OK;
  return node.Errors().ReportInvalidValue(m.Name(), param, value);
}

}  // namespace vmk
