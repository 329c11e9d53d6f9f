// A store value into its XML form, in the element order of the IVI sample store, with ids made
// for the objects that have none.
#include <charconv>
#include <sstream>
#include <unordered_set>

#include <pugixml.hpp>

#include "platform/config/store.h"

namespace vmk::config {

namespace {

class Writer {
 public:
  explicit Writer(const ConfigStore& s) : s_(s) {
    // Ids already taken, by the objects themselves or inside elements kept as they were.
    Reserve(s.extras);
    Reserve(s.sessionListExtras);
    for (const auto& a : s.publishedApis) Reserve(a.id, a.extras);
    for (const auto& m : s.softwareModules) {
      Reserve(m.id, m.extras);
      ReserveComponents(m.components, m.componentExtras);
      ReservePhysical(m.physicalNames);
    }
    for (const auto& h : s.hardwareAssets) {
      Reserve(h.id, h.extras);
      ReserveComponents(h.components, h.componentExtras);
    }
    for (const auto& d : s.driverSessions) ReserveSession(d);
    for (const auto& p : s.sessions) ReserveSession(p);
    for (const auto& l : s.logicalNames) Reserve(l.id, l.extras);
    // Every referenced object gets its id before anything is written.
    for (const auto& a : s.publishedApis) apiIds_.push_back(IdOf(a.id));
    for (const auto& m : s.softwareModules) moduleIds_.push_back(IdOf(m.id));
    for (const auto& h : s.hardwareAssets) assetIds_.push_back(IdOf(h.id));
    for (const auto& d : s.driverSessions) driverSessionIds_.push_back(IdOf(d.id));
    for (const auto& p : s.sessions) sessionIds_.push_back(IdOf(p.id));
  }

  std::string Write() {
    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "utf-8";
    pugi::xml_node root = doc.append_child("IviConfigStore");
    root.append_attribute("xmlns:dt") = "urn:schemas-microsoft-com:datatypes";
    Text(root, "Name", s_.name);
    Text(root, "Description", s_.description);
    Text(root, "Vendor", s_.vendor);
    Text(root, "Revision", s_.revision);
    Int(root, "SpecificationMajorVersion", s_.specificationMajorVersion);
    Int(root, "SpecificationMinorVersion", s_.specificationMinorVersion);
    Text(root, "MasterLocation", s_.masterLocation);
    Text(root, "ProcessDefaultLocation", s_.processDefaultLocation);
    Text(root, "ActualLocation", s_.actualLocation);

    pugi::xml_node apis = root.append_child("PublishedAPIs");
    for (size_t i = 0; i < s_.publishedApis.size(); ++i) {
      const PublishedApi& a = s_.publishedApis[i];
      pugi::xml_node e = Object(apis, "IviPublishedAPI", apiIds_[i]);
      Text(e, "Name", a.key.name);
      Int(e, "MajorVersion", a.key.majorVersion);
      Int(e, "MinorVersion", a.key.minorVersion);
      Text(e, "Type", a.key.type);
      Extra(e, a.extras);
    }

    pugi::xml_node modules = root.append_child("SoftwareModules");
    for (size_t i = 0; i < s_.softwareModules.size(); ++i) {
      const SoftwareModule& m = s_.softwareModules[i];
      pugi::xml_node e = Object(modules, "IviSoftwareModule", moduleIds_[i]);
      Text(e, "Name", m.name);
      Text(e, "Description", m.description);
      Components(e, m.components, m.componentExtras);
      Text(e, "ModulePath", m.modulePath);
      if (m.modulePath64) Text(e, "ModulePath64", *m.modulePath64);
      Text(e, "Prefix", m.prefix);
      Text(e, "ProgID", m.progId);
      Text(e, "SupportedInstrumentModels", m.supportedInstrumentModels);
      if (m.assemblyQualifiedClassName)
        Text(e, "AssemblyQualifiedClassName", *m.assemblyQualifiedClassName);
      Physical(e, m.physicalNames);
      pugi::xml_node refs = e.append_child("PublishedAPIs");
      for (const PublishedApiRef& k : m.publishedApis) ApiRef(refs, k);
      Extra(e, m.extras);
    }

    pugi::xml_node assets = root.append_child("HardwareAssets");
    for (size_t i = 0; i < s_.hardwareAssets.size(); ++i) {
      const HardwareAsset& h = s_.hardwareAssets[i];
      pugi::xml_node e = Object(assets, "IviHardwareAsset", assetIds_[i]);
      Text(e, "Name", h.name);
      Text(e, "Description", h.description);
      Components(e, h.components, h.componentExtras);
      Text(e, "IOResourceDescriptor", h.ioResourceDescriptor);
      Extra(e, h.extras);
    }

    pugi::xml_node drivers = root.append_child("DriverSessions");
    for (size_t i = 0; i < s_.driverSessions.size(); ++i) {
      const DriverSession& d = s_.driverSessions[i];
      pugi::xml_node e = Object(drivers, "IviDriverSession", driverSessionIds_[i]);
      SessionBody(e, d);
      Bool(e, "Cache", d.cache);
      Text(e, "DriverSetup", d.driverSetup);
      Bool(e, "InterchangeCheck", d.interchangeCheck);
      Bool(e, "QueryInstrStatus", d.queryInstrumentStatus);
      Bool(e, "RangeCheck", d.rangeCheck);
      Bool(e, "RecordCoercions", d.recordCoercions);
      Bool(e, "Simulate", d.simulate);
      Extra(e, d.extras);
    }

    pugi::xml_node sessions = root.append_child("Sessions");
    for (const std::string& id : driverSessionIds_)
      sessions.append_child("IviDriverSession").append_attribute("idref") = id.c_str();
    for (size_t i = 0; i < s_.sessions.size(); ++i) {
      pugi::xml_node e = Object(sessions, "IviSession", sessionIds_[i]);
      SessionBody(e, s_.sessions[i]);
      Extra(e, s_.sessions[i].extras);
    }
    Extra(sessions, s_.sessionListExtras);

    pugi::xml_node logical = root.append_child("LogicalNames");
    for (const LogicalName& l : s_.logicalNames) {
      pugi::xml_node e = Object(logical, "IviLogicalName", IdOf(l.id));
      Text(e, "Name", l.name);
      Text(e, "Description", l.description);
      if (std::string id = SessionId(l.session, l.driverSession); !id.empty())
        e.append_child(l.driverSession ? "IviDriverSession" : "IviSession")
            .append_attribute("idref") = id.c_str();
      Extra(e, l.extras);
    }
    Extra(root, s_.extras);

    std::ostringstream os;
    doc.save(os, "  ", pugi::format_default, pugi::encoding_utf8);
    return os.str();
  }

 private:
  void Reserve(const Extras& extras) {
    for (const std::string& raw : extras) {
      pugi::xml_document frag;
      if (!frag.load_buffer(raw.data(), raw.size())) continue;
      std::vector<pugi::xml_node> pending{frag.document_element()};
      while (!pending.empty()) {
        pugi::xml_node n = pending.back();
        pending.pop_back();
        if (pugi::xml_attribute a = n.attribute("id")) used_.insert(a.value());
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
          if (c.type() == pugi::node_element) pending.push_back(c);
      }
    }
  }
  void Reserve(const std::string& id, const Extras& extras) {
    if (!id.empty()) used_.insert(id);
    Reserve(extras);
  }
  void ReserveComponents(const std::vector<DataComponent>& list, const ListExtras& extras) {
    Reserve(extras);
    for (const DataComponent& d : list) {
      Reserve(d.id, d.extras);
      ReserveComponents(d.components, d.componentExtras);
    }
  }
  void ReservePhysical(const std::vector<PhysicalName>& list) {
    for (const PhysicalName& p : list) {
      Reserve(p.id, p.extras);
      for (const PhysicalRange& r : p.ranges) Reserve(r.id, r.extras);
      ReservePhysical(p.physicalNames);
    }
  }
  void ReserveSession(const Session& s) {
    Reserve(s.id, s.extras);
    ReserveComponents(s.components, s.componentExtras);
    for (const VirtualName& v : s.virtualNames) {
      Reserve(v.id, v.extras);
      for (const VirtualRange& r : v.ranges) Reserve(r.id, r.extras);
    }
  }

  // The object's own id when it has one that no earlier object took, else a new "pN".
  std::string IdOf(const std::string& id) {
    if (!id.empty() && given_.insert(id).second) return id;
    for (;;) {
      // Appended, not "p" + to_string(...): GCC 12 at -O3 warns falsely (-Wrestrict) there.
      std::string fresh = "p";
      fresh += std::to_string(++counter_);
      if (!used_.count(fresh) && given_.insert(fresh).second) return fresh;
    }
  }

  static void Text(pugi::xml_node parent, const char* tag, const std::string& value) {
    pugi::xml_node e = parent.append_child(tag);
    if (!value.empty()) e.append_child(pugi::node_pcdata).set_value(value.c_str());
  }
  static void Int(pugi::xml_node parent, const char* tag, int32_t value) {
    Text(parent, tag, std::to_string(value));
  }
  static void Bool(pugi::xml_node parent, const char* tag, bool value) {
    Text(parent, tag, value ? "1" : "0");
  }
  static void Real(pugi::xml_node parent, const char* tag, double value) {
    // The shortest text that reads back to the same double, independent of the locale.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    Text(parent, tag, std::string(buf, ec == std::errc() ? end : buf));
  }
  static pugi::xml_node Object(pugi::xml_node parent, const char* tag, const std::string& id) {
    pugi::xml_node e = parent.append_child(tag);
    e.append_attribute("id") = id.c_str();
    return e;
  }
  static void Extra(pugi::xml_node parent, const Extras& extras) {
    for (const std::string& raw : extras) parent.append_buffer(raw.data(), raw.size());
  }

  void ApiRef(pugi::xml_node parent, const PublishedApiRef& k) {
    for (size_t i = 0; i < s_.publishedApis.size(); ++i)
      if (s_.publishedApis[i].key == k) {
        parent.append_child("IviPublishedAPI").append_attribute("idref") = apiIds_[i].c_str();
        return;
      }
    // A reference to an API the store does not list is written out in full.
    pugi::xml_node e = parent.append_child("IviPublishedAPI");
    Text(e, "Name", k.name);
    Int(e, "MajorVersion", k.majorVersion);
    Int(e, "MinorVersion", k.minorVersion);
    Text(e, "Type", k.type);
  }

  void Components(pugi::xml_node parent, const std::vector<DataComponent>& list,
                  const ListExtras& extras) {
    static constexpr const char* kTags[] = {"IviStructure", "IviBoolean", "IviInteger",
                                            "IviReal",      "IviString",  "IviAPIReference"};
    pugi::xml_node c = parent.append_child("DataComponents");
    for (const DataComponent& d : list) {
      pugi::xml_node e = Object(c, kTags[static_cast<int>(d.kind)], IdOf(d.id));
      Text(e, "Name", d.name);
      Text(e, "Description", d.description);
      Bool(e, "ReadOnly", d.readOnly);
      Text(e, "UsedInSession", d.usedInSession);
      Text(e, "Type", d.type);
      Int(e, "HelpContextID", d.helpContextId);
      Text(e, "HelpFilePath", d.helpFilePath);
      Text(e, "SoftwareModuleKey", d.softwareModuleKey);
      switch (d.kind) {
        case DataKind::Structure:
          Components(e, d.components, d.componentExtras);
          break;
        case DataKind::Boolean:
          Bool(e, "Value", std::holds_alternative<bool>(d.value) && std::get<bool>(d.value));
          break;
        case DataKind::Integer:
          Text(e, "Units", d.units);
          Int(e, "Value",
              std::holds_alternative<int32_t>(d.value) ? std::get<int32_t>(d.value) : 0);
          break;
        case DataKind::Real:
          Text(e, "Units", d.units);
          Real(e, "Value", std::holds_alternative<double>(d.value) ? std::get<double>(d.value) : 0);
          break;
        case DataKind::String:
        case DataKind::ApiReference:
          Text(e, "Value",
               std::holds_alternative<std::string>(d.value) ? std::get<std::string>(d.value) : "");
          if (d.kind == DataKind::ApiReference && d.publishedApi) ApiRef(e, *d.publishedApi);
          break;
      }
      Extra(e, d.extras);
    }
    Extra(c, extras);
  }

  void Physical(pugi::xml_node parent, const std::vector<PhysicalName>& list) {
    pugi::xml_node names = parent.append_child("PhysicalNames");
    for (const PhysicalName& p : list) {
      pugi::xml_node e = Object(names, "IviPhysicalName", IdOf(p.id));
      Text(e, "Name", p.name);
      Text(e, "RCName", p.rcName);
      Physical(e, p.physicalNames);
      pugi::xml_node ranges = e.append_child("PhysicalRanges");
      for (const PhysicalRange& r : p.ranges) {
        pugi::xml_node x = Object(ranges, "IviPhysicalRange", IdOf(r.id));
        Text(x, "Name", r.name);
        Int(x, "Max", r.max);
        Int(x, "Min", r.min);
        Extra(x, r.extras);
      }
      Extra(e, p.extras);
    }
  }

  // The id of the object named `name`; none for an empty name, which names no object.
  std::string Find(const std::vector<std::string>& ids, auto const& list, const std::string& name) {
    if (name.empty()) return {};
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i].name == name) return ids[i];
    return {};
  }
  std::string SessionId(const std::string& name, bool driver) {
    return driver ? Find(driverSessionIds_, s_.driverSessions, name)
                  : Find(sessionIds_, s_.sessions, name);
  }

  void SessionBody(pugi::xml_node e, const Session& s) {
    Text(e, "Name", s.name);
    Text(e, "Description", s.description);
    Components(e, s.components, s.componentExtras);
    if (std::string id = Find(assetIds_, s_.hardwareAssets, s.hardwareAsset); !id.empty())
      e.append_child("IviHardwareAsset").append_attribute("idref") = id.c_str();
    if (std::string id = Find(moduleIds_, s_.softwareModules, s.softwareModule); !id.empty())
      e.append_child("IviSoftwareModuleRef").append_attribute("idref") = id.c_str();
    pugi::xml_node names = e.append_child("VirtualNames");
    for (const VirtualName& v : s.virtualNames) {
      pugi::xml_node x = Object(names, "IviVirtualName", IdOf(v.id));
      Text(x, "Name", v.name);
      Text(x, "MapTo", v.mapTo);
      pugi::xml_node ranges = x.append_child("VirtualRanges");
      for (const VirtualRange& r : v.ranges) {
        pugi::xml_node y = Object(ranges, "IviVirtualRange", IdOf(r.id));
        Text(y, "Name", r.name);
        Int(y, "Max", r.max);
        Int(y, "Min", r.min);
        Int(y, "StartingPhysicalIndex", r.startingPhysicalIndex);
        Extra(y, r.extras);
      }
      Extra(x, v.extras);
    }
    Text(e, "SoftwareModuleName", s.softwareModuleName);
  }

  const ConfigStore& s_;
  std::unordered_set<std::string> used_;
  std::unordered_set<std::string> given_;
  int counter_ = 0;
  std::vector<std::string> apiIds_, moduleIds_, assetIds_, driverSessionIds_, sessionIds_;
};

}  // namespace

std::string FormatStore(const ConfigStore& store) {
  return Writer(store).Write();
}

}  // namespace vmk::config
