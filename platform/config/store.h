// The IVI configuration store as a plain value: the objects of the IVI-3.5 store model that a
// driver and a configuration tool need, read from and written to the store's XML form.
//
// Objects refer to each other by name (names are the keys of the store's collections); the XML
// form's id and idref attributes are resolved when reading and made again when writing. Child
// elements the reader does not know are kept as they were written (`extras`) and written back
// after the known ones, so that a store written by a newer schema loses nothing here.
// Names compare exactly, letter case included.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vmk::config {

// Raw XML of child elements the reader does not know.
using Extras = std::vector<std::string>;
// The same, for the elements of a list (DataComponents, Sessions) that are not what the list holds
// in this schema: they are written back inside the list, not beside it, where they could pass for
// a child the reader knows.
using ListExtras = Extras;

struct PublishedApiRef {
  std::string name;
  std::string type;  // "IVI-COM", "IVI-C", "IVI.NET"
  int32_t majorVersion = 0;
  int32_t minorVersion = 0;
  bool operator==(const PublishedApiRef&) const = default;
};

struct PublishedApi {
  std::string id;  // the XML id it was read with; a new one is made when empty
  PublishedApiRef key;
  Extras extras;
};

// The element class of a data component; its Type property is kept as written, beside it.
enum class DataKind { Structure, Boolean, Integer, Real, String, ApiReference };

struct DataComponent {
  std::string id;
  DataKind kind = DataKind::String;
  std::string name;
  std::string description;
  bool readOnly = false;
  std::string usedInSession;  // "Required", "Optional", "None"
  std::string type;           // "Structure", "Boolean", "Integer", "Real", "String", "APIReference"
  int32_t helpContextId = 0;
  std::string helpFilePath;
  std::string softwareModuleKey;
  // Boolean: bool; Integer: int32_t; Real: double; String and APIReference: the text (for an
  // APIReference, a logical or session name); Structure: none.
  std::variant<std::monostate, bool, int32_t, double, std::string> value;
  std::string units;                            // Integer and Real
  std::optional<PublishedApiRef> publishedApi;  // APIReference
  std::vector<DataComponent> components;        // Structure
  ListExtras componentExtras;                   // Structure
  Extras extras;
};

// The component named `name` among `components`, or null.
const DataComponent* FindComponent(const std::vector<DataComponent>& components,
                                   std::string_view name);

struct PhysicalRange {
  std::string id;
  std::string name;
  int32_t min = 0;
  int32_t max = 0;
  Extras extras;
};

struct PhysicalName {
  std::string id;
  std::string name;
  std::string rcName;
  std::vector<PhysicalName> physicalNames;
  std::vector<PhysicalRange> ranges;
  Extras extras;
};

struct SoftwareModule {
  std::string id;
  std::string name;
  std::string description;
  std::vector<DataComponent> components;
  ListExtras componentExtras;
  std::string modulePath;
  std::optional<std::string> modulePath64;
  std::string prefix;
  std::string progId;
  std::string supportedInstrumentModels;
  std::optional<std::string> assemblyQualifiedClassName;
  std::vector<PhysicalName> physicalNames;
  std::vector<PublishedApiRef> publishedApis;
  Extras extras;
};

struct HardwareAsset {
  std::string id;
  std::string name;
  std::string description;
  std::vector<DataComponent> components;
  ListExtras componentExtras;
  std::string ioResourceDescriptor;
  Extras extras;
};

struct VirtualRange {
  std::string id;
  std::string name;
  int32_t min = 0;
  int32_t max = 0;
  int32_t startingPhysicalIndex = 0;
  Extras extras;
};

struct VirtualName {
  std::string id;
  std::string name;
  std::string mapTo;
  std::vector<VirtualRange> ranges;
  Extras extras;
};

struct Session {
  std::string id;
  std::string name;
  std::string description;
  std::vector<DataComponent> components;
  ListExtras componentExtras;
  std::string hardwareAsset;   // name; empty when the session has none
  std::string softwareModule;  // name of the referenced module; empty when none
  std::vector<VirtualName> virtualNames;
  std::string softwareModuleName;
  Extras extras;
};

struct DriverSession : Session {
  bool cache = false;
  std::string driverSetup;
  bool interchangeCheck = false;
  bool queryInstrumentStatus = false;
  bool rangeCheck = false;
  bool recordCoercions = false;
  bool simulate = false;
};

struct LogicalName {
  std::string id;
  std::string name;
  std::string description;
  std::string session;        // name of the session it designates; empty when none
  bool driverSession = true;  // whether `session` is a driver session or a plain session
  Extras extras;
};

struct ConfigStore {
  std::string name = "IVI Configuration Server";
  std::string description;
  std::string vendor = "IVI Foundation, Inc";
  std::string revision;
  int32_t specificationMajorVersion = 1;
  int32_t specificationMinorVersion = 0;
  std::string masterLocation;
  std::string processDefaultLocation;
  std::string actualLocation;
  std::vector<PublishedApi> publishedApis;
  std::vector<SoftwareModule> softwareModules;
  std::vector<HardwareAsset> hardwareAssets;
  std::vector<DriverSession> driverSessions;
  std::vector<Session> sessions;  // the plain sessions; every driver session is a session too
  ListExtras sessionListExtras;   // what the Sessions list holds that is no session
  std::vector<LogicalName> logicalNames;
  Extras extras;

  // The driver session `name` designates: a logical name of that name that designates a driver
  // session, else the driver session of that name; null when neither exists.
  const DriverSession* FindDriverSession(std::string_view name) const;
  const SoftwareModule* FindSoftwareModule(std::string_view name) const;
  const HardwareAsset* FindHardwareAsset(std::string_view name) const;
};

// Reads the XML form. Tolerant of the order of child elements and of unknown elements (kept);
// strict about what would otherwise be guessed: a text that is not XML, another root element,
// a number or boolean that does not read as one, an idref to no object, two objects with one id.
// On failure the result is empty and `error` says what and where.
std::optional<ConfigStore> ParseStore(std::string_view xml, std::string* error);

// The XML form, in the element order of the IVI sample store. ParseStore reads it back to the
// same value.
std::string FormatStore(const ConfigStore& store);

// ---------------------------------------------------------------------------------------------
// Locating, loading and saving

// The process default location: the environment variable IVICONFIGSERVERDEFAULT.
std::string ProcessDefaultLocation();
// The master location: HKEY_LOCAL_MACHINE\SOFTWARE\IVI\CONFIGURATIONSERVER, value MasterStore,
// of the registry stand-in.
std::string MasterLocation();
// Where the store is when neither names it.
inline constexpr const char* kSystemStoreLocation = "/var/lib/ivi/IviConfigurationStore.xml";
// The location a store is read from: the process default location when set, else the master
// location when registered, else the system location.
std::string StoreLocation();

// Reads and parses the store at `location`. `missing` tells a store that is not there from one
// that could not be read or parsed (both give no store, with `error` saying why).
std::optional<ConfigStore> LoadStore(const std::string& location, std::string* error,
                                     bool* missing = nullptr);
// Writes the store to `location` atomically (a new file renamed over the old one).
bool SaveStore(const ConfigStore& store, const std::string& location, std::string* error);

}  // namespace vmk::config
