#include "dcpwr/keyword_tables.h"

#include <array>
#include <memory>
#include <span>

namespace vmk {

namespace {

// The empty keyword for 0 and 99 lets a session whose model is unknown (or not yet settled)
// read back as "no supported model": 99 is listed last, so the empty string maps to it.
constexpr CEnumCommand kModel[] = {
    {"", 0, ""},        {"", 1, "K4301A"},  {"", 2, "K4101A"},  {"", 3, "K4102A"},
    {"", 4, "K4103A"},  {"", 5, "K4104A"},  {"", 6, "K4105A"},  {"", 7, "K4106A"},
    {"", 8, "K4107A"},  {"", 9, "K4108A"},  {"", 10, "K4109A"}, {"", 11, "K4201A"},
    {"", 12, "K4202A"}, {"", 13, "K4203A"}, {"", 14, "K4204A"}, {"", 99, ""},
};

constexpr CEnumCommand kOutput[] = {{"", 1, "1"}, {"", 2, "2"}, {"", 3, "3"}};

constexpr CEnumCommand kRangeType[] = {{"", 0, "CURR"}, {"", 1, "VOLT"}};

constexpr CEnumCommand kVoltageRange[] = {{"", 0, "LOW"}, {"", 1, "HIGH"}};

// A direction without a row has no command: RunStep then sends nothing after the selection.
constexpr CEnumCommand kStepDirection[] = {
    {"", 0, "VOLT UP"}, {"", 1, "VOLT DOWN"}, {"", 2, "CURR UP"}, {"", 3, "CURR DOWN"}};

constexpr CEnumCommand kTriggerSource[] = {{"", 0, "IMM"}, {"", 1, "BUS"}};

// The output pairs are K4301A's output names exactly as the instrument spells them.
constexpr CEnumCommand kCoupling[] = {
    {"", 0, "ON"},   {"", 1, "OFF"},          {"", 2, "ALL"},          {"", 3, "NONE"},
    {"", 4, "P6V, P25V"}, {"", 5, "P6V, N25V"}, {"", 6, "P25V, N25V"},
};

constexpr CEnumCommand kDisplayMode[] = {{"", 0, "VI"}, {"", 1, "VV"}, {"", 2, "II"}};

constexpr CEnumCommand kCalibrationLevel[] = {{"", 0, "MIN"}, {"", 1, "MID"}, {"", 2, "MAX"}};

constexpr std::array<std::span<const CEnumCommand>, 9> kRows{
    kModel, kOutput, kRangeType, kVoltageRange, kStepDirection,
    kTriggerSource, kCoupling, kDisplayMode, kCalibrationLevel,
};

}  // namespace

const CEnumCommandTable& KeywordTable(KeywordEnum which) {
  static const auto tables = [] {
    std::array<std::unique_ptr<CEnumCommandTable>, kRows.size()> built;
    for (std::size_t i = 0; i < kRows.size(); ++i)
      built[i] = std::make_unique<CEnumCommandTable>(kRows[i]);
    return built;
  }();
  const auto index = static_cast<std::size_t>(which);
  // An enumerator without rows would be a driver bug; answer with an empty table, not a crash.
  static const CEnumCommandTable kEmpty{std::span<const CEnumCommand>{}};
  return index < tables.size() ? *tables[index] : kEmpty;
}

}  // namespace vmk
