// Range checks of parameter values per model, and the session's coercion log.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "services/model_table.h"

namespace vmk {

class CParameterValidationPolicy : public CModelBasedType {
 public:
  using CModelBasedType::CModelBasedType;
  virtual bool Validate(double value) const = 0;
};

// Both bounds inclusive and exact: a value a hair outside is refused, and NaN never passes.
class CMinMaxParameterValidationPolicy : public CParameterValidationPolicy {
 public:
  CMinMaxParameterValidationPolicy(std::string name, double min, double max)
      : CParameterValidationPolicy(std::move(name)), min_(min), max_(max) {}
  bool Validate(double value) const override { return min_ <= value && value <= max_; }
  double Min() const { return min_; }
  double Max() const { return max_; }

 private:
  double min_;
  double max_;
};

using ValidationPolicies = CModelBasedMap<CParameterValidationPolicy>;

// True when the model's policy (model entry, else default) accepts the value, or when there is no
// policy at all.
bool CheckValue(const ValidationPolicies& table, std::string_view model, double value);

// The session's coercion records, oldest first; full at 1000, when a new record drops the oldest.
class CCoercionLog {
 public:
  static constexpr std::size_t kCapacity = 1000;

  void AddCoercionRecord(std::string record);
  // Takes out the oldest record; the empty string when there is none.
  std::string NextCoercionRecord();
  std::size_t Size() const { return records_ ? records_->size() : 0; }

 private:
  // Made by the first record: an empty std::deque already holds two blocks of the heap, and most
  // sessions never record a coercion.
  std::optional<std::deque<std::string>> records_;
};

}  // namespace vmk
