// Lookups in a store value, and where the store is.
#include <cstdlib>

#include "platform/com/files.h"
#include "platform/com/registry.h"
#include "platform/config/store.h"

namespace vmk::config {

namespace {
template <class T>
const T* ByName(const std::vector<T>& list, std::string_view name) {
  for (const T& x : list)
    if (x.name == name) return &x;
  return nullptr;
}
}  // namespace

const DataComponent* FindComponent(const std::vector<DataComponent>& components,
                                   std::string_view name) {
  return ByName(components, name);
}

const DriverSession* ConfigStore::FindDriverSession(std::string_view name) const {
  // A logical name wins over a driver session of the same name.
  if (const LogicalName* l = ByName(logicalNames, name); l && l->driverSession)
    if (const DriverSession* s = ByName(driverSessions, l->session)) return s;
  return ByName(driverSessions, name);
}

const SoftwareModule* ConfigStore::FindSoftwareModule(std::string_view name) const {
  return ByName(softwareModules, name);
}

const HardwareAsset* ConfigStore::FindHardwareAsset(std::string_view name) const {
  return ByName(hardwareAssets, name);
}

std::string ProcessDefaultLocation() {
  const char* v = std::getenv("IVICONFIGSERVERDEFAULT");
  return v ? std::string(v) : std::string();
}

std::string MasterLocation() {
  return com::ReadRegistryValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI\\CONFIGURATIONSERVER",
                                "MasterStore")
      .value_or("");
}

std::string StoreLocation() {
  if (std::string p = ProcessDefaultLocation(); !p.empty()) return p;
  if (std::string m = MasterLocation(); !m.empty()) return m;
  return kSystemStoreLocation;
}

std::optional<ConfigStore> LoadStore(const std::string& location, std::string* error,
                                     bool* missing) {
  if (missing) *missing = false;
  std::string text, why;
  switch (com::ReadWholeFile(location, &text, &why)) {
    case com::ReadResult::Missing:
      if (missing) *missing = true;
      *error = "no configuration store at " + location;
      return std::nullopt;
    case com::ReadResult::Unreadable:
      *error = "the configuration store " + why;
      return std::nullopt;
    case com::ReadResult::Ok:
      break;
  }
  std::optional<ConfigStore> store = ParseStore(text, &why);
  if (!store) {
    *error = "the configuration store " + location + " is damaged: " + why;
    return std::nullopt;
  }
  store->actualLocation = location;
  return store;
}

bool SaveStore(const ConfigStore& store, const std::string& location, std::string* error) {
  return com::WriteFileAtomically(location, FormatStore(store), error);
}

}  // namespace vmk::config
