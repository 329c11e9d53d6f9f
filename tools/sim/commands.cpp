// The command table of the emulated instrument and the handlers behind it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "instrument.hpp"

namespace vmk40xx::sim {

using scpi::Param;
using scpi::ParamKind;

namespace {

enum class Access : std::uint8_t { Command, Query, Both };

// A keyword written with its short form in capitals, e.g. "MINimum": matches MIN or MINIMUM.
bool word(const Param& p, std::string_view spelled) {
  if (p.kind != ParamKind::Chars) return false;
  std::size_t n = 0;
  while (n < spelled.size() && !(spelled[n] >= 'a' && spelled[n] <= 'z')) ++n;
  return scpi::iequals(p.text, spelled.substr(0, n)) || scpi::iequals(p.text, spelled);
}

// Parameter text for values that may come quoted or bare (codes, names).
std::string text_of(const Param& p) {
  return p.kind == ParamKind::String ? p.unquoted() : std::string(p.text);
}

constexpr double kTolerance = 1e-9;
constexpr int kInvalidSecureCode = 703;

}  // namespace

// Everything a handler needs for one program unit.
struct Call {
  Instrument& in;
  const scpi::Unit& u;
  std::array<int, 3> suffix;
  std::string& reply;

  bool query() const { return u.query; }
  std::size_t count() const { return u.param_count; }
  const Param& p(std::size_t i) const { return u.params[i]; }
  void error(int code) { in.push_error(code); }
  int out() const { return in.set_.selected; }
  OutputSettings& settings(int o) { return in.set_.out[static_cast<std::size_t>(o)]; }
  OutputRuntime& runtime(int o) { return in.rt_[static_cast<std::size_t>(o)]; }

  bool params(std::size_t min, std::size_t max) {
    if (count() < min) return error(scpi::kMissingParameter), false;
    if (count() > max) return error(scpi::kParameterNotAllowed), false;
    return true;
  }

  // A number or MIN/MAX/DEF. `min` and `max` are the values the keywords stand for; the
  // accepted range lies between them whichever is larger (the negative output counts down).
  bool number(std::size_t i, double min, double max, double def, double& v, bool check = true) {
    const Param& q = p(i);
    if (q.kind == ParamKind::Number) {
      v = q.number;
      if (!check) return true;
      const double lo = std::min(min, max), hi = std::max(min, max);
      if (!(v >= lo - kTolerance && v <= hi + kTolerance))
        return error(scpi::kDataOutOfRange), false;
      v = std::clamp(v, lo, hi);
      return true;
    }
    if (word(q, "MINimum")) return v = min, true;
    if (word(q, "MAXimum")) return v = max, true;
    if (word(q, "DEFault")) return v = def, true;
    error(q.kind == ParamKind::String ? scpi::kDataTypeError : scpi::kIllegalParameterValue);
    return false;
  }

  bool integer(std::size_t i, long min, long max, long& v) {
    double d = 0;
    if (!number(i, static_cast<double>(min), static_cast<double>(max), static_cast<double>(min), d))
      return false;
    v = std::lround(d);
    return true;
  }

  bool boolean(std::size_t i, bool& v) {
    const Param& q = p(i);
    if (q.kind == ParamKind::Number) return v = std::lround(q.number) != 0, true;
    if (word(q, "ON")) return v = true, true;
    if (word(q, "OFF")) return v = false, true;
    error(scpi::kIllegalParameterValue);
    return false;
  }

  // Output named in a parameter (P6V, P25V, N25V on the three-output model; OUTP1, OUTP2 on a
  // dual model), or -1.
  int output_named(const Param& q) const {
    if (q.kind != ParamKind::Chars) return -1;
    const ModelInfo& m = in.model();
    if (m.triple()) {
      static constexpr std::string_view kNames[] = {"P6V", "P25V", "N25V"};
      for (int o = 0; o < 3; ++o)
        if (scpi::iequals(q.text, kNames[o])) return o;
      return -1;
    }
    for (int o = 0; o < m.outputs; ++o) {
      const char* names[] = {"OUTP", "OUTPUT", "OUT"};
      for (const char* n : names) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%s%d", n, o + 1);
        if (scpi::iequals(q.text, buf)) return o;
      }
    }
    return -1;
  }

  void num(double v) { scpi::append_number(reply, v); }
  void integer_reply(long long v) { scpi::append_int(reply, v); }
  void boolean_reply(bool b) { reply.push_back(b ? '1' : '0'); }
  void text(std::string_view s) { reply.append(s); }
  void quoted(std::string_view s) { scpi::append_quoted(reply, s); }
};

namespace {

// A per-output numeric setting with the values MIN, MAX and DEF stand for.
struct Level {
  double OutputSettings::*field;
  double (*min)(const Instrument&, int);
  double (*max)(const Instrument&, int);
  double (*def)(const Instrument&, int);
};

double zero(const Instrument&, int) {
  return 0;
}
double volt_max(const Instrument& in, int o) {
  return in.volt_max(o);
}
double curr_max(const Instrument& in, int o) {
  return in.curr_max(o);
}
double ovp_min(const Instrument&, int) {
  return 1.0;
}
double ovp_max(const Instrument& in, int) {
  return in.model().ovp_max;
}
double ocp_max(const Instrument& in, int) {
  return in.model().ocp_max;
}
double step_default(const Instrument&, int) {
  return 0.001;
}
double delay_max(const Instrument&, int) {
  return 3600;
}

constexpr Level kVolt{&OutputSettings::volt, zero, volt_max, zero};
constexpr Level kCurr{&OutputSettings::curr, zero, curr_max, curr_max};
constexpr Level kVoltTrig{&OutputSettings::volt_trig, zero, volt_max, zero};
constexpr Level kCurrTrig{&OutputSettings::curr_trig, zero, curr_max, curr_max};
constexpr Level kVoltStep{&OutputSettings::volt_step, zero, volt_max, step_default};
constexpr Level kCurrStep{&OutputSettings::curr_step, zero, curr_max, step_default};
constexpr Level kOvpLevel{&OutputSettings::ovp_level, ovp_min, ovp_max, ovp_max};
constexpr Level kOcpLevel{&OutputSettings::ocp_level, zero, ocp_max, ocp_max};
constexpr Level kDelay{&OutputSettings::trig_delay, zero, delay_max, zero};

}  // namespace

struct CommandSet {
  struct Entry {
    const char* pattern;
    Access access;
    std::uint32_t feature;
    void (*handler)(Call&);
  };
  struct Compiled {
    scpi::Pattern pattern;
    Access access;
    std::uint32_t feature;
    void (*handler)(Call&);
  };

  // ---- shapes shared by many commands ----

  // Returns true when a command changed the value.
  static bool level(Call& c, const Level& l, int o) {
    OutputSettings& s = c.settings(o);
    const double min = l.min(c.in, o), max = l.max(c.in, o), def = l.def(c.in, o);
    if (c.query()) {
      if (!c.params(0, 1)) return false;
      double v = s.*l.field;
      if (c.count() == 1) {
        if (c.p(0).kind == ParamKind::Number) return c.error(scpi::kIllegalParameterValue), false;
        if (!c.number(0, min, max, def, v)) return false;
      }
      c.num(v);
      return false;
    }
    double v = 0;
    if (!c.params(1, 1) || !c.number(0, min, max, def, v)) return false;
    s.*l.field = v;
    return true;
  }
  static void level_cmd(Call& c, const Level& l) { level(c, l, c.out()); }

  static void flag(Call& c, bool& f) {
    if (c.query()) {
      if (c.params(0, 0)) c.boolean_reply(f);
      return;
    }
    bool v = false;
    if (c.params(1, 1) && c.boolean(0, v)) f = v;
  }

  static void reg(Call& c, unsigned& r, long max, unsigned ignored = 0) {
    if (c.query()) {
      if (c.params(0, 0)) c.integer_reply(r);
      return;
    }
    long v = 0;
    if (c.params(1, 1) && c.integer(0, 0, max, v)) r = static_cast<unsigned>(v) & ~ignored;
  }

  static void read_clear(Call& c, unsigned& r) {
    if (!c.params(0, 0)) return;
    c.integer_reply(r);
    r = 0;
  }

  static void read_only(Call& c, long long v) {
    if (c.params(0, 0)) c.integer_reply(v);
  }

  static bool secured(Call& c) {
    if (c.in.cal_secured_) c.error(scpi::kCommandProtected);
    return c.in.cal_secured_;
  }

  // ---- common commands ----

  static void idn(Call& c) {
    if (!c.params(0, 0)) return;
    c.text("Velmora,");
    c.text(c.in.model().name);
    c.text(",");
    c.text(c.in.opts_.serial);
    c.text(",");
    c.text(c.in.opts_.firmware);
  }
  static void rst(Call& c) {
    if (c.params(0, 0)) c.in.reset();
  }
  static void cls(Call& c) {
    if (c.params(0, 0)) c.in.clear_events();
  }
  static void opc(Call& c) {
    if (!c.params(0, 0)) return;
    // Settings take effect at once; only a delayed trigger is still pending.
    if (!c.query()) return void(c.in.esr_ |= 0x01);
    for (const OutputRuntime& r : c.in.rt_)
      if (r.trigger == TriggerState::Delaying)
        c.in.hold_until_us_ = std::max(c.in.hold_until_us_, r.fire_at_us);
    c.text("1");
  }
  static void esr(Call& c) { read_clear(c, c.in.esr_); }
  static void ese(Call& c) { reg(c, c.in.ese_, 255); }
  static void sre(Call& c) { reg(c, c.in.sre_, 255, 0x40); }
  static void stb(Call& c) { read_only(c, c.in.status_byte()); }
  static void tst(Call& c) { read_only(c, 0); }
  static void nothing(Call& c) { c.params(0, 0); }
  static void trg(Call& c) {
    if (c.params(0, 0)) c.in.bus_trigger();
  }
  static void memory(Call& c, long& n) {
    n = 0;
    if (c.params(1, 1)) c.integer(0, 1, Instrument::kMemories, n);
  }
  static void sav(Call& c) {
    long n;
    memory(c, n);
    if (n) c.in.memories_[static_cast<std::size_t>(n - 1)] = c.in.set_;
  }
  static void rcl(Call& c) {
    long n;
    memory(c, n);
    if (!n) return;
    const auto& m = c.in.memories_[static_cast<std::size_t>(n - 1)];
    if (!m) return c.error(scpi::kSettingsConflict);
    c.in.set_ = *m;
  }

  // ---- output selection and coupling ----

  static void inst_nsel(Call& c) {
    if (c.query()) return read_only(c, c.out() + 1);
    long n = 0;
    if (c.params(1, 1) && c.integer(0, 1, c.in.outputs(), n))
      c.in.set_.selected = static_cast<int>(n - 1);
  }
  static void inst_sel(Call& c) {
    if (c.query()) {
      if (!c.params(0, 0)) return;
      static constexpr std::string_view kTriple[] = {"P6V", "P25V", "N25V"};
      if (c.in.model().triple()) return c.text(kTriple[c.out()]);
      c.text("OUTP");
      return c.integer_reply(c.out() + 1);
    }
    if (!c.params(1, 1)) return;
    const int o = c.output_named(c.p(0));
    if (o < 0) return c.error(scpi::kIllegalParameterValue);
    c.in.set_.selected = o;
  }
  static void inst_coup(Call& c) {
    unsigned& mask = c.in.set_.coupling;
    const bool triple = c.in.model().triple();
    const unsigned all = (1u << c.in.outputs()) - 1;
    if (c.query()) {
      if (!c.params(0, 0)) return;
      if (!triple) return c.boolean_reply(mask != 0);
      if (mask == 0) return c.text("NONE");
      if (mask == all) return c.text("ALL");
      static constexpr std::string_view kNames[] = {"P6V", "P25V", "N25V"};
      bool first = true;
      for (int o = 0; o < 3; ++o) {
        if (!(mask & (1u << o))) continue;
        if (!first) c.text(", ");
        c.text(kNames[o]);
        first = false;
      }
      return;
    }
    if (!c.params(1, 3)) return;
    // ALL and NONE everywhere; the dual models also take a plain boolean.
    const Param& q = c.p(0);
    const bool one = c.count() == 1;
    const bool number = q.kind == ParamKind::Number;
    if (one && (word(q, "ALL") || (!triple && (word(q, "ON") || (number && q.number == 1)))))
      return void(mask = all);
    if (one && (word(q, "NONE") || (!triple && (word(q, "OFF") || (number && q.number == 0)))))
      return void(mask = 0);
    if (!triple) return c.error(scpi::kIllegalParameterValue);
    unsigned m = 0;
    for (std::size_t i = 0; i < c.count(); ++i) {
      const int o = c.output_named(c.p(i));
      if (o < 0) return c.error(scpi::kIllegalParameterValue);
      m |= 1u << o;
    }
    // Coupling one output with itself means nothing; a real list names at least two.
    if (m == 1 || m == 2 || m == 4) return c.error(scpi::kSettingsConflict);
    mask = m;
  }

  // ---- outputs ----

  static void outp(Call& c) { flag(c, c.in.set_.output_on); }
  static void relay(Call& c) { flag(c, c.in.set_.relay_on); }
  static void track(Call& c) {
    flag(c, c.in.set_.tracking_on);
    if (!c.query()) c.in.mirror_tracking(c.in.model().triple() ? 1 : 0);
  }

  static bool step(Call& c, double OutputSettings::*field, double OutputSettings::*step_field,
                   double max) {
    if (c.query() || c.count() != 1) return false;
    const bool up = word(c.p(0), "UP");
    if (!up && !word(c.p(0), "DOWN")) return false;
    if (!c.in.model().has(kRanges)) return c.error(scpi::kIllegalParameterValue), true;
    OutputSettings& s = c.settings(c.out());
    const double step_size = s.*step_field;
    const double v = s.*field + (up ? step_size : -step_size);
    if (v < -kTolerance || v > max + kTolerance) return c.error(scpi::kDataOutOfRange), true;
    s.*field = std::clamp(v, 0.0, max);
    return true;
  }
  static void volt(Call& c) {
    if (step(c, &OutputSettings::volt, &OutputSettings::volt_step, c.in.volt_max(c.out())) ||
        level(c, kVolt, c.out()))
      c.in.mirror_tracking(c.out());
  }
  static void curr(Call& c) {
    if (!step(c, &OutputSettings::curr, &OutputSettings::curr_step, c.in.curr_max(c.out())))
      level(c, kCurr, c.out());
  }
  static void volt_trig(Call& c) { level_cmd(c, kVoltTrig); }
  static void curr_trig(Call& c) { level_cmd(c, kCurrTrig); }
  static void volt_step(Call& c) { level_cmd(c, kVoltStep); }
  static void curr_step(Call& c) { level_cmd(c, kCurrStep); }

  static void volt_range(Call& c) {
    const ModelInfo& m = c.in.model();
    OutputSettings& s = c.settings(c.out());
    if (c.query()) {
      if (c.params(0, 0)) c.text(s.high_range ? m.high_range_name : m.low_range_name);
      return;
    }
    if (!c.params(1, 1)) return;
    const Param& q = c.p(0);
    if (word(q, "LOW") || q.is(m.low_range_name) || word(q, "MINimum"))
      s.high_range = false;
    else if (word(q, "HIGH") || q.is(m.high_range_name) || word(q, "MAXimum"))
      s.high_range = true;
    else
      return c.error(scpi::kIllegalParameterValue);
    // Levels beyond the new range's reach come down to its limits.
    const int o = c.out();
    s.volt = std::min(s.volt, c.in.volt_max(o));
    s.volt_trig = std::min(s.volt_trig, c.in.volt_max(o));
    s.curr = std::min(s.curr, c.in.curr_max(o));
    s.curr_trig = std::min(s.curr_trig, c.in.curr_max(o));
  }

  static void appl(Call& c) {
    const ModelInfo& m = c.in.model();
    int o = c.out();
    std::size_t first = 0;
    if (c.count() > 0 && c.p(0).kind == ParamKind::Chars && c.output_named(c.p(0)) >= 0) {
      o = c.output_named(c.p(0));
      first = 1;
    }
    OutputSettings& s = c.settings(o);
    if (c.query()) {
      if (c.count() > first) return c.error(scpi::kParameterNotAllowed);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.6f,%.6f", s.volt, s.curr);
      return c.quoted(buf);
    }
    if (c.count() < first + 1) return c.error(scpi::kMissingParameter);
    if (c.count() > first + 2) return c.error(scpi::kParameterNotAllowed);
    double v = 0, i = s.curr;
    if (!c.number(first, 0, c.in.volt_max(o), 0, v, false)) return;
    if (c.count() == first + 2 &&
        !c.number(first + 1, 0, c.in.curr_max(o), c.in.curr_max(o), i, false))
      return;
    auto fits = [&](double vmax, double imax) {
      const double lo = std::min(0.0, vmax), hi = std::max(0.0, vmax);
      return v >= lo - kTolerance && v <= hi + kTolerance && i >= -kTolerance &&
             i <= imax + kTolerance;
    };
    if (!fits(c.in.volt_max(o), c.in.curr_max(o))) {
      // The other range is chosen when only it can deliver the pair.
      const bool other = !s.high_range;
      if (!m.has(kRanges) ||
          !fits(other ? m.high_volt_max : m.low_volt_max, other ? m.high_curr_max : m.low_curr_max))
        return c.error(scpi::kDataOutOfRange);
      s.high_range = other;
    }
    s.volt = v;
    s.curr = std::max(0.0, i);
    c.in.mirror_tracking(o);
  }

  static void measure(Call& c, bool voltage) {
    int o = c.out();
    if (!c.params(0, 1)) return;
    if (c.count() == 1) {
      o = c.output_named(c.p(0));
      if (o < 0) return c.error(scpi::kIllegalParameterValue);
    }
    const OutputRuntime& r = c.runtime(o);
    c.num(c.in.noisy(voltage ? r.vout : r.iout));
  }
  static void meas_volt(Call& c) { measure(c, true); }
  static void meas_curr(Call& c) { measure(c, false); }

  // ---- protection ----

  static void ovp_level(Call& c) { level_cmd(c, kOvpLevel); }
  static void ocp_level(Call& c) { level_cmd(c, kOcpLevel); }
  static void ovp_state(Call& c) { flag(c, c.settings(c.out()).ovp_on); }
  static void ocp_state(Call& c) { flag(c, c.settings(c.out()).ocp_on); }
  static void ovp_trip(Call& c) { read_only(c, c.runtime(c.out()).ovp_tripped); }
  static void ocp_trip(Call& c) { read_only(c, c.runtime(c.out()).ocp_tripped); }
  static void ovp_clear(Call& c) {
    if (c.params(0, 0)) c.runtime(c.out()).ovp_tripped = false;
  }
  static void ocp_clear(Call& c) {
    if (c.params(0, 0)) c.runtime(c.out()).ocp_tripped = false;
  }

  // ---- triggering ----

  static void trig_source(Call& c) {
    OutputSettings& s = c.settings(c.out());
    if (c.query()) {
      if (c.params(0, 0)) c.text(s.trig_bus ? "BUS" : "IMM");
      return;
    }
    if (!c.params(1, 1)) return;
    if (word(c.p(0), "BUS"))
      s.trig_bus = true;
    else if (word(c.p(0), "IMMediate"))
      s.trig_bus = false;
    else
      c.error(scpi::kIllegalParameterValue);
  }
  static void trig_delay(Call& c) { level_cmd(c, kDelay); }
  static void init(Call& c) {
    if (c.params(0, 0)) c.in.initiate();
  }
  static void abort(Call& c) {
    if (!c.params(0, 0)) return;
    for (auto& r : c.in.rt_) r.trigger = TriggerState::Idle;
  }

  // ---- status ----

  static void ques_event(Call& c) { read_clear(c, c.in.ques_event_); }
  static void ques_cond(Call& c) { read_only(c, c.in.questionable_condition()); }
  static void ques_enable(Call& c) { reg(c, c.in.ques_enable_, 65535); }
  static void inst_event(Call& c) { read_clear(c, c.in.inst_event_); }
  static void inst_cond(Call& c) { read_only(c, c.in.inst_condition_); }
  static void inst_enable(Call& c) { reg(c, c.in.inst_enable_, 65535); }
  static OutputRuntime* isum(Call& c) {
    const int n = c.suffix[0] < 0 ? 1 : c.suffix[0];
    if (n < 1 || n > c.in.outputs()) return c.error(scpi::kHeaderSuffixOutOfRange), nullptr;
    return &c.runtime(n - 1);
  }
  static void isum_event(Call& c) {
    if (auto* r = isum(c)) read_clear(c, r->isum_event);
  }
  static void isum_cond(Call& c) {
    if (auto* r = isum(c)) read_only(c, r->isum_condition);
  }
  static void isum_enable(Call& c) {
    if (auto* r = isum(c)) reg(c, r->isum_enable, 65535);
  }
  static void stat_preset(Call& c) {
    if (!c.params(0, 0)) return;
    c.in.ques_enable_ = c.in.inst_enable_ = 0;
    for (auto& r : c.in.rt_) r.isum_enable = 0;
  }

  // ---- system ----

  static void syst_err(Call& c) {
    if (!c.params(0, 0)) return;
    int code = 0;
    if (!c.in.errors_.empty()) {
      code = c.in.errors_.front();
      c.in.errors_.pop_front();
    }
    if (code >= 0) c.text("+");
    c.integer_reply(code);
    c.text(",");
    c.quoted(code == kInvalidSecureCode ? std::string_view("Invalid secure code")
                                        : scpi::error_text(code));
  }
  static void syst_err_count(Call& c) { read_only(c, static_cast<long long>(c.in.errors_.size())); }
  static void syst_vers(Call& c) {
    if (c.params(0, 0)) c.text("1999.0");
  }
  static void beep(Call& c) {
    if (c.params(0, 0)) ++c.in.beeps_;
  }
  static void remote(Call& c) {
    if (c.params(0, 0)) c.in.remote_ = true;
  }
  static void local(Call& c) {
    if (c.params(0, 0)) c.in.remote_ = false;
  }

  // ---- display and memories ----

  static void disp_state(Call& c) { flag(c, c.in.set_.display_on); }
  static void disp_mode(Call& c) {
    static constexpr std::string_view kModes[] = {"VI", "VV", "II"};
    DisplayMode& mode = c.in.set_.display_mode;
    if (c.query()) {
      if (c.params(0, 0)) c.text(kModes[static_cast<int>(mode)]);
      return;
    }
    if (!c.params(1, 1)) return;
    for (int i = 0; i < 3; ++i)
      if (c.p(0).is(kModes[i])) return void(mode = static_cast<DisplayMode>(i));
    c.error(scpi::kIllegalParameterValue);
  }
  static bool text_param(Call& c, std::size_t i, std::size_t max, std::string& out) {
    if (c.p(i).kind == ParamKind::Number) return c.error(scpi::kDataTypeError), false;
    std::string s = text_of(c.p(i));
    if (s.size() > max) return c.error(scpi::kTooMuchData), false;
    out = std::move(s);
    return true;
  }
  static void disp_text(Call& c) {
    std::string& t = c.in.set_.display_text;
    if (c.query()) {
      if (c.params(0, 0)) c.quoted(t);
      return;
    }
    if (c.params(1, 1)) text_param(c, 0, Instrument::kDisplayChars, t);
  }
  static void disp_clear(Call& c) {
    if (c.params(0, 0)) c.in.set_.display_text.clear();
  }
  static void mem_name(Call& c) {
    long n = 0;
    if (!c.params(c.query() ? 1 : 2, c.query() ? 1 : 2) ||
        !c.integer(0, 1, Instrument::kMemories, n))
      return;
    std::string& name = c.in.memory_names_[static_cast<std::size_t>(n - 1)];
    if (c.query()) return c.quoted(name);
    text_param(c, 1, Instrument::kMemoryNameChars, name);
  }

  // ---- calibration ----

  static void cal_state(Call& c) {
    if (c.query()) {
      if (c.params(0, 0)) c.boolean_reply(c.in.cal_secured_);
      return;
    }
    bool secure = false;
    if (!c.params(2, 2) || !c.boolean(0, secure)) return;
    if (!scpi::iequals(text_of(c.p(1)), c.in.cal_code_)) return c.error(kInvalidSecureCode);
    c.in.cal_secured_ = secure;
  }
  static void cal_code(Call& c) {
    if (!c.params(1, 1) || secured(c)) return;
    const std::string code = text_of(c.p(0));
    const bool valid =
        !code.empty() && code.size() <= 12 && std::all_of(code.begin(), code.end(), [](char ch) {
          return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                 ch == '_';
        });
    if (!valid) return c.error(scpi::kIllegalParameterValue);
    c.in.cal_code_ = code;
  }
  static void cal_string(Call& c) {
    if (c.query()) {
      if (c.params(0, 0)) c.quoted(c.in.cal_string_);
      return;
    }
    if (c.params(1, 1) && !secured(c))
      text_param(c, 0, Instrument::kCalStringChars, c.in.cal_string_);
  }
  static void cal_count(Call& c) { read_only(c, c.in.cal_count_); }
  // One-step calibrations (DAC error, protection circuits) complete as soon as they run.
  static void cal_single_step(Call& c) {
    if (c.params(0, 0) && !secured(c)) ++c.in.cal_count_;
  }
  static void cal_level(Call& c, int OutputRuntime::*level) {
    if (!c.params(1, 1) || secured(c)) return;
    int l = 0;
    if (word(c.p(0), "MINimum"))
      l = 1;
    else if (word(c.p(0), "MID") && c.in.model().has(kCalMid))
      l = 2;
    else if (word(c.p(0), "MAXimum"))
      l = 3;
    else
      return c.error(scpi::kIllegalParameterValue);
    c.runtime(c.out()).*level = l;
  }
  // A calibration of one quantity completes when every point of it has its measured value.
  static void cal_data(Call& c, int OutputRuntime::*level, unsigned OutputRuntime::*done,
                       double full_scale) {
    if (!c.params(1, 1) || secured(c)) return;
    OutputRuntime& r = c.runtime(c.out());
    if (r.*level == 0) return c.error(scpi::kSettingsConflict);
    const double reach = 1.2 * std::fabs(full_scale);
    double v = 0;
    if (!c.number(0, -reach, reach, 0, v)) return;
    r.*done |= 1u << (r.*level);
    r.*level = 0;
    const unsigned needed = (1u << 1) | (1u << 3) | (c.in.model().has(kCalMid) ? 1u << 2 : 0);
    if ((r.*done & needed) == needed) {
      r.*done = 0;
      ++c.in.cal_count_;
    }
  }
  static void cal_volt_level(Call& c) { cal_level(c, &OutputRuntime::cal_volt_level); }
  static void cal_curr_level(Call& c) { cal_level(c, &OutputRuntime::cal_curr_level); }
  static void cal_volt(Call& c) {
    cal_data(c, &OutputRuntime::cal_volt_level, &OutputRuntime::cal_volt_done,
             c.in.volt_max(c.out()));
  }
  static void cal_curr(Call& c) {
    cal_data(c, &OutputRuntime::cal_curr_level, &OutputRuntime::cal_curr_done,
             c.in.curr_max(c.out()));
  }

  // ---- emulator-only ----

  static void sim_load(Call& c) {
    int o = c.out();
    if (c.suffix[0] >= 0) {
      if (c.suffix[0] < 1 || c.suffix[0] > c.in.outputs())
        return c.error(scpi::kHeaderSuffixOutOfRange);
      o = c.suffix[0] - 1;
    }
    double& ohms = c.runtime(o).load_ohms;
    if (c.query()) {
      if (c.params(0, 0)) c.num(ohms);
      return;
    }
    if (!c.params(1, 1)) return;
    const Param& q = c.p(0);
    if (word(q, "OPEN") || word(q, "INFinity")) return void(ohms = kOpenCircuit);
    double v = 0;
    if (c.number(0, 0, 1e12, 10, v)) ohms = v;
  }
  static void sim_delay(Call& c) {
    if (c.query()) return read_only(c, c.in.faults_.delay_ms);
    long v = 0;
    if (c.params(1, 1) && c.integer(0, 0, 600000, v)) c.in.faults_.delay_ms = static_cast<int>(v);
  }
  static void sim_close(Call& c) {
    if (c.query()) return read_only(c, c.in.faults_.close_after);
    long v = 0;
    if (c.params(1, 1) && c.integer(0, 0, 1000000000, v)) c.in.faults_.close_after = v;
  }
  static void sim_garbage(Call& c) {
    if (c.params(0, 0)) c.in.faults_.garbage_next = true;
  }
  static void sim_drop_lf(Call& c) {
    if (c.params(0, 0)) c.in.faults_.drop_lf_next = true;
  }
  static void sim_esr(Call& c) {
    long v = 0;
    if (c.params(1, 1) && c.integer(0, 0, 255, v)) c.in.esr_ |= static_cast<unsigned>(v);
  }
  static void sim_clear(Call& c) {
    if (c.params(0, 0)) c.in.faults_ = Faults{};
  }
  static void sim_noise(Call& c) {
    if (c.query()) {
      if (c.params(0, 0)) c.num(c.in.opts_.noise);
      return;
    }
    double v = 0;
    if (c.params(1, 1) && c.number(0, 0, 0.5, 0, v)) c.in.opts_.noise = v;
  }

  static const std::vector<Compiled>& table() {
    using A = Access;
    static const Entry kEntries[] = {
        {"*IDN", A::Query, 0, idn},
        {"*RST", A::Command, 0, rst},
        {"*CLS", A::Command, 0, cls},
        {"*OPC", A::Both, 0, opc},
        {"*ESR", A::Query, 0, esr},
        {"*ESE", A::Both, 0, ese},
        {"*SRE", A::Both, 0, sre},
        {"*STB", A::Query, 0, stb},
        {"*TST", A::Query, 0, tst},
        {"*WAI", A::Command, 0, nothing},
        {"*TRG", A::Command, 0, trg},
        {"*SAV", A::Command, 0, sav},
        {"*RCL", A::Command, 0, rcl},

        {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]", A::Both, 0, volt},
        {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]", A::Both, 0, curr},
        {"[SOURce:]VOLTage[:LEVel]:TRIGgered[:AMPLitude]", A::Both, 0, volt_trig},
        {"[SOURce:]CURRent[:LEVel]:TRIGgered[:AMPLitude]", A::Both, 0, curr_trig},
        {"[SOURce:]VOLTage[:LEVel][:IMMediate]:STEP[:INCRement]", A::Both, kRanges, volt_step},
        {"[SOURce:]CURRent[:LEVel][:IMMediate]:STEP[:INCRement]", A::Both, kRanges, curr_step},
        {"[SOURce:]VOLTage:RANGe", A::Both, kRanges, volt_range},
        {"[SOURce:]VOLTage:PROTection[:LEVel]", A::Both, kOvp, ovp_level},
        {"[SOURce:]VOLTage:PROTection:STATe", A::Both, kOvp, ovp_state},
        {"[SOURce:]VOLTage:PROTection:TRIPped", A::Query, kOvp, ovp_trip},
        {"[SOURce:]VOLTage:PROTection:CLEar", A::Command, kOvp, ovp_clear},
        {"[SOURce:]CURRent:PROTection[:LEVel]", A::Both, kOcp, ocp_level},
        {"[SOURce:]CURRent:PROTection:STATe", A::Both, kOcp, ocp_state},
        {"[SOURce:]CURRent:PROTection:TRIPped", A::Query, kOcp, ocp_trip},
        {"[SOURce:]CURRent:PROTection:CLEar", A::Command, kOcp, ocp_clear},
        {"APPLy", A::Both, 0, appl},
        {"MEASure[:SCALar]:VOLTage[:DC]", A::Query, 0, meas_volt},
        {"MEASure[:SCALar]:CURRent[:DC]", A::Query, 0, meas_curr},

        {"OUTPut[:STATe]", A::Both, 0, outp},
        {"OUTPut:RELay[:STATe]", A::Both, kRelay, relay},
        {"OUTPut:TRACk[:STATe]", A::Both, kTracking, track},
        {"INSTrument[:SELect]", A::Both, kMultiOutput, inst_sel},
        {"INSTrument:NSELect", A::Both, kMultiOutput, inst_nsel},
        {"INSTrument:COUPle[:TRIGger]", A::Both, kCoupling, inst_coup},

        {"TRIGger[:SEQuence]:SOURce", A::Both, 0, trig_source},
        {"TRIGger[:SEQuence]:DELay", A::Both, 0, trig_delay},
        {"INITiate[:IMMediate]", A::Command, 0, init},
        {"ABORt", A::Command, 0, abort},

        {"STATus:QUEStionable[:EVENt]", A::Query, 0, ques_event},
        {"STATus:QUEStionable:CONDition", A::Query, 0, ques_cond},
        {"STATus:QUEStionable:ENABle", A::Both, 0, ques_enable},
        {"STATus:QUEStionable:INSTrument[:EVENt]", A::Query, kMultiOutput, inst_event},
        {"STATus:QUEStionable:INSTrument:CONDition", A::Query, kMultiOutput, inst_cond},
        {"STATus:QUEStionable:INSTrument:ENABle", A::Both, kMultiOutput, inst_enable},
        {"STATus:QUEStionable:INSTrument:ISUMmary#[:EVENt]", A::Query, kMultiOutput, isum_event},
        {"STATus:QUEStionable:INSTrument:ISUMmary#:CONDition", A::Query, kMultiOutput, isum_cond},
        {"STATus:QUEStionable:INSTrument:ISUMmary#:ENABle", A::Both, kMultiOutput, isum_enable},
        {"STATus:PRESet", A::Command, 0, stat_preset},

        {"SYSTem:ERRor[:NEXT]", A::Query, 0, syst_err},
        {"SYSTem:ERRor:COUNt", A::Query, 0, syst_err_count},
        {"SYSTem:VERSion", A::Query, 0, syst_vers},
        {"SYSTem:BEEPer[:IMMediate]", A::Command, 0, beep},
        {"SYSTem:REMote", A::Command, 0, remote},
        {"SYSTem:RWLock", A::Command, 0, remote},
        {"SYSTem:LOCal", A::Command, 0, local},

        {"DISPlay[:WINDow][:STATe]", A::Both, 0, disp_state},
        {"DISPlay[:WINDow]:MODE", A::Both, kDisplayMode, disp_mode},
        {"DISPlay[:WINDow]:TEXT[:DATA]", A::Both, 0, disp_text},
        {"DISPlay[:WINDow]:TEXT:CLEar", A::Command, 0, disp_clear},
        {"MEMory:STATe:NAME", A::Both, kMemoryNames, mem_name},

        {"CALibration:SECure:STATe", A::Both, 0, cal_state},
        {"CALibration:SECure:CODE", A::Command, 0, cal_code},
        {"CALibration:STRing", A::Both, 0, cal_string},
        {"CALibration:COUNt", A::Query, 0, cal_count},
        {"CALibration:DAC:ERRor", A::Command, kCalDac, cal_single_step},
        {"CALibration:CURRent:PROTection", A::Command, kCalDac, cal_single_step},
        {"CALibration:VOLTage:PROTection", A::Command, kCalVoltProt, cal_single_step},
        {"CALibration:CURRent:LEVel", A::Command, 0, cal_curr_level},
        {"CALibration:VOLTage:LEVel", A::Command, 0, cal_volt_level},
        {"CALibration:CURRent[:DATA]", A::Command, 0, cal_curr},
        {"CALibration:VOLTage[:DATA]", A::Command, 0, cal_volt},

        {"SIMulation:LOAD#[:RESistance]", A::Both, kSimulation, sim_load},
        {"SIMulation:FAULt:DELay", A::Both, kSimulation, sim_delay},
        {"SIMulation:FAULt:CLOSe", A::Both, kSimulation, sim_close},
        {"SIMulation:FAULt:GARBage", A::Command, kSimulation, sim_garbage},
        {"SIMulation:FAULt:DROP", A::Command, kSimulation, sim_drop_lf},
        {"SIMulation:FAULt:ESR", A::Command, kSimulation, sim_esr},
        {"SIMulation:FAULt:CLEar", A::Command, kSimulation, sim_clear},
        {"SIMulation:NOISe", A::Both, kSimulation, sim_noise},
    };
    static const std::vector<Compiled> compiled = [] {
      std::vector<Compiled> v;
      v.reserve(std::size(kEntries));
      for (const Entry& e : kEntries)
        v.push_back({scpi::Pattern(e.pattern), e.access, e.feature, e.handler});
      return v;
    }();
    return compiled;
  }
};

int Instrument::resolve(const std::string_view* m, std::size_t count,
                        std::array<int, 3>& suffixes) {
  key_.clear();
  for (std::size_t i = 0; i < count; ++i) {
    if (i) key_.push_back(':');
    for (char ch : m[i]) key_.push_back((ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch);
  }
  if (auto it = cache_.find(key_); it != cache_.end()) {
    suffixes = it->second.suffixes;
    return it->second.index;
  }
  const auto& table = CommandSet::table();
  Lookup hit;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].pattern.match(m, count, hit.suffixes)) {
      hit.index = static_cast<int>(i);
      break;
    }
  }
  // Headers are few and repeat; the bound only guards against a client inventing endless ones.
  if (cache_.size() < 4096) cache_.emplace(key_, hit);
  suffixes = hit.suffixes;
  return hit.index;
}

bool Instrument::execute(std::string_view line, std::string& reply) {
  const auto& table = CommandSet::table();
  const std::size_t start = reply.size();
  bool replied = false;
  hold_until_us_ = 0;
  // SCPI compound rule: a header without a leading ':' continues from the node of the previous
  // header. `path` holds that node's mnemonics.
  std::array<std::string_view, scpi::kMaxMnemonics> path{}, full{};
  std::size_t path_n = 0;
  std::size_t pos = 0;
  std::string_view text;
  while (scpi::next_unit(line, pos, text)) {
    if (int e = scpi::lex_unit(text, unit_); e != scpi::kNoError) {
      push_error(e);
      break;
    }
    const scpi::Unit& u = unit_;
    if (u.mnemonic_count == 0) continue;
    std::array<int, 3> suffixes{-1, -1, -1};
    int index = -1;
    std::size_t n = 0;
    if (!u.common && !u.absolute && path_n > 0 && path_n + u.mnemonic_count <= full.size()) {
      std::copy_n(path.begin(), path_n, full.begin());
      std::copy_n(u.mnemonics.begin(), u.mnemonic_count,
                  full.begin() + static_cast<std::ptrdiff_t>(path_n));
      n = path_n + u.mnemonic_count;
      index = resolve(full.data(), n, suffixes);
    }
    if (index < 0) {
      // Clients often write every header in full; accept that as the root too.
      std::copy_n(u.mnemonics.begin(), u.mnemonic_count, full.begin());
      n = u.mnemonic_count;
      index = resolve(full.data(), n, suffixes);
    }
    if (!u.common) {
      path_n = n - 1;
      std::copy_n(full.begin(), path_n, path.begin());
    }
    if (index < 0) {
      push_error(scpi::kUndefinedHeader);
      break;
    }
    const auto& cmd = table[static_cast<std::size_t>(index)];
    const bool wrong_form = u.query ? cmd.access == Access::Command : cmd.access == Access::Query;
    if (!model_->has(cmd.feature) || wrong_form) {
      push_error(scpi::kUndefinedHeader);
      break;
    }
    const std::size_t mark = reply.size();
    if (u.query && replied) reply.push_back(';');
    Call call{*this, u, suffixes, reply};
    cmd.handler(call);
    if (u.query) {
      if (reply.size() > mark + (replied ? 1 : 0))
        replied = true;
      else
        reply.resize(mark);
    }
    refresh();
  }
  if (replied && faults_.garbage_next) {
    faults_.garbage_next = false;
    reply.resize(start);
    reply.append("#?!GARBAGE\x7f%&");
  }
  return replied;
}

}  // namespace vmk40xx::sim
