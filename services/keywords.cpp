#include "services/keywords.h"

namespace vmk {

CEnumCommandTable::CEnumCommandTable(std::span<const CEnumCommand> rows,
                                     const SupportedModelTable& models) {
  auto add = [this](std::string_view name, const CEnumCommand& row) {
    Pairs& pairs = byName_[std::string(name)];
    pairs.toKeyword.insert_or_assign(row.value, std::string(row.keyword));
    pairs.toValue.insert_or_assign(std::string(row.keyword), row.value);
  };
  for (const CEnumCommand& row : rows) {
    if (row.name.empty() || models.IsKnownModel(row.name)) {
      add(row.name, row);
    } else if (models.IsKnownFamily(row.name)) {
      // Only models that have no pairs yet take it: a model listed on its own before keeps
      // exactly its own pairs, and a second row for the same family adds nothing.
      for (const std::string& model : models.ModelsOf(row.name))
        if (byName_.find(model) == byName_.end()) add(model, row);
    }
  }
  auto it = byName_.find(std::string_view{});
  common_ = it == byName_.end() ? nullptr : &it->second;
  perModel_ = byName_.size() > (common_ ? 1u : 0u);
}

const CEnumCommandTable::Pairs* CEnumCommandTable::PairsOf(std::string_view model) const {
  if (!perModel_ || model.empty()) return nullptr;
  auto it = byName_.find(model);
  return it == byName_.end() ? nullptr : &it->second;
}

std::string_view CEnumCommandTable::EnumToKeyword(std::string_view model, int32_t value) const {
  for (const Pairs* pairs : {PairsOf(model), common_}) {
    if (!pairs) continue;
    auto it = pairs->toKeyword.find(value);
    if (it != pairs->toKeyword.end()) return it->second;
  }
  return {};
}

bool CEnumCommandTable::KeywordToEnum(std::string_view model, std::string_view keyword,
                                      int32_t* value) const {
  for (const Pairs* pairs : {PairsOf(model), common_}) {
    if (!pairs) continue;
    auto it = pairs->toValue.find(keyword);
    if (it != pairs->toValue.end()) {
      if (value) *value = it->second;
      return true;
    }
  }
  return false;
}

}  // namespace vmk
