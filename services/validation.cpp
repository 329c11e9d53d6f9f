#include "services/validation.h"

#include <memory>
#include <utility>

namespace vmk {

bool CheckValue(const ValidationPolicies& table, std::string_view model, double value) {
  const CParameterValidationPolicy* policy = table.Lookup(model);
  return !policy || policy->Validate(value);
}

const ValidationPolicies& TriggerDelayPolicies() {
  static const ValidationPolicies policies = [] {
    ModelBasedEntries<CParameterValidationPolicy> entries;
    entries.push_back(
        std::make_unique<CMinMaxParameterValidationPolicy>(std::string(), 0.0, 3600.0));
    return ValidationPolicies(std::move(entries));
  }();
  return policies;
}

void CCoercionLog::AddCoercionRecord(std::string record) {
  if (records_.size() >= kCapacity) records_.pop_front();
  records_.push_back(std::move(record));
}

std::string CCoercionLog::NextCoercionRecord() {
  if (records_.empty()) return {};
  std::string record = std::move(records_.front());
  records_.pop_front();
  return record;
}

}  // namespace vmk
