// The store's XML form into a value. Every object element is read by visiting its children once:
// the names it knows fill fields, in any order, and anything else is kept as raw XML.
#include <charconv>
#include <cstring>
#include <sstream>
#include <unordered_map>

#include <pugixml.hpp>

#include "platform/config/store.h"

namespace vmk::config {

namespace {

struct Failure {
  std::string what;
};

std::string Trimmed(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(b, e - b + 1));
}

std::string RawXml(const pugi::xml_node& node) {
  std::ostringstream os;
  node.print(os, "", pugi::format_raw);
  return os.str();
}

class Reader {
 public:
  explicit Reader(const pugi::xml_document& doc) {
    // Every object is defined once, with an id, wherever it sits in the file.
    std::vector<pugi::xml_node> pending{doc.document_element()};
    while (!pending.empty()) {
      pugi::xml_node n = pending.back();
      pending.pop_back();
      if (pugi::xml_attribute a = n.attribute("id")) {
        std::string id = a.value();
        if (!ids_.emplace(id, n).second) throw Failure{"two elements have the id \"" + id + "\""};
      }
      for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) pending.push_back(c);
    }
  }

  ConfigStore Store(const pugi::xml_node& root) {
    ConfigStore s;
    s.name.clear();
    s.vendor.clear();
    Each(root, s.extras, [&](std::string_view tag, const pugi::xml_node& c) {
      if (tag == "Name") return Text(c, &s.name);
      if (tag == "Description") return Text(c, &s.description);
      if (tag == "Vendor") return Text(c, &s.vendor);
      if (tag == "Revision") return Text(c, &s.revision);
      if (tag == "SpecificationMajorVersion") return Int(c, &s.specificationMajorVersion);
      if (tag == "SpecificationMinorVersion") return Int(c, &s.specificationMinorVersion);
      if (tag == "MasterLocation") return Text(c, &s.masterLocation);
      if (tag == "ProcessDefaultLocation") return Text(c, &s.processDefaultLocation);
      if (tag == "ActualLocation") return Text(c, &s.actualLocation);
      if (tag == "PublishedAPIs")
        return List(c, "IviPublishedAPI",
                    [&](const pugi::xml_node& e) { s.publishedApis.push_back(Api(e)); });
      if (tag == "SoftwareModules")
        return List(c, "IviSoftwareModule",
                    [&](const pugi::xml_node& e) { s.softwareModules.push_back(Module(e)); });
      if (tag == "HardwareAssets")
        return List(c, "IviHardwareAsset",
                    [&](const pugi::xml_node& e) { s.hardwareAssets.push_back(Asset(e)); });
      if (tag == "DriverSessions")
        return List(c, "IviDriverSession", [&](const pugi::xml_node& e) {
          s.driverSessions.push_back(TheDriverSession(e));
        });
      if (tag == "Sessions") {
        // Driver sessions appear here by reference only; plain sessions are defined here.
        for (pugi::xml_node e : c.children()) {
          if (e.type() != pugi::node_element) continue;
          if (std::strcmp(e.name(), "IviSession") == 0 && !e.attribute("idref")) {
            Session plain;
            Each(e, plain.extras, [&](std::string_view t, const pugi::xml_node& x) {
              return SessionChild(t, x, plain);
            });
            plain.id = e.attribute("id").value();
            s.sessions.push_back(std::move(plain));
          } else if (e.attribute("idref")) {
            // The list is written again from the driver sessions: a reference here only has to
            // resolve.
            Resolve(e);
          } else {
            s.sessionListExtras.push_back(RawXml(e));
          }
        }
        return true;
      }
      if (tag == "LogicalNames")
        return List(c, "IviLogicalName",
                    [&](const pugi::xml_node& e) { s.logicalNames.push_back(Logical(e)); });
      return false;
    });
    return s;
  }

 private:
  // Visits the element children of `node`; `known` returns false for a name it does not know.
  template <class Known>
  void Each(const pugi::xml_node& node, Extras& extras, Known&& known) {
    for (pugi::xml_node c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      if (!known(std::string_view(c.name()), c)) extras.push_back(RawXml(c));
    }
  }
  template <class Add>
  bool List(const pugi::xml_node& list, const char* tag, Add&& add) {
    for (pugi::xml_node e : list.children()) {
      if (e.type() != pugi::node_element) continue;
      if (std::strcmp(e.name(), tag) != 0)
        throw Failure{std::string(list.name()) + " holds a " + e.name() + " element"};
      add(e);
    }
    return true;
  }

  static std::string Where(const pugi::xml_node& n) {
    std::string where = n.name();
    pugi::xml_node owner = n.parent();
    for (int depth = 0; owner && depth < 3; ++depth, owner = owner.parent()) {
      std::string name = owner.child("Name").child_value();
      if (!name.empty()) return std::string(owner.name()) + " \"" + name + "\": " + where;
    }
    return where;
  }

  static bool Text(const pugi::xml_node& n, std::string* out) {
    *out = n.child_value();
    return true;
  }
  static bool Int(const pugi::xml_node& n, int32_t* out) {
    std::string t = Trimmed(n.child_value());
    const char* b = t.data() + (t.size() && t[0] == '+' ? 1 : 0);
    auto [p, ec] = std::from_chars(b, t.data() + t.size(), *out);
    if (t.empty() || ec != std::errc() || p != t.data() + t.size())
      throw Failure{Where(n) + ": \"" + t + "\" is not a 32-bit integer"};
    return true;
  }
  static bool Real(const pugi::xml_node& n, double* out) {
    std::string t = Trimmed(n.child_value());
    const char* b = t.data() + (t.size() && t[0] == '+' ? 1 : 0);
    auto [p, ec] = std::from_chars(b, t.data() + t.size(), *out);
    if (t.empty() || ec != std::errc() || p != t.data() + t.size())
      throw Failure{Where(n) + ": \"" + t + "\" is not a number"};
    return true;
  }
  static bool Bool(const pugi::xml_node& n, bool* out) {
    std::string t = Trimmed(n.child_value());
    if (t == "1" || t == "true")
      *out = true;
    else if (t == "0" || t == "false")
      *out = false;
    else
      throw Failure{Where(n) + ": \"" + t + "\" is not a boolean (0 or 1)"};
    return true;
  }

  // The object an idref names. A reference is named after what it refers to
  // (<IviHardwareAsset idref=...> an IviHardwareAsset, <IviSoftwareModuleRef idref=...> an
  // IviSoftwareModule): one to another kind of object is refused, or a session would take a
  // hardware asset's name for its software module's.
  pugi::xml_node Target(const pugi::xml_node& ref) {
    pugi::xml_node target = Resolve(ref);
    std::string_view kind = ref.name();
    if (kind.ends_with("Ref")) kind.remove_suffix(3);
    if (kind != target.name())
      throw Failure{Where(ref) + " refers to id \"" + ref.attribute("idref").value() +
                    "\", which is an " + target.name() + ", not an " + std::string(kind)};
    return target;
  }
  // The element an idref names, whatever its kind.
  pugi::xml_node Resolve(const pugi::xml_node& ref) {
    std::string id = ref.attribute("idref").value();
    auto it = ids_.find(id);
    if (it == ids_.end())
      throw Failure{Where(ref) + " refers to id \"" + id + "\", which no element has"};
    return it->second;
  }
  std::string TargetName(const pugi::xml_node& ref) {
    return Target(ref).child("Name").child_value();
  }

  PublishedApiRef ApiKey(const pugi::xml_node& e) {
    PublishedApiRef k;
    Extras ignored;
    Each(e, ignored, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &k.name);
      if (t == "Type") return Text(c, &k.type);
      if (t == "MajorVersion") return Int(c, &k.majorVersion);
      if (t == "MinorVersion") return Int(c, &k.minorVersion);
      return false;
    });
    return k;
  }
  PublishedApi Api(const pugi::xml_node& e) {
    PublishedApi a;
    a.id = e.attribute("id").value();
    a.key = ApiKey(e);
    Each(e, a.extras, [&](std::string_view t, const pugi::xml_node&) {
      return t == "Name" || t == "Type" || t == "MajorVersion" || t == "MinorVersion";
    });
    return a;
  }

  static std::optional<DataKind> KindOf(std::string_view tag) {
    static constexpr std::pair<std::string_view, DataKind> kKinds[] = {
        {"IviStructure", DataKind::Structure}, {"IviBoolean", DataKind::Boolean},
        {"IviInteger", DataKind::Integer},     {"IviReal", DataKind::Real},
        {"IviString", DataKind::String},       {"IviAPIReference", DataKind::ApiReference},
    };
    for (const auto& [name, kind] : kKinds)
      if (tag == name) return kind;
    return std::nullopt;
  }

  bool Components(const pugi::xml_node& list, std::vector<DataComponent>* out, Extras& extras) {
    for (pugi::xml_node e : list.children()) {
      if (e.type() != pugi::node_element) continue;
      if (std::optional<DataKind> kind = KindOf(e.name()))
        out->push_back(Component(e, *kind));
      else
        extras.push_back(RawXml(e));  // a data component class of a later schema
    }
    return true;
  }

  DataComponent Component(const pugi::xml_node& e, DataKind kind) {
    Depth guard(depth_);
    DataComponent d;
    d.id = e.attribute("id").value();
    d.kind = kind;
    pugi::xml_node value;
    Each(e, d.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &d.name);
      if (t == "Description") return Text(c, &d.description);
      if (t == "ReadOnly") return Bool(c, &d.readOnly);
      if (t == "UsedInSession") return Text(c, &d.usedInSession);
      if (t == "Type") return Text(c, &d.type);
      if (t == "HelpContextID") return Int(c, &d.helpContextId);
      if (t == "HelpFilePath") return Text(c, &d.helpFilePath);
      if (t == "SoftwareModuleKey") return Text(c, &d.softwareModuleKey);
      if (t == "Value" && kind != DataKind::Structure) return value = c, true;
      if (t == "Units" && (kind == DataKind::Integer || kind == DataKind::Real))
        return Text(c, &d.units);
      if (t == "DataComponents" && kind == DataKind::Structure)
        return Components(c, &d.components, d.componentExtras);
      if (t == "IviPublishedAPI" && kind == DataKind::ApiReference && c.attribute("idref")) {
        d.publishedApi = ApiKey(Target(c));
        return true;
      }
      return false;
    });
    switch (kind) {
      case DataKind::Structure:
        break;
      case DataKind::Boolean: {
        bool b = false;
        if (value) Bool(value, &b);
        d.value = b;
        break;
      }
      case DataKind::Integer: {
        int32_t i = 0;
        if (value) Int(value, &i);
        d.value = i;
        break;
      }
      case DataKind::Real: {
        double r = 0;
        if (value) Real(value, &r);
        d.value = r;
        break;
      }
      case DataKind::String:
      case DataKind::ApiReference:
        d.value = std::string(value ? value.child_value() : "");
        break;
    }
    return d;
  }

  // Nested physical names and structures are read recursively; a file nested deeper than any
  // real store is refused instead of exhausting the stack.
  struct Depth {
    explicit Depth(int& d) : depth(d) {
      if (++depth > 32) throw Failure{"elements are nested too deeply"};
    }
    ~Depth() { --depth; }
    int& depth;
  };

  PhysicalName Physical(const pugi::xml_node& e) {
    Depth guard(depth_);
    PhysicalName p;
    p.id = e.attribute("id").value();
    Each(e, p.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &p.name);
      if (t == "RCName") return Text(c, &p.rcName);
      if (t == "PhysicalNames")
        return List(c, "IviPhysicalName",
                    [&](const pugi::xml_node& x) { p.physicalNames.push_back(Physical(x)); });
      if (t == "PhysicalRanges")
        return List(c, "IviPhysicalRange", [&](const pugi::xml_node& x) {
          PhysicalRange r;
          r.id = x.attribute("id").value();
          Each(x, r.extras, [&](std::string_view u, const pugi::xml_node& y) {
            if (u == "Name") return Text(y, &r.name);
            if (u == "Min") return Int(y, &r.min);
            if (u == "Max") return Int(y, &r.max);
            return false;
          });
          p.ranges.push_back(std::move(r));
        });
      return false;
    });
    return p;
  }

  SoftwareModule Module(const pugi::xml_node& e) {
    SoftwareModule m;
    m.id = e.attribute("id").value();
    Each(e, m.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &m.name);
      if (t == "Description") return Text(c, &m.description);
      if (t == "DataComponents") return Components(c, &m.components, m.componentExtras);
      if (t == "ModulePath") return Text(c, &m.modulePath);
      if (t == "ModulePath64") return m.modulePath64 = c.child_value(), true;
      if (t == "Prefix") return Text(c, &m.prefix);
      if (t == "ProgID") return Text(c, &m.progId);
      if (t == "SupportedInstrumentModels") return Text(c, &m.supportedInstrumentModels);
      if (t == "AssemblyQualifiedClassName")
        return m.assemblyQualifiedClassName = c.child_value(), true;
      if (t == "PhysicalNames")
        return List(c, "IviPhysicalName",
                    [&](const pugi::xml_node& x) { m.physicalNames.push_back(Physical(x)); });
      if (t == "PublishedAPIs")
        return List(c, "IviPublishedAPI", [&](const pugi::xml_node& x) {
          m.publishedApis.push_back(ApiKey(x.attribute("idref") ? Target(x) : x));
        });
      return false;
    });
    return m;
  }

  HardwareAsset Asset(const pugi::xml_node& e) {
    HardwareAsset h;
    h.id = e.attribute("id").value();
    Each(e, h.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &h.name);
      if (t == "Description") return Text(c, &h.description);
      if (t == "DataComponents") return Components(c, &h.components, h.componentExtras);
      if (t == "IOResourceDescriptor") return Text(c, &h.ioResourceDescriptor);
      return false;
    });
    return h;
  }

  VirtualName Virtual(const pugi::xml_node& e) {
    VirtualName v;
    v.id = e.attribute("id").value();
    Each(e, v.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &v.name);
      if (t == "MapTo") return Text(c, &v.mapTo);
      if (t == "VirtualRanges")
        return List(c, "IviVirtualRange", [&](const pugi::xml_node& x) {
          VirtualRange r;
          r.id = x.attribute("id").value();
          Each(x, r.extras, [&](std::string_view u, const pugi::xml_node& y) {
            if (u == "Name") return Text(y, &r.name);
            if (u == "Min") return Int(y, &r.min);
            if (u == "Max") return Int(y, &r.max);
            if (u == "StartingPhysicalIndex") return Int(y, &r.startingPhysicalIndex);
            return false;
          });
          v.ranges.push_back(std::move(r));
        });
      return false;
    });
    return v;
  }

  bool SessionChild(std::string_view t, const pugi::xml_node& c, Session& s) {
    if (t == "Name") return Text(c, &s.name);
    if (t == "Description") return Text(c, &s.description);
    if (t == "DataComponents") return Components(c, &s.components, s.componentExtras);
    if (t == "IviHardwareAsset" && c.attribute("idref"))
      return s.hardwareAsset = TargetName(c), true;
    if (t == "IviSoftwareModuleRef" && c.attribute("idref"))
      return s.softwareModule = TargetName(c), true;
    if (t == "VirtualNames")
      return List(c, "IviVirtualName",
                  [&](const pugi::xml_node& x) { s.virtualNames.push_back(Virtual(x)); });
    if (t == "SoftwareModuleName") return Text(c, &s.softwareModuleName);
    return false;
  }

  DriverSession TheDriverSession(const pugi::xml_node& e) {
    DriverSession s;
    s.id = e.attribute("id").value();
    Each(e, s.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (SessionChild(t, c, s)) return true;
      if (t == "Cache") return Bool(c, &s.cache);
      if (t == "DriverSetup") return Text(c, &s.driverSetup);
      if (t == "InterchangeCheck") return Bool(c, &s.interchangeCheck);
      if (t == "QueryInstrStatus") return Bool(c, &s.queryInstrumentStatus);
      if (t == "RangeCheck") return Bool(c, &s.rangeCheck);
      if (t == "RecordCoercions") return Bool(c, &s.recordCoercions);
      if (t == "Simulate") return Bool(c, &s.simulate);
      return false;
    });
    return s;
  }

  LogicalName Logical(const pugi::xml_node& e) {
    LogicalName l;
    l.id = e.attribute("id").value();
    Each(e, l.extras, [&](std::string_view t, const pugi::xml_node& c) {
      if (t == "Name") return Text(c, &l.name);
      if (t == "Description") return Text(c, &l.description);
      if ((t == "IviDriverSession" || t == "IviSession") && c.attribute("idref")) {
        pugi::xml_node target = Target(c);
        l.session = target.child("Name").child_value();
        l.driverSession = std::strcmp(target.name(), "IviDriverSession") == 0;
        return true;
      }
      return false;
    });
    return l;
  }

  std::unordered_map<std::string, pugi::xml_node> ids_;
  int depth_ = 0;
};

}  // namespace

std::optional<ConfigStore> ParseStore(std::string_view xml, std::string* error) {
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default);
  if (!parsed) {
    *error = std::string("not XML: ") + parsed.description() + " at offset " +
             std::to_string(parsed.offset);
    return std::nullopt;
  }
  pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "IviConfigStore") != 0) {
    *error = std::string("not an IVI configuration store: the root element is <") + root.name() +
             ">, not <IviConfigStore>";
    return std::nullopt;
  }
  try {
    Reader reader(doc);
    return reader.Store(root);
  } catch (const Failure& f) {
    *error = f.what;
    return std::nullopt;
  }
}

}  // namespace vmk::config
