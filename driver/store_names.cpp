// The logical-name entry points of vmk40xx/config_store.h: what a bench set-up tool changes in
// the configuration store, written with the same store model that Initialize reads.
#include <algorithm>
#include <cstring>
#include <string>

#include "driver/options.h"
#include "platform/config/store.h"
#include "vmk40xx/config_store.h"

namespace vmk {
namespace {

constexpr const char* kModuleName = "VmK40xx";

int32_t Fail(char* error, int32_t size, const std::string& why) {
  if (error && size > 0) {
    const size_t n = std::min(why.size(), static_cast<size_t>(size - 1));
    std::memcpy(error, why.data(), n);
    error[n] = '\0';
  }
  return -1;
}

template <typename T>
auto FindByName(std::vector<T>& items, std::string_view name) {
  return std::find_if(items.begin(), items.end(), [&](const T& t) { return t.name == name; });
}

// The store as it is, an empty one when there is none; a damaged store is an error: writing a
// new one over it would lose what it held.
bool Load(config::ConfigStore* store, std::string* location, std::string* why) {
  *location = config::StoreLocation();
  bool missing = false;
  std::optional<config::ConfigStore> s = config::LoadStore(*location, why, &missing);
  if (s) {
    *store = std::move(*s);
    return true;
  }
  if (!missing) return false;
  *store = config::ConfigStore{};
  return true;
}

std::string OptionText(const config::DriverSession& s) {
  std::string out;
  auto flag = [&](const char* name, bool value, bool byDefault) {
    if (value == byDefault) return;
    out += (out.empty() ? "" : ", ") + std::string(name) + (value ? "=true" : "=false");
  };
  flag("RangeCheck", s.rangeCheck, true);
  flag("QueryInstrStatus", s.queryInstrumentStatus, false);
  flag("Cache", s.cache, true);
  flag("Simulate", s.simulate, false);
  flag("RecordCoercions", s.recordCoercions, false);
  flag("InterchangeCheck", s.interchangeCheck, false);
  if (!s.driverSetup.empty())
    out += std::string(out.empty() ? "" : ", ") + "DriverSetup=" + s.driverSetup;
  return out;
}

bool ApplyOptions(const std::string& text, config::DriverSession* s, std::string* why) {
  const SplitOptions split = SplitOptionString(text);
  s->driverSetup = TrimCopy(split.driverSetup);
  struct Flag {
    const char* name;
    bool config::DriverSession::*field;
  } constexpr kFlags[] = {{"RangeCheck", &config::DriverSession::rangeCheck},
                          {"QueryInstrStatus", &config::DriverSession::queryInstrumentStatus},
                          {"Cache", &config::DriverSession::cache},
                          {"Simulate", &config::DriverSession::simulate},
                          {"RecordCoercions", &config::DriverSession::recordCoercions},
                          {"InterchangeCheck", &config::DriverSession::interchangeCheck}};
  for (const auto& [name, value] : ExtractPairs(split.options)) {
    // Clang 14 cannot capture a structured binding, so the lambda captures a reference to it.
    const std::string& given = name;
    const Flag* f = std::find_if(std::begin(kFlags), std::end(kFlags),
                                 [&](const Flag& k) { return EqualsNoCase(k.name, given); });
    if (f == std::end(kFlags)) return *why = "unknown option " + name, false;
    bool b = false;
    if (!ParseOptionBool(value, &b))
      return *why = "the value of " + name + " is not a boolean: " + value, false;
    s->*(f->field) = b;
  }
  return true;
}

}  // namespace
}  // namespace vmk

using namespace vmk;

extern "C" int32_t vmk40xx_config_list(char* list, int32_t size, int32_t* required, char* error,
                                       int32_t errorSize) {
  try {
    config::ConfigStore store;
    std::string location, why;
    if (!Load(&store, &location, &why)) return Fail(error, errorSize, location + ": " + why);
    std::string text;
    for (const config::LogicalName& l : store.logicalNames) {
      if (!l.driverSession) continue;
      const config::DriverSession* s = store.FindDriverSession(l.name);
      if (!s || s->softwareModule != kModuleName) continue;
      const config::HardwareAsset* a =
          s->hardwareAsset.empty() ? nullptr : store.FindHardwareAsset(s->hardwareAsset);
      text += l.name + "\t" + (a ? a->ioResourceDescriptor : "") + "\t" + OptionText(*s) + "\t" +
              l.description + "\n";
    }
    const int32_t need = static_cast<int32_t>(text.size() + 1);
    if (required) *required = need;
    if (!list || size < need) return 1;
    std::memcpy(list, text.c_str(), text.size() + 1);
    return 0;
  } catch (const std::exception& e) {
    return Fail(error, errorSize, e.what());
  }
}

extern "C" int32_t vmk40xx_config_add(const char* logicalName, const char* resource,
                                      const char* options, const char* description, char* error,
                                      int32_t errorSize) {
  try {
    const std::string name = logicalName ? TrimCopy(logicalName) : "";
    if (name.empty()) return Fail(error, errorSize, "a logical name cannot be empty");
    config::DriverSession session;
    session.name = name;
    session.softwareModule = kModuleName;
    session.hardwareAsset = name;
    session.rangeCheck = true;
    session.cache = true;
    std::string why;
    if (!ApplyOptions(options ? options : "", &session, &why)) return Fail(error, errorSize, why);

    config::ConfigStore store;
    std::string location;
    if (!Load(&store, &location, &why)) return Fail(error, errorSize, location + ": " + why);
    if (!store.FindSoftwareModule(kModuleName)) {
      config::SoftwareModule m;
      m.name = kModuleName;
      m.description = "Velmora K40xx DC power supply driver";
      m.modulePath = "libvmk40xx.so.1";
      m.prefix = kModuleName;
      m.progId = "VelmoraK40xx.VelmoraK40xx";
      store.softwareModules.push_back(std::move(m));
    }
    config::HardwareAsset asset;
    asset.name = name;
    asset.ioResourceDescriptor = resource ? resource : "";
    if (auto a = FindByName(store.hardwareAssets, name); a != store.hardwareAssets.end()) {
      asset.id = a->id;
      *a = std::move(asset);
    } else {
      store.hardwareAssets.push_back(std::move(asset));
    }
    if (auto s = FindByName(store.driverSessions, name); s != store.driverSessions.end()) {
      session.id = s->id;
      session.components = std::move(s->components);  // initial settings stay
      session.virtualNames = std::move(s->virtualNames);
      *s = std::move(session);
    } else {
      store.driverSessions.push_back(std::move(session));
    }
    config::LogicalName l;
    l.name = name;
    l.session = name;
    l.description = description ? description : "";
    if (auto old = FindByName(store.logicalNames, name); old != store.logicalNames.end()) {
      l.id = old->id;
      *old = std::move(l);
    } else {
      store.logicalNames.push_back(std::move(l));
    }
    if (!config::SaveStore(store, location, &why))
      return Fail(error, errorSize, location + ": " + why);
    return 0;
  } catch (const std::exception& e) {
    return Fail(error, errorSize, e.what());
  }
}

extern "C" int32_t vmk40xx_config_remove(const char* logicalName, char* error, int32_t errorSize) {
  try {
    const std::string name = logicalName ? logicalName : "";
    config::ConfigStore store;
    std::string location, why;
    if (!Load(&store, &location, &why)) return Fail(error, errorSize, location + ": " + why);
    auto l = FindByName(store.logicalNames, name);
    if (l == store.logicalNames.end())
      return Fail(error, errorSize, "the store has no logical name " + name);
    const std::string sessionName = l->driverSession ? l->session : "";
    store.logicalNames.erase(l);
    // The session and asset go with the name only when no other name still uses them.
    auto used = [&](const std::string& s) {
      return std::any_of(store.logicalNames.begin(), store.logicalNames.end(),
                         [&](const config::LogicalName& o) { return o.session == s; });
    };
    if (!sessionName.empty() && !used(sessionName)) {
      auto s = FindByName(store.driverSessions, sessionName);
      if (s != store.driverSessions.end()) {
        const std::string asset = s->hardwareAsset;
        store.driverSessions.erase(s);
        const bool assetUsed =
            std::any_of(store.driverSessions.begin(), store.driverSessions.end(),
                        [&](const config::DriverSession& o) { return o.hardwareAsset == asset; }) ||
            std::any_of(store.sessions.begin(), store.sessions.end(),
                        [&](const config::Session& o) { return o.hardwareAsset == asset; });
        if (!asset.empty() && !assetUsed)
          if (auto a = FindByName(store.hardwareAssets, asset); a != store.hardwareAssets.end())
            store.hardwareAssets.erase(a);
      }
    }
    if (!config::SaveStore(store, location, &why))
      return Fail(error, errorSize, location + ": " + why);
    return 0;
  } catch (const std::exception& e) {
    return Fail(error, errorSize, e.what());
  }
}
