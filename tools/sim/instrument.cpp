#include "instrument.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vmk40xx::sim {
namespace {

constexpr double kDefaultStep = 0.001;
// Readings are compared with protection levels after floating-point arithmetic; a trip needs
// a real excess, not a rounding difference.
constexpr double kTripMargin = 1e-9;

double clamp_signed(double v, double limit) {
  return std::clamp(v, std::min(0.0, limit), std::max(0.0, limit));
}

}  // namespace

Instrument::Instrument(InstrumentOptions opts)
    : model_(opts.model ? opts.model : &default_model()),
      opts_(std::move(opts)),
      faults_(opts_.faults),
      cal_code_(opts_.cal_code),
      rng_(opts_.seed ? opts_.seed : 1),
      clock_([] {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
      }) {
  for (std::size_t o = 0; o < rt_.size(); ++o) rt_[o].load_ohms = opts_.loads[o];
  key_.reserve(64);
  esr_ = opts_.initial_esr & 0xFF;
  reset();
}

double Instrument::volt_max(int o) const {
  const ModelInfo& m = *model_;
  if (m.triple()) return o == 0 ? m.low_volt_max : (o == 1 ? m.high_volt_max : -m.high_volt_max);
  return set_.out[static_cast<std::size_t>(o)].high_range ? m.high_volt_max : m.low_volt_max;
}

double Instrument::curr_max(int o) const {
  const ModelInfo& m = *model_;
  if (m.triple()) return o == 0 ? m.low_curr_max : m.high_curr_max;
  return set_.out[static_cast<std::size_t>(o)].high_range ? m.high_curr_max : m.low_curr_max;
}

void Instrument::reset() {
  set_ = Settings{};
  for (int o = 0; o < outputs(); ++o) {
    OutputSettings& s = set_.out[static_cast<std::size_t>(o)];
    s.curr = s.curr_trig = curr_max(o);
    s.volt_step = s.curr_step = kDefaultStep;
    s.ovp_level = model_->ovp_max;
    s.ocp_level = model_->ocp_max;
    OutputRuntime& r = rt_[static_cast<std::size_t>(o)];
    r.trigger = TriggerState::Idle;
    r.ovp_tripped = r.ocp_tripped = false;
  }
  refresh();
}

void Instrument::push_error(int code) {
  if (errors_.size() >= kErrorQueueSize)
    errors_.back() = scpi::kQueueOverflow;
  else
    errors_.push_back(code);
  if (code <= -100 && code > -200)
    esr_ |= 0x20;
  else if (code <= -200 && code > -300)
    esr_ |= 0x10;
  else if (code <= -400 && code > -500)
    esr_ |= 0x04;
  else
    esr_ |= 0x08;
}

void Instrument::update_output(int o) {
  const OutputSettings& s = set_.out[static_cast<std::size_t>(o)];
  OutputRuntime& r = rt_[static_cast<std::size_t>(o)];
  auto off = [&r] {
    r.vout = r.iout = 0;
    r.condition = 0;
  };
  if (!set_.output_on || r.ovp_tripped || r.ocp_tripped) return off();
  const double magnitude = std::fabs(s.volt);
  const double demand = r.load_ohms <= 0 ? (magnitude > 0 ? kOpenCircuit : 0.0)
                                         : magnitude / r.load_ohms;  // 0 for an open circuit
  if (demand <= s.curr) {
    r.vout = s.volt;
    r.iout = demand;
    r.condition = 2;
  } else {
    r.iout = s.curr;
    r.vout = std::copysign(r.load_ohms > 0 ? s.curr * r.load_ohms : 0.0, s.volt);
    r.condition = 1;
  }
  if (model_->has(kOvp) && s.ovp_on && std::fabs(r.vout) > s.ovp_level + kTripMargin) {
    r.ovp_tripped = true;
    return off();
  }
  if (model_->has(kOcp) && s.ocp_on && r.iout > s.ocp_level + kTripMargin) {
    r.ocp_tripped = true;
    return off();
  }
}

void Instrument::refresh() {
  for (int o = 0; o < outputs(); ++o) update_output(o);
  unsigned ques = 0;
  if (model_->has(kMultiOutput)) {
    unsigned inst = 0;
    for (int o = 0; o < outputs(); ++o) {
      OutputRuntime& r = rt_[static_cast<std::size_t>(o)];
      const auto cond = static_cast<unsigned>(r.condition);
      r.isum_event |= cond & ~r.isum_condition;
      r.isum_condition = cond;
      if (r.isum_event & r.isum_enable) inst |= 1u << (o + 1);
    }
    inst_event_ |= inst & ~inst_condition_;
    inst_condition_ = inst;
    if (inst_event_ & inst_enable_) ques = 1u << 13;
  } else {
    ques = static_cast<unsigned>(rt_[0].condition);
  }
  ques_event_ |= ques & ~ques_condition_;
  ques_condition_ = ques;
}

void Instrument::mirror_tracking(int o) {
  if (!set_.tracking_on || !model_->has(kTracking)) return;
  if (model_->triple()) {
    if (o == 0) return;
    const int partner = o == 1 ? 2 : 1;
    set_.out[static_cast<std::size_t>(partner)].volt = -set_.out[static_cast<std::size_t>(o)].volt;
  } else {
    const int partner = 1 - o;
    set_.out[static_cast<std::size_t>(partner)].volt =
        clamp_signed(set_.out[static_cast<std::size_t>(o)].volt, volt_max(partner));
  }
}

unsigned Instrument::questionable_condition() const {
  return ques_condition_;
}

unsigned Instrument::status_byte() const {
  unsigned stb = 0;
  if (!errors_.empty()) stb |= 0x04;
  if (ques_event_ & ques_enable_) stb |= 0x08;
  if (esr_ & ese_) stb |= 0x20;
  if (stb & sre_ & ~0x40u) stb |= 0x40;
  return stb;
}

void Instrument::clear_events() {
  esr_ = 0;
  errors_.clear();
  ques_event_ = inst_event_ = 0;
  for (auto& r : rt_) r.isum_event = 0;
}

void Instrument::initiate() {
  unsigned group = 1u << set_.selected;
  if (model_->has(kCoupling) && (set_.coupling & group)) group = set_.coupling;
  for (int o = 0; o < outputs(); ++o)
    if ((group & (1u << o)) && rt_[static_cast<std::size_t>(o)].trigger != TriggerState::Idle)
      return push_error(scpi::kInitIgnored);
  for (int o = 0; o < outputs(); ++o) {
    if (!(group & (1u << o))) continue;
    if (set_.out[static_cast<std::size_t>(o)].trig_bus)
      rt_[static_cast<std::size_t>(o)].trigger = TriggerState::WaitingForBus;
    else
      start_delay(o);
  }
}

void Instrument::bus_trigger() {
  bool any = false;
  for (int o = 0; o < outputs(); ++o) {
    if (rt_[static_cast<std::size_t>(o)].trigger != TriggerState::WaitingForBus) continue;
    any = true;
    start_delay(o);
  }
  if (!any) push_error(scpi::kTriggerIgnored);
}

void Instrument::start_delay(int o) {
  OutputRuntime& r = rt_[static_cast<std::size_t>(o)];
  const double delay = set_.out[static_cast<std::size_t>(o)].trig_delay;
  if (delay <= 0) return fire(o);
  r.trigger = TriggerState::Delaying;
  r.fire_at_us = now_us() + static_cast<std::int64_t>(delay * 1e6);
}

void Instrument::fire(int o) {
  OutputSettings& s = set_.out[static_cast<std::size_t>(o)];
  // The range may have changed since the triggered levels were accepted.
  s.volt = clamp_signed(s.volt_trig, volt_max(o));
  s.curr = std::clamp(s.curr_trig, 0.0, curr_max(o));
  rt_[static_cast<std::size_t>(o)].trigger = TriggerState::Idle;
  mirror_tracking(o);
}

std::int64_t Instrument::next_deadline_us() const {
  std::int64_t next = std::numeric_limits<std::int64_t>::max();
  for (int o = 0; o < outputs(); ++o) {
    const OutputRuntime& r = rt_[static_cast<std::size_t>(o)];
    if (r.trigger == TriggerState::Delaying) next = std::min(next, r.fire_at_us);
  }
  return next;
}

void Instrument::advance(std::int64_t now) {
  bool fired = false;
  for (int o = 0; o < outputs(); ++o) {
    const OutputRuntime& r = rt_[static_cast<std::size_t>(o)];
    if (r.trigger == TriggerState::Delaying && r.fire_at_us <= now) {
      fire(o);
      fired = true;
    }
  }
  if (fired) refresh();
}

double Instrument::noisy(double v) {
  if (opts_.noise <= 0 || v == 0) return v;
  rng_ ^= rng_ >> 12;
  rng_ ^= rng_ << 25;
  rng_ ^= rng_ >> 27;
  const double u = static_cast<double>((rng_ * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-53;
  return v * (1 + opts_.noise * (2 * u - 1));
}

}  // namespace vmk40xx::sim
