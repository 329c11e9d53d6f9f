// One output of the supply: its class-compliant and driver interfaces and its protection.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "dcpwr/channel.h"
#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

class VelmoraK40xxOutput final : public CChannel {
 public:
  VelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index);
  ~VelmoraK40xxOutput() override;

 private:
  struct Facets;
  std::span<const InterfaceEntry> Interfaces() override;
  std::unique_ptr<Facets> facets_;
};

namespace dcpwr_output {
constexpr InterfaceInfo kItf{&IID_IIviDCPwrOutput, "IIviDCPwrOutput", false};
constexpr Member ConfigureCurrentLimit = kItf.Method("ConfigureCurrentLimit");
constexpr Member ConfigureRange = kItf.Method("ConfigureRange");
constexpr Member ConfigureOVP = kItf.Method("ConfigureOVP");
constexpr Member Measure = kItf.Method("Measure", "Measurement");
constexpr Member QueryCurrentLimitMax = kItf.Method("QueryCurrentLimitMax", "MaxCurrentLimit");
constexpr Member QueryState = kItf.Method("QueryState", "InState");
constexpr Member QueryVoltageLevelMax = kItf.Method("QueryVoltageLevelMax", "MaxVoltageLevel");
constexpr Member ResetOutputProtection = kItf.Method("ResetOutputProtection");
constexpr Member put_Enabled = kItf.Put("put_Enabled");
constexpr Member get_Enabled = kItf.Get("get_Enabled");
constexpr Member put_TriggerSource = kItf.Put("put_TriggerSource");
constexpr Member get_TriggerSource = kItf.Get("get_TriggerSource");
constexpr Member put_TriggeredCurrentLimit = kItf.Put("put_TriggeredCurrentLimit");
constexpr Member get_TriggeredCurrentLimit = kItf.Get("get_TriggeredCurrentLimit");
constexpr Member put_TriggeredVoltageLevel = kItf.Put("put_TriggeredVoltageLevel");
constexpr Member get_TriggeredVoltageLevel = kItf.Get("get_TriggeredVoltageLevel");
constexpr Member put_VoltageLevel = kItf.Put("put_VoltageLevel");
constexpr Member get_VoltageLevel = kItf.Get("get_VoltageLevel");
constexpr Member put_CurrentLimit = kItf.Put("put_CurrentLimit");
constexpr Member get_CurrentLimit = kItf.Get("get_CurrentLimit");
constexpr Member put_CurrentLimitBehavior = kItf.Put("put_CurrentLimitBehavior");
constexpr Member get_CurrentLimitBehavior = kItf.Get("get_CurrentLimitBehavior");
constexpr Member put_OVPLimit = kItf.Put("put_OVPLimit");
constexpr Member get_OVPLimit = kItf.Get("get_OVPLimit");
constexpr Member put_OVPEnabled = kItf.Put("put_OVPEnabled");
constexpr Member get_OVPEnabled = kItf.Get("get_OVPEnabled");
}  // namespace dcpwr_output

namespace output {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxOutput, "IVelmoraK40xxOutput", true};
constexpr const char* kVoltageKey = "IVelmoraK40xxOutput.VoltageLevel";
constexpr const char* kCurrentKey = "IVelmoraK40xxOutput.CurrentLimit";
constexpr const char* kBehaviorKey = "IVelmoraK40xxOutput.CurrentLimitBehavior";
constexpr Member ApplyVoltageCurrent = kItf.Command("ApplyVoltageCurrent", "APPL %.15g, %.15g");
constexpr Member ConfigureCurrentLimit = kItf.Command("ConfigureCurrentLimit", "CURR %.15g");
constexpr Member ConfigureRange =
    WithKeywords(kItf.Command("ConfigureRange", "%s %.15g"), &EnumKeyword<KeywordEnum::RangeType>);
constexpr Member Measure = kItf.Command("Measure", "MEAS:%s?", "val");
constexpr Member QueryCurrentLimitMax = kItf.Method("QueryCurrentLimitMax", "val");
constexpr Member QueryState = kItf.Method("QueryState", "val");
constexpr Member QueryVoltageLevelMax = kItf.Method("QueryVoltageLevelMax", "val");
constexpr Member RunStep = WithKeywords(
    {.iid = kItf.iid, .iface = kItf.name, .name = "RunStep", .powerSupply = true, .command = "%s"},
    &EnumKeyword<KeywordEnum::StepDirection>);
constexpr Member get_CurrentLimit = kItf.Get("get_CurrentLimit", kCurrentKey, "CURR?");
constexpr Member put_CurrentLimit = kItf.Put("put_CurrentLimit", kCurrentKey, "CURR %.15g");
constexpr Member get_CurrentLimitBehavior = kItf.Get("get_CurrentLimitBehavior", kBehaviorKey);
constexpr Member put_CurrentLimitBehavior = kItf.Put("put_CurrentLimitBehavior", kBehaviorKey);
// One simulated value serves all four step types; the instrument has one per quantity.
constexpr Member get_Step = kItf.Get("get_Step", "IVelmoraK40xxOutput.Step", "%s:STEP?");
constexpr Member put_Step = kItf.Put("put_Step", "IVelmoraK40xxOutput.Step");
constexpr Member get_VoltageLevel = kItf.Get("get_VoltageLevel", kVoltageKey, "VOLT?");
constexpr Member put_VoltageLevel = kItf.Put("put_VoltageLevel", kVoltageKey, "VOLT %.15g");
constexpr Member get_VoltageRange =
    kItf.Get("get_VoltageRange", "IVelmoraK40xxOutput.VoltageRange", "VOLT:RANG?");
constexpr Member put_VoltageRange =
    WithKeywords(kItf.Put("put_VoltageRange", "IVelmoraK40xxOutput.VoltageRange", "VOLT:RANG %s"),
                 &EnumKeyword<KeywordEnum::VoltageRange>);
constexpr Member get_Protection = Unchecked(kItf.Get("get_Protection"));
}  // namespace output

namespace protection {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxProtection, "IVelmoraK40xxProtection", true};
constexpr const char* kOvpEnabledKey = "IVelmoraK40xxProtection.OVPEnabled";
constexpr const char* kOvpLimitKey = "IVelmoraK40xxProtection.OVPLimit";
constexpr const char* kOcpEnabledKey = "IVelmoraK40xxProtection.OCPEnabled";
constexpr const char* kOcpLimitKey = "IVelmoraK40xxProtection.OCPLimit";
constexpr Member ResetOVP = kItf.Command("ResetOVP", "VOLT:PROT:CLE");
constexpr Member ResetOutputProtection = kItf.Method("ResetOutputProtection");
constexpr Member ResetOCP = kItf.Command("ResetOCP", "CURR:PROT:CLE");
constexpr Member QueryOVPLimitMax = kItf.Method("QueryOVPLimitMax", "val");
constexpr Member QueryOCPLimitMax = kItf.Method("QueryOCPLimitMax", "val");
// The state and the limit in one write, so the instrument never holds a new state with an old
// limit.
constexpr Member ConfigureOVP = kItf.Command("ConfigureOVP", "VOLT:PROT:STAT %s; :VOLT:PROT %.15g");
constexpr Member ConfigureOCP = kItf.Command("ConfigureOCP", "CURR:PROT:STAT %s; :CURR:PROT %.15g");
constexpr Member get_OCPEnabled = kItf.Get("get_OCPEnabled", kOcpEnabledKey, "CURR:PROT:STAT?");
constexpr Member put_OCPEnabled = kItf.Put("put_OCPEnabled", kOcpEnabledKey, "CURR:PROT:STAT %s");
constexpr Member get_OCPLimit = kItf.Get("get_OCPLimit", kOcpLimitKey, "CURR:PROT?");
constexpr Member put_OCPLimit = kItf.Put("put_OCPLimit", kOcpLimitKey, "CURR:PROT %.15g");
constexpr Member get_OCPTripped =
    kItf.Get("get_OCPTripped", "IVelmoraK40xxProtection.OCPTripped", "CURR:PROT:TRIP?");
constexpr Member get_OVPEnabled = kItf.Get("get_OVPEnabled", kOvpEnabledKey, "VOLT:PROT:STAT?");
constexpr Member put_OVPEnabled = kItf.Put("put_OVPEnabled", kOvpEnabledKey, "VOLT:PROT:STAT %s");
constexpr Member get_OVPLimit = kItf.Get("get_OVPLimit", kOvpLimitKey, "VOLT:PROT?");
constexpr Member put_OVPLimit = kItf.Put("put_OVPLimit", kOvpLimitKey, "VOLT:PROT %.15g");
constexpr Member get_OVPTripped =
    kItf.Get("get_OVPTripped", "IVelmoraK40xxProtection.OVPTripped", "VOLT:PROT:TRIP?");
}  // namespace protection

// The largest current limit for a voltage, and the largest voltage for a current limit, from the
// model's limits. K4301A's first output has its own range; its other two share one, with the
// voltage judged by magnitude since the third output is negative.
HRESULT CurrentLimitMax(VelmoraK40xxOutput& out, double v, double* val) {
  const ModelLimits& l = out.Driver().Limits();
  char param[64];
  if (out.IsModel(kTripleOutputModel) && out.OutputIndex() == 0) {
    if (v >= 0 && v <= l.LowRangeVoltageMax) return *val = l.LowRangeCurrentMax, S_OK;
    std::snprintf(param, sizeof param, "VoltageLevel, Range 0-%f", l.LowRangeVoltageMax);
  } else if (out.IsModel(kTripleOutputModel)) {
    if (std::fabs(v) <= l.HighRangeVoltageMax) return *val = l.HighRangeCurrentMax, S_OK;
    std::snprintf(param, sizeof param, "VoltageLevel, Max %f", l.HighRangeVoltageMax);
  } else {
    // The low range allows the larger current, so it wins where the ranges meet.
    if (v >= 0 && v <= l.LowRangeVoltageMax) return *val = l.LowRangeCurrentMax, S_OK;
    if (v >= 0 && v <= l.HighRangeVoltageMax) return *val = l.HighRangeCurrentMax, S_OK;
    std::snprintf(param, sizeof param, "VoltageLevel, Range 0-%f", l.HighRangeVoltageMax);
  }
  return out.Errors().ReportInvalidValue("QueryCurrentLimitMax", param, v);
}

HRESULT VoltageLevelMax(VelmoraK40xxOutput& out, double i, double* val) {
  const ModelLimits& l = out.Driver().Limits();
  char param[64];
  if (out.IsModel(kTripleOutputModel) && out.OutputIndex() == 0) {
    if (i >= 0 && i <= l.LowRangeCurrentMax) return *val = l.LowRangeVoltageMax, S_OK;
    std::snprintf(param, sizeof param, "CurrentLimit, Range 0-%f", l.LowRangeCurrentMax);
  } else if (out.IsModel(kTripleOutputModel)) {
    if (i <= l.HighRangeCurrentMax) return *val = l.HighRangeVoltageMax, S_OK;
    std::snprintf(param, sizeof param, "CurrentLimit, Max %f", l.HighRangeCurrentMax);
  } else {
    // The high range allows the larger voltage for the smaller current.
    if (i >= 0 && i <= l.HighRangeCurrentMax) return *val = l.HighRangeVoltageMax, S_OK;
    if (i >= 0 && i <= l.LowRangeCurrentMax) return *val = l.LowRangeVoltageMax, S_OK;
    std::snprintf(param, sizeof param, "CurrentLimit, Range 0-%f", l.LowRangeCurrentMax);
  }
  return out.Errors().ReportInvalidValue("QueryVoltageLevelMax", param, i);
}

// The class interface of one output: each member hands over to the driver's own member, which
// runs in its own frame, so commands, simulation and error texts are that member's.
class DCPwrOutputFacet final : public Facet<IIviDCPwrOutput, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ConfigureCurrentLimit(IviDCPwrCurrentLimitBehaviorEnum Behavior, DOUBLE Limit) override {
    return Output(dcpwr_output::ConfigureCurrentLimit, {}, [&](IVelmoraK40xxOutput* o) {
      return o->ConfigureCurrentLimit(static_cast<VelmoraK40xxCurrentLimitBehaviorEnum>(Behavior),
                                      Limit);
    });
  }
  HRESULT ConfigureRange(IviDCPwrRangeTypeEnum RangeType, DOUBLE Range) override {
    return Output(dcpwr_output::ConfigureRange, {}, [&](IVelmoraK40xxOutput* o) {
      return o->ConfigureRange(static_cast<VelmoraK40xxRangeTypeEnum>(RangeType), Range);
    });
  }
  HRESULT ConfigureOVP(VARIANT_BOOL Enabled, DOUBLE Limit) override {
    return Protection(dcpwr_output::ConfigureOVP, {},
                      [&](IVelmoraK40xxProtection* p) { return p->ConfigureOVP(Enabled, Limit); });
  }
  HRESULT Measure(IviDCPwrMeasurementTypeEnum MeasurementType, DOUBLE* Measurement) override {
    return Output(dcpwr_output::Measure, {Measurement}, [&](IVelmoraK40xxOutput* o) {
      return o->Measure(static_cast<VelmoraK40xxMeasurementTypeEnum>(MeasurementType), Measurement);
    });
  }
  HRESULT QueryCurrentLimitMax(DOUBLE VoltageLevel, DOUBLE* MaxCurrentLimit) override {
    return Output(dcpwr_output::QueryCurrentLimitMax, {MaxCurrentLimit},
                  [&](IVelmoraK40xxOutput* o) {
                    return o->QueryCurrentLimitMax(VoltageLevel, MaxCurrentLimit);
                  });
  }
  HRESULT QueryState(IviDCPwrOutputStateEnum OutputState, VARIANT_BOOL* InState) override {
    return Output(dcpwr_output::QueryState, {InState}, [&](IVelmoraK40xxOutput* o) {
      return o->QueryState(static_cast<VelmoraK40xxOutputStateEnum>(OutputState), InState);
    });
  }
  HRESULT QueryVoltageLevelMax(DOUBLE CurrentLimit, DOUBLE* MaxVoltageLevel) override {
    return Output(dcpwr_output::QueryVoltageLevelMax, {MaxVoltageLevel},
                  [&](IVelmoraK40xxOutput* o) {
                    return o->QueryVoltageLevelMax(CurrentLimit, MaxVoltageLevel);
                  });
  }
  HRESULT ResetOutputProtection() override {
    return Protection(dcpwr_output::ResetOutputProtection, {},
                      [&](IVelmoraK40xxProtection* p) { return p->ResetOutputProtection(); });
  }
  // Output on and off is one setting of the whole instrument, so every output reads and writes
  // the same value.
  HRESULT put_Enabled(VARIANT_BOOL newVal) override {
    return Outputs(dcpwr_output::put_Enabled, {},
                   [&](IVelmoraK40xxOutputs* o) { return o->put_Enabled(newVal); });
  }
  HRESULT get_Enabled(VARIANT_BOOL* pVal) override {
    return Outputs(dcpwr_output::get_Enabled, {pVal},
                   [&](IVelmoraK40xxOutputs* o) { return o->get_Enabled(pVal); });
  }
  HRESULT put_TriggerSource(IviDCPwrTriggerSourceEnum newVal) override {
    return owner_->Frame(dcpwr_output::put_TriggerSource, {}, [&]() -> HRESULT {
      VelmoraK40xxTriggerSourceEnum source = VelmoraK40xxTriggerSourceImmediate;
      if (newVal == IviDCPwrTriggerSourceImmediate)
        source = VelmoraK40xxTriggerSourceImmediate;
      else if (newVal == IviDCPwrTriggerSourceSwTrigFunc)
        source = VelmoraK40xxTriggerSourceSwTrigFunc;
      else
        return owner_->Errors().ReportError(
            Msg::E_IVI_VALUE_NOT_SUPPORTED,
            {"IviDCPwrTriggerSourceEnum", "val", "put_TriggerSource"});
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->put_Source(source); });
    });
  }
  HRESULT get_TriggerSource(IviDCPwrTriggerSourceEnum* pVal) override {
    return owner_->Frame(dcpwr_output::get_TriggerSource, {pVal}, [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) {
        VelmoraK40xxTriggerSourceEnum source = VelmoraK40xxTriggerSourceImmediate;
        HRESULT hr = t->get_Source(&source);
        if (SUCCEEDED(hr))
          *pVal = source == VelmoraK40xxTriggerSourceSwTrigFunc ? IviDCPwrTriggerSourceSwTrigFunc
                                                                : IviDCPwrTriggerSourceImmediate;
        return hr;
      });
    });
  }
  HRESULT put_TriggeredCurrentLimit(DOUBLE newVal) override {
    return owner_->Frame(dcpwr_output::put_TriggeredCurrentLimit, {}, [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->put_CurrentLimit(newVal); });
    });
  }
  HRESULT get_TriggeredCurrentLimit(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_TriggeredCurrentLimit, {pVal}, [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->get_CurrentLimit(pVal); });
    });
  }
  HRESULT put_TriggeredVoltageLevel(DOUBLE newVal) override {
    return owner_->Frame(dcpwr_output::put_TriggeredVoltageLevel, {}, [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->put_VoltageLevel(newVal); });
    });
  }
  HRESULT get_TriggeredVoltageLevel(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::get_TriggeredVoltageLevel, {pVal}, [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->get_VoltageLevel(pVal); });
    });
  }
  HRESULT put_VoltageLevel(DOUBLE newVal) override {
    return Output(dcpwr_output::put_VoltageLevel, {},
                  [&](IVelmoraK40xxOutput* o) { return o->put_VoltageLevel(newVal); });
  }
  HRESULT get_VoltageLevel(DOUBLE* pVal) override {
    return Output(dcpwr_output::get_VoltageLevel, {pVal},
                  [&](IVelmoraK40xxOutput* o) { return o->get_VoltageLevel(pVal); });
  }
  HRESULT put_CurrentLimit(DOUBLE newVal) override {
    return Output(dcpwr_output::put_CurrentLimit, {},
                  [&](IVelmoraK40xxOutput* o) { return o->put_CurrentLimit(newVal); });
  }
  HRESULT get_CurrentLimit(DOUBLE* pVal) override {
    return Output(dcpwr_output::get_CurrentLimit, {pVal},
                  [&](IVelmoraK40xxOutput* o) { return o->get_CurrentLimit(pVal); });
  }
  HRESULT put_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum newVal) override {
    return Output(dcpwr_output::put_CurrentLimitBehavior, {}, [&](IVelmoraK40xxOutput* o) {
      return o->put_CurrentLimitBehavior(static_cast<VelmoraK40xxCurrentLimitBehaviorEnum>(newVal));
    });
  }
  HRESULT get_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum* pVal) override {
    return Output(dcpwr_output::get_CurrentLimitBehavior, {pVal}, [&](IVelmoraK40xxOutput* o) {
      VelmoraK40xxCurrentLimitBehaviorEnum behavior = VelmoraK40xxCurrentLimitRegulate;
      HRESULT hr = o->get_CurrentLimitBehavior(&behavior);
      if (SUCCEEDED(hr) && (behavior == VelmoraK40xxCurrentLimitRegulate ||
                            behavior == VelmoraK40xxCurrentLimitTrip))
        *pVal = static_cast<IviDCPwrCurrentLimitBehaviorEnum>(behavior);
      return hr;
    });
  }
  HRESULT put_OVPLimit(DOUBLE newVal) override {
    return Protection(dcpwr_output::put_OVPLimit, {},
                      [&](IVelmoraK40xxProtection* p) { return p->put_OVPLimit(newVal); });
  }
  HRESULT get_OVPLimit(DOUBLE* pVal) override {
    return Protection(dcpwr_output::get_OVPLimit, {pVal},
                      [&](IVelmoraK40xxProtection* p) { return p->get_OVPLimit(pVal); });
  }
  HRESULT put_OVPEnabled(VARIANT_BOOL newVal) override {
    return Protection(dcpwr_output::put_OVPEnabled, {},
                      [&](IVelmoraK40xxProtection* p) { return p->put_OVPEnabled(newVal); });
  }
  HRESULT get_OVPEnabled(VARIANT_BOOL* pVal) override {
    return Protection(dcpwr_output::get_OVPEnabled, {pVal},
                      [&](IVelmoraK40xxProtection* p) { return p->get_OVPEnabled(pVal); });
  }

 private:
  template <class Call>
  HRESULT Output(const Member& m, std::initializer_list<const void*> pointers, Call&& call) {
    return owner_->Frame(m, pointers, [&] {
      return CallInterface<IVelmoraK40xxOutput>(*owner_, IID_IVelmoraK40xxOutput, call);
    });
  }
  template <class Call>
  HRESULT Protection(const Member& m, std::initializer_list<const void*> pointers, Call&& call) {
    return owner_->Frame(m, pointers, [&] {
      return CallInterface<IVelmoraK40xxProtection>(*owner_, IID_IVelmoraK40xxProtection, call);
    });
  }
  template <class Call>
  HRESULT Outputs(const Member& m, std::initializer_list<const void*> pointers, Call&& call) {
    return owner_->Frame(m, pointers, [&] {
      return CallInterface<IVelmoraK40xxOutputs>(owner_->Driver(), IID_IVelmoraK40xxOutputs, call);
    });
  }
  // The trigger instance with this output's number, looked up by name in the root's collection.
  template <class Call>
  HRESULT Trigger(Call&& call) {
    return CallInterface<IVelmoraK40xxTriggers>(
        owner_->Driver(), IID_IVelmoraK40xxTriggers, [&](IVelmoraK40xxTriggers* triggers) {
          BSTR name = com::Utf8ToBstr("Trigger" + std::to_string(owner_->OutputIndex() + 1));
          if (!name) return E_OUTOFMEMORY;
          IVelmoraK40xxTrigger* trigger = nullptr;
          HRESULT hr = triggers->get_Item(name, &trigger);
          SysFreeString(name);
          if (FAILED(hr)) return hr;
          hr = call(trigger);
          trigger->Release();
          return hr;
        });
  }
};

class OutputFacet final : public Facet<IVelmoraK40xxOutput, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ApplyVoltageCurrent(double VoltageLevel, double CurrentLimit) override {
    return owner_->ActOrSimulate(
        output::ApplyVoltageCurrent, {},
        [&] {
          HRESULT hr = owner_->StoreSimulated(output::kVoltageKey, VoltageLevel);
          return FAILED(hr) ? hr : owner_->StoreSimulated(output::kCurrentKey, CurrentLimit);
        },
        [&]() -> HRESULT {
          if (!owner_->IsModel(kTripleOutputModel)) return owner_->SelectThenSend();
          // K4301A names the output in the command itself instead of selecting it.
          switch (owner_->OutputIndex()) {
            case 0:
              return owner_->IO().InstrPrintf("APPL P6V, %.15g, %.15g", VoltageLevel, CurrentLimit);
            case 1:
              return owner_->IO().InstrPrintf("APPL P25V, %.15g, %.15g", VoltageLevel,
                                              CurrentLimit);
            case 2:
              return owner_->IO().InstrPrintf("APPL N25V, %.15g, %.15g", VoltageLevel,
                                              CurrentLimit);
            default:
              return S_OK;
          }
        },
        {VoltageLevel, CurrentLimit});
  }
  HRESULT ConfigureCurrentLimit(VelmoraK40xxCurrentLimitBehaviorEnum Behavior,
                                double Limit) override {
    const Member& m = output::ConfigureCurrentLimit;
    auto check = [&] {
      return CheckEnumAndModelValue(*owner_, m, Behavior, VelmoraK40xxCurrentLimitRegulate,
                                    VelmoraK40xxCurrentLimitTrip, "Behavior");
    };
    return owner_->ActOrSimulate(
        m, {},
        [&] {
          HRESULT hr = check();
          if (SUCCEEDED(hr)) hr = owner_->StoreSimulated(output::kBehaviorKey, Behavior);
          return FAILED(hr) ? hr : owner_->StoreSimulated(output::kCurrentKey, Limit);
        },
        [&] {
          if (HRESULT hr = check(); FAILED(hr)) return hr;
          owner_->Select();
          if (Behavior == VelmoraK40xxCurrentLimitTrip) {
            // Trip means the protection level follows the limit; its on/off state is the
            // caller's to set.
            if (HRESULT hr = owner_->IO().InstrPrintf("CURR:PROT %.15g", Limit); FAILED(hr))
              return hr;
          }
          return owner_->IO().InstrPrintCommand();
        },
        {Limit});
  }
  HRESULT ConfigureRange(VelmoraK40xxRangeTypeEnum RangeType, double Range) override {
    const Member& m = output::ConfigureRange;
    auto check = [&] {
      return CheckEnumValue(*owner_, m, RangeType, VelmoraK40xxRangeCurrent,
                            VelmoraK40xxRangeVoltage, "RangeType");
    };
    // Despite its name, this programs the voltage level or the current limit.
    return owner_->ActOrSimulate(
        m, {},
        [&] {
          if (HRESULT hr = check(); FAILED(hr)) return hr;
          return owner_->StoreSimulated(
              RangeType == VelmoraK40xxRangeVoltage ? output::kVoltageKey : output::kCurrentKey,
              Range);
        },
        [&] {
          if (HRESULT hr = check(); FAILED(hr)) return hr;
          return owner_->SelectThenSend();
        },
        {owner_->ToArg(m, RangeType), Range});
  }
  HRESULT Measure(VelmoraK40xxMeasurementTypeEnum MeasurementType, double* val) override {
    const Member& m = output::Measure;
    auto check = [&] {
      return CheckEnumValue(*owner_, m, MeasurementType, VelmoraK40xxMeasurementCurrent,
                            VelmoraK40xxMeasurementVoltage, "MeasurementType");
    };
    return owner_->ActOrSimulate(
        m, {val},
        [&] {
          if (HRESULT hr = check(); FAILED(hr)) return hr;
          VARIANT_BOOL on = VARIANT_FALSE;
          HRESULT hr = CallInterface<IVelmoraK40xxOutputs>(
              owner_->Driver(), IID_IVelmoraK40xxOutputs,
              [&](IVelmoraK40xxOutputs* outputs) { return outputs->get_Enabled(&on); });
          if (FAILED(hr)) return hr;
          // A simulated supply drives no load: no current flows, and an enabled output shows
          // the level it was set to.
          *val = 0.0;
          if (!on || MeasurementType == VelmoraK40xxMeasurementCurrent) return S_OK;
          return owner_->LoadSimulated(output::kVoltageKey, val);
        },
        [&] {
          if (HRESULT hr = check(); FAILED(hr)) return hr;
          return owner_->SelectThenQuery(val);
        },
        {std::string(MeasurementType == VelmoraK40xxMeasurementVoltage ? "VOLT" : "CURR")});
  }
  HRESULT QueryCurrentLimitMax(double VoltageLevel, double* val) override {
    auto compute = [&] { return CurrentLimitMax(*owner_, VoltageLevel, val); };
    return owner_->ActOrSimulate(output::QueryCurrentLimitMax, {val}, compute, compute);
  }
  HRESULT QueryVoltageLevelMax(double CurrentLimit, double* val) override {
    auto compute = [&] { return VoltageLevelMax(*owner_, CurrentLimit, val); };
    return owner_->ActOrSimulate(output::QueryVoltageLevelMax, {val}, compute, compute);
  }
  HRESULT QueryState(VelmoraK40xxOutputStateEnum OutputState, VARIANT_BOOL* val) override {
    return owner_->ActOrSimulate(
        output::QueryState, {val},
        [&] {
          *val = OutputState == VelmoraK40xxOutputStateOutputOff ? VARIANT_TRUE : VARIANT_FALSE;
          return S_OK;
        },
        [&] { return QueryStateOnInstrument(OutputState, val); });
  }
  HRESULT RunStep(VelmoraK40xxStepDirectionEnum Direction) override {
    const Member& m = output::RunStep;
    auto check = [&] {
      return CheckEnumValue(*owner_, m, Direction, VelmoraK40xxVoltageStepDirectionUp,
                            VelmoraK40xxCurrentStepDirectionDown, "Direction");
    };
    return owner_->ActOrSimulate(m, {}, check,
                                 [&] {
                                   if (HRESULT hr = check(); FAILED(hr)) return hr;
                                   return owner_->SelectThenSend();
                                 },
                                 {owner_->ToArg(m, Direction)});
  }
  HRESULT get_CurrentLimit(double* val) override {
    return owner_->Get(output::get_CurrentLimit, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_CurrentLimit(double val) override {
    return owner_->Put(output::put_CurrentLimit, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  // The instrument has no setting to read: on the models that can trip, the driver's behaviour
  // is to trip.
  HRESULT get_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum* val) override {
    return owner_->Get(output::get_CurrentLimitBehavior, val, [&] {
      *val = VelmoraK40xxCurrentLimitTrip;
      return S_OK;
    });
  }
  HRESULT put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum val) override {
    const Member& m = output::put_CurrentLimitBehavior;
    return owner_->Put(
        m, val,
        [&] {
          return CheckEnumAndModelValue(*owner_, m, val, VelmoraK40xxCurrentLimitRegulate,
                                        VelmoraK40xxCurrentLimitTrip);
        },
        [] { return S_OK; });
  }
  HRESULT get_Step(VelmoraK40xxStepEnum StepType, double* val) override {
    const Member& m = output::get_Step;
    return owner_->Get(
        m, val,
        [&] {
          if (HRESULT hr = CheckEnumValue(*owner_, m, StepType, VelmoraK40xxVoltageStep,
                                          VelmoraK40xxDefaultCurrentStep, "StepType");
              FAILED(hr))
            return hr;
          return owner_->SelectThenQuery(val);
        },
        {std::string(StepType <= VelmoraK40xxDefaultVoltageStep ? "VOLT" : "CURR")});
  }
  HRESULT put_Step(VelmoraK40xxStepEnum StepType, double val) override {
    const Member& m = output::put_Step;
    return owner_->Put(
        m, val,
        [&] {
          return CheckEnumValue(*owner_, m, StepType, VelmoraK40xxVoltageStep,
                                VelmoraK40xxDefaultCurrentStep, "StepType");
        },
        [&] {
          owner_->Select();
          CDriverIOManager& io = owner_->IO();
          switch (StepType) {
            case VelmoraK40xxVoltageStep:
              return io.InstrPrintf("VOLT:STEP %.15g", val);
            case VelmoraK40xxDefaultVoltageStep:
              return io.InstrPrintf("VOLT:STEP DEF");
            case VelmoraK40xxCurrentStep:
              return io.InstrPrintf("CURR:STEP %.15g", val);
            default:
              return io.InstrPrintf("CURR:STEP DEF");
          }
        });
  }
  HRESULT get_VoltageLevel(double* val) override {
    return owner_->Get(output::get_VoltageLevel, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_VoltageLevel(double val) override {
    return owner_->Put(output::put_VoltageLevel, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_VoltageRange(VelmoraK40xxVoltageRangeEnum* val) override {
    return owner_->Get(output::get_VoltageRange, val, [&] {
      owner_->Select();
      std::string reply;
      HRESULT hr = owner_->IO().InstrQueryCommand(16, &reply);
      if (FAILED(hr)) return hr;
      // The range names are the model's own; only the low one is known, so it is compared
      // exactly as it comes.
      *val = reply == owner_->Driver().Limits().LowRangeName ? VelmoraK40xxVoltageRangeLow
                                                             : VelmoraK40xxVoltageRangeHigh;
      return hr;
    });
  }
  HRESULT put_VoltageRange(VelmoraK40xxVoltageRangeEnum val) override {
    const Member& m = output::put_VoltageRange;
    return owner_->Put(
        m, val,
        [&] {
          return CheckEnumValue(*owner_, m, val, VelmoraK40xxVoltageRangeLow,
                                VelmoraK40xxVoltageRangeHigh);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_Protection(IVelmoraK40xxProtection** val) override {
    return owner_->Frame(output::get_Protection, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxProtection, reinterpret_cast<void**>(val));
    });
  }

 private:
  // The questionable condition is read before the selection: multi-output models keep one per
  // output, addressed by number.
  HRESULT QueryStateOnInstrument(VelmoraK40xxOutputStateEnum state, VARIANT_BOOL* val) {
    CDriverIOManager& io = owner_->IO();
    int32_t condition = 0;
    HRESULT hr = owner_->IsFamily(kFamilySingleOutput)
                     ? io.InstrQueryf(&condition, "STAT:QUES:COND?")
                     : io.InstrQueryf(&condition, "STAT:QUES:INST:ISUM%d:COND?",
                                      static_cast<int>(owner_->OutputIndex() + 1));
    // Without the condition there is nothing to judge by; a later success must not hide that.
    if (FAILED(hr)) return hr;
    hr = owner_->Select();
    auto tripped = [&](const char* query) {
      int32_t trip = 0;
      HRESULT qhr = io.InstrQueryf(&trip, "%s", query);
      if (SUCCEEDED(qhr)) *val = trip == 1 ? VARIANT_TRUE : VARIANT_FALSE;
      return qhr;
    };
    auto is = [&](bool b) {
      *val = b ? VARIANT_TRUE : VARIANT_FALSE;
      return hr;
    };
    switch (state) {
      case VelmoraK40xxOutputConstantCurrent:
        return is(condition == 1);
      case VelmoraK40xxOutputOverVoltage:
        return tripped("VOLT:PROT:TRIP?");
      case VelmoraK40xxOutputOverCurrent:
        return tripped("CURR:PROT:TRIP?");
      case VelmoraK40xxOutputUnregulated:
        return is(condition == 3);
      case VelmoraK40xxOutputStateOutputOff:
        return is(condition == 0);
      default:
        return is(condition == 2);
    }
  }
};

class ProtectionFacet final : public Facet<IVelmoraK40xxProtection, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ResetOVP() override {
    return owner_->Act(protection::ResetOVP, {}, [&] { return owner_->SelectThenSend(); });
  }
  HRESULT ResetOutputProtection() override {
    return owner_->Act(protection::ResetOutputProtection, {}, [&] {
      owner_->Select();
      // Every model that has this member has over-voltage protection.
      HRESULT hr = owner_->IO().InstrPrintf("VOLT:PROT:CLE");
      // A failed clear must not be answered with the next command's success.
      if (FAILED(hr) || !HasOcp()) return hr;
      return owner_->IO().InstrPrintf("CURR:PROT:CLE");
    });
  }
  HRESULT ResetOCP() override {
    return owner_->Act(protection::ResetOCP, {}, [&] { return owner_->SelectThenSend(); });
  }
  HRESULT QueryOVPLimitMax(double* val) override {
    auto limit = [&] {
      *val = owner_->Driver().Limits().OvpLimitMax;
      return S_OK;
    };
    return owner_->ActOrSimulate(protection::QueryOVPLimitMax, {val}, limit, limit);
  }
  HRESULT QueryOCPLimitMax(double* val) override {
    auto limit = [&] {
      *val = owner_->Driver().Limits().OcpLimitMax;
      return S_OK;
    };
    return owner_->ActOrSimulate(protection::QueryOCPLimitMax, {val}, limit, limit);
  }
  HRESULT ConfigureOVP(VARIANT_BOOL Enabled, double Limit) override {
    return Configure(protection::ConfigureOVP, protection::kOvpEnabledKey, protection::kOvpLimitKey,
                     Enabled, Limit);
  }
  HRESULT ConfigureOCP(VARIANT_BOOL Enabled, double Limit) override {
    return Configure(protection::ConfigureOCP, protection::kOcpEnabledKey, protection::kOcpLimitKey,
                     Enabled, Limit);
  }
  HRESULT get_OCPEnabled(VARIANT_BOOL* val) override {
    return owner_->Get(protection::get_OCPEnabled, val,
                       [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_OCPEnabled(VARIANT_BOOL val) override {
    return owner_->Put(protection::put_OCPEnabled, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_OCPLimit(double* val) override {
    return owner_->Get(protection::get_OCPLimit, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_OCPLimit(double val) override {
    return owner_->Put(protection::put_OCPLimit, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_OCPTripped(VARIANT_BOOL* val) override {
    return owner_->Get(protection::get_OCPTripped, val,
                       [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT get_OVPEnabled(VARIANT_BOOL* val) override {
    return owner_->Get(protection::get_OVPEnabled, val,
                       [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_OVPEnabled(VARIANT_BOOL val) override {
    return owner_->Put(protection::put_OVPEnabled, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_OVPLimit(double* val) override {
    return owner_->Get(protection::get_OVPLimit, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_OVPLimit(double val) override {
    return owner_->Put(protection::put_OVPLimit, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_OVPTripped(VARIANT_BOOL* val) override {
    return owner_->Get(protection::get_OVPTripped, val,
                       [&] { return owner_->SelectThenQuery(val); });
  }

 private:
  // The models with over-current protection are those the feature table gives its members.
  bool HasOcp() {
    const CSupportedModelValidator* ocp =
        FeatureValidator(protection::kItf.name, protection::ResetOCP.name);
    return !ocp || ocp->IsSupported(owner_->GetModel());
  }
  HRESULT Configure(const Member& m, const char* enabledKey, const char* limitKey,
                    VARIANT_BOOL enabled, double limit) {
    return owner_->ActOrSimulate(
        m, {},
        [&] {
          HRESULT hr = owner_->StoreSimulated(enabledKey, enabled);
          return FAILED(hr) ? hr : owner_->StoreSimulated(limitKey, limit);
        },
        [&] { return owner_->SelectThenSend(); }, {owner_->ToArg(m, enabled), limit});
  }
};

}  // namespace

struct VelmoraK40xxOutput::Facets {
  explicit Facets(VelmoraK40xxOutput* owner)
      : dcpwrOutput(owner),
        output(owner),
        protection(owner),
        errorInfo(owner, kErrorInfoInterfaces) {}

  static constexpr const IID* kErrorInfoInterfaces[] = {
      &IID_IIviDCPwrOutput, &IID_IVelmoraK40xxOutput, &IID_IVelmoraK40xxProtection};

  DCPwrOutputFacet dcpwrOutput;
  OutputFacet output;
  ProtectionFacet protection;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xxOutput::VelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index)
    : CChannel("VelmoraK40xxOutput", "VelmoraK40xxOutput", root, std::move(physicalName), index),
      facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xxOutput::~VelmoraK40xxOutput() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xxOutput::Interfaces() {
  static const InterfaceEntry kTable[] = {
      {&IID_IIviDCPwrOutput,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxOutput*>(o)->facets_->dcpwrOutput;
       }},
      {&IID_IVelmoraK40xxOutput,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxOutput*>(o)->facets_->output;
       }},
      {&IID_IVelmoraK40xxProtection,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxOutput*>(o)->facets_->protection;
       }},
      {&IID_ISupportErrorInfo,
       [](CComObject* o) -> IUnknown* {
         return &static_cast<VelmoraK40xxOutput*>(o)->facets_->errorInfo;
       }},
  };
  return kTable;
}

CRepCap* NewVelmoraK40xxOutput(VelmoraK40xx* root, std::string physicalName, int32_t index) {
  return new VelmoraK40xxOutput(root, std::move(physicalName), index);
}

}  // namespace vmk
