// The driver's root class: its interface table, its facets and the power-supply hooks of the
// session machinery.
#include "dcpwr/velmora_k40xx.h"

#include <cctype>
#include <string>

#include "dcpwr/calibrations.h"
#include "dcpwr/channel.h"
#include "dcpwr/display.h"
#include "dcpwr/instances.h"
#include "dcpwr/keyword_tables.h"
#include "dcpwr/status.h"
#include "dcpwr/system.h"
#include "io/driver_io_manager.h"
#include "services/keywords.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

namespace root {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xx, "IVelmoraK40xx", false};
constexpr Member get_Outputs = kItf.Get("get_Outputs");
constexpr Member get_Display = Unchecked(kItf.Get("get_Display"));
constexpr Member get_Status = Unchecked(kItf.Get("get_Status"));
constexpr Member get_System = Unchecked(kItf.Get("get_System"));
constexpr Member get_IviDCPwr = kItf.Get("get_IviDCPwr");
constexpr Member get_Calibrations = kItf.Get("get_Calibrations");
constexpr Member get_Triggers = kItf.Get("get_Triggers");
}  // namespace root

namespace dcpwr {
constexpr InterfaceInfo kItf{&IID_IIviDCPwr, "IIviDCPwr", false};
constexpr Member get_Outputs = Unchecked(kItf.Get("get_Outputs"));
constexpr Member get_Trigger = Unchecked(kItf.Get("get_Trigger"));
}  // namespace dcpwr

namespace dcpwr_outputs {
constexpr InterfaceInfo kItf{&IID_IIviDCPwrOutputs, "IIviDCPwrOutputs", false};
constexpr Member get_Item = Unchecked(kItf.Get("get_Item"));
constexpr Member get_Count = kItf.Get("get_Count");
constexpr Member get_Name = kItf.Get("get_Name");
}  // namespace dcpwr_outputs

namespace dcpwr_trigger {
constexpr InterfaceInfo kItf{&IID_IIviDCPwrTrigger, "IIviDCPwrTrigger", false};
constexpr Member Abort = kItf.Method("Abort");
constexpr Member Initiate = kItf.Method("Initiate");
constexpr Member SendSoftwareTrigger = kItf.Method("SendSoftwareTrigger");
}  // namespace dcpwr_trigger

namespace outputs {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxOutputs, "IVelmoraK40xxOutputs", true};
constexpr const char* kChannelKey = "IVelmoraK40xxOutputs.Channel";
constexpr const char* kEnabledKey = "IVelmoraK40xxOutputs.Enabled";
constexpr const char* kRelayKey = "IVelmoraK40xxOutputs.RelayEnabled";
constexpr const char* kTrackingKey = "IVelmoraK40xxOutputs.TrackingEnabled";
constexpr Member get_Count = kItf.Get("get_Count");
constexpr Member get_Item = kItf.Get("get_Item");
constexpr Member get_Name = kItf.Get("get_Name");
constexpr Member get_Channel = kItf.Get("get_Channel", kChannelKey, "INST:NSEL?");
constexpr Member put_Channel = WithKeywords(kItf.Put("put_Channel", kChannelKey, "INST:NSEL %s"),
                                            &EnumKeyword<KeywordEnum::Output>);
constexpr Member get_Enabled = kItf.Get("get_Enabled", kEnabledKey, "OUTP?");
constexpr Member put_Enabled = kItf.Put("put_Enabled", kEnabledKey, "OUTP %s");
constexpr Member get_RelayEnabled = kItf.Get("get_RelayEnabled", kRelayKey, "OUTP:REL?");
constexpr Member put_RelayEnabled = kItf.Put("put_RelayEnabled", kRelayKey, "OUTP:REL %s");
constexpr Member get_TrackingEnabled = kItf.Get("get_TrackingEnabled", kTrackingKey, "OUTP:TRAC?");
constexpr Member put_TrackingEnabled =
    kItf.Put("put_TrackingEnabled", kTrackingKey, "OUTP:TRAC %s");
}  // namespace outputs

namespace triggers {
constexpr InterfaceInfo kItf{&IID_IVelmoraK40xxTriggers, "IVelmoraK40xxTriggers", true};
constexpr const char* kCouplingKey = "IVelmoraK40xxTriggers.Coupling";
constexpr Member Abort = kItf.Command("Abort", "ABOR");
constexpr Member Initiate = kItf.Command("Initiate", "INIT");
constexpr Member SendSoftwareTrigger = kItf.Command("SendSoftwareTrigger", "*TRG");
constexpr Member get_Count = kItf.Get("get_Count");
constexpr Member get_Item = kItf.Get("get_Item");
constexpr Member get_Name = kItf.Get("get_Name");
constexpr Member get_Coupling = kItf.Get("get_Coupling", kCouplingKey, "INST:COUP?");
constexpr Member put_Coupling = WithKeywords(kItf.Put("put_Coupling", kCouplingKey, "INST:COUP %s"),
                                             &EnumKeyword<KeywordEnum::Coupling>);
}  // namespace triggers

class RootFacet final : public DriverFacet<IVelmoraK40xx, VelmoraK40xx> {
 public:
  using DriverFacet::DriverFacet;
  HRESULT get_Outputs(IVelmoraK40xxOutputs** val) override {
    return owner_->Frame(root::get_Outputs, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxOutputs, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Display(IVelmoraK40xxDisplay** val) override {
    return owner_->Frame(root::get_Display, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxDisplay, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Status(IVelmoraK40xxStatus** val) override {
    return owner_->Frame(root::get_Status, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxStatus, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_System(IVelmoraK40xxSystem** val) override {
    return owner_->Frame(root::get_System, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxSystem, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_IviDCPwr(IIviDCPwr** val) override {
    return owner_->Frame(root::get_IviDCPwr, {val}, [&] {
      return owner_->QueryInterface(IID_IIviDCPwr, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Calibrations(IVelmoraK40xxCalibrations** val) override {
    return owner_->Frame(root::get_Calibrations, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxCalibrations, reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Triggers(IVelmoraK40xxTriggers** val) override {
    return owner_->Frame(root::get_Triggers, {val}, [&] {
      return owner_->QueryInterface(IID_IVelmoraK40xxTriggers, reinterpret_cast<void**>(val));
    });
  }
};

class DCPwrFacet final : public DriverFacet<IIviDCPwr, VelmoraK40xx> {
 public:
  using DriverFacet::DriverFacet;
  HRESULT get_Outputs(IIviDCPwrOutputs** pVal) override {
    return owner_->Frame(dcpwr::get_Outputs, {pVal}, [&] {
      return owner_->QueryInterface(IID_IIviDCPwrOutputs, reinterpret_cast<void**>(pVal));
    });
  }
  HRESULT get_Trigger(IIviDCPwrTrigger** pVal) override {
    return owner_->Frame(dcpwr::get_Trigger, {pVal}, [&] {
      return owner_->QueryInterface(IID_IIviDCPwrTrigger, reinterpret_cast<void**>(pVal));
    });
  }
};

class DCPwrOutputsFacet final : public Facet<IIviDCPwrOutputs, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT get_Item(BSTR OutputName, IIviDCPwrOutput** pVal) override {
    return owner_->Frame(dcpwr_outputs::get_Item, {pVal}, [&] {
      return owner_->RepCapItem("VelmoraK40xxOutput", OutputName, IID_IIviDCPwrOutput,
                                reinterpret_cast<void**>(pVal));
    });
  }
  HRESULT get_Count(LONG* pVal) override {
    return owner_->Frame(dcpwr_outputs::get_Count, {pVal},
                         [&] { return owner_->RepCapCount("VelmoraK40xxOutput", pVal); });
  }
  HRESULT get_Name(LONG Index, BSTR* Name) override {
    return owner_->Frame(dcpwr_outputs::get_Name, {Name},
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
    return owner_->Frame(m, {}, [&] {
      return CallInterface<IVelmoraK40xxTriggers>(*owner_, IID_IVelmoraK40xxTriggers, call);
    });
  }
};

class OutputsFacet final : public Facet<IVelmoraK40xxOutputs, VelmoraK40xx> {
 public:
  using Facet::Facet;
  HRESULT get_Count(LONG* val) override {
    return owner_->Frame(outputs::get_Count, {val},
                         [&] { return owner_->RepCapCount("VelmoraK40xxOutput", val); });
  }
  HRESULT get_Item(BSTR Name, IVelmoraK40xxOutput** val) override {
    return owner_->Frame(outputs::get_Item, {val}, [&] {
      return owner_->RepCapItem("VelmoraK40xxOutput", Name, IID_IVelmoraK40xxOutput,
                                reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Name(LONG Index, BSTR* val) override {
    return owner_->Frame(outputs::get_Name, {val},
                         [&] { return owner_->RepCapName("VelmoraK40xxOutput", Index, val); });
  }
  HRESULT get_Channel(VelmoraK40xxOutputEnum* val) override {
    return owner_->Get(outputs::get_Channel, val, [&] {
      std::string reply;
      HRESULT hr = owner_->IO().InstrQueryCommand(16, &reply);
      if (FAILED(hr)) return hr;
      // The instrument may answer "+2" or " 2 "; the number is what counts.
      std::string number;
      for (char c : reply)
        if (c != '+' && !std::isspace(static_cast<unsigned char>(c))) number.push_back(c);
      int32_t value = 0;
      if (!KeywordTable(KeywordEnum::Output).KeywordToEnum(owner_->GetModel(), number, &value))
        return owner_->Errors().ReportErrorWithText(Msg::E_IVI_UNEXPECTED_RESPONSE,
                                                    "\"" + reply + "\" is not an output number");
      *val = static_cast<VelmoraK40xxOutputEnum>(value);
      return hr;
    });
  }
  HRESULT put_Channel(VelmoraK40xxOutputEnum val) override {
    const Member& m = outputs::put_Channel;
    return owner_->Put(
        m, val,
        [&] {
          return CheckEnumAndModelValue(*owner_, m, val, VelmoraK40xxOutput1, VelmoraK40xxOutput3);
        },
        [&] { return owner_->IO().InstrPrintCommand(); });
  }
  HRESULT get_Enabled(VARIANT_BOOL* val) override { return GetFlag(outputs::get_Enabled, val); }
  HRESULT put_Enabled(VARIANT_BOOL val) override { return PutFlag(outputs::put_Enabled, val); }
  HRESULT get_RelayEnabled(VARIANT_BOOL* val) override {
    return GetFlag(outputs::get_RelayEnabled, val);
  }
  HRESULT put_RelayEnabled(VARIANT_BOOL val) override {
    return PutFlag(outputs::put_RelayEnabled, val);
  }
  HRESULT get_TrackingEnabled(VARIANT_BOOL* val) override {
    return GetFlag(outputs::get_TrackingEnabled, val);
  }
  HRESULT put_TrackingEnabled(VARIANT_BOOL val) override {
    return PutFlag(outputs::put_TrackingEnabled, val);
  }

 private:
  // Instrument-wide switches: no output is selected for them.
  HRESULT GetFlag(const Member& m, VARIANT_BOOL* val) {
    return owner_->Get(m, val, [&] { return owner_->IO().InstrQueryCommandBool(val); });
  }
  HRESULT PutFlag(const Member& m, VARIANT_BOOL val) {
    return owner_->Put(m, val, NoCheck, [&] { return owner_->IO().InstrPrintCommand(); });
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
    return owner_->Frame(triggers::get_Count, {val},
                         [&] { return owner_->RepCapCount("VelmoraK40xxTrigger", val); });
  }
  HRESULT get_Item(BSTR Name, IVelmoraK40xxTrigger** val) override {
    return owner_->Frame(triggers::get_Item, {val}, [&] {
      return owner_->RepCapItem("VelmoraK40xxTrigger", Name, IID_IVelmoraK40xxTrigger,
                                reinterpret_cast<void**>(val));
    });
  }
  HRESULT get_Name(LONG Index, BSTR* val) override {
    return owner_->Frame(triggers::get_Name, {val},
                         [&] { return owner_->RepCapName("VelmoraK40xxTrigger", Index, val); });
  }
  HRESULT get_Coupling(VelmoraK40xxCouplingEnum* val) override {
    return owner_->Get(triggers::get_Coupling, val, [&]() -> HRESULT {
      if (owner_->IsModel(kTripleOutputModel)) {
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
    const Member& m = triggers::put_Coupling;
    return owner_->Put(
        m, val,
        [&] {
          return CheckEnumAndModelValue(*owner_, m, val, VelmoraK40xxCouplingOn,
                                        VelmoraK40xxCouplingP25N25);
        },
        [&] {
          CDriverIOManager& io = owner_->IO();
          const bool all = val == VelmoraK40xxCouplingOn || val == VelmoraK40xxCouplingAll;
          if (!owner_->IsModel(kTripleOutputModel))
            return all ? io.InstrPrintf("INST:COUP ON") : io.InstrPrintf("INST:COUP OFF");
          if (all) return io.InstrPrintf("INST:COUP ALL");
          if (val == VelmoraK40xxCouplingOff || val == VelmoraK40xxCouplingNone)
            return io.InstrPrintf("INST:COUP NONE");
          return io.InstrPrintCommand();
        });
  }

 private:
  HRESULT Send(const Member& m) {
    return owner_->Act(m, {}, [&] { return owner_->IO().InstrPrintCommand(); });
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

VelmoraK40xx::VelmoraK40xx() : facets_(std::make_unique<Facets>(this)) {}

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

bool VelmoraK40xx::IsMemberSupported(const Member& m) {
  const CSupportedModelValidator* validator = FeatureValidator(m.iface, m.name);
  return !validator || validator->IsSupported(Model());
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
    // Serial instruments start in local mode; the reply and any failure are of no interest.
    if (SUCCEEDED(IO().InstrPrintfNoPoll("SYST:REM;*OPC?"))) {
      LONG ignored = 0;
      IO().FormattedReadNumber(&ignored, true, 5000);
    }
  }
  HRESULT hr = Identify();
  if (FAILED(hr)) return hr;
  limits_ = LookupModelLimits(Model());
  return hr;
}

HRESULT VelmoraK40xx::ResetThroughInterface() {
  return utility_.Reset();
}

HRESULT VelmoraK40xx::SelectOutput(CNode& node, int32_t index) {
  if (IsFamily(kFamilySingleOutput)) return S_OK;
  return node.IO().InstrPrintf("INST:NSEL %d", static_cast<int>(index + 1));
}

}  // namespace vmk
