#include "services/validation.h"

#include <utility>

namespace vmk {

bool CheckValue(const ValidationPolicies& table, std::string_view model, double value) {
  const CParameterValidationPolicy* policy = table.Lookup(model);
  return !policy || policy->Validate(value);
}

void CCoercionLog::AddCoercionRecord(std::string record) {
  if (!records_) records_.emplace();
  if (records_->size() >= kCapacity) records_->pop_front();
  records_->push_back(std::move(record));
}

std::string CCoercionLog::NextCoercionRecord() {
  if (!records_ || records_->empty()) return {};
  std::string record = std::move(records_->front());
  records_->pop_front();
  return record;
}

}  // namespace vmk
