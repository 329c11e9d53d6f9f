#include "driver/driver.h"

#include <cstring>

#include "driver/options.h"
#include "io/driver_io_manager.h"
#include "io/visa_com_io_provider.h"
#include "platform/com/com_ptr.h"
#include "platform/com/module.h"
#include "services/model_table.h"
#include "vmk40xx/errors.h"

namespace vmk {

CDriver::CDriver(const char* className, const SupportedModelTable& models)
    : CNode(className, className),
      tracer_(std::make_unique<CTraceOwner>()),
      models_(models),
      provider_(std::make_unique<CVisaComIOProvider>()) {
  root_ = this;
  state_ = &session_;
  lock_ = std::make_shared<com::CriticalSection>();
  IO().SetProvider(provider_.get());
  session_.trace = tracer_.get();
  IO().SetTraceSink(&session_.trace);
  provider_->SetErrorManager(&Errors());
  com::ModuleLock();
}

CDriver::~CDriver() {
  // A client that releases the driver without Close still gets its instances detached.
  if (session_.initialized) {
    CloseIO();
    session_.initialized = false;
  }
  ReleaseRepCaps();
  com::ModuleUnlock();
}

void CDriver::SetModel(std::string model) {
  session_.model = std::move(model);
  session_.modelBit = models_.Bit(session_.model);
}

// ---------------------------------------------------------------------------------------------
// Option string and DriverSetup

HRESULT CDriver::ProcessOptionString(const std::string& optionString) {
  initOptions_.clear();
  if (optionString.empty()) return S_OK;
  SplitOptions split = SplitOptionString(optionString);
  if (split.found)
    if (HRESULT hr = ProcessDriverSetup(split.driverSetup); FAILED(hr)) return hr;
  for (const auto& [name, value] : ExtractPairs(split.options))
    if (HRESULT hr = ProcessInitOption(name, value); FAILED(hr)) return hr;
  return S_OK;
}

HRESULT CDriver::ProcessDriverSetup(const std::string& text) {
  driverSetupRecord_.clear();
  driverSetup_ = text;
  for (const auto& [key, value] : ExtractPairs(text))
    if (HRESULT hr = ProcessDriverSetupOption(key, value); FAILED(hr)) return hr;
  return S_OK;
}

HRESULT CDriver::ReportBadOptionValue(const std::string& value) {
  return Errors().ReportError(Msg::E_IVI_BAD_OPTION_VALUE, {value});
}

HRESULT CDriver::ProcessInitOption(const std::string& nameIn, const std::string& valueIn) {
  std::string name = LowerCopy(TrimCopy(nameIn));
  std::string value = TrimCopy(valueIn);
  if (name.empty())
    return Errors().ReportInvalidValue("ProcessInitOption", "strNameIn", std::string_view("0"));
  if (value.empty())
    return Errors().ReportInvalidValue("ProcessInitOption", "strValueIn", std::string_view("0"));

  static constexpr std::pair<const char*, bool OptionFlags::*> kOptions[] = {
      {"cache", &OptionFlags::cache},
      {"interchangecheck", &OptionFlags::interchangeCheck},
      {"queryinstrstatus", &OptionFlags::queryInstrumentStatus},
      {"rangecheck", &OptionFlags::rangeCheck},
      {"recordcoercions", &OptionFlags::recordCoercions},
      {"simulate", &OptionFlags::simulate},
  };
  for (const auto& [optionName, flag] : kOptions) {
    if (!EqualsNoCase(name, optionName)) continue;
    bool on = false;
    if (!ParseOptionBool(value, &on)) return ReportBadOptionValue(value);
    session_.flags.*flag = on;
    break;
  }
  initOptions_[name] = value;
  return S_OK;
}

HRESULT CDriver::ProcessDriverSetupOption(const std::string& keyIn, const std::string& valueIn) {
  std::string key = LowerCopy(TrimCopy(keyIn));
  std::string value = TrimCopy(valueIn);
  // Every key is recorded, known or not, also when its value is refused.
  driverSetupRecord_[key] = value;

  auto flag = [&](bool* target) -> HRESULT {
    bool on = false;
    if (!ParseOptionBool(value, &on)) return ReportBadOptionValue(value);
    *target = on;
    return S_OK;
  };
  if (EqualsNoCase(key, "model"))
    SetModel(value);
  else if (EqualsNoCase(key, "trace"))
    return flag(&trace_.enabled);
  else if (EqualsNoCase(key, "tracename"))
    trace_.name = value;
  else if (EqualsNoCase(key, "tracesizemax"))
    trace_.sizeMax = ParseOptionInteger(value);
  else if (EqualsNoCase(key, "tracearray"))
    return flag(&trace_.arrays);
  else if (EqualsNoCase(key, "tracearraysizemax"))
    trace_.arraySizeMax = ParseOptionInteger(value);
  else if (EqualsNoCase(key, "tracesaveinterval"))
    trace_.saveInterval = ParseOptionInteger(value);
  else if (EqualsNoCase(key, "tracetransform"))
    trace_.transform = value;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Initialize and Close

HRESULT CDriver::InitializeSession(const OLECHAR* resourceName, bool idQuery, bool reset,
                                   const OLECHAR* optionString) {
  if (!resourceName)
    return Errors().ReportInvalidValue("Initialize", "bstrResourceDescriptor",
                                       std::string_view("0"));
  if (session_.initialized) return Errors().ReportError(Msg::E_IVI_ALREADY_INITIALIZED);

  optionString_ = com::BstrToUtf8(optionString);
  descriptor_.clear();
  logicalName_.clear();
  initOptions_.clear();
  driverSetupRecord_.clear();
  virtualNames_.clear();
  physicalSpelling_.clear();
  initialSettings_.Clear();
  identified_ = false;

  HRESULT hr = ApplyStoreAndOptions(com::BstrToUtf8(resourceName));

  if (session_.flags.simulate && session_.model.empty()) SetModel(std::string(DefaultModel()));
  initialFlags_ = session_.flags;
  if (FAILED(hr)) return hr;
  if (hr = StartTrace(); FAILED(hr)) return hr;

  // A session that does not open still saves what its trace recorded, and its next start
  // opens the trace again.
  if (!session_.flags.simulate && FAILED(hr = OpenIO())) {
    tracer_->EndSession(nullptr);
    return hr;
  }
  session_.initialized = true;

  auto fail = [&](HRESULT status, bool release) {
    if (release) ReleaseRepCaps();
    CloseIO();
    session_.initialized = false;
    tracer_->EndSession(nullptr);
    return status;
  };
  // The instrument is identified before the instances are built: how many outputs there are
  // depends on the model its reply names.
  if (hr = ApplyModelLimits(); FAILED(hr)) return fail(hr, true);
  if (hr = BuildRepCaps(); FAILED(hr)) return fail(hr, true);
  if (hr = Identify(); FAILED(hr)) return fail(hr, true);
  if (idQuery && !models_.IsKnownModel(session_.model)) {
    std::string text = "Unrecognized model: " + session_.model + ".";
    return fail(Errors().ReportErrorWithText(Msg::E_IVI_ID_QUERY_FAILED, text), true);
  }
  if (reset && FAILED(ResetThroughInterface()))
    return fail(Errors().ReportError(Msg::E_IVI_RESET_FAILED), true);
  if (session_.flags.interchangeCheck)
    return fail(
        Errors().ReportErrorWithText(Msg::E_IVI_BAD_OPTION_VALUE,
                                     "Interchange check is not supported by the driver.", {"true"}),
        true);
  return S_OK;
}

// A trace that cannot be saved does not keep the session open: Close completes, then reports it.
HRESULT CDriver::CloseSession() {
  const HRESULT saved = tracer_->EndSession(&Errors());
  CloseIO();
  Cache().RemoveAll();
  session_.initialized = false;
  const HRESULT released = ReleaseRepCaps();
  return FAILED(released) ? released : saved;
}

HRESULT CDriver::StartTrace() {
  CTraceOwner& t = *tracer_;
  t.SetTraceName(trace_.name);
  t.SetSizeMax(trace_.sizeMax);
  t.SetTraceArray(trace_.arrays);
  t.SetArraySizeMax(trace_.arraySizeMax);
  t.SetSaveInterval(trace_.saveInterval);
  t.SetTransform(trace_.transform);
  if (!trace_.enabled) return t.SetTraceEnabled(false);
  if (HRESULT hr = t.SetTraceEnabled(true); FAILED(hr)) return hr;
  const HRESULT hr = t.StartTrace(Identifier(), &Errors());
  if (FAILED(hr)) t.SetTraceEnabled(false);
  return hr;
}

HRESULT CDriver::SwitchTrace(bool on) {
  const HRESULT hr = tracer_->SwitchTrace(on, Identifier(), &Errors());
  if (SUCCEEDED(hr)) trace_.enabled = on;
  return hr;
}

HRESULT CDriver::Identify() {
  if (session_.flags.simulate || identified_) return S_OK;
  std::string reply;
  HRESULT hr = IO().InstrQuery(IdentificationCommand(), 1024, -2, &reply);
  if (FAILED(hr)) return hr;
  // Fields are split at commas, empty fields skipped, and taken verbatim.
  std::vector<std::string> fields;
  size_t pos = 0;
  while (pos < reply.size() && fields.size() < 4) {
    size_t comma = reply.find(',', pos);
    if (comma == std::string::npos) comma = reply.size();
    if (comma > pos) fields.push_back(reply.substr(pos, comma - pos));
    pos = comma + 1;
  }
  fields.resize(4);
  idn_ = reply;
  manufacturer_ = fields[0];
  SetModel(fields[1]);
  serial_ = fields[2];
  firmware_ = fields[3];
  identified_ = true;
  return S_OK;
}

HRESULT CDriver::OpenIO() {
  HRESULT hr = provider_->InitializeIO(this, &Errors(), this, descriptor_);
  if (hr != E_IVI_RESOURCE_UNKNOWN) return hr;
  // Why the resource could not be opened is what the I/O layer left on the thread.
  com::ComPtr<IErrorInfo> info;
  com::Bstr why;
  if (GetErrorInfo(0, info.put()) == S_OK && info) info->GetDescription(why.put());
  if (why.utf8().empty()) return Errors().ReportError(Msg::E_IVI_RESOURCE_UNKNOWN);
  return Errors().ReportErrorWithText(Msg::E_IVI_RESOURCE_UNKNOWN, why.utf8());
}

void CDriver::CloseIO() {
  provider_->CloseIO();
}

// ---------------------------------------------------------------------------------------------
// Inherent attributes

HRESULT CDriver::PutCache(VARIANT_BOOL v) {
  session_.flags.cache = v != 0;
  if (!session_.flags.cache) InvalidateAll();
  return S_OK;
}

HRESULT CDriver::PutInterchangeCheck(VARIANT_BOOL v) {
  if (v != 0)
    return Errors().ReportError(Msg::E_IVI_VALUE_NOT_SUPPORTED,
                                {"VARIANT_TRUE", "bInterchangeCheck", "put_InterchangeCheck"});
  session_.flags.interchangeCheck = false;
  return S_OK;
}

HRESULT CDriver::PutQueryInstrumentStatus(VARIANT_BOOL v) {
  session_.flags.queryInstrumentStatus = v != 0;
  if (session_.flags.queryInstrumentStatus && !session_.flags.simulate)
    return IO().InstrPrintf("%s", ClearStatusCommand());
  return S_OK;
}

HRESULT CDriver::PutRangeCheck(VARIANT_BOOL v) {
  session_.flags.rangeCheck = v != 0;
  return S_OK;
}

HRESULT CDriver::PutRecordCoercions(VARIANT_BOOL v) {
  session_.flags.recordCoercions = v != 0;
  return S_OK;
}

HRESULT CDriver::PutSimulate(VARIANT_BOOL v) {
  if (initialFlags_.simulate && v == 0)
    return Errors().ReportError(Msg::E_IVI_CANNOT_CHANGE_SIMULATION_STATE);
  session_.flags.simulate = v != 0;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Inherent operations

HRESULT CDriver::Reset() {
  HRESULT hr = S_OK;
  if (!session_.flags.simulate) {
    LONG ignored = 0;
    hr = IO().InstrQuery(ResetCommand(), ResetTimeout(), &ignored);
  }
  InvalidateAll();
  return hr;
}

HRESULT CDriver::ResetWithDefaults() {
  HRESULT hr = Reset();
  if (FAILED(hr)) return hr;
  const OptionFlags initial = initialFlags_;
  auto vb = [](bool b) -> VARIANT_BOOL { return b ? VARIANT_TRUE : VARIANT_FALSE; };
  if (hr = PutCache(vb(initial.cache)); FAILED(hr)) return hr;
  if (hr = PutInterchangeCheck(vb(initial.interchangeCheck)); FAILED(hr)) return hr;
  if (hr = PutQueryInstrumentStatus(vb(initial.queryInstrumentStatus)); FAILED(hr)) return hr;
  if (hr = PutRangeCheck(vb(initial.rangeCheck)); FAILED(hr)) return hr;
  if (hr = PutRecordCoercions(vb(initial.recordCoercions)); FAILED(hr)) return hr;
  return PutSimulate(vb(initial.simulate));
}

HRESULT CDriver::Disable() {
  if (session_.flags.simulate) return S_OK;
  LONG ignored = 0;
  return IO().InstrQuery(DisableCommand(), DisableTimeout(), &ignored);
}

namespace {
// An [in,out] BSTR: the callee frees what came in before it stores a result.
void ReplaceBstr(BSTR* target, std::string_view text) {
  SysFreeString(*target);
  *target = nullptr;
  *target = com::Utf8ToBstr(text);
  if (!*target) throw std::bad_alloc();
}
}  // namespace

HRESULT CDriver::SelfTest(LONG* result, BSTR* message) {
  SysFreeString(*message);
  *message = nullptr;
  *result = 0;
  if (!session_.flags.simulate) {
    HRESULT hr = IO().InstrQuery(SelfTestCommand(), SelfTestTimeout(), result);
    if (FAILED(hr)) return hr;
  }
  ReplaceBstr(message, *result == 0 ? "Selftest passed" : "Selftest failed");
  return S_OK;
}

HRESULT CDriver::ErrorQuery(LONG* code, BSTR* message) {
  SysFreeString(*message);
  *message = nullptr;
  *code = 0;
  if (session_.flags.simulate) {
    ReplaceBstr(message, "No error.");
    return S_OK;
  }
  // The query must not poll status itself: polling would clear the very error being read.
  const bool saved = session_.flags.queryInstrumentStatus;
  session_.flags.queryInstrumentStatus = false;
  std::string reply;
  HRESULT hr = IO().InstrQuery(ErrorQueryCommand(), 1023, -2, &reply);
  session_.flags.queryInstrumentStatus = saved;
  if (FAILED(hr)) return hr;

  // "<code>,\"<message>": the message runs up to the first quote of either kind and must not
  // be empty.
  const char* p = reply.c_str();
  char* end = nullptr;
  long n = std::strtol(p, &end, 10);
  bool ok = end != p && *end == ',' && end[1] == '"';
  std::string text;
  if (ok) {
    const char* m = end + 2;
    size_t len = std::strcspn(m, "'\"");
    text.assign(m, len);
    ok = !text.empty();
  }
  if (!ok) return Errors().ReportError(Msg::E_IVI_UNEXPECTED_RESPONSE);
  *code = static_cast<LONG>(n);
  ReplaceBstr(message, text);
  return S_OK;
}

HRESULT CDriver::GetNextCoercionRecord(BSTR* record) {
  *record = nullptr;
  ReplaceBstr(record, session_.flags.recordCoercions ? coercions_.NextCoercionRecord() : std::string());
  return S_OK;
}

void CDriver::AddCoercionRecord(std::string record) {
  coercions_.AddCoercionRecord(std::move(record));
}

void CDriver::InvalidateAll() {
  CNode::InvalidateAll();
  for (RepCapInstances& r : repCaps_)
    for (Instance& i : r.list) i.node->InvalidateAll();
}

// ---------------------------------------------------------------------------------------------
// Repeated capabilities

HRESULT CDriver::BuildRepCaps() {
  for (const RepCapInfo& info : RepCaps()) {
    const char* repCap = info.name;
    // The first instance is always there; the model adds the others.
    std::vector<std::string> names{std::string(info.instanceStem) + "1"};
    if (HRESULT hr = MorePhysicalNames(info, &names); FAILED(hr)) return hr;

    std::vector<Instance> list;
    HRESULT hr = S_OK;
    for (size_t i = 0; i < names.size(); ++i) {
      Instance inst{names[i], static_cast<int32_t>(i)};
      hr = CreateInstance(repCap, inst.physicalName, inst.index, &inst.object, &inst.node);
      if (FAILED(hr)) break;
      list.push_back(std::move(inst));
    }
    if (FAILED(hr)) {
      for (Instance& inst : list) inst.object->Release();
      return hr;
    }
    repCaps_.push_back({repCap, std::move(list)});
  }
  return S_OK;
}

// In the order they were built; also from the destructor, where the derived class, and with it
// its list of repeated capabilities, is already gone.
HRESULT CDriver::ReleaseRepCaps() {
  std::vector<RepCapInstances> all = std::move(repCaps_);
  repCaps_.clear();
  for (RepCapInstances& r : all) {
    for (Instance& inst : r.list) {
      inst.node->Detach();
      inst.object->Release();
    }
  }
  return S_OK;
}

const std::vector<Instance>* CDriver::Instances(std::string_view repCap) const {
  for (const RepCapInstances& r : repCaps_)
    if (repCap == r.name) return &r.list;
  return nullptr;
}

std::string CDriver::ResolveName(std::string_view name) const {
  auto hit = virtualNames_.find(LowerCopy(name));
  if (hit == virtualNames_.end()) return std::string(name);
  auto spelled = physicalSpelling_.find(hit->second);
  return spelled == physicalSpelling_.end() ? hit->second : spelled->second;
}

HRESULT CDriver::RepCapCount(const char* repCap, LONG* val) {
  if (!val) return E_POINTER;
  const auto* list = Instances(repCap);
  if (!list) return E_UNEXPECTED;
  *val = static_cast<LONG>(list->size());
  return S_OK;
}

HRESULT CDriver::RepCapName(const char* repCap, LONG index, BSTR* val) {
  if (!val) return E_POINTER;
  const auto* list = Instances(repCap);
  if (!list) return E_UNEXPECTED;
  if (index < 1 || index > static_cast<LONG>(list->size()))
    return Errors().ReportInvalidValue("get_Name", "Index", static_cast<int32_t>(index));
  *val = com::Utf8ToBstr((*list)[static_cast<size_t>(index - 1)].physicalName);
  return *val ? S_OK : E_OUTOFMEMORY;
}

HRESULT CDriver::RepCapItem(const char* repCap, const OLECHAR* name, REFIID itemIid, void** val) {
  if (!val) return E_POINTER;
  *val = nullptr;
  std::string wanted = TrimCopy(com::BstrToUtf8(name));
  const auto* list = Instances(repCap);
  if (!list) return E_UNEXPECTED;
  if (list->size() == 1 && wanted.empty())
    return list->front().object->QueryInterface(itemIid, val);
  std::string physical = ResolveName(wanted);
  for (const Instance& inst : *list)
    if (EqualsNoCase(inst.physicalName, physical)) return inst.object->QueryInterface(itemIid, val);
  return Errors().ReportError(Msg::E_IVI_UNKNOWN_PHYSICAL_IDENTIFIER);
}

}  // namespace vmk
