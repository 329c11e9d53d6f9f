// The server's registration. The type library is the driver library itself, as on Windows where
// it is a resource of the DLL: its TypeLib key names the library, and the interface keys name
// the driver's own interfaces with their type library. The members are described by the public
// header vmk40xx/vmk40xx.h; no separate binary description is generated.
#include "com/registration.h"

#include "platform/com/guid.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {

namespace {

constexpr const char* kFriendlyName = "VelmoraK40xx Object";
constexpr const char* kProgId = "VelmoraK40xx.VelmoraK40xx.1";
constexpr const char* kVersionIndependentProgId = "VelmoraK40xx.VelmoraK40xx";
constexpr const char* kAppIdName = "VelmoraK40xx";
constexpr const char* kModuleName = "VelmoraK40xx.DLL";
constexpr const char* kThreadingModel = "both";
constexpr const char* kTypeLibVersion = "1.0";
constexpr const char* kTypeLibName = "VelmoraK40xx 1.0 Type Library";
// The platform subkey of a type library's locale key; Windows has win32 and win64 there.
constexpr const char* kTypeLibPlatform = "linux64";

// The two component categories the IVI Foundation defines for an IviDCPwr IVI-COM driver.
constexpr GUID kCategories[] = {
    // IviDriver: every IVI-COM driver
    {0x47ed5152, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}},
    // IviDCPwr: the class the driver complies with
    {0x47ed5153, 0xa398, 0x11d4, {0xba, 0x58, 0x00, 0x00, 0x64, 0x65, 0x73, 0x74}},
};

// The interfaces the driver's type library defines; the IVI interfaces belong to the IVI
// Foundation's type libraries and are not registered here.
constexpr struct {
  const IID* iid;
  const char* name;
} kInterfaces[] = {
    {&IID_IVelmoraK40xx, "IVelmoraK40xx"},
    {&IID_IVelmoraK40xxOutputs, "IVelmoraK40xxOutputs"},
    {&IID_IVelmoraK40xxOutput, "IVelmoraK40xxOutput"},
    {&IID_IVelmoraK40xxProtection, "IVelmoraK40xxProtection"},
    {&IID_IVelmoraK40xxDisplay, "IVelmoraK40xxDisplay"},
    {&IID_IVelmoraK40xxStatus, "IVelmoraK40xxStatus"},
    {&IID_IVelmoraK40xxSystem, "IVelmoraK40xxSystem"},
    {&IID_IVelmoraK40xxCalibrations, "IVelmoraK40xxCalibrations"},
    {&IID_IVelmoraK40xxCalibration, "IVelmoraK40xxCalibration"},
    {&IID_IVelmoraK40xxTriggers, "IVelmoraK40xxTriggers"},
    {&IID_IVelmoraK40xxTrigger, "IVelmoraK40xxTrigger"},
};

const std::string kRoot = "HKEY_CLASSES_ROOT\\";

std::string ClassKey() {
  return kRoot + "CLSID\\" + com::GuidToString(CLSID_VelmoraK40xx);
}
std::string TypeLibKey() {
  return kRoot + "TypeLib\\" + com::GuidToString(LIBID_VelmoraK40xxLib);
}
std::string InterfaceKey(const IID& iid) {
  return kRoot + "Interface\\" + com::GuidToString(iid);
}

// A ProgID key is ours while it names our class (or no class at all).
bool OwnsProgId(const com::RegistryTree& tree, const std::string& progId) {
  auto clsid = tree.Value(kRoot + progId + "\\CLSID", "");
  return !clsid || com::GuidFromString(*clsid) == CLSID_VelmoraK40xx;
}

bool OwnsInterface(const com::RegistryTree& tree, const IID& iid) {
  auto lib = tree.Value(InterfaceKey(iid) + "\\TypeLib", "");
  return !lib || com::GuidFromString(*lib) == LIBID_VelmoraK40xxLib;
}

void RemoveTypeLib(com::RegistryTree& tree) {
  tree.DeleteKey(TypeLibKey() + "\\" + kTypeLibVersion);
  if (tree.SubKeys(TypeLibKey()).empty()) tree.DeleteKey(TypeLibKey());
  for (const auto& itf : kInterfaces)
    if (OwnsInterface(tree, *itf.iid)) tree.DeleteKey(InterfaceKey(*itf.iid));
}

void RemoveAppId(com::RegistryTree& tree) {
  tree.DeleteKey(kRoot + "AppID\\" + com::GuidToString(APPID_VelmoraK40xx));
  tree.DeleteKey(kRoot + "AppID\\" + kModuleName);
}

}  // namespace

void RegisterServerKeys(com::RegistryTree& tree, const std::string& libraryPath) {
  const std::string appId = com::GuidToString(APPID_VelmoraK40xx);
  const std::string clsid = com::GuidToString(CLSID_VelmoraK40xx);
  const std::string libId = com::GuidToString(LIBID_VelmoraK40xxLib);

  // The AppID script.
  tree.SetValue(kRoot + "AppID\\" + appId, "", kAppIdName);
  tree.SetValue(kRoot + "AppID\\" + kModuleName, "AppID", appId);

  // The class and its ProgIDs, each replaced whole.
  for (const char* progId : {kProgId, kVersionIndependentProgId}) {
    tree.DeleteKey(kRoot + progId);
    tree.SetValue(kRoot + progId, "", kFriendlyName);
    tree.SetValue(kRoot + progId + "\\CLSID", "", clsid);
  }
  tree.SetValue(kRoot + kVersionIndependentProgId + "\\CurVer", "", kProgId);
  const std::string cls = ClassKey();
  tree.DeleteKey(cls);
  tree.SetValue(cls, "", kFriendlyName);
  tree.SetValue(cls, "AppID", appId);
  tree.SetValue(cls + "\\ProgID", "", kProgId);
  tree.SetValue(cls + "\\VersionIndependentProgID", "", kVersionIndependentProgId);
  tree.CreateKey(cls + "\\Programmable");
  tree.SetValue(cls + "\\InprocServer32", "", libraryPath);
  tree.SetValue(cls + "\\InprocServer32", "ThreadingModel", kThreadingModel);
  tree.SetValue(cls + "\\TypeLib", "", libId);

  // The component categories.
  for (const GUID& category : kCategories)
    tree.CreateKey(cls + "\\Implemented Categories\\" + com::GuidToString(category));

  // The type library.
  RemoveTypeLib(tree);
  const std::string version = TypeLibKey() + "\\" + kTypeLibVersion;
  const size_t slash = libraryPath.find_last_of('/');
  tree.SetValue(version, "", kTypeLibName);
  tree.SetValue(version + "\\0\\" + kTypeLibPlatform, "", libraryPath);
  tree.SetValue(version + "\\FLAGS", "", "0");
  tree.SetValue(version + "\\HELPDIR", "",
                slash == std::string::npos ? std::string() : libraryPath.substr(0, slash));
  for (const auto& itf : kInterfaces) {
    const std::string key = InterfaceKey(*itf.iid);
    tree.SetValue(key, "", itf.name);
    tree.SetValue(key + "\\TypeLib", "", libId);
    tree.SetValue(key + "\\TypeLib", "Version", kTypeLibVersion);
  }
}

void UnregisterServerKeys(com::RegistryTree& tree) {
  tree.DeleteKey(ClassKey());
  for (const char* progId : {kProgId, kVersionIndependentProgId})
    if (OwnsProgId(tree, progId)) tree.DeleteKey(kRoot + progId);
  RemoveTypeLib(tree);
  RemoveAppId(tree);
}

}  // namespace vmk
