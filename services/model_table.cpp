#include "services/model_table.h"

#include <algorithm>

namespace vmk {

namespace {

void AddUnique(std::vector<std::string>& list, std::string_view name) {
  if (std::find(list.begin(), list.end(), name) == list.end()) list.emplace_back(name);
}

std::span<const std::string> Listed(const StringMap<std::vector<std::string>>& map,
                                    std::string_view key) {
  auto it = map.find(key);
  if (it == map.end()) return {};
  return it->second;
}

ModelBasedEntries<CSupportedModel> SupportedEntries(std::span<const std::string_view> names) {
  ModelBasedEntries<CSupportedModel> entries;
  entries.reserve(names.size());
  for (std::string_view name : names)
    entries.push_back(std::make_unique<CSupportedModel>(std::string(name)));
  return entries;
}

}  // namespace

SupportedModelTable::SupportedModelTable(std::span<const ModelFamilyRow> rows) {
  for (const ModelFamilyRow& row : rows) {
    // An empty name would collide with the default tag of every model-based map.
    if (row.model.empty() || row.family.empty()) continue;
    AddUnique(familyModels_[std::string(row.family)], row.model);
    AddUnique(modelFamilies_[std::string(row.model)], row.family);
  }
}

bool SupportedModelTable::IsKnownModel(std::string_view model) const {
  return modelFamilies_.find(model) != modelFamilies_.end();
}

bool SupportedModelTable::IsKnownFamily(std::string_view family) const {
  return familyModels_.find(family) != familyModels_.end();
}

bool SupportedModelTable::IsModelInFamily(std::string_view model, std::string_view family) const {
  auto models = ModelsOf(family);
  return std::find(models.begin(), models.end(), model) != models.end();
}

std::span<const std::string> SupportedModelTable::ModelsOf(std::string_view family) const {
  return Listed(familyModels_, family);
}

std::span<const std::string> SupportedModelTable::FamiliesOf(std::string_view model) const {
  return Listed(modelFamilies_, model);
}

CSupportedModelValidator::CSupportedModelValidator(std::span<const std::string_view> names,
                                                   const SupportedModelTable& models)
    : map_(SupportedEntries(names), models) {}

bool CSupportedModelValidator::IsSupported(std::string_view model) const {
  return !model.empty() && map_.Find(model) != nullptr;
}

CEnumValueRestriction::CEnumValueRestriction(std::span<const CEnumSupportedModel> rows,
                                             const SupportedModelTable& models) {
  for (const CEnumSupportedModel& row : rows) {
    if (models.IsKnownFamily(row.name)) {
      for (const std::string& model : models.ModelsOf(row.name)) allowed_.emplace(row.value, model);
    } else if (models.IsKnownModel(row.name)) {
      allowed_.emplace(row.value, std::string(row.name));
    } else {
      // A misspelt name must not turn a restricted value into one that every model accepts:
      // the value stays restricted, and the empty name matches no model.
      allowed_.emplace(row.value, std::string());
    }
  }
}

bool CEnumValueRestriction::IsValueSupported(std::string_view model, int32_t value) const {
  auto [first, last] = allowed_.equal_range(value);
  if (first == last) return true;
  if (model.empty()) return false;
  return std::any_of(first, last, [&](const auto& pair) { return pair.second == model; });
}

}  // namespace vmk
