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

}  // namespace

SupportedModelTable::SupportedModelTable(std::span<const ModelFamilyRow> rows) {
  for (const ModelFamilyRow& row : rows) {
    // An empty name would collide with the default tag of every model-based map.
    if (row.model.empty() || row.family.empty()) continue;
    AddUnique(familyModels_[std::string(row.family)], row.model);
    AddUnique(modelFamilies_[std::string(row.model)], row.family);
  }
  for (const ModelFamilyRow& row : rows)
    if (ModelSet bit = ModelBit(rows, row.model)) bits_.emplace(std::string(row.model), bit);
}

ModelSet SupportedModelTable::Bit(std::string_view model) const {
  auto it = bits_.find(model);
  return it == bits_.end() ? 0 : it->second;
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

}  // namespace vmk
