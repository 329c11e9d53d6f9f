#include "dcpwr/channel.h"

namespace vmk {

HRESULT CheckModelValue(CNode& node, const Member& m, int32_t value) {
  const EnumRestriction* restriction = FindEnumRestriction(m.iface, m.name);
  if (!restriction || restriction->values->IsValueSupported(node.GetModel(), value)) return S_OK;
  return node.Errors().ReportInvalidValue(m.name, restriction->parameter, value);
}

HRESULT CheckEnumValue(CNode& node, const Member& m, int32_t value, int32_t first, int32_t last,
                       const char* param) {
  if (value >= first && value <= last) return S_OK;
  return node.Errors().ReportInvalidValue(m.name, param, value);
}

std::string Keyword(CNode& node, KeywordEnum table, int32_t value) {
  return KeywordTable(table).EnumToKeyword(node.GetModel(), value);
}

HRESULT CheckEnumAndModelValue(CNode& node, const Member& m, int32_t value, int32_t first,
                               int32_t last, const char* param) {
  HRESULT hr = CheckEnumValue(node, m, value, first, last, param);
  return FAILED(hr) ? hr : CheckModelValue(node, m, value);
}

}  // namespace vmk
