// The driver's root class: its interface table, its facets and the power-supply hooks of the
// session machinery.
#include "dcpwr/velmora_k40xx.h"

#include <string>
#include <utility>

#include "dcpwr/calibrations.h"
#include "dcpwr/channel.h"
#include "dcpwr/display.h"
#include "dcpwr/instances.h"
#include "dcpwr/keyword_tables.h"
#include "dcpwr/status.h"
#include "dcpwr/system.h"
#include "io/driver_io_manager.h"
#include "platform/com/ascii.h"
#include "services/keywords.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

constexpr PropertySpec kWhileClosed{.getWhileClosed = true};

namespace root {
constexpr Interface kItf{&IID_IVelmoraK40xx, "IVelmoraK40xx", false};
constexpr Property Outputs = kItf.Prop("Outputs", Object);
constexpr Property Display = kItf.Prop("Display", Object, kWhileClosed);
constexpr Property Status = kItf.Prop("Status", Object, kWhileClosed);
constexpr Property System = kItf.Prop("System", Object, kWhileClosed);
constexpr Property IviDCPwr = kItf.Prop("IviDCPwr", Object);
constexpr Property Calibrations = kItf.Prop("Calibrations", Object);
constexpr Property Triggers = kItf.Prop("Triggers", Object);
}  // namespace root

namespace dcpwr {
constexpr Interface kItf{&IID_IIviDCPwr, "IIviDCPwr", false};
constexpr Property Outputs = kItf.Prop("Outputs", Object, kWhileClosed);
constexpr Property Trigger = kItf.Prop("Trigger", Object, kWhileClosed);
}  // namespace dcpwr

namespace dcpwr_outputs {
constexpr Interface kItf{&IID_IIviDCPwrOutputs, "IIviDCPwrOutputs", false};
constexpr Property Item = kItf.Prop(
    "Item", Object, {.index = {In("OutputName", String)}, .getWhileClosed = true});
constexpr Property Count = kItf.Prop("Count", Long);
constexpr Property Name = kItf.Prop("Name", String, {.index = {In("Index", Long)}});
}  // namespace dcpwr_outputs

namespace dcpwr_trigger {
constexpr Interface kItf{&IID_IIviDCPwrTrigger, "IIviDCPwrTrigger", false};
constexpr Member Abort = kItf.Method("Abort");
constexpr Member Initiate = kItf.Method("Initiate");
constexpr Member SendSoftwareTrigger = kItf.Method("SendSoftwareTrigger");
}  // namespace dcpwr_trigger

namespace outputs {
constexpr Interface kItf{&IID_IVelmoraK40xxOutputs, "IVelmoraK40xxOutputs", kPowerSupply};
constexpr Property Count = kItf.Prop("Count", Long);
constexpr Property Item = kItf.Prop("Item", Object, {.index = {In("Name", String)}});
constexpr Property Name = kItf.Prop("Name", String, {.index = {In("Index", Long)}});
constexpr Property Channel = kItf.Prop("Channel", Enum,
                                       {.get = "INST:NSEL?",
                                        .put = "INST:NSEL %s",
                                        .sim = VelmoraK40xxOutput1,
                                        .models = kMultiOutput,
                                        .keyword = &EnumKeyword<KeywordEnum::Output>});
constexpr Property Enabled =
    kItf.Prop("Enabled", Bool, {.get = "OUTP?", .put = "OUTP %s", .sim = VARIANT_FALSE});
constexpr Property RelayEnabled = kItf.Prop(
    "RelayEnabled", Bool,
    {.get = "OUTP:REL?", .put = "OUTP:REL %s", .sim = VARIANT_FALSE, .models = kSingleOrDual});
constexpr Property TrackingEnabled = kItf.Prop(
    "TrackingEnabled", Bool,
    {.get = "OUTP:TRAC?", .put = "OUTP:TRAC %s", .sim = VARIANT_FALSE, .models = kMultiOutput});
}  // namespace outputs

namespace triggers {
constexpr Interface kItf{&IID_IVelmoraK40xxTriggers, "IVelmoraK40xxTriggers", kPowerSupply};
constexpr Member Abort = kItf.Method("Abort", {}, {.command = "ABOR"});
constexpr Member Initiate = kItf.Method("Initiate", {}, {.command = "INIT"});
constexpr Member SendSoftwareTrigger = kItf.Method("SendSoftwareTrigger", {}, {.command = "*TRG"});
constexpr Property Count = kItf.Prop("Count", Long);
constexpr Property Item = kItf.Prop("Item", Object, {.index = {In("Name", String)}});
constexpr Property Name = kItf.Prop("Name", String, {.index = {In("Index", Long)}});
constexpr Property Coupling = kItf.Prop("Coupling", Enum,
                                        {.get = "INST:COUP?",
                                         .put = "INST:COUP %s",
                                         .sim = VelmoraK40xxCouplingOn,
                                         .models = kMultiOutput,
                                         .keyword = &EnumKeyword<KeywordEnum::Coupling>});
}  // namespace triggers

class RootFacet final : public DriverFacet<IVelmoraK40xx, VelmoraK40xx> {
 public:
  using DriverFacet::DriverFacet;
  HRESULT get_Outputs(IVelmoraK40xxOutputs** val) override {
    return owner_->Frame(root::Outputs.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxOutputs, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Display(IVelmoraK40xxDisplay** val) override {
    return owner_->Frame(root::Display.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxDisplay, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Status(IVelmoraK40xxStatus** val) override {
    return owner_->Frame(root::Status.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxStatus, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_System(IVelmoraK40xxSystem** val) override {
    return owner_->Frame(root::System.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxSystem, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_IviDCPwr(IIviDCPwr** val) override {
    return owner_->Frame(root::IviDCPwr.get, With(val), [&] {
      return owner_->QueryInterface(IID_IIviDCPwr, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Calibrations(IVelmoraK40xxCalibrations** val) override {
    return owner_->Frame(root::Calibrations.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxCalibrations, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Triggers(IVelmoraK40xxTriggers** val) override {
    return owner_->Frame(root::Triggers.get, With(val), [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxTriggers, reinterpret_cast<void**>(val));
    });
  }
};

class DCPwrFacet final : public DriverFacet<IIviDCPwr, VelmoraK40xx> {
 public:
  using DriverFacet::DriverFacet;
  HRESULT get_Outputs(IIviDCPwrOutputs** pVal) override {
    return owner_->Frame(dcpwr::Outputs.get, With(pVal), [&] {
      return owner_->QueryInterface(IID_IIviDCPwrOutputs, reinterpret_cast<void**>(pVal));
    });
  }
  HRESULT get_Trigger(IIviDCPwrTrigger** pVal) override {
    return owner_->Frame(dcpwr::Trigger.get, With(pVal), [&] {
      return owner_->QueryInterface(IID_IIviDCPwrTrigger, reinterpret_cast<void**>(pVal));
    });
  }
};

class DCPwrOutputsFacet final : public Facet<IIviDCPwrOutputs, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT get_Item(BSTR OutputName, IIviDCPwrOutput** pVal) override {
    return owner_->Frame(dcpwr_outputs::Item.get, With(OutputName, pVal), [&] {
      return owner_->RepCapItem("VelmoraK40xxOutput", OutputName, IID_IIviDCPwrOutput,
                                reinterpret_cast<void**>(pVal));
    });
  }
  HRESULT get_Count(LONG* pVal) override {
    return owner_->Frame(dcpwr_outputs::Count.get, With(pVal),
                         [&] { return owner_->RepCapCount("VelmoraK40xxOutput", pVal); });
  }
  HRESULT get_Name(LONG Index, BSTR* Name) override {
    return owner_->Frame(dcpwr_outputs::Name.get, With(Index, Name),
                         [&] { return owner_->RepCapName("VelmoraK40xxOutput", Index, Name); });
  }
};

// The class trigger hands over to the driver's own trigger members, in their frames.
class DCPwrTriggerFacet final : public Facet<IIviDCPwrTrigger, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT Abort() override {
    return Triggers(dcpwr_trigger::Abort, [](IVelmoraK40xxTriggers* t) { return t->Abort(); });
  }
  HRESULT Initiate() override {
    return Triggers(dcpwr_trigger::Initiate,
                    [](IVelmoraK40xxTriggers* t) { return t->Initiate(); });
  }
  HRESULT SendSoftwareTrigger() override {
    return Triggers(dcpwr_trigger::SendSoftwareTrigger,
                    [](IVelmoraK40xxTriggers* t) { return t->SendSoftwareTrigger(); });
  }

 private:
  template <class Call>
  HRESULT Triggers(const Member& m, Call&& call) {
    return owner_->Frame(m, [&] {
      return CallInterface<IVelmoraK40xxTriggers>(*owner_, IID_IVelmoraK40xxTriggers, call);
    });
  }
};

class OutputsFacet final : public Facet<IVelmoraK40xxOutputs, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT get_Count(LONG* val) override {
    return owner_->Frame(outputs::Count.get, With(val),
                         [&] { return owner_->RepCapCount("VelmoraK40xxOutput", val); });
  }
  HRESULT get_Item(BSTR Name, IVelmoraK40xxOutput** val) override {
    return owner_->Frame(outputs::Item.get, With(Name, val), [&] {
      return owner_->RepCapItem("VelmoraK40xxOutput", Name, IID_IVelmoraK40xxOutput,
                                reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Name(LONG Index, BSTR* val) override {
    return owner_->Frame(outputs::Name.get, With(Index, val),
                         [&] { return owner_->RepCapName("VelmoraK40xxOutput", Index, val); });
  }
  HRESULT get_Channel(VelmoraK40xxOutputEnum* val) override {
    return owner_->Get(outputs::Channel, val, [&] {
      std::string reply;
      HRESULT hr = owner_->IO().InstrQueryCommand(16, &reply);
      if (FAILED(hr)) return hr;
      // The instrument may answer "+2" or " 2 "; the number is what counts.
      std::string number;
      for (char c : reply)
        if (c != '+' && !ascii::IsSpace(c)) number.push_back(c);
      int32_t value = 0;
      if (!KeywordTable(KeywordEnum::Output).KeywordToEnum(owner_->GetModel(), number, &value))
        return owner_->Errors().ReportErrorWithText(Msg::E_IVI_UNEXPECTED_RESPONSE,
                                                    "\"" + reply + "\" is not an output number");
      *val = static_cast<VelmoraK40xxOutputEnum>(value);
      return hr;
    });
  }
  HRESULT put_Channel(VelmoraK40xxOutputEnum val) override {
    return owner_->Put(
        outputs::Channel, val,
        [&] {
          return CheckEnumAndModelValue(*owner_, outputs::Channel.put, val, VelmoraK40xxOutput1,
                                        VelmoraK40xxOutput3, kOutputValues);
        },
        [&] { return owner_->IO().InstrPrintCommand(); });
  }
  HRESULT get_Enabled(VARIANT_BOOL* val) override { return GetFlag(outputs::Enabled, val); }
  HRESULT put_Enabled(VARIANT_BOOL val) override { return PutFlag(outputs::Enabled, val); }
  HRESULT get_RelayEnabled(VARIANT_BOOL* val) override {
    return GetFlag(outputs::RelayEnabled, val);
  }
  HRESULT put_RelayEnabled(VARIANT_BOOL val) override {
    return PutFlag(outputs::RelayEnabled, val);
  }
  HRESULT get_TrackingEnabled(VARIANT_BOOL* val) override {
    return GetFlag(outputs::TrackingEnabled, val);
  }
  HRESULT put_TrackingEnabled(VARIANT_BOOL val) override {
    return PutFlag(outputs::TrackingEnabled, val);
  }

 private:
  // Instrument-wide switches: no output is selected for them.
  HRESULT GetFlag(const Property& p, VARIANT_BOOL* val) {
    return owner_->Get(p, val, [&] { return owner_->IO().InstrQueryCommandBool(val); });
  }
  HRESULT PutFlag(const Property& p, VARIANT_BOOL val) {
    return owner_->Put(p, val, NoCheck, [&] { return owner_->IO().InstrPrintCommand(); });
  }
};

class TriggersFacet final : public Facet<IVelmoraK40xxTriggers, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT Abort() override { return Send(triggers::Abort); }
  HRESULT Initiate() override { return Send(triggers::Initiate); }
  // Whatever the sources are: a trigger on an output waiting for the immediate source is the
  // instrument's to ignore.
  HRESULT SendSoftwareTrigger() override { return Send(triggers::SendSoftwareTrigger); }
  HRESULT get_Count(LONG* val) override {
    return owner_->Frame(triggers::Count.get, With(val),
                         [&] { return owner_->RepCapCount("VelmoraK40xxTrigger", val); });
  }
  HRESULT get_Item(BSTR Name, IVelmoraK40xxTrigger** val) override {
    return owner_->Frame(triggers::Item.get, With(Name, val), [&] {
      return owner_->RepCapItem("VelmoraK40xxTrigger", Name, IID_IVelmoraK40xxTrigger,
                                reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Name(LONG Index, BSTR* val) override {
    return owner_->Frame(triggers::Name.get, With(Index, val),
                         [&] { return owner_->RepCapName("VelmoraK40xxTrigger", Index, val); });
  }
  HRESULT get_Coupling(VelmoraK40xxCouplingEnum* val) override {
    return owner_->Get(triggers::Coupling, val, [&]() -> HRESULT {
      if (owner_->IsModelIn(kThreeOutputs)) {
        CModelKeywordLookup keywords(KeywordTable(KeywordEnum::Coupling), owner_->GetModel());
        return owner_->IO().InstrQueryCommandEnum(keywords, val);
      }
      // The dual models answer 1 when their outputs are coupled, 0 when not.
      std::string reply;
      HRESULT hr = owner_->IO().InstrQueryCommand(16, &reply);
      if (FAILED(hr)) return hr;
      *val = reply == "1" ? VelmoraK40xxCouplingOn : VelmoraK40xxCouplingOff;
      return hr;
    });
  }
  // The dual models couple both outputs or none; K4301A also couples pairs, by name.
  HRESULT put_Coupling(VelmoraK40xxCouplingEnum val) override {
    return owner_->Put(
        triggers::Coupling, val,
        [&] {
          return CheckEnumAndModelValue(*owner_, triggers::Coupling.put, val,
                                        VelmoraK40xxCouplingOn, VelmoraK40xxCouplingP25N25,
                                        kCouplingValues);
        },
        [&] {
          CDriverIOManager& io = owner_->IO();
          const bool all = val == VelmoraK40xxCouplingOn || val == VelmoraK40xxCouplingAll;
          if (!owner_->IsModelIn(kThreeOutputs))
            return all ? io.InstrPrintf("INST:COUP ON") : io.InstrPrintf("INST:COUP OFF");
          if (all) return io.InstrPrintf("INST:COUP ALL");
          if (val == VelmoraK40xxCouplingOff || val == VelmoraK40xxCouplingNone)
            return io.InstrPrintf("INST:COUP NONE");
          return io.InstrPrintCommand();
        });
  }

 private:
  HRESULT Send(const Member& m) {
    return owner_->Act(m, With(), NoCheck, [&] { return owner_->IO().InstrPrintCommand(); });
  }
};

}  // namespace

struct VelmoraK40xx::Facets {
  explicit Facets(VelmoraK40xx* owner)
      : root(owner),
        dcpwr(owner),
        dcpwrOutputs(owner),
        dcpwrTrigger(owner),
        outputs(owner),
        display(owner),
        status(owner),
        system(owner),
        calibrations(owner),
        triggers(owner),
        errorInfo(owner, kErrorInfoInterfaces) {}

  // The interfaces whose failures carry error information.
  static constexpr const IID* kErrorInfoInterfaces[] = {
      &IID_IIviDriver,           &IID_IIviDriverOperation,
      &IID_IIviDriverIdentity,   &IID_IIviComponentIdentity,
      &IID_IIviDriverUtility,    &IID_IIviDCPwr,
      &IID_IIviDCPwrOutputs,     &IID_IIviDCPwrTrigger,
      &IID_IVelmoraK40xx,        &IID_IVelmoraK40xxOutputs,
      &IID_IVelmoraK40xxDisplay, &IID_IVelmoraK40xxStatus,
      &IID_IVelmoraK40xxSystem,  &IID_IVelmoraK40xxCalibrations,
      &IID_IVelmoraK40xxTriggers};

  RootFacet root;
  DCPwrFacet dcpwr;
  DCPwrOutputsFacet dcpwrOutputs;
  DCPwrTriggerFacet dcpwrTrigger;
  OutputsFacet outputs;
  DisplayFacet display;
  StatusFacet status;
  SystemFacet system;
  CalibrationsFacet calibrations;
  TriggersFacet triggers;
  ErrorInfoSupport errorInfo;
};

VelmoraK40xx* VelmoraK40xx::Create() {
  return new VelmoraK40xx();
}

VelmoraK40xx::VelmoraK40xx()
    : CDriver("VelmoraK40xx", Models()), facets_(std::make_unique<Facets>(this)) {}

VelmoraK40xx::~VelmoraK40xx() = default;

std::span<const CComObject::InterfaceEntry> VelmoraK40xx::Interfaces() {
  using Self = VelmoraK40xx;
  static const InterfaceEntry kTable[] = {
      {&IID_IVelmoraK40xx,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->root; }},
      {&IID_IIviDriver,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->root; }},
      {&IID_IIviDriverOperation,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->operation_; }},
      {&IID_IIviDriverIdentity,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->identity_; }},
      {&IID_IIviComponentIdentity,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->identity_; }},
      {&IID_IIviDriverUtility,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->utility_; }},
      {&IID_IIviDCPwr,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->dcpwr; }},
      {&IID_IIviDCPwrOutputs,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->dcpwrOutputs; }},
      {&IID_IIviDCPwrTrigger,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->dcpwrTrigger; }},
      {&IID_IVelmoraK40xxOutputs,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->outputs; }},
      {&IID_IVelmoraK40xxDisplay,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->display; }},
      {&IID_IVelmoraK40xxStatus,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->status; }},
      {&IID_IVelmoraK40xxSystem,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->system; }},
      {&IID_IVelmoraK40xxCalibrations,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->calibrations; }},
      {&IID_IVelmoraK40xxTriggers,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->triggers; }},
      {&IID_ISupportErrorInfo,
       [](CComObject* o) -> IUnknown* { return &static_cast<Self*>(o)->facets_->errorInfo; }},
  };
  return kTable;
}

// ---------------------------------------------------------------------------------------------
// Hooks of the session machinery

std::string_view VelmoraK40xx::Description() const {
  return "IVI driver for the Velmora K40xx family of programmable power supplies";
}
std::string_view VelmoraK40xx::Revision() const {
  return "1.1.5.0";
}
std::string_view VelmoraK40xx::Vendor() const {
  return "Velmora Technologies";
}
std::string_view VelmoraK40xx::Identifier() const {
  return "VelmoraK40xx";
}
std::string_view VelmoraK40xx::GroupCapabilities() const {
  return "IviDCPwrBase,IviDCPwrTrigger,IviDCPwrSoftwareTrigger,IviDCPwrMeasurement";
}

// Built and released in this order; every model has one instance of each per output.
std::span<const CDriver::RepCapInfo> VelmoraK40xx::RepCaps() const {
  static constexpr RepCapInfo kRepCaps[] = {{"VelmoraK40xxOutput", "Output"},
                                            {"VelmoraK40xxCalibration", "Calibration"},
                                            {"VelmoraK40xxTrigger", "Trigger"}};
  return kRepCaps;
}

std::vector<std::string> VelmoraK40xx::SupportedModelNames() const {
  std::vector<std::string> names;
  for (const ModelInfo& info : AllModels()) names.emplace_back(info.model);
  return names;
}

HRESULT VelmoraK40xx::MorePhysicalNames(const RepCapInfo& repCap, std::vector<std::string>* names) {
  for (int32_t i = 2; i <= OutputCount(Model()); ++i)
    names->push_back(repCap.instanceStem + std::to_string(i));
  return S_OK;
}

HRESULT VelmoraK40xx::CreateInstance(const char* repCap, const std::string& physicalName,
                                     int32_t index, CComObject** object, CNode** node) {
  return CreateRepCapInstance(this, repCap, physicalName, index, object, node);
}

HRESULT VelmoraK40xx::ApplyModelLimits() {
  if (!Flags().simulate && ResourceDescriptor().find("ASRL") != std::string::npos) {
    // Serial instruments start in local mode; the reply and any failure are of no interest,
    // so neither is the status of the exchange: it is not polled (an earlier program's status
    // is cleared below).
    const bool polling = std::exchange(MutableFlags().queryInstrumentStatus, false);
    if (SUCCEEDED(IO().InstrPrintfNoPoll("SYST:REM;*OPC?"))) {
      LONG ignored = 0;
      IO().FormattedReadNumber(&ignored, true, 5000);
    }
    MutableFlags().queryInstrumentStatus = polling;
    // A serial line that did not answer is asked for the identity all the same.
    if (CDriverIOProvider* provider = IO().Provider()) provider->ForgiveCallFault();
  }
  // An event status that an earlier program left is no fault of this session, yet the status
  // poll after the identification would report it and so fail Initialize, which leaves no
  // session to ask ErrorQuery with. It is cleared first; the error queue stays as it is.
  if (!Flags().simulate && Flags().queryInstrumentStatus)
    if (HRESULT hr = IO().InstrPrintfNoPoll("%s", ClearStatusCommand()); FAILED(hr)) return hr;
  HRESULT hr = Identify();
  if (FAILED(hr)) return hr;
  limits_ = LookupModelLimits(Model());
  return hr;
}

HRESULT VelmoraK40xx::ResetThroughInterface() {
  return utility_.Reset();
}

HRESULT VelmoraK40xx::SelectOutput(CNode& node, int32_t index, bool now) {
  if (IsModelIn(kSingleOutput)) return S_OK;
  if (now) return node.IO().InstrPrintf("INST:NSEL %d", index + 1);
  return node.IO().InstrPrintfAhead("INST:NSEL %d", index + 1);
}

}  // namespace vmk
