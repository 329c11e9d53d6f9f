// The call trace of whole sessions: the driver's members, with the instrument operations they
// make nested inside their records, written to real files in a temporary directory, on the
// emulator and in simulation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/com_ptr.h"
#include "services/tracer.h"
#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "tests/support/temp_dir.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

namespace fs = std::filesystem;
using test::Bstr;
using test::TakeError;

// 2024-05-01 10:00:00 UTC.
constexpr int64_t kStart = 1714557600000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every record of the trace, one line each, indented two blanks per level of nesting:
//   "IVelmoraK40xxOutput.put_VoltageLevel(In val=5.5) 0x00000000"
// with the parameters in the order the file has them.
void Flatten(pugi::xml_node parent, int depth, std::vector<std::string>* lines) {
  for (pugi::xml_node m : parent.children("Method")) {
    std::string line(2 * depth, ' ');
    line += std::string(m.attribute("Interface").value()) + "." + m.attribute("Name").value() + "(";
    bool first = true;
    for (pugi::xml_node p : m.children("Parameter")) {
      if (!first) line += ", ";
      first = false;
      line += std::string(p.attribute("Direction").value()) + " " + p.attribute("Name").value() +
              "=" + p.attribute("Value").value();
    }
    line += ") ";
    line += m.attribute("Result").value();
    lines->push_back(line);
    Flatten(m, depth + 1, lines);
  }
}

std::vector<std::string> Records(const std::string& path) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(path.c_str());
  EXPECT_TRUE(parsed) << path << ": " << parsed.description();
  std::vector<std::string> lines;
  Flatten(doc.child("TraceRecords"), 0, &lines);
  return lines;
}

class DriverTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC0", 1);
    tzset();
    object = VelmoraK40xx::Create();
    object->QueryInterface(IID_IVelmoraK40xx, reinterpret_cast<void**>(driver.put()));
    // Bare trace names land in the test's directory; the style sheet is the build tree's.
    TraceEnvironment env = DefaultTraceEnvironment();
    env.directory = dir.path();
    env.now = [this] {
      const int64_t t = now;
      now += step;
      return t;
    };
    object->Tracer().SetEnvironment(env);
  }
  void TearDown() override {
    output.reset();
    outputs.reset();
    system.reset();
    if (driver) driver->Close();
    driver.reset();
    object->Release();
  }

  HRESULT Initialize(const std::string& resource, const std::string& options) {
    return driver->Initialize(Bstr(resource), VARIANT_FALSE, VARIANT_FALSE, Bstr(options));
  }
  void OpenMembers() {
    ASSERT_EQ(driver->get_Outputs(outputs.put()), S_OK);
    ASSERT_EQ(outputs->get_Item(Bstr("Output1"), output.put()), S_OK) << TakeError();
    ASSERT_EQ(driver->get_System(system.put()), S_OK);
  }
  bool TraceEnabled() {
    VARIANT_BOOL on = VARIANT_FALSE;
    EXPECT_EQ(system->get_TraceEnabled(&on), S_OK);
    return on != VARIANT_FALSE;
  }

  test::TempDir dir;
  int64_t now = kStart;
  int64_t step = 0;  // how far the clock moves each time the tracer reads it
  VelmoraK40xx* object = nullptr;
  com::ComPtr<IVelmoraK40xx> driver;
  com::ComPtr<IVelmoraK40xxOutputs> outputs;
  com::ComPtr<IVelmoraK40xxOutput> output;
  com::ComPtr<IVelmoraK40xxSystem> system;
};

TEST_F(DriverTrace, TraceTrueAloneMakesAFileInTheCurrentDirectoryWithTheStyleSheetInstruction) {
  // As a client has it: the driver's own clock, and the process's current directory.
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  com::ComPtr<IVelmoraK40xx> client = test::NewDriver();
  const time_t started = time(nullptr);
  ASSERT_EQ(client->Initialize(Bstr("SCRIPT::none::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                               Bstr("Simulate=true, DriverSetup=Model=K4201A, Trace=true")),
            S_OK)
      << TakeError();
  const time_t ended = time(nullptr);
  fs::current_path(before);

  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir.path())) files.push_back(e.path().filename());
  ASSERT_EQ(files.size(), 1u);
  const std::regex pattern(R"(VelmoraK40xx_(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)\.xml)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(files[0], m, pattern)) << files[0];
  std::vector<std::string> stamps;
  for (time_t t = started; t <= ended; ++t) {
    char text[32];
    struct tm local {};
    localtime_r(&t, &local);
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local);
    stamps.push_back(text);
  }
  EXPECT_NE(std::find(stamps.begin(), stamps.end(), m[1].str()), stamps.end()) << m[1];

  const std::string sheet = VMK40XX_BUILD_IVI_ROOT "/Components/Velmora Technologies/trace.xslt";
  ASSERT_TRUE(fs::is_regular_file(sheet));
  const std::string url = std::regex_replace(sheet, std::regex(" "), "%20");
  EXPECT_EQ(ReadFile(dir / files[0]),
            "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"file://" + url +
                "\"?>\n<TraceRecords />\n");
  EXPECT_EQ(client->Close(), S_OK);
}

TEST_F(DriverTrace, TheStyleSheetIsLookedUpUnderTheIviRootTheRegistryNames) {
  const std::string root = dir / "ivi";
  test::WriteFile(dir / "registry.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\IVI]\n"
                                        "\"IviStandardRootDir\"=\"" + root + "\"\n");
  test::ScopedEnv registry("VMK40XX_REGISTRY", dir / "registry.reg");
  const std::string options = "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=";

  // The root names no style sheet: the trace names none, rather than one from elsewhere.
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR", options + "without"), S_OK) << TakeError();
  ASSERT_EQ(driver->Close(), S_OK);
  EXPECT_EQ(ReadFile(dir / "without.xml").find("xml-stylesheet"), std::string::npos);

  fs::create_directories(root + "/Components/Velmora Technologies");
  test::WriteFile(root + "/Components/Velmora Technologies/trace.xslt", "<xsl:stylesheet/>");
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR", options + "with"), S_OK) << TakeError();
  ASSERT_EQ(driver->Close(), S_OK);
  EXPECT_NE(ReadFile(dir / "with.xml")
                .find("<?xml-stylesheet type=\"text/xsl\" href=\"file://" + root +
                      "/Components/Velmora%20Technologies/trace.xslt\"?>"),
            std::string::npos)
      << ReadFile(dir / "with.xml");
}

TEST_F(DriverTrace, OnTheEmulatorEveryCallHoldsTheInstrumentOperationsItMade) {
  test::Emulator emulator({"--model", "K4102A"});
  ASSERT_FALSE(emulator.Resource().empty());
  ASSERT_EQ(Initialize(emulator.Resource(), "DriverSetup=Trace=true, TraceName=bench"), S_OK)
      << TakeError();
  OpenMembers();
  ASSERT_EQ(output->put_VoltageLevel(5.5), S_OK) << TakeError();
  double level = 0, measured = -1;
  ASSERT_EQ(output->get_VoltageLevel(&level), S_OK);
  ASSERT_EQ(outputs->put_Enabled(VARIANT_TRUE), S_OK);
  ASSERT_EQ(output->Measure(VelmoraK40xxMeasurementVoltage, &measured), S_OK) << TakeError();
  com::Bstr name;
  EXPECT_EQ(system->get_MemoryName(1, name.put()), E_VELMORAK40XX_MODEL_NOT_SUPPORTED);
  LONG code = -1;
  com::Bstr message;
  auto utility = test::As<IIviDriverUtility>(driver.get(), IID_IIviDriverUtility);
  ASSERT_EQ(utility->SelfTest(&code, message.put()), S_OK) << TakeError();
  utility.reset();
  output.reset();
  outputs.reset();
  system.reset();
  ASSERT_EQ(driver->Close(), S_OK);

  // Initialize is not recorded (the trace starts inside it), its identification query is;
  // Close is, with its end.
  EXPECT_EQ(Records(dir / "bench.xml"),
            (std::vector<std::string>{
                "CDriverIOManager.InstrPrintf(In strCommand=*IDN?, In cchDesired=1024, "
                "In lTimeout=-2, Out bstrResult=Velmora,K4102A,0,1.2-5.0-1.0) 0x00000000",
                "IVelmoraK40xx.get_Outputs(Out val=<interface>) 0x00000000",
                "IVelmoraK40xxOutputs.get_Item(In Name=Output1, Out val=<interface>) 0x00000000",
                "IVelmoraK40xx.get_System(Out val=<interface>) 0x00000000",
                "IVelmoraK40xxOutput.put_VoltageLevel(In val=5.5) 0x00000000",
                "  CDriverIOManager.InstrPrintCommand(In strCommand=VOLT 5.5) 0x00000000",
                "IVelmoraK40xxOutput.get_VoltageLevel(Out val=5.5) 0x00000000",
                "  CDriverIOManager.InstrQueryCommand(In strCommand=VOLT?, In lTimeout=-2, "
                "Out pdResult=5.5) 0x00000000",
                "IVelmoraK40xxOutputs.put_Enabled(In val=true) 0x00000000",
                "  CDriverIOManager.InstrPrintCommand(In strCommand=OUTP 1) 0x00000000",
                "IVelmoraK40xxOutput.Measure(In MeasurementType=1, Out val=5.5) 0x00000000",
                "  CDriverIOManager.InstrQueryCommand(In strCommand=MEAS:VOLT?, In lTimeout=-2, "
                "Out pdResult=5.5) 0x00000000",
                "IVelmoraK40xxSystem.get_MemoryName(In Index=1, Out val=) 0x80044216",
                // An InOut parameter as it went in and as it came back.
                "IIviDriverUtility.SelfTest(InOut TestResult=-1, InOut TestMessage=, "
                "InOut TestResult=0, InOut TestMessage=Selftest passed) 0x00000000",
                "  CDriverIOManager.InstrQuery(In strCommand=*TST?, In lTimeout=30000, "
                "Out plResult=0) 0x00000000",
                "IIviDriver.Close() 0x00000000",
            }));

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((dir / "bench.xml").c_str()));
  pugi::xml_node selfTest = doc.select_node("//Method[@Name='SelfTest']").node();
  std::vector<std::string> children;
  for (pugi::xml_node c : selfTest.children())
    children.push_back(std::string(c.name()) + " " + c.attribute("Name").value());
  EXPECT_EQ(children, (std::vector<std::string>{"Parameter TestResult", "Parameter TestMessage",
                                                "Method InstrQuery", "Parameter TestResult",
                                                "Parameter TestMessage"}));
  // Every record has its times and the thread that made it.
  for (const pugi::xpath_node& n : doc.select_nodes("//Method")) {
    pugi::xml_node m = n.node();
    EXPECT_TRUE(std::regex_match(m.attribute("StartTime").value(), std::regex(R"(\d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(m.attribute("EndTime").value(), std::regex(R"(\d\d:\d\d:\d\d)")));
    EXPECT_STREQ(m.attribute("Thread").value(), std::to_string(gettid()).c_str());
  }
}

TEST_F(DriverTrace, ACallOf75SecondsShowsFifteenInItsSecondsFieldAndTheWholeTimeBeside) {
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR",
                       "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=slow"),
            S_OK)
      << TakeError();
  OpenMembers();
  step = 75000;  // the call's start and its end are the clock's two readings
  ASSERT_EQ(output->put_VoltageLevel(2.5), S_OK);
  step = 0;
  ASSERT_EQ(driver->Close(), S_OK);

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((dir / "slow.xml").c_str()));
  pugi::xml_node m = doc.select_node("//Method[@Name='put_VoltageLevel']").node();
  EXPECT_STREQ(m.attribute("StartTime").value(), "10:00:00");
  EXPECT_STREQ(m.attribute("EndTime").value(), "10:01:15");
  EXPECT_STREQ(m.attribute("ExecutionTime").value(), "15");
  EXPECT_STREQ(m.attribute("ExecutionMilliseconds").value(), "75000");
}

TEST_F(DriverTrace, CallsBetweenSavesLeaveTheFileAsItWasAndCloseWritesThemAll) {
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR",
                       "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=quiet"),
            S_OK);
  OpenMembers();
  const std::string empty = ReadFile(dir / "quiet.xml");
  for (int i = 0; i < 50; ++i) ASSERT_EQ(output->put_VoltageLevel(i * 0.1), S_OK);
  EXPECT_EQ(ReadFile(dir / "quiet.xml"), empty);
  now += 59999;  // not yet a minute since the start
  ASSERT_EQ(output->put_VoltageLevel(1), S_OK);
  EXPECT_EQ(ReadFile(dir / "quiet.xml"), empty);
  now += 1;  // a minute: the next call's end writes the file
  ASSERT_EQ(output->put_VoltageLevel(2), S_OK);
  EXPECT_EQ(Records(dir / "quiet.xml").size(), 3u + 52u);
  ASSERT_EQ(output->put_VoltageLevel(3), S_OK);
  EXPECT_EQ(Records(dir / "quiet.xml").size(), 3u + 52u);
  ASSERT_EQ(driver->Close(), S_OK);
  EXPECT_EQ(Records(dir / "quiet.xml").size(), 3u + 53u + 1u);
}

TEST_F(DriverTrace, BeyondTheSizeLimitNothingIsAddedAndTraceEnabledReadsFalse) {
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR",
                       "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=small, "
                       "TraceSizeMax=4000"),
            S_OK);
  OpenMembers();
  int calls = 0;
  while (TraceEnabled() && calls < 200) {
    ASSERT_EQ(output->put_VoltageLevel(1.25), S_OK);
    ++calls;
  }
  ASSERT_LT(calls, 200) << "the trace never stopped";
  const std::string atStop = ReadFile(dir / "small.xml");
  EXPECT_GT(atStop.size(), 4000u);
  EXPECT_LT(atStop.size(), 4600u);  // found within a record or two of crossing it

  // Calls go on untraced; the switch cannot bring the trace back in this session.
  ASSERT_EQ(output->put_VoltageLevel(2.5), S_OK);
  EXPECT_EQ(system->put_TraceEnabled(VARIANT_TRUE), S_OK);
  EXPECT_FALSE(TraceEnabled());
  now += 120000;
  ASSERT_EQ(output->put_VoltageLevel(3.5), S_OK);
  ASSERT_EQ(driver->Close(), S_OK);
  EXPECT_EQ(ReadFile(dir / "small.xml"), atStop);
}

TEST_F(DriverTrace, TraceEnabledPausesAndResumesTheTraceInSimulationToo) {
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR",
                       "Simulate=true, DriverSetup=Model=K4201A, TraceName=switched"),
            S_OK);
  OpenMembers();
  EXPECT_FALSE(TraceEnabled());
  EXPECT_FALSE(fs::exists(dir / "switched.xml"));
  ASSERT_EQ(system->put_TraceEnabled(VARIANT_TRUE), S_OK) << TakeError();
  EXPECT_TRUE(fs::exists(dir / "switched.xml"));
  EXPECT_TRUE(TraceEnabled());
  ASSERT_EQ(output->put_VoltageLevel(1), S_OK);
  ASSERT_EQ(system->put_TraceEnabled(VARIANT_FALSE), S_OK);
  ASSERT_EQ(output->put_VoltageLevel(2), S_OK);
  EXPECT_FALSE(TraceEnabled());
  ASSERT_EQ(system->put_TraceEnabled(VARIANT_TRUE), S_OK);
  ASSERT_EQ(output->put_VoltageLevel(3), S_OK);
  ASSERT_EQ(driver->Close(), S_OK);

  // A switch is recorded when the trace runs as the call enters.
  EXPECT_EQ(Records(dir / "switched.xml"),
            (std::vector<std::string>{
                "IVelmoraK40xxSystem.get_TraceEnabled(Out val=true) 0x00000000",
                "IVelmoraK40xxOutput.put_VoltageLevel(In val=1) 0x00000000",
                "IVelmoraK40xxSystem.put_TraceEnabled(In val=false) 0x00000000",
                "IVelmoraK40xxOutput.put_VoltageLevel(In val=3) 0x00000000",
                "IIviDriver.Close() 0x00000000",
            }));
}

TEST_F(DriverTrace, EachSessionAppendsToTheNamedFileUnderItsRoot) {
  test::WriteFile(dir / "bench.xml",
                  "<?xml version=\"1.0\"?>\n<!-- bench 4 -->\n<TraceRecords>\n"
                  "  <Method Name=\"Earlier\" Interface=\"IVelmoraK40xx\" />\n</TraceRecords>\n");
  const std::string options =
      "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=bench";
  for (double level : {1.5, 2.5}) {
    ASSERT_EQ(Initialize("SCRIPT::none::INSTR", options), S_OK) << TakeError();
    OpenMembers();
    ASSERT_EQ(output->put_VoltageLevel(level), S_OK);
    output.reset();
    outputs.reset();
    system.reset();
    ASSERT_EQ(driver->Close(), S_OK);
  }
  std::vector<std::string> session = {
      "IVelmoraK40xx.get_Outputs(Out val=<interface>) 0x00000000",
      "IVelmoraK40xxOutputs.get_Item(In Name=Output1, Out val=<interface>) 0x00000000",
      "IVelmoraK40xx.get_System(Out val=<interface>) 0x00000000",
  };
  EXPECT_EQ(Records(dir / "bench.xml"),
            (std::vector<std::string>{
                "IVelmoraK40xx.Earlier() ",
                session[0], session[1], session[2],
                "IVelmoraK40xxOutput.put_VoltageLevel(In val=1.5) 0x00000000",
                "IIviDriver.Close() 0x00000000",
                session[0], session[1], session[2],
                "IVelmoraK40xxOutput.put_VoltageLevel(In val=2.5) 0x00000000",
                "IIviDriver.Close() 0x00000000",
            }));
  EXPECT_NE(ReadFile(dir / "bench.xml").find("<!-- bench 4 -->"), std::string::npos);
}

TEST_F(DriverTrace, ATraceFileThatIsNotXmlFailsInitializeAndIsLeftAsItIs) {
  const std::string notes = "<TraceRecords>\n  <Method Name=\"Earlier\">\n</TraceRecords>\n";
  test::WriteFile(dir / "bench.xml", notes);
  EXPECT_EQ(Initialize("SCRIPT::none::INSTR",
                       "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=bench"),
            E_IVI_INVALID_FILE_FORMAT);
  EXPECT_EQ(TakeError(), "VelmoraK40xx: Invalid file format.\r\nThe trace file " +
                             (dir / "bench.xml") +
                             " is not well-formed XML (line 3, column 3: Start-end tags "
                             "mismatch). It was left as it is; move it away or choose another "
                             "TraceName.");
  EXPECT_EQ(ReadFile(dir / "bench.xml"), notes);
  VARIANT_BOOL open = VARIANT_TRUE;
  ASSERT_EQ(driver->get_Initialized(&open), S_OK);
  EXPECT_EQ(open, VARIANT_FALSE);

  // Another name opens.
  ASSERT_EQ(Initialize("SCRIPT::none::INSTR",
                       "Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName=other"),
            S_OK);
  EXPECT_TRUE(fs::exists(dir / "other.xml"));
  EXPECT_EQ(ReadFile(dir / "bench.xml"), notes);
}

}  // namespace
}  // namespace vmk
