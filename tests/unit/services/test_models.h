// A small model table of the tests' own, so that the build rules are checked independently of the
// real model list; A2 belongs to both families on purpose.
#pragma once

#include <array>

#include "services/model_table.h"

namespace vmk::test {

inline constexpr std::array<ModelFamilyRow, 5> kTestModelRows{{
    {"A1", "Fam1"},
    {"A2", "Fam1"},
    {"A3", "Fam1"},
    {"A2", "Fam2"},
    {"B1", "Fam2"},
}};

inline const SupportedModelTable& TestModels() {
  static const SupportedModelTable table(kTestModelRows);
  return table;
}

}  // namespace vmk::test
