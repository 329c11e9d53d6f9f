// One output of the supply: its class-compliant and driver interfaces and its protection.
#include <cmath>
#include <memory>
#include <string>

#include "dcpwr/channel.h"
#include "dcpwr/instances.h"
#include "dcpwr/velmora_k40xx.h"
#include "driver/rep_cap.h"
#include "io/driver_io_manager.h"
#include "platform/visa/number_text.h"
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
constexpr Interface kItf{&IID_IIviDCPwrOutput, "IIviDCPwrOutput", false};
constexpr Member ConfigureCurrentLimit = kItf.Method(
    "ConfigureCurrentLimit", {In("Behavior", Enum), In("Limit", Double)});
constexpr Member ConfigureRange =
    kItf.Method("ConfigureRange", {In("RangeType", Enum), In("Range", Double)});
constexpr Member ConfigureOVP =
    kItf.Method("ConfigureOVP", {In("Enabled", Bool), In("Limit", Double)});
constexpr Member Measure =
    kItf.Method("Measure", {In("MeasurementType", Enum), Out("Measurement", Double)});
constexpr Member QueryCurrentLimitMax = kItf.Method(
    "QueryCurrentLimitMax", {In("VoltageLevel", Double), Out("MaxCurrentLimit", Double)});
constexpr Member QueryState =
    kItf.Method("QueryState", {In("OutputState", Enum), Out("InState", Bool)});
constexpr Member QueryVoltageLevelMax = kItf.Method(
    "QueryVoltageLevelMax", {In("CurrentLimit", Double), Out("MaxVoltageLevel", Double)});
constexpr Member ResetOutputProtection = kItf.Method("ResetOutputProtection");
constexpr Property Enabled = kItf.Prop("Enabled", Bool);
constexpr Property TriggerSource = kItf.Prop("TriggerSource", Enum);
constexpr Property TriggeredCurrentLimit = kItf.Prop("TriggeredCurrentLimit", Double);
constexpr Property TriggeredVoltageLevel = kItf.Prop("TriggeredVoltageLevel", Double);
constexpr Property VoltageLevel = kItf.Prop("VoltageLevel", Double);
constexpr Property CurrentLimit = kItf.Prop("CurrentLimit", Double);
constexpr Property CurrentLimitBehavior = kItf.Prop("CurrentLimitBehavior", Enum);
constexpr Property OVPLimit = kItf.Prop("OVPLimit", Double);
constexpr Property OVPEnabled = kItf.Prop("OVPEnabled", Bool);
}  // namespace dcpwr_output

namespace output {
constexpr Interface kItf{&IID_IVelmoraK40xxOutput, "IVelmoraK40xxOutput", kPowerSupply};
constexpr Member ApplyVoltageCurrent =
    kItf.Method("ApplyVoltageCurrent", {In("VoltageLevel", Double), In("CurrentLimit", Double)},
                {.command = "APPL %.15g, %.15g"});
// The template names the limit only: a trip behaviour writes the protection level before it.
constexpr Member ConfigureCurrentLimit =
    kItf.Method("ConfigureCurrentLimit", {In("Behavior", Enum), In("Limit", Double)},
                {.command = "CURR %2$.15g"});
constexpr Member ConfigureRange = kItf.Method(
    "ConfigureRange",
    {In("RangeType", Enum, &EnumKeyword<KeywordEnum::RangeType>), In("Range", Double)},
    {.command = "%s %.15g"});
constexpr Member Measure = kItf.Method(
    "Measure",
    {In("MeasurementType", Enum, &EnumKeyword<KeywordEnum::MeasurementType>), Out("val", Double)},
    {.command = "MEAS:%s?"});
constexpr Member QueryCurrentLimitMax =
    kItf.Method("QueryCurrentLimitMax", {In("VoltageLevel", Double), Out("val", Double)});
constexpr Member QueryState =
    kItf.Method("QueryState", {In("OutputState", Enum), Out("val", Bool)});
constexpr Member QueryVoltageLevelMax =
    kItf.Method("QueryVoltageLevelMax", {In("CurrentLimit", Double), Out("val", Double)});
constexpr Member RunStep =
    kItf.Method("RunStep", {In("Direction", Enum, &EnumKeyword<KeywordEnum::StepDirection>)},
                {.command = "%s", .models = kSingleOrDual});
constexpr Property CurrentLimit =
    kItf.Prop("CurrentLimit", Double, {.get = "CURR?", .put = "CURR %.15g", .sim = 20.0});
// The instrument has no setting to read or write: the behaviour is the driver's.
constexpr Property CurrentLimitBehavior = kItf.Prop(
    "CurrentLimitBehavior", Enum, {.sim = VelmoraK40xxCurrentLimitTrip, .models = kOcpModels});
// One simulated value serves all four step types; the instrument has one per quantity.
constexpr Property Step = kItf.Prop(
    "Step", Double,
    {.get = "%s:STEP?",
     .sim = 0.001,
     .models = kSingleOrDual,
     .index = {In("StepType", Enum, &EnumKeyword<KeywordEnum::StepQuantity>)}});
constexpr Property VoltageLevel =
    kItf.Prop("VoltageLevel", Double, {.get = "VOLT?", .put = "VOLT %.15g", .sim = 0.0});
constexpr Property VoltageRange = kItf.Prop("VoltageRange", Enum,
                                            {.get = "VOLT:RANG?",
                                             .put = "VOLT:RANG %s",
                                             .sim = VelmoraK40xxVoltageRangeLow,
                                             .models = kSingleOrDual,
                                             .keyword = &EnumKeyword<KeywordEnum::VoltageRange>});
constexpr Property Protection = kItf.Prop("Protection", Object, {.getWhileClosed = true});
}  // namespace output

namespace protection {
constexpr Interface kItf{&IID_IVelmoraK40xxProtection, "IVelmoraK40xxProtection", kPowerSupply};
constexpr Member ResetOVP =
    kItf.Method("ResetOVP", {}, {.command = "VOLT:PROT:CLE", .models = kOvpModels});
constexpr Member ResetOutputProtection =
    kItf.Method("ResetOutputProtection", {}, {.models = kOvpModels});
constexpr Member ResetOCP =
    kItf.Method("ResetOCP", {}, {.command = "CURR:PROT:CLE", .models = kOcpModels});
constexpr Member QueryOVPLimitMax =
    kItf.Method("QueryOVPLimitMax", {Out("val", Double)}, {.models = kOvpModels});
constexpr Member QueryOCPLimitMax =
    kItf.Method("QueryOCPLimitMax", {Out("val", Double)}, {.models = kOcpModels});
// The state and the limit in one write, so the instrument never holds a new state with an old
// limit.
constexpr Member ConfigureOVP =
    kItf.Method("ConfigureOVP", {In("Enabled", Bool), In("Limit", Double)},
                {.command = "VOLT:PROT:STAT %s; :VOLT:PROT %.15g", .models = kOvpModels});
constexpr Member ConfigureOCP =
    kItf.Method("ConfigureOCP", {In("Enabled", Bool), In("Limit", Double)},
                {.command = "CURR:PROT:STAT %s; :CURR:PROT %.15g", .models = kOcpModels});
constexpr Property OCPEnabled = kItf.Prop(
    "OCPEnabled", Bool,
    {.get = "CURR:PROT:STAT?", .put = "CURR:PROT:STAT %s", .sim = VARIANT_TRUE, .models = kOcpModels});
constexpr Property OCPLimit = kItf.Prop(
    "OCPLimit", Double,
    {.get = "CURR:PROT?", .put = "CURR:PROT %.15g", .sim = 22.0, .models = kOcpModels});
constexpr Property OCPTripped = kItf.Prop(
    "OCPTripped", Bool, {.get = "CURR:PROT:TRIP?", .sim = VARIANT_FALSE, .models = kOcpModels});
constexpr Property OVPEnabled = kItf.Prop(
    "OVPEnabled", Bool,
    {.get = "VOLT:PROT:STAT?", .put = "VOLT:PROT:STAT %s", .sim = VARIANT_TRUE, .models = kOvpModels});
constexpr Property OVPLimit = kItf.Prop(
    "OVPLimit", Double,
    {.get = "VOLT:PROT?", .put = "VOLT:PROT %.15g", .sim = 66.0, .models = kOvpModels});
constexpr Property OVPTripped = kItf.Prop(
    "OVPTripped", Bool, {.get = "VOLT:PROT:TRIP?", .sim = VARIANT_FALSE, .models = kOvpModels});
}  // namespace protection

// The largest current limit for a voltage, and the largest voltage for a current limit, from the
// model's limits. K4301A's first output has its own range; its other two share one, with the
// voltage judged by magnitude since the third output is negative.
HRESULT CurrentLimitMax(VelmoraK40xxOutput& out, double v, double* val) {
  const ModelLimits& l = out.Driver().Limits();
  std::string param;
  if (out.IsModelIn(kThreeOutputs) && out.OutputIndex() == 0) {
    if (v >= 0 && v <= l.LowRangeVoltageMax) return *val = l.LowRangeCurrentMax, S_OK;
    param = "VoltageLevel, Range 0-" + visa::FormatFixed(l.LowRangeVoltageMax);
  } else if (out.IsModelIn(kThreeOutputs)) {
    if (std::fabs(v) <= l.HighRangeVoltageMax) return *val = l.HighRangeCurrentMax, S_OK;
    param = "VoltageLevel, Max " + visa::FormatFixed(l.HighRangeVoltageMax);
  } else {
    // The low range allows the larger current, so it wins where the ranges meet.
    if (v >= 0 && v <= l.LowRangeVoltageMax) return *val = l.LowRangeCurrentMax, S_OK;
    if (v >= 0 && v <= l.HighRangeVoltageMax) return *val = l.HighRangeCurrentMax, S_OK;
    param = "VoltageLevel, Range 0-" + visa::FormatFixed(l.HighRangeVoltageMax);
  }
  return out.Errors().ReportInvalidValue("QueryCurrentLimitMax", param, v);
}

HRESULT VoltageLevelMax(VelmoraK40xxOutput& out, double i, double* val) {
  const ModelLimits& l = out.Driver().Limits();
  std::string param;
  if (out.IsModelIn(kThreeOutputs) && out.OutputIndex() == 0) {
    if (i >= 0 && i <= l.LowRangeCurrentMax) return *val = l.LowRangeVoltageMax, S_OK;
    param = "CurrentLimit, Range 0-" + visa::FormatFixed(l.LowRangeCurrentMax);
  } else if (out.IsModelIn(kThreeOutputs)) {
    if (i <= l.HighRangeCurrentMax) return *val = l.HighRangeVoltageMax, S_OK;
    param = "CurrentLimit, Max " + visa::FormatFixed(l.HighRangeCurrentMax);
  } else {
    // The high range allows the larger voltage for the smaller current.
    if (i >= 0 && i <= l.HighRangeCurrentMax) return *val = l.HighRangeVoltageMax, S_OK;
    if (i >= 0 && i <= l.LowRangeCurrentMax) return *val = l.LowRangeVoltageMax, S_OK;
    param = "CurrentLimit, Range 0-" + visa::FormatFixed(l.LowRangeCurrentMax);
  }
  return out.Errors().ReportInvalidValue("QueryVoltageLevelMax", param, i);
}

// The class interface of one output: each member hands over to the driver's own member, which
// runs in its own frame, so commands, simulation and error texts are that member's.
class DCPwrOutputFacet final : public Facet<IIviDCPwrOutput, VelmoraK40xxOutput> {
 public:
  using Facet::Facet;
  HRESULT ConfigureCurrentLimit(IviDCPwrCurrentLimitBehaviorEnum Behavior, DOUBLE Limit) override {
    return Output(dcpwr_output::ConfigureCurrentLimit, With(Behavior, Limit),
                  [&](IVelmoraK40xxOutput* o) {
      return o->ConfigureCurrentLimit(static_cast<VelmoraK40xxCurrentLimitBehaviorEnum>(Behavior),
                                      Limit);
    });
  }
  HRESULT ConfigureRange(IviDCPwrRangeTypeEnum RangeType, DOUBLE Range) override {
    return Output(dcpwr_output::ConfigureRange, With(RangeType, Range),
                  [&](IVelmoraK40xxOutput* o) {
      return o->ConfigureRange(static_cast<VelmoraK40xxRangeTypeEnum>(RangeType), Range);
    });
  }
  HRESULT ConfigureOVP(VARIANT_BOOL Enabled, DOUBLE Limit) override {
    return Protection(dcpwr_output::ConfigureOVP, With(Enabled, Limit),
                      [&](IVelmoraK40xxProtection* p) { return p->ConfigureOVP(Enabled, Limit); });
  }
  HRESULT Measure(IviDCPwrMeasurementTypeEnum MeasurementType, DOUBLE* Measurement) override {
    return Output(dcpwr_output::Measure, With(MeasurementType, Measurement),
                  [&](IVelmoraK40xxOutput* o) {
      return o->Measure(static_cast<VelmoraK40xxMeasurementTypeEnum>(MeasurementType), Measurement);
    });
  }
  HRESULT QueryCurrentLimitMax(DOUBLE VoltageLevel, DOUBLE* MaxCurrentLimit) override {
    return Output(dcpwr_output::QueryCurrentLimitMax, With(VoltageLevel, MaxCurrentLimit),
                  [&](IVelmoraK40xxOutput* o) {
                    return o->QueryCurrentLimitMax(VoltageLevel, MaxCurrentLimit);
                  });
  }
  HRESULT QueryState(IviDCPwrOutputStateEnum OutputState, VARIANT_BOOL* InState) override {
    return Output(dcpwr_output::QueryState, With(OutputState, InState),
                  [&](IVelmoraK40xxOutput* o) {
      return o->QueryState(static_cast<VelmoraK40xxOutputStateEnum>(OutputState), InState);
    });
  }
  HRESULT QueryVoltageLevelMax(DOUBLE CurrentLimit, DOUBLE* MaxVoltageLevel) override {
    return Output(dcpwr_output::QueryVoltageLevelMax, With(CurrentLimit, MaxVoltageLevel),
                  [&](IVelmoraK40xxOutput* o) {
                    return o->QueryVoltageLevelMax(CurrentLimit, MaxVoltageLevel);
                  });
  }
  HRESULT ResetOutputProtection() override {
    return Protection(dcpwr_output::ResetOutputProtection, With(),
                      [&](IVelmoraK40xxProtection* p) { return p->ResetOutputProtection(); });
  }
  // Output on and off is one setting of the whole instrument, so every output reads and writes
  // the same value.
  HRESULT put_Enabled(VARIANT_BOOL newVal) override {
    return Outputs(dcpwr_output::Enabled.put, With(newVal),
                   [&](IVelmoraK40xxOutputs* o) { return o->put_Enabled(newVal); });
  }
  HRESULT get_Enabled(VARIANT_BOOL* pVal) override {
    return Outputs(dcpwr_output::Enabled.get, With(pVal),
                   [&](IVelmoraK40xxOutputs* o) { return o->get_Enabled(pVal); });
  }
  HRESULT put_TriggerSource(IviDCPwrTriggerSourceEnum newVal) override {
    return owner_->Frame(dcpwr_output::TriggerSource.put, With(newVal), [&]() -> HRESULT {
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
    return owner_->Frame(dcpwr_output::TriggerSource.get, With(pVal), [&] {
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
    return owner_->Frame(dcpwr_output::TriggeredCurrentLimit.put, With(newVal), [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->put_CurrentLimit(newVal); });
    });
  }
  HRESULT get_TriggeredCurrentLimit(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::TriggeredCurrentLimit.get, With(pVal), [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->get_CurrentLimit(pVal); });
    });
  }
  HRESULT put_TriggeredVoltageLevel(DOUBLE newVal) override {
    return owner_->Frame(dcpwr_output::TriggeredVoltageLevel.put, With(newVal), [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->put_VoltageLevel(newVal); });
    });
  }
  HRESULT get_TriggeredVoltageLevel(DOUBLE* pVal) override {
    return owner_->Frame(dcpwr_output::TriggeredVoltageLevel.get, With(pVal), [&] {
      return Trigger([&](IVelmoraK40xxTrigger* t) { return t->get_VoltageLevel(pVal); });
    });
  }
  HRESULT put_VoltageLevel(DOUBLE newVal) override {
    return Output(dcpwr_output::VoltageLevel.put, With(newVal),
                  [&](IVelmoraK40xxOutput* o) { return o->put_VoltageLevel(newVal); });
  }
  HRESULT get_VoltageLevel(DOUBLE* pVal) override {
    return Output(dcpwr_output::VoltageLevel.get, With(pVal),
                  [&](IVelmoraK40xxOutput* o) { return o->get_VoltageLevel(pVal); });
  }
  HRESULT put_CurrentLimit(DOUBLE newVal) override {
    return Output(dcpwr_output::CurrentLimit.put, With(newVal),
                  [&](IVelmoraK40xxOutput* o) { return o->put_CurrentLimit(newVal); });
  }
  HRESULT get_CurrentLimit(DOUBLE* pVal) override {
    return Output(dcpwr_output::CurrentLimit.get, With(pVal),
                  [&](IVelmoraK40xxOutput* o) { return o->get_CurrentLimit(pVal); });
  }
  HRESULT put_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum newVal) override {
    return Output(dcpwr_output::CurrentLimitBehavior.put, With(newVal),
                  [&](IVelmoraK40xxOutput* o) {
      return o->put_CurrentLimitBehavior(static_cast<VelmoraK40xxCurrentLimitBehaviorEnum>(newVal));
    });
  }
  HRESULT get_CurrentLimitBehavior(IviDCPwrCurrentLimitBehaviorEnum* pVal) override {
    return Output(dcpwr_output::CurrentLimitBehavior.get, With(pVal),
                  [&](IVelmoraK40xxOutput* o) {
      VelmoraK40xxCurrentLimitBehaviorEnum behavior = VelmoraK40xxCurrentLimitRegulate;
      HRESULT hr = o->get_CurrentLimitBehavior(&behavior);
      if (SUCCEEDED(hr) && (behavior == VelmoraK40xxCurrentLimitRegulate ||
                            behavior == VelmoraK40xxCurrentLimitTrip))
        *pVal = static_cast<IviDCPwrCurrentLimitBehaviorEnum>(behavior);
      return hr;
    });
  }
  HRESULT put_OVPLimit(DOUBLE newVal) override {
    return Protection(dcpwr_output::OVPLimit.put, With(newVal),
                      [&](IVelmoraK40xxProtection* p) { return p->put_OVPLimit(newVal); });
  }
  HRESULT get_OVPLimit(DOUBLE* pVal) override {
    return Protection(dcpwr_output::OVPLimit.get, With(pVal),
                      [&](IVelmoraK40xxProtection* p) { return p->get_OVPLimit(pVal); });
  }
  HRESULT put_OVPEnabled(VARIANT_BOOL newVal) override {
    return Protection(dcpwr_output::OVPEnabled.put, With(newVal),
                      [&](IVelmoraK40xxProtection* p) { return p->put_OVPEnabled(newVal); });
  }
  HRESULT get_OVPEnabled(VARIANT_BOOL* pVal) override {
    return Protection(dcpwr_output::OVPEnabled.get, With(pVal),
                      [&](IVelmoraK40xxProtection* p) { return p->get_OVPEnabled(pVal); });
  }

 private:
  template <class... A, class Call>
  HRESULT Output(const Member& m, const Args<A...>& args, Call&& call) {
    return owner_->Frame(m, args, [&] {
      return CallInterface<IVelmoraK40xxOutput>(*owner_, IID_IVelmoraK40xxOutput, call);
    });
  }
  template <class... A, class Call>
  HRESULT Protection(const Member& m, const Args<A...>& args, Call&& call) {
    return owner_->Frame(m, args, [&] {
      return CallInterface<IVelmoraK40xxProtection>(*owner_, IID_IVelmoraK40xxProtection, call);
    });
  }
  template <class... A, class Call>
  HRESULT Outputs(const Member& m, const Args<A...>& args, Call&& call) {
    return owner_->Frame(m, args, [&] {
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
        output::ApplyVoltageCurrent, With(VoltageLevel, CurrentLimit), NoCheck,
        [&] {
          HRESULT hr = owner_->StoreSimulated(output::VoltageLevel, VoltageLevel);
          return FAILED(hr) ? hr : owner_->StoreSimulated(output::CurrentLimit, CurrentLimit);
        },
        [&]() -> HRESULT {
          if (!owner_->IsModelIn(kThreeOutputs)) return owner_->SelectThenSend();
          // K4301A names the output in the command itself instead of selecting it.
          static constexpr const char* kNames[] = {"P6V", "P25V", "N25V"};
          const int32_t index = owner_->OutputIndex();
          if (index < 0 || index > 2) return S_OK;
          return owner_->IO().InstrPrintf("APPL %s, %.15g, %.15g", kNames[index], VoltageLevel,
                                          CurrentLimit);
        });
  }
  HRESULT ConfigureCurrentLimit(VelmoraK40xxCurrentLimitBehaviorEnum Behavior,
                                double Limit) override {
    const Member& m = output::ConfigureCurrentLimit;
    return owner_->ActOrSimulate(
        m, With(Behavior, Limit),
        [&] {
          return CheckEnumAndModelValue(*owner_, m, Behavior, VelmoraK40xxCurrentLimitRegulate,
                                        VelmoraK40xxCurrentLimitTrip, kCurrentLimitBehaviorValues,
                                        "Behavior");
        },
        [&] {
          HRESULT hr = owner_->StoreSimulated(output::CurrentLimitBehavior, Behavior);
          return FAILED(hr) ? hr : owner_->StoreSimulated(output::CurrentLimit, Limit);
        },
        [&] {
          owner_->Select();
          if (Behavior == VelmoraK40xxCurrentLimitTrip) {
            // Trip means the protection level follows the limit; its on/off state is the
            // caller's to set.
            if (HRESULT hr = owner_->IO().InstrPrintf("CURR:PROT %.15g", Limit); FAILED(hr))
              return hr;
          }
          return owner_->IO().InstrPrintCommand();
        });
  }
  // Despite its name, this programs the voltage level or the current limit.
  HRESULT ConfigureRange(VelmoraK40xxRangeTypeEnum RangeType, double Range) override {
    const Member& m = output::ConfigureRange;
    return owner_->ActOrSimulate(
        m, With(RangeType, Range),
        [&] {
          return CheckEnumValue(*owner_, m, RangeType, VelmoraK40xxRangeCurrent,
                                VelmoraK40xxRangeVoltage, "RangeType");
        },
        [&] {
          return owner_->StoreSimulated(
              RangeType == VelmoraK40xxRangeVoltage ? output::VoltageLevel : output::CurrentLimit,
              Range);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT Measure(VelmoraK40xxMeasurementTypeEnum MeasurementType, double* val) override {
    const Member& m = output::Measure;
    return owner_->ActOrSimulate(
        m, With(MeasurementType, val),
        [&] {
          return CheckEnumValue(*owner_, m, MeasurementType, VelmoraK40xxMeasurementCurrent,
                                VelmoraK40xxMeasurementVoltage, "MeasurementType");
        },
        [&] {
          VARIANT_BOOL on = VARIANT_FALSE;
          HRESULT hr = CallInterface<IVelmoraK40xxOutputs>(
              owner_->Driver(), IID_IVelmoraK40xxOutputs,
              [&](IVelmoraK40xxOutputs* outputs) { return outputs->get_Enabled(&on); });
          if (FAILED(hr)) return hr;
          // A simulated supply drives no load: no current flows, and an enabled output shows
          // the level it was set to.
          *val = 0.0;
          if (!on || MeasurementType == VelmoraK40xxMeasurementCurrent) return S_OK;
          return owner_->LoadSimulated(output::VoltageLevel, val);
        },
        [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT QueryCurrentLimitMax(double VoltageLevel, double* val) override {
    auto compute = [&] { return CurrentLimitMax(*owner_, VoltageLevel, val); };
    return owner_->ActOrSimulate(output::QueryCurrentLimitMax, With(VoltageLevel, val), NoCheck,
                                 compute, compute);
  }
  HRESULT QueryVoltageLevelMax(double CurrentLimit, double* val) override {
    auto compute = [&] { return VoltageLevelMax(*owner_, CurrentLimit, val); };
    return owner_->ActOrSimulate(output::QueryVoltageLevelMax, With(CurrentLimit, val), NoCheck,
                                 compute, compute);
  }
  HRESULT QueryState(VelmoraK40xxOutputStateEnum OutputState, VARIANT_BOOL* val) override {
    return owner_->ActOrSimulate(
        output::QueryState, With(OutputState, val), NoCheck,
        [&] {
          *val = OutputState == VelmoraK40xxOutputStateOutputOff ? VARIANT_TRUE : VARIANT_FALSE;
          return S_OK;
        },
        [&] { return QueryStateOnInstrument(OutputState, val); });
  }
  HRESULT RunStep(VelmoraK40xxStepDirectionEnum Direction) override {
    const Member& m = output::RunStep;
    return owner_->Act(
        m, With(Direction),
        [&] {
          return CheckEnumValue(*owner_, m, Direction, VelmoraK40xxVoltageStepDirectionUp,
                                VelmoraK40xxCurrentStepDirectionDown, "Direction");
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_CurrentLimit(double* val) override {
    return owner_->Get(output::CurrentLimit, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_CurrentLimit(double val) override {
    return owner_->Put(output::CurrentLimit, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  // The instrument has no setting to read: on the models that can trip, the driver's behaviour
  // is to trip.
  HRESULT get_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum* val) override {
    return owner_->Get(output::CurrentLimitBehavior, val, [&] {
      *val = VelmoraK40xxCurrentLimitTrip;
      return S_OK;
    });
  }
  HRESULT put_CurrentLimitBehavior(VelmoraK40xxCurrentLimitBehaviorEnum val) override {
    return owner_->Put(
        output::CurrentLimitBehavior, val,
        [&] {
          return CheckEnumAndModelValue(*owner_, output::CurrentLimitBehavior.put, val,
                                        VelmoraK40xxCurrentLimitRegulate,
                                        VelmoraK40xxCurrentLimitTrip, kCurrentLimitBehaviorValues);
        },
        [] { return S_OK; });
  }
  HRESULT get_Step(VelmoraK40xxStepEnum StepType, double* val) override {
    return owner_->Get(output::Step, With(StepType), val, [&] {
      if (HRESULT hr = CheckStepType(output::Step.get, StepType); FAILED(hr)) return hr;
      return owner_->SelectThenQuery(val);
    });
  }
  HRESULT put_Step(VelmoraK40xxStepEnum StepType, double val) override {
    return owner_->Put(
        output::Step, With(StepType), val, [&] { return CheckStepType(output::Step.put, StepType); },
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
    return owner_->Get(output::VoltageLevel, val, [&] { return owner_->SelectThenQuery(val); });
  }
  HRESULT put_VoltageLevel(double val) override {
    return owner_->Put(output::VoltageLevel, val, NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_VoltageRange(VelmoraK40xxVoltageRangeEnum* val) override {
    return owner_->Get(output::VoltageRange, val, [&] {
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
    return owner_->Put(
        output::VoltageRange, val,
        [&] {
          return CheckEnumValue(*owner_, output::VoltageRange.put, val,
                                VelmoraK40xxVoltageRangeLow, VelmoraK40xxVoltageRangeHigh);
        },
        [&] { return owner_->SelectThenSend(); });
  }
  HRESULT get_Protection(IVelmoraK40xxProtection** val) override {
    return owner_->Frame(output::Protection.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxProtection, reinterpret_cast<void**>(val));
    });
  }

 private:
  // A simulated step is one value for every step type, so reading it takes any type; the
  // instrument is asked for a type only when it has one.
  HRESULT CheckStepType(const Member& m, VelmoraK40xxStepEnum type) {
    return CheckEnumValue(*owner_, m, type, VelmoraK40xxVoltageStep,
                          VelmoraK40xxDefaultCurrentStep, "StepType");
  }
  // The questionable condition is read before the selection: multi-output models keep one per
  // output, addressed by number.
  HRESULT QueryStateOnInstrument(VelmoraK40xxOutputStateEnum state, VARIANT_BOOL* val) {
    CDriverIOManager& io = owner_->IO();
    int32_t condition = 0;
    HRESULT hr = owner_->IsModelIn(kSingleOutput)
                     ? io.InstrQueryf(&condition, "STAT:QUES:COND?")
                     : io.InstrQueryf(&condition, "STAT:QUES:INST:ISUM%d:COND?",
                                      owner_->OutputIndex() + 1);
    // Without the condition there is nothing to judge by; a later success must not hide that.
    if (FAILED(hr)) return hr;
    hr = owner_->SelectNow();
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
    return owner_->Act(protection::ResetOVP, With(), NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT ResetOutputProtection() override {
    return owner_->Act(protection::ResetOutputProtection, With(), NoCheck, [&] {
      owner_->Select();
      // Every model that has this member has over-voltage protection.
      HRESULT hr = owner_->IO().InstrPrintf("VOLT:PROT:CLE");
      // A failed clear must not be answered with the next command's success.
      if (FAILED(hr) || !owner_->IsModelIn(kOcpModels)) return hr;
      return owner_->IO().InstrPrintf("CURR:PROT:CLE");
    });
  }
  HRESULT ResetOCP() override {
    return owner_->Act(protection::ResetOCP, With(), NoCheck,
                       [&] { return owner_->SelectThenSend(); });
  }
  HRESULT QueryOVPLimitMax(double* val) override {
    auto limit = [&] {
      *val = owner_->Driver().Limits().OvpLimitMax;
      return S_OK;
    };
    return owner_->ActOrSimulate(protection::QueryOVPLimitMax, With(val), NoCheck, limit, limit);
  }
  HRESULT QueryOCPLimitMax(double* val) override {
    auto limit = [&] {
      *val = owner_->Driver().Limits().OcpLimitMax;
      return S_OK;
    };
    return owner_->ActOrSimulate(protection::QueryOCPLimitMax, With(val), NoCheck, limit, limit);
  }
  HRESULT ConfigureOVP(VARIANT_BOOL Enabled, double Limit) override {
    return Configure(protection::ConfigureOVP, protection::OVPEnabled, protection::OVPLimit,
                     Enabled, Limit);
  }
  HRESULT ConfigureOCP(VARIANT_BOOL Enabled, double Limit) override {
    return Configure(protection::ConfigureOCP, protection::OCPEnabled, protection::OCPLimit,
                     Enabled, Limit);
  }
  HRESULT get_OCPEnabled(VARIANT_BOOL* val) override { return Read(protection::OCPEnabled, val); }
  HRESULT put_OCPEnabled(VARIANT_BOOL val) override { return Write(protection::OCPEnabled, val); }
  HRESULT get_OCPLimit(double* val) override { return Read(protection::OCPLimit, val); }
  HRESULT put_OCPLimit(double val) override { return Write(protection::OCPLimit, val); }
  HRESULT get_OCPTripped(VARIANT_BOOL* val) override { return Read(protection::OCPTripped, val); }
  HRESULT get_OVPEnabled(VARIANT_BOOL* val) override { return Read(protection::OVPEnabled, val); }
  HRESULT put_OVPEnabled(VARIANT_BOOL val) override { return Write(protection::OVPEnabled, val); }
  HRESULT get_OVPLimit(double* val) override { return Read(protection::OVPLimit, val); }
  HRESULT put_OVPLimit(double val) override { return Write(protection::OVPLimit, val); }
  HRESULT get_OVPTripped(VARIANT_BOOL* val) override { return Read(protection::OVPTripped, val); }

 private:
  template <class T>
  HRESULT Read(const Property& p, T* val) {
    return owner_->Get(p, val, [&] { return owner_->SelectThenQuery(val); });
  }
  template <class T>
  HRESULT Write(const Property& p, T val) {
    return owner_->Put(p, val, NoCheck, [&] { return owner_->SelectThenSend(); });
  }
  HRESULT Configure(const Member& m, const Property& enabled, const Property& limit,
                    VARIANT_BOOL on, double level) {
    return owner_->ActOrSimulate(
        m, With(on, level), NoCheck,
        [&] {
          HRESULT hr = owner_->StoreSimulated(enabled, on);
          return FAILED(hr) ? hr : owner_->StoreSimulated(limit, level);
        },
        [&] { return owner_->SelectThenSend(); });
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
