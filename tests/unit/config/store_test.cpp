// Reading and writing the configuration store's XML form, and where the store is found.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/com/registry.h"
#include "platform/config/store.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/config/example_store.h"

namespace vmk::config {
namespace {

using test::ExampleStore;
using test::Replaced;
using ::testing::HasSubstr;
using ::testing::Not;

ConfigStore Parse(const std::string& xml) {
  std::string error;
  std::optional<ConfigStore> s = ParseStore(xml, &error);
  EXPECT_TRUE(s) << error;
  return s.value_or(ConfigStore{});
}

std::string ParseError(const std::string& xml) {
  std::string error;
  EXPECT_FALSE(ParseStore(xml, &error));
  return error;
}

TEST(StoreReader, ReadsTheExampleStore) {
  ConfigStore s = Parse(ExampleStore());
  EXPECT_EQ(s.masterLocation, "/var/lib/ivi/IviConfigurationStore.xml");
  ASSERT_EQ(s.publishedApis.size(), 2u);
  EXPECT_EQ(s.publishedApis[1].key, (PublishedApiRef{"IviDCPwr", "IVI-COM", 3, 0}));

  const SoftwareModule* m = s.FindSoftwareModule("VmK40xx");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->progId, "VelmoraK40xx.VelmoraK40xx");
  EXPECT_EQ(m->publishedApis.size(), 2u);
  ASSERT_EQ(m->physicalNames.size(), 1u);
  EXPECT_EQ(m->physicalNames[0].rcName, "OutputChannel");
  EXPECT_EQ(m->physicalNames[0].ranges[0].max, 3);
  const DataComponent* cis = FindComponent(m->components, "Configurable Initial Settings");
  ASSERT_TRUE(cis);
  EXPECT_EQ(cis->kind, DataKind::Structure);
  ASSERT_EQ(cis->components.size(), 2u);
  EXPECT_EQ(std::get<std::string>(cis->components[0].value), "K4102A");
  EXPECT_EQ(cis->components[1].type, "Real");
  EXPECT_EQ(cis->components[1].units, "V");
  EXPECT_EQ(std::get<double>(cis->components[1].value), 0.0);

  // By logical name and by the session's own name.
  const DriverSession* d = s.FindDriverSession("MyPsu");
  ASSERT_TRUE(d);
  EXPECT_EQ(d, s.FindDriverSession("PsuBench"));
  EXPECT_EQ(s.FindDriverSession("mypsu"), nullptr);
  EXPECT_EQ(d->hardwareAsset, "Bench supply");
  EXPECT_EQ(s.FindHardwareAsset(d->hardwareAsset)->ioResourceDescriptor,
            "TCPIP0::192.168.0.20::inst0::INSTR");
  EXPECT_EQ(d->softwareModule, "VmK40xx");
  EXPECT_EQ(d->driverSetup, "Model=K4301A");
  EXPECT_TRUE(d->cache);
  EXPECT_FALSE(d->interchangeCheck);
  EXPECT_TRUE(d->queryInstrumentStatus);
  EXPECT_TRUE(d->rangeCheck);
  EXPECT_FALSE(d->recordCoercions);
  EXPECT_TRUE(d->simulate);
  ASSERT_EQ(d->virtualNames.size(), 2u);
  EXPECT_EQ(d->virtualNames[0].mapTo, "Output1");
  const VirtualRange& r = d->virtualNames[1].ranges.at(0);
  EXPECT_EQ(r.min, 0);
  EXPECT_EQ(r.max, 1);
  EXPECT_EQ(r.startingPhysicalIndex, 2);
}

TEST(StoreReader, TakesChildrenInAnyOrderAndKeepsUnknownElements) {
  std::string xml = ExampleStore();
  xml =
      Replaced(xml, "<Cache>1</Cache><DriverSetup>Model=K4301A</DriverSetup>",
               "<Future kind=\"x\"><Deep>1</Deep></Future><DriverSetup>Model=K4301A</DriverSetup>");
  xml = Replaced(xml, "<Name>PsuBench</Name>",
                 "<Simulate>0</Simulate><Cache>0</Cache><Name>PsuBench</Name>");
  xml = Replaced(xml, "<Simulate>1</Simulate>", "");
  xml = Replaced(
      xml, "<ModulePath>libvmk40xx.so</ModulePath>",
      "<ModulePath64>lib64/libvmk40xx.so</ModulePath64><ModulePath>libvmk40xx.so</ModulePath>");
  ConfigStore s = Parse(xml);
  const DriverSession* d = s.FindDriverSession("PsuBench");
  ASSERT_TRUE(d);
  EXPECT_FALSE(d->simulate);
  EXPECT_FALSE(d->cache);
  ASSERT_EQ(d->extras.size(), 1u);
  EXPECT_EQ(d->extras[0], "<Future kind=\"x\"><Deep>1</Deep></Future>");
  EXPECT_EQ(s.softwareModules[0].modulePath64, "lib64/libvmk40xx.so");

  // Written back, nothing is lost, and the unknown element is still inside its session.
  std::string written = FormatStore(s);
  ConfigStore again = Parse(written);
  EXPECT_EQ(again.driverSessions[0].extras, d->extras);
  EXPECT_EQ(again.softwareModules[0].modulePath64, "lib64/libvmk40xx.so");
  EXPECT_EQ(FormatStore(again), written);
}

TEST(StoreWriter, WritesTheSampleOrderAndReadsBackTheSameStore) {
  ConfigStore s = Parse(ExampleStore());
  std::string written = FormatStore(s);
  // The ids read are kept, so references from elements kept as they were still hold.
  EXPECT_THAT(written, HasSubstr("<IviDriverSession id=\"s1\">"));
  EXPECT_THAT(written,
              HasSubstr("<Sessions>\n    <IviDriverSession idref=\"s1\" />\n  </Sessions>"));
  EXPECT_THAT(written, HasSubstr("<IviString id=\"s3\">\n              <Name>Model</Name>"));
  EXPECT_THAT(written,
              HasSubstr("<Cache>1</Cache>\n      <DriverSetup>Model=K4301A</DriverSetup>\n      "
                        "<InterchangeCheck>0</InterchangeCheck>"));
  ConfigStore again = Parse(written);
  EXPECT_EQ(FormatStore(again), written);
  EXPECT_EQ(again.FindDriverSession("MyPsu")->virtualNames[1].ranges[0].startingPhysicalIndex, 2);
}

TEST(StoreWriter, ASessionWithoutASoftwareModuleIsNotGivenANamelessOne) {
  ConfigStore s = Parse(ExampleStore());
  s.softwareModules.front().name.clear();
  s.driverSessions.front().softwareModule.clear();
  const std::string written = FormatStore(s);
  EXPECT_THAT(written, Not(HasSubstr("IviSoftwareModuleRef")));
  EXPECT_EQ(FormatStore(Parse(written)), written);
}

TEST(StoreWriter, KeepsAnUnknownElementOfAComponentListInThatList) {
  // Were it written beside the list, it would be read back as the structure's own usage.
  const std::string xml =
      Replaced(ExampleStore(), "<IviString id=\"m3\">",
               "<UsedInSession>None</UsedInSession><IviFutureKind/><IviString id=\"m3\">");
  const std::string written = FormatStore(Parse(xml));
  EXPECT_THAT(written, HasSubstr("<DataComponents>\n            <IviString id=\"m3\">"));
  EXPECT_THAT(written, HasSubstr("</IviReal>\n            <UsedInSession>None</UsedInSession>\n"
                                 "            <IviFutureKind />"));
  ConfigStore again = Parse(written);
  EXPECT_EQ(FormatStore(again), written);
  EXPECT_EQ(again.softwareModules.front().components.front().usedInSession, "Required");
  // The same for the Sessions list, and the store's own location.
  const std::string sessions =
      FormatStore(Parse(Replaced(ExampleStore(), "<Sessions>", "<Sessions><ActualLocation/>")));
  EXPECT_THAT(sessions, HasSubstr("<IviDriverSession idref=\"s1\" />\n    <ActualLocation />\n"
                                  "  </Sessions>"));
  EXPECT_EQ(FormatStore(Parse(sessions)), sessions);
}

TEST(StoreWriter, GivesNewObjectsIdsNoOtherElementHas) {
  ConfigStore s;
  s.extras.push_back("<Note id=\"p1\"/>");
  HardwareAsset h;
  h.name = "Supply & <load>";
  h.ioResourceDescriptor = "TCPIP::10.0.0.1::5025::SOCKET";
  s.hardwareAssets.push_back(h);
  DriverSession d;
  d.name = "Bench";
  d.hardwareAsset = h.name;
  d.simulate = true;
  DataComponent real;
  real.kind = DataKind::Real;
  real.type = "Real";
  real.name = "Delay";
  real.value = 0.1;
  d.components.push_back(real);
  s.driverSessions.push_back(d);
  s.logicalNames.push_back({"", "Lab", "", "Bench", true, {}});

  std::string written = FormatStore(s);
  EXPECT_THAT(written, HasSubstr("<IviHardwareAsset id=\"p2\">"));
  EXPECT_THAT(written, HasSubstr("<Name>Supply &amp; &lt;load&gt;</Name>"));
  EXPECT_THAT(written, HasSubstr("<Value>0.1</Value>"));
  ConfigStore back = Parse(written);
  const DriverSession* found = back.FindDriverSession("Lab");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->hardwareAsset, "Supply & <load>");
  EXPECT_TRUE(found->simulate);
  EXPECT_EQ(std::get<double>(found->components.at(0).value), 0.1);
}

TEST(StoreReader, RefusesWhatItWouldHaveToGuess) {
  const std::string xml = ExampleStore();
  // Cut short, as a copy interrupted half way leaves it.
  EXPECT_EQ(ParseError(xml.substr(0, xml.size() / 2)).rfind("not XML: ", 0), 0u);
  EXPECT_EQ(ParseError("[HKEY_CLASSES_ROOT\\CLSID]\n@=\"x\"\n").rfind("not XML: ", 0), 0u);
  EXPECT_EQ(ParseError(""), "not XML: No document element found at offset 0");
  EXPECT_EQ(ParseError("<TraceRecords/>"),
            "not an IVI configuration store: the root element is <TraceRecords>, not "
            "<IviConfigStore>");
  EXPECT_EQ(ParseError(Replaced(xml, "<Simulate>1</Simulate>", "<Simulate>yes</Simulate>")),
            "IviDriverSession \"PsuBench\": Simulate: \"yes\" is not a boolean (0 or 1)");
  EXPECT_EQ(ParseError(Replaced(xml, "<Min>0</Min>", "<Min>0x</Min>")),
            "IviVirtualRange \"Ch 0-1\": Min: \"0x\" is not a 32-bit integer");
  EXPECT_EQ(ParseError(Replaced(xml, "<Max>1</Max>", "<Max>4294967296</Max>")),
            "IviVirtualRange \"Ch 0-1\": Max: \"4294967296\" is not a 32-bit integer");
  EXPECT_EQ(ParseError(Replaced(xml, "<IviHardwareAsset idref=\"h1\"/>",
                                "<IviHardwareAsset idref=\"h9\"/>")),
            "IviDriverSession \"PsuBench\": IviHardwareAsset refers to id \"h9\", which no "
            "element has");
  // A reference to an object of another kind, here the hardware asset as the software module.
  EXPECT_EQ(ParseError(Replaced(xml, "<IviSoftwareModuleRef idref=\"m1\"/>",
                                "<IviSoftwareModuleRef idref=\"h1\"/>")),
            "IviDriverSession \"PsuBench\": IviSoftwareModuleRef refers to id \"h1\", which is an "
            "IviHardwareAsset, not an IviSoftwareModule");
  EXPECT_EQ(ParseError(Replaced(xml, "id=\"s6\"", "id=\"s5\"")), "two elements have the id \"s5\"");
  std::string deep = "<IviConfigStore><SoftwareModules><IviSoftwareModule><DataComponents>";
  for (int i = 0; i < 40; ++i) deep += "<IviStructure><DataComponents>";
  EXPECT_EQ(ParseError(deep).rfind("not XML: Start-end tags mismatch", 0), 0u);
  for (int i = 0; i < 40; ++i) deep += "</DataComponents></IviStructure>";
  deep += "</DataComponents></IviSoftwareModule></SoftwareModules></IviConfigStore>";
  EXPECT_EQ(ParseError(deep), "elements are nested too deeply");
}

TEST(StoreReader, KeepsEveryDataComponentTypeWithItsValue) {
  ConfigStore s = Parse(
      Replaced(ExampleStore(), "<DataComponents/>",
               "<DataComponents>"
               "<IviBoolean><Name>Beep</Name><Type>Boolean</Type><Value>true</Value></IviBoolean>"
               "<IviInteger><Name>Count</Name><Type>Integer</Type><Units>n</Units><Value>-7</"
               "Value></IviInteger>"
               "<IviAPIReference><Name>Dmm</Name><Type>APIReference</Type><Value>MyDmm</Value>"
               "<IviPublishedAPI idref=\"a2\"/></IviAPIReference>"
               "<IviFuture><Name>Later</Name></IviFuture>"
               "</DataComponents>"));
  const HardwareAsset& h = s.hardwareAssets.at(0);
  ASSERT_EQ(h.components.size(), 3u);
  EXPECT_EQ(std::get<bool>(h.components[0].value), true);
  EXPECT_EQ(std::get<int32_t>(h.components[1].value), -7);
  EXPECT_EQ(std::get<std::string>(h.components[2].value), "MyDmm");
  EXPECT_EQ(h.components[2].publishedApi, (PublishedApiRef{"IviDCPwr", "IVI-COM", 3, 0}));
  EXPECT_EQ(h.componentExtras, (Extras{"<IviFuture><Name>Later</Name></IviFuture>"}));
  ConfigStore back = Parse(FormatStore(s));
  EXPECT_EQ(back.hardwareAssets.at(0).components[2].publishedApi, h.components[2].publishedApi);
  EXPECT_EQ(back.hardwareAssets.at(0).componentExtras, h.componentExtras);
}

class StoreFiles : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::ScopedEnv registry{"VMK40XX_REGISTRY", dir / "registry.reg"};
};

TEST_F(StoreFiles, TheProcessDefaultThenTheMasterLocationThenTheSystemLocation) {
  {
    test::ScopedEnv unset("IVICONFIGSERVERDEFAULT", std::nullopt);
    EXPECT_EQ(StoreLocation(), "/var/lib/ivi/IviConfigurationStore.xml");
    test::WriteFile(dir / "registry.reg",
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI\\CONFIGURATIONSERVER]\n"
                    "\"MasterStore\"=\"/srv/ivi/master.xml\"\n");
    EXPECT_EQ(StoreLocation(), "/srv/ivi/master.xml");
  }
  test::ScopedEnv process("IVICONFIGSERVERDEFAULT", dir / "mine.xml");
  EXPECT_EQ(StoreLocation(), dir / "mine.xml");
}

TEST_F(StoreFiles, SavesAtomicallyAndTellsMissingFromDamaged) {
  std::string error;
  bool missing = false;
  EXPECT_FALSE(LoadStore(dir / "none.xml", &error, &missing));
  EXPECT_TRUE(missing);

  ConfigStore s = Parse(ExampleStore());
  ASSERT_TRUE(SaveStore(s, dir / "ivi/new/store.xml", &error)) << error;
  EXPECT_EQ(test::Listing(dir / "ivi/new"), (std::vector<std::string>{"store.xml"}));
  std::optional<ConfigStore> loaded = LoadStore(dir / "ivi/new/store.xml", &error, &missing);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->actualLocation, dir / "ivi/new/store.xml");

  test::WriteFile(dir / "cut.xml", ExampleStore().substr(0, 100));
  EXPECT_FALSE(LoadStore(dir / "cut.xml", &error, &missing));
  EXPECT_FALSE(missing);
  EXPECT_EQ(error.rfind("the configuration store " + (dir / "cut.xml") + " is damaged: not XML", 0),
            0u)
      << error;

  // A directory where the store should be: unreadable, and a save there fails and leaves it.
  std::filesystem::create_directory(dir / "store-dir.xml");
  EXPECT_FALSE(LoadStore(dir / "store-dir.xml", &error, &missing));
  EXPECT_EQ(error, "the configuration store cannot read " + (dir / "store-dir.xml") +
                       ": not a regular file");
  EXPECT_FALSE(SaveStore(s, dir / "store-dir.xml", &error));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "store-dir.xml"));
  EXPECT_EQ(test::Listing(dir.path()),
            (std::vector<std::string>{"cut.xml", "ivi", "store-dir.xml"}));
}

}  // namespace
}  // namespace vmk::config
