// The output, protection and trigger members against a scripted instrument: the exact bytes each
// member writes, in order, for each kind of model.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/visa/script.h"
#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::visa::Script;

std::string Narrow(const OLECHAR* s) {
  std::string out;
  for (UINT i = 0, n = SysStringLen(const_cast<BSTR>(s)); i < n; ++i)
    out.push_back(static_cast<char>(s[i]));
  return out;
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct Bstr {
  explicit Bstr(const std::string& s) : b(SysAllocString(Wide(s).c_str())) {}
  ~Bstr() { SysFreeString(b); }
  operator BSTR() const { return b; }
  BSTR b;
};

// The description of the thread's error information, taken off it.
std::string TakeError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR d = nullptr;
  info->GetDescription(&d);
  std::string text = Narrow(d);
  SysFreeString(d);
  info->Release();
  return text;
}

template <class T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** operator&() { return &p; }
};

class ScriptedSupply : public ::testing::Test {
 protected:
  void TearDown() override {
    if (driver) {
      driver->Close();
      driver->Release();
    }
    Script::Uninstall("psu");
  }

  // A session on `model`; what the test expects next is the member's own traffic.
  void Open(const std::string& model) {
    script = Script::Install("psu");
    script->Expect("*IDN?\n").Reply("Velmora," + model + ",0,1.0\n");
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVelmoraK40xx,
                                      reinterpret_cast<void**>(&driver)),
              S_OK);
    factory->Release();
    ASSERT_EQ(driver->Initialize(Bstr("SCRIPT::psu::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                                 Bstr("")),
              S_OK)
        << TakeError();
    ASSERT_EQ(driver->get_Outputs(&outputs.p), S_OK);
    ASSERT_EQ(driver->get_Triggers(&triggers.p), S_OK);
  }
  Ref<IVelmoraK40xxOutput> Output(const std::string& name) {
    Ref<IVelmoraK40xxOutput> out;
    EXPECT_EQ(outputs->get_Item(Bstr(name), &out), S_OK) << TakeError();
    return out;
  }
  Ref<IVelmoraK40xxProtection> Protection(const std::string& name) {
    Ref<IVelmoraK40xxProtection> p;
    EXPECT_EQ(Output(name)->get_Protection(&p), S_OK);
    return p;
  }
  Ref<IVelmoraK40xxTrigger> Trigger(const std::string& name) {
    Ref<IVelmoraK40xxTrigger> t;
    EXPECT_EQ(triggers->get_Item(Bstr(name), &t), S_OK) << TakeError();
    return t;
  }

  std::shared_ptr<Script> script;
  IVelmoraK40xx* driver = nullptr;
  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxTriggers> triggers;
};

TEST_F(ScriptedSupply, VoltageOnTheSecondOutputOfADualModelSelectsItFirst) {
  Open("K4201A");
  script->Expect("INST:NSEL 2\n").Expect("VOLT 5\n");
  EXPECT_EQ(Output("Output2")->put_VoltageLevel(5.0), S_OK) << TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

}  // namespace
