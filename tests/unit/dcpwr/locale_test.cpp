// A host program may set its own locale (every Qt application and many Python programs call
// setlocale(LC_ALL, "")). The bytes on the wire, the replies read back and the names the driver
// matches must not change with it.
#include <gtest/gtest.h>

#include <locale>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "tests/support/client.h"
#include "tests/support/script.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Ref;
using vmk::test::TakeError;
using vmk::visa::Script;

// The C and C++ locales of the whole process set to `name` for the length of a test.
class HostLocale {
 public:
  explicit HostLocale(const char* name) {
    try {
      std::locale::global(std::locale(name));
      active_ = true;
    } catch (const std::runtime_error&) {
    }
  }
  ~HostLocale() {
    if (active_) std::locale::global(saved_);
  }
  bool active() const { return active_; }

 private:
  std::locale saved_;
  bool active_ = false;
};

class LocaleSupply : public ::testing::Test {
 protected:
  void TearDown() override {
    if (driver) driver->Close();
    Script::Uninstall("psu");
  }

  HRESULT Open(const std::string& resource, const std::string& options) {
    script = Script::Install("psu");
    script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
    driver = vmk::test::NewDriver();
    if (!driver) return E_FAIL;
    return driver->Initialize(Bstr(resource), VARIANT_FALSE, VARIANT_FALSE, Bstr(options));
  }
  Ref<IVelmoraK40xxOutput> Output(const std::string& name) {
    Ref<IVelmoraK40xxOutputs> outputs;
    EXPECT_EQ(driver->get_Outputs(&outputs), S_OK);
    Ref<IVelmoraK40xxOutput> out;
    EXPECT_EQ(outputs->get_Item(Bstr(name), &out), S_OK) << TakeError();
    return out;
  }

  std::shared_ptr<Script> script;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
};

TEST_F(LocaleSupply, UnderADecimalCommaLocaleCommandsAndRepliesKeepTheirPoint) {
  HostLocale german("de_DE.UTF-8");
  if (!german.active())
    GTEST_SKIP() << "no de_DE.UTF-8 locale (tools/scripts/install-deps.sh makes it)";
  ASSERT_EQ(Open("SCRIPT::psu::INSTR", ""), S_OK) << TakeError();
  auto out = Output("Output2");
  auto protection = [&] {
    Ref<IVelmoraK40xxProtection> p;
    EXPECT_EQ(out->get_Protection(&p), S_OK);
    return p;
  }();

  script->Expect("INST:NSEL 2\n").Expect("VOLT 5.25\n");
  EXPECT_EQ(out->put_VoltageLevel(5.25), S_OK) << TakeError();
  script->Expect("INST:NSEL 2\n").Expect("CURR 0.000125\n");
  EXPECT_EQ(out->put_CurrentLimit(1.25e-4), S_OK) << TakeError();
  script->Expect("INST:NSEL 2\n").Expect("VOLT:PROT:STAT 1; :VOLT:PROT 18.5\n");
  EXPECT_EQ(protection->ConfigureOVP(VARIANT_TRUE, 18.5), S_OK) << TakeError();
  script->Expect("INST:NSEL 2\n").Expect("VOLT 7.5\n");
  EXPECT_EQ(out->ConfigureRange(VelmoraK40xxRangeVoltage, 7.5), S_OK) << TakeError();

  // A reader that took the locale's comma would stop at the point and read 5 or 0.
  double value = 0;
  script->Expect("INST:NSEL 2\n").Expect("VOLT?\n").Reply("+5.25000E+00\n");
  EXPECT_EQ(out->get_VoltageLevel(&value), S_OK) << TakeError();
  EXPECT_EQ(value, 5.25);
  script->Expect("INST:NSEL 2\n").Expect("MEAS:CURR?\n").Reply("0.125\n");
  EXPECT_EQ(out->Measure(VelmoraK40xxMeasurementCurrent, &value), S_OK) << TakeError();
  EXPECT_EQ(value, 0.125);
  EXPECT_TRUE(script->Done()) << script->Report();
}

// In an 8-bit Turkish locale toupper('i') is 'Ý' (0xDD) and tolower('I') is 'ý' (0xFD): a
// resource string or an option name matched through <cctype> no longer matches.
TEST_F(LocaleSupply, UnderATurkishLocaleResourceStringsAndOptionNamesStillMatch) {
  HostLocale turkish("tr_TR.ISO-8859-9");
  if (!turkish.active())
    GTEST_SKIP() << "no tr_TR.ISO-8859-9 locale (tools/scripts/install-deps.sh makes it)";
  ASSERT_EQ(
      Open("script::psu::instr", "InterchangeCheck=false, QueryInstrStatus=false, Simulate=false"),
      S_OK)
      << TakeError();
  Ref<IIviDriverOperation> operation;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
            S_OK);
  VARIANT_BOOL simulate = VARIANT_TRUE;
  EXPECT_EQ(operation->get_Simulate(&simulate), S_OK);
  EXPECT_EQ(simulate, VARIANT_FALSE);
  script->Expect("INST:NSEL 1\n").Expect("VOLT 3\n");
  EXPECT_EQ(Output("output1")->put_VoltageLevel(3.0), S_OK) << TakeError();
  EXPECT_TRUE(script->Done()) << script->Report();
}

}  // namespace
