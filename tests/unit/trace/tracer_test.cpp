// The tracer on real files in a temporary directory, with the clock in the test's hand. Times are
// local time; the test runs with TZ=UTC.
#include "services/tracer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "vmk40xx/errors.h"

namespace vmk {
namespace {

namespace fs = std::filesystem;

// 2024-05-01 10:00:00 UTC.
constexpr int64_t kStart = 1714557600000;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

class CountingFiles final : public TraceFiles {
 public:
  int Read(const std::string& path, std::string* bytes) override {
    ++reads;
    return RealTraceFiles().Read(path, bytes);
  }
  int Write(const std::string& path, std::string_view bytes) override {
    ++writes;
    return RealTraceFiles().Write(path, bytes);
  }
  int reads = 0;
  int writes = 0;
};

VARIANT R8(double d) {
  VARIANT v{};
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}
VARIANT I4(LONG l) {
  VARIANT v{};
  v.vt = VT_I4;
  v.lVal = l;
  return v;
}
template <class T>
VARIANT Ref(VARTYPE type, T* target) {
  VARIANT v{};
  v.vt = VT_BYREF | type;
  v.byref = target;
  return v;
}

std::vector<std::string> AttributeNames(pugi::xml_node n) {
  std::vector<std::string> names;
  for (pugi::xml_attribute a : n.attributes()) names.emplace_back(a.name());
  return names;
}

// Name/Direction/Value of each Parameter child, in order.
std::vector<std::string> Parameters(pugi::xml_node method) {
  std::vector<std::string> out;
  for (pugi::xml_node p : method.children("Parameter"))
    out.push_back(std::string(p.attribute("Name").value()) + "/" +
                  p.attribute("Direction").value() + "/" + p.attribute("Value").value());
  return out;
}

class TracerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC0", 1);
    tzset();
    char pattern[] = "/tmp/vmk-trace-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir = pattern;
    iviRoot = dir / "ivi";
    fs::create_directories(dir / "cwd");
  }
  void TearDown() override {
    tracer.reset();
    fs::remove_all(dir);
  }

  CTraceOwner& Tracer() {
    if (!tracer) {
      TraceEnvironment env;
      env.now = [this] { return now; };
      env.directory = (dir / "cwd").string();
      env.iviRootDir = [this] { return iviRoot.string(); };
      env.files = &files;
      tracer = std::make_unique<CTraceOwner>(std::move(env));
    }
    return *tracer;
  }
  HRESULT Start() {
    CTraceOwner& t = Tracer();
    if (HRESULT hr = t.SetTraceEnabled(true); FAILED(hr)) return hr;
    return t.StartTrace("VelmoraK40xx", &errors);
  }
  // A style sheet where the lookup finds it.
  fs::path InstallStyleSheet(const char* vendorDir = "Velmora Technologies") {
    const fs::path sheet = iviRoot / "Components" / vendorDir / "trace.xslt";
    fs::create_directories(sheet.parent_path());
    WriteFile(sheet, "<xsl:stylesheet/>");
    return sheet;
  }
  // One call with its parameters, `ms` long.
  void Call(const char* method, std::vector<TraceParam> params = {}, int64_t ms = 0,
            HRESULT result = S_OK, const char* iface = "IVelmoraK40xxOutput") {
    CTraceOwner& t = Tracer();
    void* token = t.EnterMethod({"VelmoraK40xxOutput", iface, method}, params);
    now += ms;
    if (token) t.LeaveMethod(token, params, result);
  }
  pugi::xml_document Saved() {
    pugi::xml_document doc;
    EXPECT_EQ(Tracer().SaveTrace(&errors), S_OK);
    EXPECT_TRUE(doc.load_file(Tracer().FilePath().c_str()));
    return doc;
  }
  pugi::xml_node FirstMethod(pugi::xml_document& doc) {
    return doc.child("TraceRecords").child("Method");
  }

  fs::path dir;
  fs::path iviRoot;
  int64_t now = kStart;
  CountingFiles files;
  CErrorManager errors;
  std::unique_ptr<CTraceOwner> tracer;
};

TEST_F(TracerTest, ANewTraceIsNamedAfterTheDriverAndTheStartAndNamesAStyleSheetThatExists) {
  const fs::path sheet = InstallStyleSheet();
  ASSERT_EQ(Start(), S_OK);
  const fs::path file = dir / "cwd" / "VelmoraK40xx_2024-05-01_10-00-00.xml";
  EXPECT_EQ(Tracer().FilePath(), file.string());
  EXPECT_EQ(Tracer().Transform(), sheet.string());
  EXPECT_TRUE(Tracer().IsRunning());
  EXPECT_EQ(ReadFile(file),
            "<?xml version=\"1.0\"?>\n<?xml-stylesheet type=\"text/xsl\" href=\"file://" +
                dir.string() +
                "/ivi/Components/Velmora%20Technologies/trace.xslt\"?>\n"
                "<TraceRecords />\n");
  EXPECT_EQ(files.writes, 1);

  // Every start without a name makes a file of its own.
  ASSERT_EQ(Tracer().EndSession(&errors), S_OK);
  now += 61000;
  ASSERT_EQ(Tracer().StartTrace("VelmoraK40xx", &errors), S_OK);
  EXPECT_EQ(Tracer().FilePath(), (dir / "cwd" / "VelmoraK40xx_2024-05-01_10-01-01.xml").string());
}

TEST_F(TracerTest, WithoutAStyleSheetFileTheTraceHasNoStyleSheetInstruction) {
  fs::create_directories(iviRoot / "Components" / "Velmora Technologies");
  ASSERT_EQ(Start(), S_OK);
  EXPECT_EQ(ReadFile(Tracer().FilePath()), "<?xml version=\"1.0\"?>\n<TraceRecords />\n");
  EXPECT_EQ(Tracer().Transform(),
            (iviRoot / "Components" / "Velmora Technologies" / "trace.xslt").string());
}

TEST_F(TracerTest, TheStyleSheetLookup) {
  // No company directory: the toolkit vendor's.
  const fs::path toolkit = InstallStyleSheet("Orvanti");
  ASSERT_EQ(Start(), S_OK);
  EXPECT_EQ(Tracer().Transform(), toolkit.string());
  EXPECT_NE(ReadFile(Tracer().FilePath()).find("/ivi/Components/Orvanti/trace.xslt\"?>"),
            std::string::npos);
  tracer.reset();

  // A bare name gets the extension; a name with a directory is taken as it is, relative to the
  // trace's directory.
  Tracer().SetTransform("mine");
  ASSERT_EQ(Start(), S_OK);
  EXPECT_EQ(Tracer().Transform(), (iviRoot / "Components" / "Orvanti" / "mine.xslt").string());
  tracer.reset();
  Tracer().SetTransform("sheets/report.xsl");
  ASSERT_EQ(Start(), S_OK);
  EXPECT_EQ(Tracer().Transform(), (dir / "cwd" / "sheets" / "report.xsl").string());
}

TEST_F(TracerTest, TraceNames) {
  struct Case {
    const char* name;
    fs::path expected;
  } cases[] = {
      {"run1", dir / "cwd" / "run1.xml"},
      {"run2.log", dir / "cwd" / "run2.log"},
      {"sub/run3", dir / "cwd" / "sub" / "run3.xml"},
      {".hidden", dir / "cwd" / ".hidden.xml"},
  };
  fs::create_directories(dir / "cwd" / "sub");
  for (const Case& c : cases) {
    tracer.reset();
    Tracer().SetTraceName(c.name);
    ASSERT_EQ(Start(), S_OK) << c.name;
    EXPECT_EQ(Tracer().FilePath(), c.expected.string()) << c.name;
    EXPECT_TRUE(fs::exists(c.expected)) << c.name;
  }
  // Absolute names stay absolute.
  tracer.reset();
  Tracer().SetTraceName((dir / "elsewhere").string());
  ASSERT_EQ(Start(), S_OK);
  EXPECT_EQ(Tracer().FilePath(), (dir / "elsewhere.xml").string());
}

TEST_F(TracerTest, ASetterRecord) {
  ASSERT_EQ(Start(), S_OK);
  Call("put_VoltageLevel", {{"val", ParamDirection::In, R8(5.25)}}, 1500);
  pugi::xml_document doc = Saved();
  pugi::xml_node m = FirstMethod(doc);
  EXPECT_EQ(AttributeNames(m),
            (std::vector<std::string>{"Name", "Interface", "StartTime", "Thread", "EndTime",
                                      "ExecutionTime", "ExecutionMilliseconds", "Result"}));
  EXPECT_STREQ(m.attribute("Name").value(), "put_VoltageLevel");
  EXPECT_STREQ(m.attribute("Interface").value(), "IVelmoraK40xxOutput");
  EXPECT_STREQ(m.attribute("StartTime").value(), "10:00:00");
  EXPECT_STREQ(m.attribute("EndTime").value(), "10:00:01");
  EXPECT_STREQ(m.attribute("ExecutionTime").value(), "01");
  EXPECT_STREQ(m.attribute("ExecutionMilliseconds").value(), "1500");
  EXPECT_STREQ(m.attribute("Result").value(), "0x00000000");
  EXPECT_EQ(std::string(m.attribute("Thread").value()), std::to_string(gettid()));
  EXPECT_EQ(Parameters(m), (std::vector<std::string>{"val/In/5.25"}));
  EXPECT_EQ(AttributeNames(m.child("Parameter")),
            (std::vector<std::string>{"Name", "Direction", "Value"}));
}

TEST_F(TracerTest, InOutIsWrittenBeforeAndAfterOutOnlyAfterAndNestedRecordsBetween) {
  ASSERT_EQ(Start(), S_OK);
  LONG inout = 3;
  double out = 0;
  std::vector<TraceParam> params = {{"Index", ParamDirection::In, I4(2)},
                                    {"pCount", ParamDirection::InOut, Ref(VT_I4, &inout)},
                                    {"pVal", ParamDirection::Out, Ref(VT_R8, &out)}};
  CTraceOwner& t = Tracer();
  void* outer = t.EnterMethod({"VelmoraK40xxOutput", "IVelmoraK40xxOutput", "Measure"}, params);
  ASSERT_TRUE(outer);
  Call("InstrQueryCommand", {{"strCommand", ParamDirection::In, I4(0)}}, 0,
       E_IVI_UNEXPECTED_RESPONSE, "CDriverIOManager");
  inout = 7;
  out = 1.5;
  t.LeaveMethod(outer, params, S_OK);
  Call("get_CurrentLimit");

  pugi::xml_document doc = Saved();
  pugi::xml_node m = FirstMethod(doc);
  std::vector<std::string> children;
  for (pugi::xml_node c : m.children())
    children.push_back(std::string(c.name()) + ":" + c.attribute("Name").value() + ":" +
                       c.attribute("Direction").value() + ":" + c.attribute("Value").value());
  EXPECT_EQ(children,
            (std::vector<std::string>{"Parameter:Index:In:2", "Parameter:pCount:InOut:3",
                                      "Method:InstrQueryCommand::", "Parameter:pCount:InOut:7",
                                      "Parameter:pVal:Out:1.5"}));
  pugi::xml_node io = m.child("Method");
  EXPECT_STREQ(io.attribute("Interface").value(), "CDriverIOManager");
  EXPECT_STREQ(io.attribute("Result").value(), "0x80047059");
  // The record after the outer one is its sibling, not its child.
  EXPECT_STREQ(m.next_sibling("Method").attribute("Name").value(), "get_CurrentLimit");
}

TEST_F(TracerTest, TheValueTable) {
  com::Bstr text("Ω \x01 ok");
  BSTR nullText = nullptr;
  double r8 = 0.1;
  VARIANT inner = I4(1);
  struct Case {
    VARTYPE vt;
    int64_t bits;
    const char* expected;
  } cases[] = {
      {VT_EMPTY, 0, "<empty>"},
      {VT_NULL, 0, "<null>"},
      {VT_I2, -5, "-5"},
      {VT_I4, -2147483648LL, "-2147483648"},
      {VT_INT, 42, "42"},
      {VT_I1, 0xFF, "-1"},
      {VT_UI1, 200, "200"},
      {VT_UI2, 0xFFFF, "65535"},
      {VT_UI4, 4000000000LL, "4000000000"},
      {VT_I8, -9007199254740993LL, "-9007199254740993"},
      {VT_UI8, -1, "18446744073709551615"},
      {VT_BOOL, VARIANT_TRUE, "true"},
      {VT_BOOL, VARIANT_FALSE, "false"},
      {VT_ERROR, 5, "<unknown>"},
      {VT_UINT, 5, "<unknown>"},
  };
  for (const Case& c : cases) {
    VARIANT v{};
    v.vt = c.vt;
    v.llVal = c.bits;
    if (c.vt == VT_I2 || c.vt == VT_BOOL || c.vt == VT_UI2) v.llVal = c.bits & 0xFFFF;
    if (c.vt == VT_I4 || c.vt == VT_INT || c.vt == VT_UI4) v.llVal = c.bits & 0xFFFFFFFF;
    std::string out;
    AppendTraceValue(v, &out);
    EXPECT_EQ(out, c.expected) << "vt " << c.vt;
  }
  auto text_of = [](VARIANT v) {
    std::string out;
    AppendTraceValue(v, &out);
    return out;
  };
  VARIANT f{};
  f.vt = VT_R4;
  f.fltVal = 0.1f;
  EXPECT_EQ(text_of(f), "0.100000001490116");
  EXPECT_EQ(text_of(R8(0.1)), "0.1");
  EXPECT_EQ(text_of(R8(1e300)), "1e+300");
  EXPECT_EQ(text_of(R8(-2.5e-7)), "-2.5e-07");
  EXPECT_EQ(text_of(R8(123456789012345678.0)), "1.23456789012346e+17");
  VARIANT s{};
  s.vt = VT_BSTR;
  s.bstrVal = text.get();
  EXPECT_EQ(text_of(s), "Ω \xEF\xBF\xBD ok");
  s.bstrVal = nullptr;
  EXPECT_EQ(text_of(s), "");
  VARIANT unk{};
  unk.vt = VT_UNKNOWN;
  EXPECT_EQ(text_of(unk), "<interface>");
  // By reference: read through the pointer; empty, null and VARIANT by reference have no text.
  EXPECT_EQ(text_of(Ref(VT_R8, &r8)), "0.1");
  BSTR held = text.get();
  EXPECT_EQ(text_of(Ref(VT_BSTR, &held)), "Ω \xEF\xBF\xBD ok");
  EXPECT_EQ(text_of(Ref(VT_BSTR, &nullText)), "");
  EXPECT_EQ(text_of(Ref(VT_VARIANT, &inner)), "<variant>");
  EXPECT_EQ(text_of(Ref(VT_EMPTY, &inner)), "<unknown>");
  EXPECT_EQ(text_of(Ref(VT_NULL, &inner)), "<unknown>");
  EXPECT_EQ(text_of(Ref<double>(VT_R8, nullptr)), "<unknown>");
}

TEST_F(TracerTest, TwentyFiveDoublesWithAndWithoutTraceArray) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, 25);
  ASSERT_TRUE(array);
  double* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void**>(&data)), S_OK);
  for (int i = 0; i < 25; ++i) data[i] = i * 0.5;
  SafeArrayUnaccessData(array);
  VARIANT v{};
  v.vt = VT_ARRAY | VT_R8;
  v.parray = array;

  auto elements = [&](pugi::xml_node p) {
    std::vector<std::string> values;
    for (pugi::xml_node e : p.children("Element")) values.push_back(e.attribute("Value").value());
    return values;
  };
  Tracer().SetTraceArray(true);
  ASSERT_EQ(Start(), S_OK);
  Call("ConfigureList", {{"Values", ParamDirection::In, v}});
  Tracer().SetArraySizeMax(30);
  Call("ConfigureList", {{"Values", ParamDirection::In, v}});
  Tracer().SetTraceArray(false);
  Call("ConfigureList", {{"Values", ParamDirection::In, v}});

  pugi::xml_document doc = Saved();
  pugi::xml_node m = FirstMethod(doc);
  pugi::xml_node p = m.child("Parameter");
  EXPECT_EQ(AttributeNames(p),
            (std::vector<std::string>{"Name", "Direction", "NumDims", "DimSizes"}));
  EXPECT_STREQ(p.attribute("NumDims").value(), "1");
  EXPECT_STREQ(p.attribute("DimSizes").value(), "25");
  EXPECT_EQ(elements(p),
            (std::vector<std::string>{"0", "0.5", "1", "1.5", "2", "2.5", "3", "3.5", "4", "4.5"}));
  p = m.next_sibling("Method").child("Parameter");
  EXPECT_EQ(elements(p).size(), 25u);
  EXPECT_EQ(elements(p).back(), "12");
  p = m.next_sibling("Method").next_sibling("Method").child("Parameter");
  EXPECT_STREQ(p.attribute("DimSizes").value(), "25");
  EXPECT_TRUE(elements(p).empty());
  SafeArrayDestroy(array);
}

TEST_F(TracerTest, OutArraysAndArraysOfText) {
  SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 1, 2);
  com::Bstr a("Output1"), b("Output2");
  LONG i = 1;
  SafeArrayPutElement(names, &i, a.get());
  i = 2;
  SafeArrayPutElement(names, &i, b.get());
  SAFEARRAY* result = nullptr;
  std::vector<TraceParam> params = {
      {"Names", ParamDirection::Out, Ref(VT_ARRAY | VT_BSTR, &result)}};
  Tracer().SetTraceArray(true);
  ASSERT_EQ(Start(), S_OK);
  CTraceOwner& t = Tracer();
  void* token = t.EnterMethod({"VelmoraK40xx", "IVelmoraK40xx", "GetNames"}, params);
  result = names;
  t.LeaveMethod(token, params, S_OK);
  result = nullptr;
  token = t.EnterMethod({"VelmoraK40xx", "IVelmoraK40xx", "GetNames"}, params);
  t.LeaveMethod(token, params, S_OK);

  pugi::xml_document doc = Saved();
  pugi::xml_node p = FirstMethod(doc).child("Parameter");
  EXPECT_STREQ(p.attribute("Direction").value(), "Out");
  EXPECT_STREQ(p.attribute("DimSizes").value(), "2");
  EXPECT_STREQ(p.child("Element").attribute("Value").value(), "Output1");
  EXPECT_STREQ(p.child("Element").next_sibling().attribute("Value").value(), "Output2");
  // No array at all.
  p = FirstMethod(doc).next_sibling("Method").child("Parameter");
  EXPECT_STREQ(p.attribute("NumDims").value(), "0");
  EXPECT_STREQ(p.attribute("DimSizes").value(), "");
  SafeArrayDestroy(names);
}

TEST_F(TracerTest, ALongCallKeepsTwoDigitSecondsAndTheWholeTimeBesideThem) {
  ASSERT_EQ(Start(), S_OK);
  Call("WaitForOperationComplete", {}, 75000);
  Call("Calibrate", {}, 3723456);
  pugi::xml_document doc = Saved();
  pugi::xml_node m = FirstMethod(doc);
  EXPECT_STREQ(m.attribute("ExecutionTime").value(), "15");
  EXPECT_STREQ(m.attribute("ExecutionMilliseconds").value(), "75000");
  EXPECT_STREQ(m.attribute("EndTime").value(), "10:01:15");
  m = m.next_sibling("Method");
  EXPECT_STREQ(m.attribute("ExecutionTime").value(), "03");
  EXPECT_STREQ(m.attribute("ExecutionMilliseconds").value(), "3723456");
  EXPECT_STREQ(m.attribute("EndTime").value(), "11:03:18");
}

TEST_F(TracerTest, CallsBetweenSavesTouchNoFile) {
  ASSERT_EQ(Start(), S_OK);
  ASSERT_EQ(files.writes, 1);  // the new file
  const int reads = files.reads;
  for (int i = 0; i < 200; ++i) Call("get_VoltageLevel", {}, 250);  // 50 s of calls
  EXPECT_EQ(files.writes, 1);
  EXPECT_EQ(files.reads, reads);
  now += 10000;
  Call("get_VoltageLevel");  // a minute since the start: saved at its end
  EXPECT_EQ(files.writes, 2);
  for (int i = 0; i < 10; ++i) Call("get_VoltageLevel");
  EXPECT_EQ(files.writes, 2);

  // An idle hour and a half: whole minutes count, not the minutes of the hour.
  now += 60 * 60000 + 30000;
  Call("get_VoltageLevel");
  EXPECT_EQ(files.writes, 3);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(Tracer().FilePath().c_str()));
  EXPECT_EQ(std::distance(doc.child("TraceRecords").children("Method").begin(),
                          doc.child("TraceRecords").children("Method").end()),
            212);

  // An interval of 0 saves after every call.
  Tracer().SetSaveInterval(0);
  Call("get_VoltageLevel");
  Call("get_VoltageLevel");
  EXPECT_EQ(files.writes, 5);
}

TEST_F(TracerTest, TheSizeLimitStopsTheTraceForGood) {
  Tracer().SetSizeMax(4000);
  ASSERT_EQ(Start(), S_OK);
  int calls = 0;
  while (Tracer().IsRunning() && calls < 1000) {
    Call("put_VoltageLevel", {{"val", ParamDirection::In, R8(1.25)}});
    ++calls;
  }
  ASSERT_EQ(Tracer().State(), kTraceStopped);
  EXPECT_GT(calls, 5);
  const std::string atStop = ReadFile(Tracer().FilePath());
  EXPECT_GT(atStop.size(), 4000u);
  // Found within a record or two (about 250 bytes each) of crossing it, not a minute later.
  EXPECT_LT(atStop.size(), 4600u);
  EXPECT_EQ(files.writes, 2);

  EXPECT_FALSE(Tracer().Running());
  EXPECT_EQ(Tracer().EnterMethod({"VelmoraK40xx", "IVelmoraK40xx", "Reset"}, {}), nullptr);
  EXPECT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), S_OK);
  EXPECT_EQ(Tracer().State(), kTraceStopped);
  EXPECT_EQ(Tracer().StartTrace("VelmoraK40xx", &errors), S_OK);
  EXPECT_EQ(Tracer().State(), kTraceStopped);
  now += 120000;
  EXPECT_EQ(Tracer().EndSession(&errors), S_OK);
  EXPECT_EQ(ReadFile(Tracer().FilePath()), atStop);
}

TEST_F(TracerTest, AnExistingFileGetsTheNewRecordsUnderItsRootAndKeepsEverythingElse) {
  const fs::path file = dir / "cwd" / "bench.xml";
  WriteFile(file,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- monday -->\n"
            "<TraceRecords><Method Name=\"Old\" Interface=\"IVelmoraK40xx\" Note=\"caf\xE9\"/>"
            "</TraceRecords>\n");
  Tracer().SetTraceName("bench");
  ASSERT_EQ(Start(), S_OK);
  EXPECT_EQ(files.writes, 0);  // nothing is rewritten until there is something to add
  Call("Reset");
  ASSERT_EQ(Tracer().SaveTrace(&errors), S_OK);

  const std::string bytes = ReadFile(file);
  EXPECT_NE(bytes.find("encoding=\"ISO-8859-1\""), std::string::npos);
  EXPECT_NE(bytes.find("<!-- monday -->"), std::string::npos);
  EXPECT_NE(bytes.find("Note=\"caf\xE9\""), std::string::npos);  // still Latin-1
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(file.c_str()));
  std::vector<std::string> names;
  for (pugi::xml_node m : doc.child("TraceRecords").children("Method"))
    names.emplace_back(m.attribute("Name").value());
  EXPECT_EQ(names, (std::vector<std::string>{"Old", "Reset"}));

  // A second session with the same name appends again.
  ASSERT_EQ(Tracer().EndSession(&errors), S_OK);
  ASSERT_EQ(Tracer().StartTrace("VelmoraK40xx", &errors), S_OK);
  Call("Close");
  ASSERT_EQ(Tracer().EndSession(&errors), S_OK);
  ASSERT_TRUE(doc.load_file(file.c_str()));
  names.clear();
  for (pugi::xml_node m : doc.child("TraceRecords").children("Method"))
    names.emplace_back(m.attribute("Name").value());
  EXPECT_EQ(names, (std::vector<std::string>{"Old", "Reset", "Close"}));
}

TEST_F(TracerTest, AFileThatIsNotWellFormedIsLeftAsItIsAndTheStartFails) {
  const char* bad[] = {
      "<TraceRecords><Method Name=\"a\"></TraceRecords>\n",
      "<TraceRecords/>\nnotes typed after the root\n",
      "<TraceRecords/><TraceRecords/>",
      "",
  };
  const fs::path file = dir / "cwd" / "bench.xml";
  for (const char* content : bad) {
    tracer.reset();
    WriteFile(file, content);
    Tracer().SetTraceName("bench");
    EXPECT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), E_IVI_INVALID_FILE_FORMAT)
        << content;
    EXPECT_EQ(ReadFile(file), content);
    EXPECT_FALSE(Tracer().Running());
    EXPECT_FALSE(Tracer().Enabled());  // a later switch starts afresh
    EXPECT_TRUE(Tracer().FilePath().empty());
    EXPECT_EQ(files.writes, 0);
  }
  com::ComPtr<IErrorInfo> info;
  tracer.reset();
  WriteFile(file, "<TraceRecords>\n  <Method Name=\"a\">\n</TraceRecords>\n");
  Tracer().SetTraceName("bench");
  ASSERT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), E_IVI_INVALID_FILE_FORMAT);
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  com::Bstr description;
  info->GetDescription(description.put());
  EXPECT_EQ(description.utf8(), "VelmoraK40xx: Invalid file format.\r\nThe trace file " +
                                    file.string() +
                                    " is not well-formed XML (line 3, column 3: Start-end tags "
                                    "mismatch). It was left as it is; move it away or choose "
                                    "another TraceName.");
}

TEST_F(TracerTest, AFileThatCannotBeCreatedFailsTheStartWithItsReason) {
  Tracer().SetTraceName("missing/dir/trace");
  EXPECT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), E_IVI_CANNOT_OPEN_FILE);
  com::ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  com::Bstr description;
  info->GetDescription(description.put());
  EXPECT_EQ(description.utf8(), "VelmoraK40xx: Cannot open file.\r\nThe trace file " +
                                    (dir / "cwd" / "missing/dir/trace.xml").string() +
                                    " cannot be created: No such file or directory.");
  EXPECT_FALSE(Tracer().Enabled());
}

TEST_F(TracerTest, SavesReplaceTheFileWholeAndLeaveNothingBeside) {
  Tracer().SetTraceName("t");
  Tracer().SetSaveInterval(0);
  ASSERT_EQ(Start(), S_OK);
  chmod(Tracer().FilePath().c_str(), 0640);
  for (int i = 0; i < 3; ++i) Call("Beep");
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir / "cwd")) entries.push_back(e.path().filename());
  EXPECT_EQ(entries, (std::vector<std::string>{"t.xml"}));
  struct stat st {};
  ASSERT_EQ(stat(Tracer().FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(files.writes, 4);
}

TEST_F(TracerTest, TheSwitchAndTheEndOfASession) {
  Tracer().SetTraceName("s");
  ASSERT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), S_OK);
  EXPECT_TRUE(Tracer().Running());
  void* open =
      Tracer().EnterMethod({"VelmoraK40xx", "IVelmoraK40xxSystem", "put_TraceEnabled"}, {});
  ASSERT_EQ(Tracer().SwitchTrace(false, "VelmoraK40xx", &errors), S_OK);
  EXPECT_FALSE(Tracer().Running());
  EXPECT_EQ(Tracer().EnterMethod({"VelmoraK40xx", "IVelmoraK40xx", "Reset"}, {}), nullptr);
  // The call that paused the trace still gets its end.
  Tracer().LeaveMethod(open, {}, S_OK);
  ASSERT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), S_OK);
  Call("Beep");

  // The end of the session saves and pauses; switching off while paused simply ends tracing,
  // after saving what was not saved.
  ASSERT_EQ(Tracer().EndSession(&errors), S_OK);
  EXPECT_EQ(Tracer().State(), kTracePaused);
  ASSERT_EQ(Tracer().SwitchTrace(true, "VelmoraK40xx", &errors), S_OK);
  Call("Disable");
  EXPECT_EQ(Tracer().SetTraceEnabled(false), S_OK);
  EXPECT_FALSE(Tracer().Enabled());
  EXPECT_EQ(Tracer().SetTraceEnabled(false), S_OK);

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(Tracer().FilePath().c_str()));
  std::vector<std::string> names;
  for (pugi::xml_node m : doc.child("TraceRecords").children("Method"))
    names.push_back(std::string(m.attribute("Name").value()) + (m.attribute("EndTime") ? "" : "?"));
  EXPECT_EQ(names, (std::vector<std::string>{"put_TraceEnabled", "Beep", "Disable"}));
}

TEST_F(TracerTest, ATracerGoingAwaySavesWhatWasNotSaved) {
  Tracer().SetTraceName("gone");
  ASSERT_EQ(Start(), S_OK);
  Call("SelfTest");
  const std::string path = Tracer().FilePath();
  tracer.reset();
  EXPECT_NE(ReadFile(path).find("Name=\"SelfTest\""), std::string::npos);
}

}  // namespace
}  // namespace vmk
