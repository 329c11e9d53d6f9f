#include "sim_models.hpp"

#include <iterator>

namespace vmk40xx::sim {
namespace {

constexpr std::uint32_t kSingle = kRanges | kRelay | kOvp | kCalVoltProt | kCalMid | kSimulation;
constexpr std::uint32_t kSingleOcp = kSingle | kOcp | kCalDac;
constexpr std::uint32_t kSingleMem = kSingle | kMemoryNames;
constexpr std::uint32_t kDual = kMultiOutput | kRanges | kRelay | kTracking | kCoupling | kOvp |
                                kDisplayMode | kMemoryNames | kCalVoltProt | kCalMid | kSimulation;
constexpr std::uint32_t kTriple = kMultiOutput | kTracking | kCoupling | kSimulation;

constexpr ModelInfo kModels[] = {
    {"K4301A", 3, "", "", 6.18, 25.75, 5.15, 1.03, 0, 0, kTriple},
    {"K4101A", 1, "P15V", "P30V", 15.45, 30.9, 7.21, 4.12, 32.0, 7.5, kSingleOcp},
    {"K4102A", 1, "P8V", "P20V", 8.24, 20.6, 20.64, 10.3, 22.0, 22.0, kSingleOcp},
    {"K4103A", 1, "P25V", "P50V", 25.75, 51.5, 7.21, 4.12, 55.0, 7.5, kSingleOcp},
    {"K4104A", 1, "P8V", "P20V", 8.24, 20.6, 3.09, 1.545, 22.0, 0, kSingleMem},
    {"K4105A", 1, "P35V", "P60V", 36.05, 61.8, 0.824, 0.515, 66.0, 0, kSingleMem},
    {"K4106A", 1, "P8V", "P20V", 8.24, 20.6, 5.15, 2.575, 22.0, 0, kSingleMem},
    {"K4107A", 1, "P35V", "P60V", 36.05, 61.8, 1.442, 0.824, 66.0, 0, kSingleMem},
    {"K4108A", 1, "P8V", "P20V", 8.24, 20.6, 8.24, 4.12, 22.0, 0, kSingleMem},
    {"K4109A", 1, "P35V", "P60V", 36.05, 61.8, 2.266, 1.339, 66.0, 0, kSingleMem},
    {"K4201A", 2, "P8V", "P20V", 8.24, 20.6, 3.09, 1.545, 22.0, 0, kDual},
    {"K4202A", 2, "P35V", "P60V", 36.05, 61.8, 0.824, 0.515, 66.0, 0, kDual},
    {"K4203A", 2, "P8V", "P20V", 8.24, 20.6, 5.15, 2.575, 22.0, 0, kDual},
    {"K4204A", 2, "P35V", "P60V", 36.05, 61.8, 1.442, 0.824, 66.0, 0, kDual},
};

}  // namespace

const ModelInfo* find_model(std::string_view name) {
  for (const auto& m : kModels)
    if (m.name == name) return &m;
  return nullptr;
}

const ModelInfo& default_model() {
  return kModels[2];
}
const ModelInfo* models_begin() {
  return std::begin(kModels);
}
const ModelInfo* models_end() {
  return std::end(kModels);
}

}  // namespace vmk40xx::sim
