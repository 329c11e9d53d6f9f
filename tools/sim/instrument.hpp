// The emulated K40xx: settings, load model, status system, triggers and calibration of one
// instrument, driven line by line. Transport-independent and single-threaded.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "scpi.hpp"
#include "sim_models.hpp"

namespace vmk40xx::sim {

constexpr double kOpenCircuit = std::numeric_limits<double>::infinity();

// Per-output settings: what *RST resets and *SAV stores.
struct OutputSettings {
  double volt = 0, curr = 0;
  double volt_trig = 0, curr_trig = 0;
  double volt_step = 0, curr_step = 0;
  bool high_range = false;
  double ovp_level = 0, ocp_level = 0;
  bool ovp_on = false, ocp_on = false;
  bool trig_bus = false;  // trigger source BUS, else IMMediate
  double trig_delay = 0;
};

enum class DisplayMode : std::uint8_t { VoltCurrent, VoltVolt, CurrentCurrent };

struct Settings {
  std::array<OutputSettings, 3> out{};
  bool output_on = false;
  bool relay_on = false;
  bool tracking_on = false;
  unsigned coupling = 0;  // bit per coupled output; 0 = none
  bool display_on = true;
  DisplayMode display_mode = DisplayMode::VoltCurrent;
  std::string display_text;
  int selected = 0;
};

enum class TriggerState : std::uint8_t { Idle, WaitingForBus, Delaying };

// Per-output state that is not a setting: load, protection latches, live readings, status.
struct OutputRuntime {
  double load_ohms = 10.0;
  bool ovp_tripped = false, ocp_tripped = false;
  double vout = 0, iout = 0;
  int condition = 0;  // 0 off, 1 constant current, 2 constant voltage
  TriggerState trigger = TriggerState::Idle;
  std::int64_t fire_at_us = 0;
  unsigned isum_event = 0, isum_enable = 0, isum_condition = 0;
  int cal_volt_level = 0, cal_curr_level = 0;  // 0 none, 1 MIN, 2 MID, 3 MAX
  unsigned cal_volt_done = 0, cal_curr_done = 0;
};

// Misbehaviour on request. Shared by every client, like the instrument itself.
struct Faults {
  int delay_ms = 0;      // every reply is held back this long
  long close_after = 0;  // close the connection after this many more lines; 0 = off
  bool garbage_next = false;
  bool drop_lf_next = false;
};

struct InstrumentOptions {
  const ModelInfo* model = nullptr;  // default model when null
  std::string serial = "0";
  std::string firmware = "1.2-5.0-1.0";
  std::string cal_code = "VMK40XX";
  std::array<double, 3> loads{10.0, 10.0, 10.0};
  double noise = 0;  // relative amplitude of measurement noise
  std::uint64_t seed = 1;
  Faults faults{};
  unsigned initial_esr = 0;  // event bits set at power-on, for fault injection
};

class Instrument {
 public:
  explicit Instrument(InstrumentOptions opts = {});

  // Handles one received line (without its terminator). Query replies of the line are
  // appended to `reply`, joined by ';', without a terminator. Returns true when a query replied.
  bool execute(std::string_view line, std::string& reply);

  // Trigger delays run on this clock (microseconds); tests substitute their own.
  void set_clock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }
  std::int64_t next_deadline_us() const;  // max() when nothing is pending
  void advance(std::int64_t now_us);

  // A line with *OPC? may only be answered once pending triggers have fired; this is when,
  // for the line executed last (0 when it can be answered at once).
  std::int64_t hold_reply_until_us() const { return hold_until_us_; }

  Faults& faults() { return faults_; }
  const ModelInfo& model() const { return *model_; }
  const Settings& settings() const { return set_; }
  const OutputRuntime& runtime(int output) const { return rt_[static_cast<std::size_t>(output)]; }
  int calibration_count() const { return cal_count_; }
  unsigned esr() const { return esr_; }
  // The status byte as *STB? reads it (without MAV, which belongs to the transport's output).
  unsigned status_byte() const;
  std::size_t error_count() const { return errors_.size(); }

  // Limits of an output in its present range. The "low" end is the value MIN selects, which
  // on the negative output is the smaller magnitude.
  double volt_max(int o) const;
  double curr_max(int o) const;

  static constexpr std::size_t kErrorQueueSize = 20;
  static constexpr std::size_t kDisplayChars = 12;
  static constexpr std::size_t kMemoryNameChars = 12;
  static constexpr std::size_t kCalStringChars = 40;
  static constexpr int kMemories = 5;

 private:
  friend struct Call;
  friend struct CommandSet;

  struct Lookup {
    int index = -1;
    std::array<int, 3> suffixes{-1, -1, -1};
  };

  int resolve(const std::string_view* m, std::size_t count, std::array<int, 3>& suffixes);
  void push_error(int code);
  void reset();
  void refresh();  // load model, protection and status after every change
  void update_output(int o);
  void mirror_tracking(int o);
  unsigned questionable_condition() const;
  void clear_events();
  void initiate();
  void bus_trigger();
  void start_delay(int o);
  void fire(int o);
  double noisy(double v);
  std::int64_t now_us() const { return clock_(); }
  int outputs() const { return model_->outputs; }

  const ModelInfo* model_;
  InstrumentOptions opts_;
  Settings set_;
  std::array<OutputRuntime, 3> rt_{};
  std::array<std::optional<Settings>, kMemories> memories_{};
  std::array<std::string, kMemories> memory_names_{};
  Faults faults_;
  std::deque<int> errors_;
  unsigned esr_ = 0, ese_ = 0, sre_ = 0;
  unsigned ques_event_ = 0, ques_enable_ = 0, ques_condition_ = 0;
  unsigned inst_event_ = 0, inst_enable_ = 0, inst_condition_ = 0;
  bool cal_secured_ = true;
  std::string cal_code_;
  std::string cal_string_ = "FACTORY CAL 09/Aug/2002";
  int cal_count_ = 1;
  std::int64_t hold_until_us_ = 0;
  bool remote_ = false;
  long beeps_ = 0;
  std::uint64_t rng_;
  std::function<std::int64_t()> clock_;
  scpi::Unit unit_;
  std::string key_;  // reused lookup key, so a line costs no allocation once warm
  std::unordered_map<std::string, Lookup> cache_;
};

}  // namespace vmk40xx::sim
