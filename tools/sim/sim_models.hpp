// The emulated instrument's own model facts. Kept apart from the driver on purpose: the emulator
// plays the instrument, and a wrong figure here must show up as a disagreement with the driver.
#pragma once

#include <cstdint>
#include <string_view>

namespace vmk40xx::sim {

// What a model has beyond the commands every model answers.
enum Feature : std::uint32_t {
  kNone = 0,
  kMultiOutput = 1u << 0,   // INST subsystem, per-output status summaries
  kRanges = 1u << 1,        // two voltage ranges, steps, UP/DOWN
  kRelay = 1u << 2,         // output relay
  kTracking = 1u << 3,      // output tracking
  kCoupling = 1u << 4,      // trigger coupling of outputs
  kOvp = 1u << 5,           // over-voltage protection
  kOcp = 1u << 6,           // over-current protection
  kDisplayMode = 1u << 7,   // split display modes
  kMemoryNames = 1u << 8,   // named state memories
  kCalDac = 1u << 9,        // DAC error calibration and current-protection calibration
  kCalVoltProt = 1u << 10,  // over-voltage protection calibration
  kCalMid = 1u << 11,       // MID calibration points
  kSimulation = 1u << 12,   // emulator-only commands (always present)
};

struct ModelInfo {
  std::string_view name;
  int outputs;
  // Single and dual models: the two voltage ranges. The three-output model uses low_* for its
  // +6 V output and high_* for the magnitude of its two 25 V outputs.
  std::string_view low_range_name;
  std::string_view high_range_name;
  double low_volt_max;
  double high_volt_max;
  double low_curr_max;
  double high_curr_max;
  double ovp_max;  // 0 where the model has no over-voltage protection
  double ocp_max;  // 0 where the model has no over-current protection
  std::uint32_t features;

  bool has(std::uint32_t f) const { return (features & f) == f; }
  bool triple() const { return outputs == 3; }
};

// nullptr when the name is not one of the fourteen models (exact, case-sensitive).
const ModelInfo* find_model(std::string_view name);
const ModelInfo& default_model();
// All models, for --help and tests.
const ModelInfo* models_begin();
const ModelInfo* models_end();

}  // namespace vmk40xx::sim
