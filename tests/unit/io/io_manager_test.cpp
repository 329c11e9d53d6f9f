// The I/O manager and provider over the scripted transport: the exact bytes, the conversions, the
// status poll, the error reports and the time-out rule.
#include <clocale>
#include <cmath>
#include <map>

#include "tests/unit/io/io_test_util.h"

namespace vmk {
namespace {

using test::TakeErrorDescription;
using IoManager = test::ScriptedIo;

TEST_F(IoManager, CommandsGoOutWithExactlyOneLineFeed) {
  script_->Expect("VOLT 5\n").Expect("CURR 1\n").Expect("\n").Expect("INST:NSEL 2\n");
  io_.PushCommand("VOLT 5");
  EXPECT_EQ(io_.InstrPrintCommand(), S_OK);
  io_.PushCommand("CURR 1\n");
  EXPECT_EQ(io_.InstrPrintCommand(), S_OK);
  io_.PopCommand();
  io_.PopCommand();
  EXPECT_EQ(io_.CurrentCommand(), "");
  EXPECT_EQ(io_.InstrPrintCommand(), S_OK);
  EXPECT_EQ(io_.InstrPrintf("INST:NSEL %d", 2), S_OK);
}

TEST_F(IoManager, TypedQueriesConvertTheReply) {
  script_->Expect("VOLT?\n")
      .Reply("5.000000E+00\n")
      .Expect("N?\n")
      .Reply("+1\n")
      .Expect("N?\n")
      .Reply("-2.9\n")
      .Expect("ID?\n")
      .Reply("K4102A,1.0\r\n")
      .Expect("VOLT?\n")
      .Reply("OFF\n")
      .Expect("MEAS:VOLT? (@2)\n")
      .Reply("+2.50E+00\n");
  double d = 0;
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(d, 5.0);
  int32_t n = 0;
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), S_OK);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), S_OK);
  EXPECT_EQ(n, -2);  // toward zero
  std::string s;
  EXPECT_EQ(io_.InstrQuery("ID?", 1024, kIoTimeoutKeep, &s), S_OK);
  EXPECT_EQ(s, "K4102A,1.0\r");  // one terminator removed, the carriage return is the reply's
  // A word where a number was asked is no error for a double: the non-numeric value.
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_TRUE(std::isnan(d));
  float f = 0;
  EXPECT_EQ(io_.InstrQueryf(&f, "MEAS:VOLT? (@%d)", 2), S_OK);
  EXPECT_EQ(f, 2.5f);
}

TEST_F(IoManager, IntegerQueriesReportRepliesThatAreNoNumberOrOutOfRange) {
  script_->Expect("N?\n")
      .Reply("OFF\n")
      .Expect("N?\n")
      .Reply("9.9E37\n")
      .Expect("N?\n")
      .Reply("70000\n")
      .Expect("N?\n")
      .Reply("256\n")
      .Expect("N?\n")
      .Reply("-2147483648\n");
  int32_t n = 7;
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(n, 0);
  EXPECT_NE(TakeErrorDescription().find("OFF"), std::string::npos);
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), E_IVI_UNEXPECTED_RESPONSE);
  int16_t small = 7;
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &small), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(small, 0);
  bool b = false;
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &b), S_OK);
  EXPECT_TRUE(b);  // 256 has a zero low byte and is still not false
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), S_OK);
  EXPECT_EQ(n, INT32_MIN);
}

TEST_F(IoManager, BooleanAndEnumerationRepliesMustBeExact) {
  struct Modes final : KeywordLookup {
    bool ValueOf(std::string_view k, int32_t* v) const override {
      static const std::map<std::string_view, int32_t> table{{"FIX", 0}, {"STEP", 1}};
      const auto it = table.find(k);
      if (it == table.end()) return false;
      *v = it->second;
      return true;
    }
  } modes;
  script_->Expect("OUTP?\n")
      .Reply(" 1 \n")
      .Expect("OUTP?\n")
      .Reply("0\n")
      .Expect("OUTP?\n")
      .Reply("ON\n")
      .Expect("OUTP?\n")
      .Reply("1.0\n")
      .Expect("VOLT:MODE?\n")
      .Reply("STEP\n")
      .Expect("VOLT:MODE?\n")
      .Reply("LIST\n");
  io_.PushCommand("OUTP?");
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  on = VARIANT_TRUE;
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), E_IVI_UNEXPECTED_RESPONSE);
  io_.PopCommand();
  io_.PushCommand("VOLT:MODE?");
  enum class Mode { Fix = 0, Step = 1 } mode = Mode::Fix;
  EXPECT_EQ(io_.InstrQueryCommandEnum(modes, &mode), S_OK);
  EXPECT_EQ(mode, Mode::Step);
  EXPECT_EQ(io_.InstrQueryCommandEnum(modes, &mode), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_NE(TakeErrorDescription().find("LIST"), std::string::npos);
}

TEST_F(IoManager, TheStatusPollFollowsPolledOperationsOnlyWhenAskedFor) {
  // Off: no "*ESR?" at all (the script would see it).
  script_->Expect("VOLT 5\n");
  EXPECT_EQ(io_.InstrPrintf("VOLT %.15g", 5.0), S_OK);

  host_.queryStatus = true;
  script_->Expect("VOLT 6\n")
      .Expect("*ESR?\n")
      .Reply("+32\n")
      .Expect("VOLT 7\n")
      .Expect("*ESR?\n")
      .Reply("+1\n")
      .Expect("VOLT 8\n")
      .Expect("*ESR?\n")
      .Reply("+128\n")
      .Expect("VOLT 9\n")
      .Expect("*ESR?\n")
      .Reply("garbage\n")
      .ExpectClear();
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 6), E_IVI_INSTRUMENT_STATUS);
  EXPECT_NE(TakeErrorDescription().find("Instrument error detected"), std::string::npos);
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 7), S_OK);
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 8), S_OK);
  EXPECT_EQ(io_.InstrPrintfNoPoll("VOLT %d", 9), S_OK);
  // A status reply that is no number proves nothing: the poll fails.
  EXPECT_EQ(io_.PollInstrumentErrors(), E_IVI_INSTRUMENT_STATUS);
}

TEST_F(IoManager, ATimeOutSetsTheFlagKeepsTheSessionTimeOutAndTheNextQueryWorks) {
  script_->Expect("VOLT?\n").Timeout().Reply("late\n").ExpectClear().Expect("CURR?\n").Reply(
      "1.5\n");
  ASSERT_EQ(io_.SetIOTimeout(1000), S_OK);
  double d = 0;
  EXPECT_EQ(io_.InstrQuery("VOLT?", 5000, &d), E_VELMORAK40XX_IO_TIMEOUT);
  EXPECT_NE(TakeErrorDescription().find("time-out"), std::string::npos);
  bool flag = false;
  EXPECT_EQ(io_.IsTimeout(&flag), S_OK);
  EXPECT_TRUE(flag);
  int32_t t = 0;
  EXPECT_EQ(io_.GetIOTimeout(&t), S_OK);
  EXPECT_EQ(t, 1000);
  // Neither the clear nor the time-out operations touch the flag; the next query does.
  EXPECT_EQ(io_.GetIOTimeout(&t), S_OK);
  EXPECT_EQ(io_.IsTimeout(&flag), S_OK);
  EXPECT_TRUE(flag);
  EXPECT_EQ(io_.InstrQuery("CURR?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(d, 1.5);  // not the late reply to VOLT?
  EXPECT_EQ(io_.IsTimeout(&flag), S_OK);
  EXPECT_FALSE(flag);
}

TEST_F(IoManager, AnIoFailureIsReportedWithTheTransportsDescriptionAfterADeviceClear) {
  host_.queryStatus = true;
  script_->Fail(E_VISA_IO, "cable pulled").ExpectClear().Expect("*ESR?\n").Reply("+32\n");
  EXPECT_EQ(io_.InstrPrintf("OUTP ON"), E_VELMORAK40XX_IO_GENERAL);
  const std::string why = TakeErrorDescription();
  // The status exchange after the failure neither changes the result nor the description.
  EXPECT_NE(why.find("cable pulled"), std::string::npos) << why;
  bool flag = true;
  EXPECT_EQ(io_.IsTimeout(&flag), S_OK);
  EXPECT_FALSE(flag);
}

TEST_F(IoManager, ATraceRecordNamesEachOperationOnce) {
  struct Recorder final : IoTraceSink {
    void TraceIo(std::string_view cls, std::string_view op,
                 std::span<const IoTraceParam> params) override {
      EXPECT_EQ(cls, "CDriverIOManager");
      records.push_back(std::string(op) + (params.empty() ? "" : " " + params[0].value));
    }
    std::vector<std::string> records;
  } recorder;
  io_.SetTraceSink(&recorder);
  script_->Expect("VOLT 2.5\n").Expect("ID?\n").Reply("x\n").Expect("B?\n").Reply("1\n");
  EXPECT_EQ(io_.InstrPrintf("VOLT %.15g", 2.5), S_OK);
  std::string s;
  EXPECT_EQ(io_.InstrQuery("ID?", 100, kIoTimeoutKeep, &s), S_OK);
  bool b = false;
  EXPECT_EQ(io_.InstrQuery("B?", kIoTimeoutKeep, &b), S_OK);
  EXPECT_EQ(recorder.records,
            (std::vector<std::string>{"InstrPrintf VOLT 2.5", "InstrPrintf ID?", "InstrQuery B?"}));
  io_.SetTraceSink(nullptr);
}

TEST_F(IoManager, CommandNumbersUseAPointWhateverTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  script_->Expect("VOLT 5.25\n");
  EXPECT_EQ(io_.InstrPrintf("VOLT %.15g", 5.25), S_OK);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(IoManager, BlocksAndListsThroughTheFormattedOperations) {
  script_->Expect("CURV?\n")
      .Reply(std::string("#18\x00\x01\x00\x0A\xFF\xFF\x00\x00\n", 12))
      .Expect("LIST 1.5,2.5\n")
      .Expect("L?\n")
      .Reply("1,2,3\n");
  bool termOn = false;
  ASSERT_EQ(io_.GetTerminationCharacterEnabled(&termOn), S_OK);
  ASSERT_TRUE(termOn);
  ASSERT_EQ(io_.InstrWrite("CURV?"), S_OK);
  int16_t values[8] = {};
  int32_t count = 0;
  ASSERT_EQ(io_.FormattedReadIEEEBlock(values, 8, &count, false, true), S_OK)
      << TakeErrorDescription();
  ASSERT_EQ(count, 4);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], 10);
  EXPECT_EQ(values[2], -1);
  // Switched off for the block, back on after it.
  ASSERT_EQ(io_.GetTerminationCharacterEnabled(&termOn), S_OK);
  EXPECT_TRUE(termOn);

  const double list[] = {1.5, 2.5};
  ASSERT_EQ(io_.FormattedWriteString("LIST ", false), S_OK);
  ASSERT_EQ(io_.FormattedWriteList(list, 2, ",", false), S_OK);
  ASSERT_EQ(io_.FormattedWriteString("\n", true), S_OK);

  ASSERT_EQ(io_.InstrWrite("L?"), S_OK);
  int32_t room[2] = {};
  EXPECT_EQ(io_.FormattedReadList(room, 2, &count), E_FAIL);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(room[0], 0);  // nothing copied
}

TEST_F(IoManager, RawBytesAndFormattedNumbersTravelUnchanged) {
  script_->Expect(std::string("\x01\x00\x0A", 3)).Reply("abcdef\n")
      .Expect("MEAS?\n").Reply("+1.25E+01;\n").ExpectClear();
  const uint8_t bytes[] = {1, 0, 10};
  int32_t sent = 0;
  ASSERT_EQ(io_.InstrWrite(bytes, 3, &sent), S_OK);  // no terminator added to bytes
  EXPECT_EQ(sent, 3);
  uint8_t buf[4] = {};
  int32_t got = 0;
  ASSERT_EQ(io_.InstrRead(4, buf, &got), S_OK);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
  // The rest of that reply is dropped by the next command, not read as its answer.
  ASSERT_EQ(io_.FormattedWriteString("MEAS?\n", true), S_OK);
  double d = 0;
  ASSERT_EQ(io_.FormattedReadNumber(&d), S_OK);
  EXPECT_EQ(d, 12.5);
  // A message-based session has no registers: an I/O error that says so.
  uint8_t reg = 0;
  EXPECT_EQ(io_.RegisterIn8(1, 0, &reg), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_NE(TakeErrorDescription().find("no register access"), std::string::npos);
}

TEST_F(IoManager, ArgumentsAreCheckedBeforeAnythingIsSent) {
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, static_cast<double*>(nullptr)), E_POINTER);
  std::string s;
  EXPECT_EQ(io_.InstrQuery("VOLT?", -1, kIoTimeoutKeep, &s), E_INVALIDARG);
  EXPECT_EQ(io_.InstrRead(-5, true, &s), E_INVALIDARG);
  EXPECT_EQ(io_.InstrQueryCommandBool(nullptr), E_POINTER);
}

TEST(IoProvider, ResourcesThatCannotBeOpenedLeaveNothingOpen) {
  test::TestHost host;
  CErrorManager errors;
  CVisaComIOProvider provider;
  EXPECT_EQ(provider.InitializeIO(&host, &errors, &host, "SCRIPT::missing::INSTR"),
            E_IVI_RESOURCE_UNKNOWN);
  EXPECT_EQ(provider.LastOpenStatus(), E_VISA_RSRC_NFOUND);
  EXPECT_NE(test::TakeErrorDescription().find("missing"), std::string::npos);
  EXPECT_FALSE(provider.IsInitialized());
  EXPECT_EQ(provider.InitializeIO(&host, &errors, nullptr, "SCRIPT::x::INSTR"), E_INVALIDARG);
  EXPECT_EQ(provider.InitializeIO(nullptr, &errors, &host, "SCRIPT::x::INSTR"), E_INVALIDARG);

  // Never opened: every operation is an I/O error that says why.
  CDriverIOManager io(&provider, &errors);
  provider.SetErrorManager(&errors);
  EXPECT_EQ(io.InstrPrintf("*RST"), E_VELMORAK40XX_IO_GENERAL);
  EXPECT_NE(test::TakeErrorDescription().find("not open"), std::string::npos);
  IFormattedIO488* fio = nullptr;
  EXPECT_EQ(provider.ioprvGetIFormattedIO488Pointer(&fio), S_FALSE);
  EXPECT_EQ(fio, nullptr);
  IMessage* message = reinterpret_cast<IMessage*>(&host);
  EXPECT_EQ(provider.ioprvGetIMessagePointer(&message), S_OK);
  EXPECT_EQ(message, nullptr);
}

struct InterfaceCase {
  SHORT type;
  const char* sessionType;
  const char* resource;
  int32_t expected;
  bool lineFeedSettings;
};

class IoInterfaces : public ::testing::TestWithParam<InterfaceCase> {};

TEST_P(IoInterfaces, TypeCodesAndTerminationFollowTheBus) {
  const InterfaceCase& c = GetParam();
  auto script = visa::Script::Install("bus");
  script->Interface(c.type, c.sessionType);
  test::TestHost host;
  CErrorManager errors;
  CVisaComIOProvider provider;
  ASSERT_EQ(provider.InitializeIO(&host, &errors, &host, c.resource), S_OK);
  int32_t kind = -1;
  EXPECT_EQ(provider.GetVisaInterfaceType(&kind), S_OK);
  EXPECT_EQ(kind, c.expected);
  bool term = false;
  EXPECT_EQ(provider.GetTerminationCharacterEnabled(&term), S_OK);
  EXPECT_EQ(term, c.lineFeedSettings);
  EXPECT_EQ(provider.CloseIO(), S_OK);
  IVisaSession* session = nullptr;
  EXPECT_EQ(provider.ioprvGetIVisaSessionPointer(&session), S_OK);
  EXPECT_EQ(session, nullptr);
  visa::Script::Uninstall("bus");
}

INSTANTIATE_TEST_SUITE_P(
    Buses, IoInterfaces,
    ::testing::Values(InterfaceCase{INTF_TCPIP, "SOCKET", "SCRIPT::bus::INSTR", 7, true},
                      InterfaceCase{INTF_TCPIP, "INSTR", "SCRIPT::bus::INSTR", 6, false},
                      InterfaceCase{INTF_TCPIP, "INSTR", "script::bus::Socket", 6, true},
                      InterfaceCase{INTF_ASRL, "INSTR", "SCRIPT::bus::INSTR", 4, true},
                      InterfaceCase{INTF_GPIB, "INSTR", "SCRIPT::bus::INSTR", 1, false},
                      InterfaceCase{INTF_USB, "INSTR", "SCRIPT::bus::INSTR", 8, false}));

}  // namespace
}  // namespace vmk
