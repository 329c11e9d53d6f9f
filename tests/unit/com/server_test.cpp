// The COM server as an installation and a client see it: the keys registration writes and
// removes, creation by ProgID (from this library and from another one), aggregation, when the
// library may be unloaded, and the error source that follows the registration.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/com/registry.h"
#include "tests/support/client.h"
#include "tests/support/temp_dir.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

// The interface of the other library's class, declared as its header would: outside any
// unnamed namespace, where the compiler could take it for a class nothing implements.
struct IAnswer : IUnknown {
  virtual LONG Answer() = 0;
};

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::TakeError;

// The module the server code is in, as the dynamic loader opened it: the path registration
// writes, made absolute. This program links the layers statically, so that is the program itself.
std::string DriverLibrary() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info);
  const std::string path = info.dli_fname;
  return path.front() == '/' ? path : std::filesystem::current_path().string() + "/" + path;
}

std::string Expand(std::string text, const std::string& library) {
  const std::string lib = "@LIB@", dir = "@DIR@";
  for (size_t at; (at = text.find(lib)) != std::string::npos;)
    text.replace(at, lib.size(), library);
  for (size_t at; (at = text.find(dir)) != std::string::npos;)
    text.replace(at, dir.size(), library.substr(0, library.rfind('/')));
  return text;
}

std::string Interface(const char* iid, const char* name) {
  return std::string("\n[HKEY_CLASSES_ROOT\\Interface\\") + iid + "]\n@=\"" + name +
         "\"\n\n[HKEY_CLASSES_ROOT\\Interface\\" + iid +
         "\\TypeLib]\n@=\"{9F722314-E428-4E18-BA72-2551FF4989F9}\"\n\"Version\"=\"1.0\"\n";
}

// Every key the server registers, in the file's order.
const std::string kRegistered =
    "; The K40xx driver's COM registry: keys and their values, written by registration.\n"
    "\n[HKEY_CLASSES_ROOT\\AppID]\n"
    "\n[HKEY_CLASSES_ROOT\\AppID\\VelmoraK40xx.DLL]\n"
    "\"AppID\"=\"{7648A1B1-7963-4593-8DCF-363FBC107580}\"\n"
    "\n[HKEY_CLASSES_ROOT\\AppID\\{7648A1B1-7963-4593-8DCF-363FBC107580}]\n@=\"VelmoraK40xx\"\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID]\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}]\n"
    "@=\"VelmoraK40xx Object\"\n\"AppID\"=\"{7648A1B1-7963-4593-8DCF-363FBC107580}\"\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\Implemented Categories]\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\Implemented Categories\\"
    "{47ED5152-A398-11D4-BA58-000064657374}]\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\Implemented Categories\\"
    "{47ED5153-A398-11D4-BA58-000064657374}]\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\InprocServer32]\n"
    "@=\"@LIB@\"\n\"ThreadingModel\"=\"both\"\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\ProgID]\n"
    "@=\"VelmoraK40xx.VelmoraK40xx.1\"\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\Programmable]\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\TypeLib]\n"
    "@=\"{9F722314-E428-4E18-BA72-2551FF4989F9}\"\n"
    "\n[HKEY_CLASSES_ROOT\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\"
    "VersionIndependentProgID]\n@=\"VelmoraK40xx.VelmoraK40xx\"\n"
    "\n[HKEY_CLASSES_ROOT\\Interface]\n" +
    Interface("{1D2512C6-2E42-40C4-AC49-4CDA20AD1571}", "IVelmoraK40xxProtection") +
    Interface("{202D1B74-7D34-4758-B790-E00885BD19A5}", "IVelmoraK40xxCalibration") +
    Interface("{38E0EEE3-0472-4BEB-83B7-063515587D16}", "IVelmoraK40xxTrigger") +
    Interface("{5D46E11B-51B1-458A-BB60-32286B16096C}", "IVelmoraK40xxSystem") +
    Interface("{619C088B-F74F-4F10-A6B0-E67C5153C60A}", "IVelmoraK40xxStatus") +
    Interface("{6FFA5C02-609B-4D2D-B3FB-9004E731C2F6}", "IVelmoraK40xxDisplay") +
    Interface("{7B04DF95-A844-413E-8531-89743EDE77CC}", "IVelmoraK40xx") +
    Interface("{CC4C50C7-254D-41C4-AAAC-A5ACBF8FE6D3}", "IVelmoraK40xxOutputs") +
    Interface("{E2FE2F4D-01C2-4420-A69C-E31C5E59278D}", "IVelmoraK40xxTriggers") +
    Interface("{E5243FF5-9FA0-454B-AB31-F298E57753F4}", "IVelmoraK40xxOutput") +
    Interface("{EDCE640F-E0CA-43A7-B8B9-271AA4DF7009}", "IVelmoraK40xxCalibrations") +
    "\n[HKEY_CLASSES_ROOT\\TypeLib]\n"
    "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}]\n"
    "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\1.0]\n"
    "@=\"VelmoraK40xx 1.0 Type Library\"\n"
    "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\1.0\\0]\n"
    "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\1.0\\0\\linux64]\n"
    "@=\"@LIB@\"\n"
    "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\1.0\\FLAGS]\n@=\"0\"\n"
    "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\1.0\\HELPDIR]\n"
    "@=\"@DIR@\"\n"
    "\n[HKEY_CLASSES_ROOT\\VelmoraK40xx.VelmoraK40xx]\n@=\"VelmoraK40xx Object\"\n"
    "\n[HKEY_CLASSES_ROOT\\VelmoraK40xx.VelmoraK40xx\\CLSID]\n"
    "@=\"{6E6F7DED-9115-4851-AA4F-5250E57C132A}\"\n"
    "\n[HKEY_CLASSES_ROOT\\VelmoraK40xx.VelmoraK40xx\\CurVer]\n@=\"VelmoraK40xx.VelmoraK40xx.1\"\n"
    "\n[HKEY_CLASSES_ROOT\\VelmoraK40xx.VelmoraK40xx.1]\n@=\"VelmoraK40xx Object\"\n"
    "\n[HKEY_CLASSES_ROOT\\VelmoraK40xx.VelmoraK40xx.1\\CLSID]\n"
    "@=\"{6E6F7DED-9115-4851-AA4F-5250E57C132A}\"\n";

// What another installation keeps in the same registry.
const std::string kOthers =
    "[HKEY_CLASSES_ROOT\\AppID\\{11111111-2222-3333-4444-555555555555}]\n@=\"Other\"\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32]\n"
    "@=\"/opt/other/libother.so\"\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\2.0]\n@=\"Next "
    "version\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI]\n\"IviStandardRootDir\"=\"/opt/ivi/\"\n";

class Server : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK); }
  std::string Registry() { return test::ReadFile(file); }

  test::TempDir dir;
  std::string file = dir / "registry.reg";
  test::ScopedEnv env{"VMK40XX_REGISTRY", file};
};

TEST_F(Server, RegistrationWritesExactlyTheServersKeysAndTwiceTheSame) {
  ASSERT_EQ(DllRegisterServer(), S_OK) << TakeError();
  const std::string expected = Expand(kRegistered, DriverLibrary());
  EXPECT_EQ(Registry(), expected);

  // A stale key under the class, from an older version, goes with the second registration.
  std::string error;
  ASSERT_EQ(com::UpdateRegistry(
                [](com::RegistryTree& t) {
                  t.SetValue("HKCR\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\LocalServer32",
                             "", "/old/server");
                  t.SetValue("HKCR\\VelmoraK40xx.VelmoraK40xx\\Stale", "", "x");
                },
                &error),
            S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK) << TakeError();
  EXPECT_EQ(Registry(), expected);
}

TEST_F(Server, UnregisteringRemovesOursAndKeepsEveryOtherEntry) {
  test::WriteFile(file, kOthers);
  ASSERT_EQ(DllRegisterServer(), S_OK) << TakeError();
  ASSERT_EQ(DllUnregisterServer(), S_OK) << TakeError();
  EXPECT_EQ(Registry(),
            "; The K40xx driver's COM registry: keys and their values, written by registration.\n"
            "\n[HKEY_CLASSES_ROOT\\AppID]\n"
            "\n[HKEY_CLASSES_ROOT\\AppID\\{11111111-2222-3333-4444-555555555555}]\n@=\"Other\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}]\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32]\n"
            "@=\"/opt/other/libother.so\"\n"
            "\n[HKEY_CLASSES_ROOT\\Interface]\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib]\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}]\n"
            "\n[HKEY_CLASSES_ROOT\\TypeLib\\{9F722314-E428-4E18-BA72-2551FF4989F9}\\2.0]\n"
            "@=\"Next version\"\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI]\n\"IviStandardRootDir\"=\"/opt/ivi/\"\n");
}

TEST_F(Server, AProgIdAnotherClassTookOverIsKeptByUnregistering) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  std::string error;
  com::UpdateRegistry(
      [](com::RegistryTree& t) {
        t.SetValue("HKCR\\VelmoraK40xx.VelmoraK40xx\\CLSID", "",
                   "{11111111-2222-3333-4444-555555555555}");
      },
      &error);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(com::ReadRegistryValue("HKCR\\VelmoraK40xx.VelmoraK40xx\\CLSID", ""),
            "{11111111-2222-3333-4444-555555555555}");
  EXPECT_FALSE(com::ReadRegistryValue("HKCR\\VelmoraK40xx.VelmoraK40xx.1\\CLSID", ""));
}

TEST_F(Server, ADamagedRegistryFailsRegistrationClearlyAndStaysAsItWas) {
  const std::string damaged = kOthers.substr(0, 100);
  test::WriteFile(file, damaged);
  EXPECT_EQ(DllRegisterServer(), REGDB_E_READREGDB);
  EXPECT_EQ(TakeError(), "the registry file " + file +
                             " is damaged (line 3: a key line must end with ']'); it was left as "
                             "it is: repair or remove it, then register again");
  EXPECT_EQ(DllUnregisterServer(), REGDB_E_READREGDB);
  EXPECT_EQ(Registry(), damaged);
  // And nothing is registered that could be created.
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"VelmoraK40xx.VelmoraK40xx", &clsid), CO_E_CLASSSTRING);
}

TEST_F(Server, ARegisteredDriverIsCreatedByProgId) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"VelmoraK40xx.VelmoraK40xx", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  ComPtr<IVelmoraK40xx> driver;
  EXPECT_EQ(CoCreateInstance(CLSID_VelmoraK40xx, nullptr, CLSCTX_INPROC_SERVER, IID_IVelmoraK40xx,
                             reinterpret_cast<void**>(driver.put())),
            REGDB_E_CLASSNOTREG);

  // Registered by the shipped library, loaded as a program loads a server it does not link, so
  // that the registry names a library that can be loaded.
  void* library = dlopen(VMK_DRIVER_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  ASSERT_EQ(registerServer(), S_OK);
  for (const char16_t* progId : {u"VelmoraK40xx.VelmoraK40xx", u"VelmoraK40xx.VelmoraK40xx.1"}) {
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_VelmoraK40xx);
  }
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IVelmoraK40xx,
                             reinterpret_cast<void**>(driver.put())),
            S_OK);
  auto identity = test::As<IIviDriverIdentity>(driver.get(), IID_IIviDriverIdentity);
  Bstr id;
  ASSERT_EQ(identity->get_Identifier(id.put()), S_OK);
  EXPECT_EQ(id.utf8(), "VelmoraK40xx");
  // Only in-process servers exist.
  ComPtr<IUnknown> local;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(local.put())),
            REGDB_E_CLASSNOTREG);
}

constexpr CLSID kAnswerClass{
    0x5a0c8d2e, 0x3b61, 0x4f5e, {0x9d, 0x0a, 0x7c, 0x2b, 0x1e, 0x4f, 0x6a, 0x81}};
constexpr IID kAnswerIid{
    0x5a0c8d2e, 0x3b61, 0x4f5e, {0x9d, 0x0a, 0x7c, 0x2b, 0x1e, 0x4f, 0x6a, 0x82}};

TEST_F(Server, AClassOfAnotherLibraryIsCreatedByLoadingThatLibrary) {
  test::WriteFile(file,
                  "[HKCR\\Test.Answer\\CLSID]\n@=\"{5A0C8D2E-3B61-4F5E-9D0A-7C2B1E4F6A81}\"\n"
                  "[HKCR\\CLSID\\{5A0C8D2E-3B61-4F5E-9D0A-7C2B1E4F6A81}\\InprocServer32]\n"
                  "@=\"" VMK_TEST_SERVER_PATH
                  "\"\n"
                  "[HKCR\\CLSID\\{00000000-0000-0000-0000-0000000000A1}\\InprocServer32]\n"
                  "@=\"/nonexistent/libgone.so\"\n"
                  "[HKCR\\CLSID\\{00000000-0000-0000-0000-0000000000A2}\\InprocServer32]\n"
                  "@=\"" VMK_NOT_A_SERVER_PATH "\"\n");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Test.Answer", &clsid), S_OK);
  EXPECT_EQ(clsid, kAnswerClass);
  ComPtr<IAnswer> answer;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kAnswerIid,
                             reinterpret_cast<void**>(answer.put())),
            S_OK);
  EXPECT_EQ(answer->Answer(), 42);
  EXPECT_NE(dlopen(VMK_TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);

  ComPtr<IUnknown> none;
  CLSID gone{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xA1}};
  EXPECT_EQ(CoCreateInstance(gone, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(none.put())),
            CO_E_DLLNOTFOUND);
  EXPECT_EQ(TakeError().rfind("cannot load the server library /nonexistent/libgone.so: ", 0), 0u);
  CLSID notServer{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xA2}};
  EXPECT_EQ(CoCreateInstance(notServer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(none.put())),
            CO_E_ERRORINDLL);
  EXPECT_EQ(TakeError(), "the server library " VMK_NOT_A_SERVER_PATH " has no DllGetClassObject");
}

TEST_F(Server, TheLibraryStaysInUseWhileAnyOfItsObjectsLives) {
  ComPtr<IVelmoraK40xx> driver = test::NewDriver();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  Bstr resource("GPIB0::5::INSTR"), options("Simulate=true, DriverSetup=Model=K4201A");
  ASSERT_EQ(driver->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK);
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> output;
  driver->get_Outputs(outputs.put());
  Bstr name("Output2");
  ASSERT_EQ(outputs->get_Item(name.get(), output.put()), S_OK);
  outputs.reset();
  driver.reset();
  // The held output still runs the library's code.
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  output.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory,
                              reinterpret_cast<void**>(factory.put())),
            S_OK);
  factory->LockServer(1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  factory->LockServer(0);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kAnswerClass, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
}

// An object that holds the driver as its inner object and answers IUnknown itself.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (iid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(iid, ppv);
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  IUnknown* inner = nullptr;
  ULONG refs = 1;
};

TEST_F(Server, TheDriverCanBeAggregated) {
  ComPtr<IClassFactory> factory;
  DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
  Outer outer;
  void* p = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IVelmoraK40xx, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
            S_OK);

  IVelmoraK40xx* driver = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IVelmoraK40xx, reinterpret_cast<void**>(&driver)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // the driver's interfaces count on the outer object
  IUnknown* identity = nullptr;
  ASSERT_EQ(driver->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  identity->Release();
  Bstr resource("GPIB0::5::INSTR"), options("Simulate=true");
  EXPECT_EQ(driver->Initialize(resource.get(), VARIANT_FALSE, VARIANT_FALSE, options.get()), S_OK);
  ComPtr<IVelmoraK40xxOutputs> outputs;
  EXPECT_EQ(driver->get_Outputs(outputs.put()), S_OK);
  outputs.reset();
  driver->Release();
  EXPECT_EQ(outer.refs, 1u);

  // The inner object's own IUnknown is not the outer one, and it alone ends the driver's life.
  IUnknown* inner = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  EXPECT_EQ(inner, outer.inner);
  inner->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(outer.inner->Release(), 0u);
}

TEST_F(Server, TheErrorSourceIsTheRegisteredProgId) {
  auto source = [] {
    ComPtr<IVelmoraK40xx> driver = test::NewDriver();
    EXPECT_EQ(driver->Initialize(nullptr, VARIANT_FALSE, VARIANT_FALSE, nullptr),
              HRESULT(0x80047010u));
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    Bstr s;
    info->GetSource(s.put());
    return s.utf8();
  };
  EXPECT_EQ(source(), "VelmoraK40xx.VelmoraK40xx.1");
  test::WriteFile(file,
                  "[HKCR\\CLSID\\{6E6F7DED-9115-4851-AA4F-5250E57C132A}\\ProgID]\n"
                  "@=\"VelmoraK40xx.VelmoraK40xx.2\"\n");
  EXPECT_EQ(source(), "VelmoraK40xx.VelmoraK40xx.2");
}

// The registration tool, run as an installation runs it.
std::string RunTool(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  *status = p ? pclose(p) : -1;
  return out;
}

TEST_F(Server, TheToolRegistersAndUnregistersALibrary) {
  int status = 0;
  std::string out = RunTool(VMK_REGSVR_PATH " " VMK_DRIVER_LIBRARY_PATH, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "registered " VMK_DRIVER_LIBRARY_PATH " in " + file + "\n");
  EXPECT_EQ(Registry(), Expand(kRegistered, VMK_DRIVER_LIBRARY_PATH));

  out = RunTool(VMK_REGSVR_PATH " -u " VMK_DRIVER_LIBRARY_PATH, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "unregistered " VMK_DRIVER_LIBRARY_PATH " in " + file + "\n");
  EXPECT_FALSE(com::ReadRegistryValue("HKCR\\VelmoraK40xx.VelmoraK40xx\\CLSID", ""));

  test::WriteFile(file, "[HKCR\\Broken");
  out = RunTool(VMK_REGSVR_PATH " " VMK_DRIVER_LIBRARY_PATH, &status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out, "vmk40xx-regsvr: DllRegisterServer failed (0x80040150): the registry file " +
                     file +
                     " is damaged (line 1: a key line must end with ']'); it was left as "
                     "it is: repair or remove it, then register again\n");
  EXPECT_EQ(Registry(), "[HKCR\\Broken");

  out = RunTool(VMK_REGSVR_PATH " " VMK_TEST_SERVER_PATH, &status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out, "vmk40xx-regsvr: " VMK_TEST_SERVER_PATH
                 " is not a COM server: it has no DllRegisterServer\n");
  out = RunTool(VMK_REGSVR_PATH " --bogus", &status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(out.rfind("vmk40xx-regsvr: unexpected argument '--bogus'\n\nUsage: vmk40xx-regsvr", 0),
            0u);
}

}  // namespace
}  // namespace vmk
