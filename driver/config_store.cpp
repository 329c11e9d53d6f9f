// Initialize's use of the IVI configuration store: the session a logical name designates, its
// settings and virtual names, and the configurable initial settings of the session or of the
// driver's software module. The store is a value read once per Initialize and dropped at the
// end of it, so nothing from it outlives the call.
#include "driver/config_store.h"

#include <climits>

#include "driver/driver.h"
#include "driver/options.h"
#include "platform/com/unicode.h"
#include "platform/config/store.h"

namespace vmk {

void InitialSettings::Clear() {
  for (auto& [name, v] : values_) VariantClear(&v);
  values_.clear();
}

void InitialSettings::Set(const std::string& name, VARIANT value) {
  auto [it, fresh] = values_.try_emplace(name, value);
  if (!fresh) {
    VariantClear(&it->second);
    it->second = value;
  }
}

bool InitialSettings::Get(std::string_view name, VARIANT* value) const {
  auto it = values_.find(std::string(name));
  if (it == values_.end()) return false;
  VariantInit(value);
  return SUCCEEDED(VariantCopy(value, &it->second));
}

std::optional<std::string> InitialSettings::Text(std::string_view name) const {
  auto it = values_.find(std::string(name));
  if (it == values_.end() || it->second.vt != VT_BSTR) return std::nullopt;
  return com::BstrToUtf8(it->second.bstrVal);
}

namespace {

constexpr const char* kSoftwareModuleName = "VmK40xx";
constexpr const char* kInitialSettingsName = "Configurable Initial Settings";
// No real bench names more than a few dozen channels; a range wider than this is a damaged
// store, and expanding it would take the memory of the process.
constexpr int64_t kMaxRangeSize = 4096;

std::string NameWithIndex(const std::string& stem, int64_t i) {
  return stem + std::to_string(i);
}

}  // namespace

std::optional<config::ConfigStore> CDriver::OpenConfigStore() {
  // A store that is there but cannot be read or parsed counts as no store, as a Configuration
  // Server that fails to load one does: a damaged store must not stop a program that opens its
  // instrument by resource descriptor, and a logical name then fails as an unknown resource.
  std::string error;
  return config::LoadStore(config::StoreLocation(), &error);
}

const config::DriverSession* CDriver::FindSession(const config::ConfigStore& store,
                                                  const std::string& name) {
  return store.FindDriverSession(name);
}

HRESULT CDriver::ApplyStoreAndOptions(const std::string& resourceName) {
  std::optional<config::ConfigStore> store = OpenConfigStore();
  if (!store) {
    descriptor_ = resourceName;
    return ProcessOptionString(optionString_);
  }
  if (const config::DriverSession* session = FindSession(*store, resourceName)) {
    logicalName_ = resourceName;
    const config::HardwareAsset* asset =
        session->hardwareAsset.empty() ? nullptr : store->FindHardwareAsset(session->hardwareAsset);
    HRESULT hr = LoadDriverConfiguration(asset, session);
    if (SUCCEEDED(hr)) hr = LoadSessionInitialSettings(session);
    if (SUCCEEDED(hr)) hr = ProcessOptionString(optionString_);
    return hr;
  }
  descriptor_ = resourceName;
  const config::SoftwareModule* module = store->FindSoftwareModule(kSoftwareModuleName);
  if (!module)
    return Errors().ReportErrorWithText(
        Msg::E_IVI_CANNOT_RECOVER,
        "Software module could not be loaded from the IVI Configuration Store.");
  HRESULT hr = LoadConfigurableInitialSettings(module);
  if (SUCCEEDED(hr)) hr = ProcessOptionString(optionString_);
  return hr;
}

HRESULT CDriver::LoadDriverConfiguration(const config::HardwareAsset* asset,
                                         const config::DriverSession* session) {
  if (!session)
    return Errors().ReportInvalidValue("LoadDriverConfiguration", "pDriverSession",
                                       std::string_view("0"));
  virtualNames_.clear();
  physicalSpelling_.clear();
  for (const config::VirtualName& v : session->virtualNames) {
    if (v.ranges.empty()) {
      virtualNames_[LowerCopy(v.name)] = LowerCopy(v.mapTo);
      physicalSpelling_[LowerCopy(v.mapTo)] = v.mapTo;
      continue;
    }
    for (const config::VirtualRange& r : v.ranges) {
      const int64_t first = int64_t{r.startingPhysicalIndex};
      const int64_t last = first + int64_t{r.max} - r.min;
      if (int64_t{r.max} - r.min >= kMaxRangeSize || last > INT32_MAX)
        return Errors().ReportInvalidValue(
            "LoadDriverConfiguration", "VirtualRange",
            std::string_view(v.name + " " + std::to_string(r.min) + "-" + std::to_string(r.max)));
      for (int64_t i = r.min; i <= r.max; ++i) {
        const std::string physical = NameWithIndex(v.mapTo, i + first - r.min);
        virtualNames_[LowerCopy(NameWithIndex(v.name, i))] = LowerCopy(physical);
        physicalSpelling_[LowerCopy(physical)] = physical;
      }
    }
  }

  descriptor_.clear();
  if (asset) descriptor_ = asset->ioResourceDescriptor;

  session_.flags.cache = session->cache;
  session_.flags.interchangeCheck = session->interchangeCheck;
  session_.flags.queryInstrumentStatus = session->queryInstrumentStatus;
  session_.flags.rangeCheck = session->rangeCheck;
  session_.flags.recordCoercions = session->recordCoercions;
  session_.flags.simulate = session->simulate;

  return ProcessDriverSetup(session->driverSetup);
}

HRESULT CDriver::LoadSessionInitialSettings(const config::DriverSession* session) {
  if (!session)
    return Errors().ReportInvalidValue("LoadDriverConfiguration", "spDriverSession",
                                       std::string_view("0"));
  const config::DataComponent* settings =
      config::FindComponent(session->components, kInitialSettingsName);
  // Settings the store cannot give are left out; they never fail the session.
  if (settings && settings->kind == config::DataKind::Structure)
    (void)LoadConfigurableInitialSettings(settings);
  return S_OK;
}

HRESULT CDriver::LoadConfigurableInitialSettings(const config::SoftwareModule* module) {
  if (!module)
    return Errors().ReportInvalidValue("LoadConfigurableInitialSettings", "spSoftwareModule",
                                       std::string_view("0"));
  const config::DataComponent* settings =
      config::FindComponent(module->components, kInitialSettingsName);
  if (settings && settings->kind == config::DataKind::Structure)
    (void)LoadConfigurableInitialSettings(settings);
  return S_OK;
}

HRESULT CDriver::LoadConfigurableInitialSettings(const config::DataComponent* settings) {
  if (!settings)
    return Errors().ReportInvalidValue("LoadConfigurableInitialSettings", "spConfigSettings",
                                       std::string_view("0"));
  for (const config::DataComponent& c : settings->components) {
    const std::string name = LowerCopy(TrimCopy(c.name));
    VARIANT v;
    VariantInit(&v);
    // The type decides, not the element's class; a value that does not have the type's form
    // is a component the store cannot give as that type.
    if (EqualsNoCase(c.type, "String") && std::holds_alternative<std::string>(c.value)) {
      v.vt = VT_BSTR;
      v.bstrVal = com::Utf8ToBstr(std::get<std::string>(c.value));
      if (!v.bstrVal) return E_OUTOFMEMORY;
    } else if (EqualsNoCase(c.type, "Integer") && std::holds_alternative<int32_t>(c.value)) {
      v.vt = VT_I4;
      v.lVal = std::get<int32_t>(c.value);
    } else if (EqualsNoCase(c.type, "Real") && std::holds_alternative<double>(c.value)) {
      v.vt = VT_R8;
      v.dblVal = std::get<double>(c.value);
    } else if (EqualsNoCase(c.type, "Boolean") && std::holds_alternative<bool>(c.value)) {
      v.vt = VT_I2;
      v.iVal = std::get<bool>(c.value) ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
      continue;  // Structure, APIReference and any other type are not settings
    }
    initialSettings_.Set(name, v);
  }
  if (std::optional<std::string> model = initialSettings_.Text("model")) SetModel(*model);
  return S_OK;
}

}  // namespace vmk
