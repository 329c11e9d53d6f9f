// Initialize with an IVI configuration store: sessions by logical name, the option string over
// the store, configurable initial settings, virtual names, and stores that are missing, damaged
// or lack the driver's software module.
#include <gtest/gtest.h>

#include <string>

#include "dcpwr/velmora_k40xx.h"
#include "tests/support/client.h"
#include "tests/support/script.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/config/example_store.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;
using test::ExampleStore;
using test::Replaced;
using test::TakeError;

class StoreSession : public ::testing::Test {
 protected:
  void SetUp() override {
    driver = VelmoraK40xx::Create();
    driver->QueryInterface(IID_IVelmoraK40xx, reinterpret_cast<void**>(root.put()));
    driver->Release();
    operation = test::As<IIviDriverOperation>(root.get(), IID_IIviDriverOperation);
  }
  void Store(const std::string& xml) { test::WriteFile(storePath, xml); }
  HRESULT Init(const std::string& resource, const std::string& options) {
    Bstr r(resource), o(options);
    return root->Initialize(r.get(), VARIANT_FALSE, VARIANT_FALSE, o.get());
  }
  std::string Text(HRESULT (IIviDriverOperation::*get)(BSTR*)) {
    Bstr b;
    EXPECT_EQ((operation.get()->*get)(b.put()), S_OK);
    return b.utf8();
  }
  bool Flag(HRESULT (IIviDriverOperation::*get)(VARIANT_BOOL*)) {
    VARIANT_BOOL v = 0;
    EXPECT_EQ((operation.get()->*get)(&v), S_OK);
    return v != 0;
  }
  std::string Model() {
    auto identity = test::As<IIviDriverIdentity>(root.get(), IID_IIviDriverIdentity);
    Bstr m;
    identity->get_InstrumentModel(m.put());
    return m.utf8();
  }
  // The instance a caller's name reaches, by its COM identity.
  IUnknown* Output(const std::string& name) {
    ComPtr<IVelmoraK40xxOutputs> outputs;
    root->get_Outputs(outputs.put());
    ComPtr<IVelmoraK40xxOutput> output;
    Bstr n(name);
    if (outputs->get_Item(n.get(), output.put()) != S_OK) return nullptr;
    ComPtr<IUnknown> identity;
    output->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put()));
    return identity.get();  // the session's instances outlive this reference
  }

  test::TempDir dir;
  std::string storePath = dir / "IviConfigurationStore.xml";
  test::ScopedEnv registry{"VMK40XX_REGISTRY", dir / "registry.reg"};
  test::ScopedEnv store{"IVICONFIGSERVERDEFAULT", storePath};
  VelmoraK40xx* driver = nullptr;  // owned by `root`
  ComPtr<IVelmoraK40xx> root;
  ComPtr<IIviDriverOperation> operation;
};

TEST_F(StoreSession, ALogicalNameOpensItsSessionWithTheStoresSettings) {
  Store(ExampleStore());
  ASSERT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
  EXPECT_TRUE(Flag(&IIviDriverOperation::get_Simulate));
  EXPECT_TRUE(Flag(&IIviDriverOperation::get_QueryInstrumentStatus));
  EXPECT_TRUE(Flag(&IIviDriverOperation::get_Cache));
  EXPECT_FALSE(Flag(&IIviDriverOperation::get_RecordCoercions));
  EXPECT_EQ(Text(&IIviDriverOperation::get_LogicalName), "MyPsu");
  EXPECT_EQ(Text(&IIviDriverOperation::get_IoResourceDescriptor),
            "TCPIP0::192.168.0.20::inst0::INSTR");
  EXPECT_EQ(Text(&IIviDriverOperation::get_DriverSetup), "Model=K4301A");
  EXPECT_EQ(Model(), "K4301A");
}

TEST_F(StoreSession, TheOptionStringOverridesTheStoresSimulate) {
  Store(Replaced(ExampleStore(), "TCPIP0::192.168.0.20::inst0::INSTR", "SCRIPT::bench::INSTR"));
  auto script = visa::Script::Install("bench");
  // QueryInstrStatus is on in the store: the status is cleared before the identification query,
  // which is followed by a status poll.
  script->Expect("*CLS\n").Expect("*IDN?\n").Reply("Velmora,K4201A,7,1.0\n").Expect("*ESR?\n").Reply("0\n");
  ASSERT_EQ(Init("PsuBench", "Simulate=false"), S_OK) << TakeError();
  EXPECT_FALSE(Flag(&IIviDriverOperation::get_Simulate));
  EXPECT_EQ(Model(), "K4201A");
  EXPECT_TRUE(script->Done()) << script->Report();
  root->Close();
  visa::Script::Uninstall("bench");
}

TEST_F(StoreSession, AStringModelSettingSetsTheSimulatedModelAndAnIntegerOneDoesNot) {
  const std::string noSetup =
      Replaced(ExampleStore(), "<DriverSetup>Model=K4301A</DriverSetup>", "<DriverSetup/>");
  Store(Replaced(noSetup, "<Value>K4301A</Value>", "<Value>K4201A</Value>"));
  ASSERT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
  EXPECT_EQ(Model(), "K4201A");
  root->Close();

  // A fresh driver: the model of an earlier session would otherwise be kept.
  SetUp();
  const size_t from = noSetup.find("<IviString id=\"s3\">");
  const size_t to = noSetup.find("</IviString>", from) + std::string("</IviString>").size();
  Store(std::string(noSetup).replace(
      from, to - from,
      "<IviInteger "
      "id=\"s3\"><Name>Model</Name><Type>Integer</Type><Value>4201</Value></IviInteger>"));
  ASSERT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
  EXPECT_EQ(Model(), "K4102A");
  VARIANT v;
  ASSERT_TRUE(driver->ConfigurableInitialSettings().Get("model", &v));
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 4201);
}

TEST_F(StoreSession, SettingsKeepTheirTypesAndABooleanIsASixteenBitInteger) {
  Store(Replaced(
      ExampleStore(),
      "</DataComponents>\n        </IviStructure>\n      </DataComponents>\n      "
      "<IviHardwareAsset",
      "<IviBoolean><Name> Output Beep </Name><Type>boolean</Type><Value>1</Value></IviBoolean>"
      "<IviBoolean><Name>Quiet</Name><Type>Boolean</Type><Value>0</Value></IviBoolean>"
      "<IviInteger><Name>Retries</Name><Type>Integer</Type><Value>3</Value></IviInteger>"
      "<IviReal><Name>Delay</Name><Type>REAL</Type><Value>0.25</Value></IviReal>"
      "<IviAPIReference><Name>Meter</Name><Type>APIReference</Type><Value>Dmm</Value>"
      "</IviAPIReference>"
      "</DataComponents>\n        </IviStructure>\n      </DataComponents>\n      "
      "<IviHardwareAsset"));
  ASSERT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
  const InitialSettings& settings = driver->ConfigurableInitialSettings();
  VARIANT v;
  ASSERT_TRUE(settings.Get("output beep", &v));
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, -1);
  ASSERT_TRUE(settings.Get("quiet", &v));
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, 0);
  ASSERT_TRUE(settings.Get("retries", &v));
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 3);
  ASSERT_TRUE(settings.Get("delay", &v));
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, 0.25);
  EXPECT_EQ(settings.Text("model"), "K4301A");
  EXPECT_FALSE(settings.Get("meter", &v));
  EXPECT_EQ(settings.Count(), 5u);
}

TEST_F(StoreSession, VirtualNamesReachTheirOutputs) {
  Store(ExampleStore());
  ASSERT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
  ASSERT_TRUE(Output("Output1"));
  EXPECT_EQ(Output("Main"), Output("Output1"));
  EXPECT_EQ(Output("Ch0"), Output("Output2"));
  EXPECT_EQ(Output(" ch1 "), Output("Output3"));
  EXPECT_EQ(Output("MAIN"), Output("Output1"));
  // Physical names still reach their own outputs.
  EXPECT_NE(Output("Output2"), Output("Output3"));

  ComPtr<IVelmoraK40xxOutputs> outputs;
  root->get_Outputs(outputs.put());
  ComPtr<IVelmoraK40xxOutput> output;
  for (const char* unknown : {"Ch2", "Ch", "Main1"}) {
    Bstr n(unknown);
    EXPECT_EQ(outputs->get_Item(n.get(), output.put()), HRESULT(0x80047067u)) << unknown;
    EXPECT_EQ(TakeError(), "VelmoraK40xx: Unknown physical repeated capability selector.");
  }
}

TEST_F(StoreSession, ARangeMapsEveryIndexAndAnAbsurdOneIsRefused) {
  std::string ranges =
      Replaced(ExampleStore(), "<Max>1</Max><Min>0</Min>", "<Max>13</Max><Min>11</Min>");
  Store(Replaced(ranges, "<StartingPhysicalIndex>2</StartingPhysicalIndex>",
                 "<StartingPhysicalIndex>1</StartingPhysicalIndex>"));
  ASSERT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
  EXPECT_EQ(Output("Ch11"), Output("Output1"));
  EXPECT_EQ(Output("Ch12"), Output("Output2"));
  EXPECT_EQ(Output("Ch13"), Output("Output3"));
  EXPECT_EQ(Output("Ch10"), nullptr);
  root->Close();

  Store(Replaced(ExampleStore(), "<Max>1</Max><Min>0</Min>",
                 "<Max>2147483647</Max><Min>-2147483648</Min>"));
  EXPECT_EQ(Init("MyPsu", ""), HRESULT(0x80047010u));
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Invalid value (Ch -2147483648-2147483647) for method "
            "LoadDriverConfiguration, parameter VirtualRange.");
}

TEST_F(StoreSession, AStoreWithoutTheSoftwareModuleRefusesAResourceDescriptor) {
  std::string xml = ExampleStore();
  const size_t from = xml.find("<IviSoftwareModule id=\"m1\">");
  const size_t to = xml.find("</SoftwareModules>");
  xml.replace(from, to - from, "");
  xml = Replaced(xml, "<IviSoftwareModuleRef idref=\"m1\"/>", "");
  Store(xml);
  EXPECT_EQ(Init("GPIB0::5::INSTR", "Simulate=true"), HRESULT(0x80047000u));
  EXPECT_EQ(TakeError(),
            "VelmoraK40xx: Failure cannot recover.\r\n"
            "Software module could not be loaded from the IVI Configuration Store.");
  VARIANT_BOOL initialized = VARIANT_TRUE;
  root->get_Initialized(&initialized);
  EXPECT_EQ(initialized, VARIANT_FALSE);
  // The session of the store still opens by its logical name.
  EXPECT_EQ(Init("MyPsu", ""), S_OK) << TakeError();
}

TEST_F(StoreSession, WithTheSoftwareModuleAResourceDescriptorTakesItsSettings) {
  Store(ExampleStore());
  ASSERT_EQ(Init("GPIB0::5::INSTR", "Simulate=true"), S_OK) << TakeError();
  EXPECT_EQ(Text(&IIviDriverOperation::get_LogicalName), "");
  EXPECT_EQ(Text(&IIviDriverOperation::get_IoResourceDescriptor), "GPIB0::5::INSTR");
  EXPECT_EQ(Model(), "K4102A");  // the module's Model setting
  EXPECT_EQ(driver->ConfigurableInitialSettings().Text("model"), "K4102A");
}

TEST_F(StoreSession, NoStoreOrADamagedOneOpensByResourceDescriptor) {
  ASSERT_EQ(Init("GPIB0::5::INSTR", "Simulate=true"), S_OK) << TakeError();
  root->Close();

  const std::string cut = ExampleStore().substr(0, 700);
  for (const std::string& damaged : {cut, std::string("\x01\x02 not xml"), std::string()}) {
    Store(damaged);
    EXPECT_EQ(Init("MyPsu", "Simulate=true"), S_OK) << TakeError();
    EXPECT_EQ(Text(&IIviDriverOperation::get_LogicalName), "");
    EXPECT_EQ(Text(&IIviDriverOperation::get_IoResourceDescriptor), "MyPsu");
    root->Close();
    EXPECT_EQ(test::ReadFile(storePath), damaged);
  }
}

}  // namespace
}  // namespace vmk
