// The I/O manager and provider over the scripted transport: the exact bytes, the conversions, the
// status poll, the error reports and the time-out rule.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <map>
#include <optional>

#include "tests/support/trace_recorder.h"
#include "tests/unit/io/io_test_util.h"

namespace vmk {
namespace {

using test::TakeErrorDescription;
using IoManager = test::ScriptedIo;

TEST_F(IoManager, CommandsGoOutWithExactlyOneLineFeed) {
  script_->Expect("VOLT 5\n").Expect("CURR 1\n").Expect("VOLT 5\n").Expect("\n").Expect(
      "INST:NSEL 2\n");
  {
    CDriverIOManager::CommandScope outer(io_, "VOLT 5");
    EXPECT_EQ(io_.InstrPrintCommand(), S_OK);
    {
      CDriverIOManager::CommandScope inner(io_, "CURR 1\n");
      EXPECT_EQ(io_.InstrPrintCommand(), S_OK);
    }
    EXPECT_EQ(io_.InstrPrintCommand(), S_OK);  // the outer command is back
  }
  EXPECT_EQ(io_.CurrentCommand(), "");
  EXPECT_EQ(io_.InstrPrintCommand(), S_OK);
  EXPECT_EQ(io_.InstrPrintf("INST:NSEL %d", 2), S_OK);
}

// A selection that only prepares the next command costs no send of its own; the lines and their
// order on the wire stay as they were.
TEST_F(IoManager, AheadCommandsGoOutWithTheNextWriteInOneSend) {
  script_->Expect("INST:NSEL 2\nVOLT 5\n")
      .Expect("INST:NSEL 1\nVOLT?\n")
      .Reply("3\n")
      .Expect("INST:NSEL 2\n");
  ASSERT_EQ(io_.InstrPrintfAhead("INST:NSEL %d", 2), S_OK);
  ASSERT_EQ(io_.InstrPrintf("VOLT %.15g", 5.0), S_OK);
  ASSERT_EQ(io_.InstrPrintfAhead("INST:NSEL %d", 1), S_OK);
  double d = 0;
  ASSERT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(d, 3.0);
  // Nothing followed: the command goes out alone when the call ends.
  ASSERT_EQ(io_.InstrPrintfAhead("INST:NSEL %d", 2), S_OK);
  io_.FlushAhead();
  const auto log = script_->Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("write ", 0) == 0; }),
            3);
}

TEST_F(IoManager, AheadCommandsArePolledAtOnceWhenTheSessionPollsStatus) {
  host_.queryStatus = true;
  script_->Expect("INST:NSEL 2\n").Expect("*ESR?\n").Reply("+0\n").Expect("VOLT 5\n").Expect(
      "*ESR?\n").Reply("+0\n");
  ASSERT_EQ(io_.InstrPrintfAhead("INST:NSEL %d", 2), S_OK);
  ASSERT_EQ(io_.InstrPrintf("VOLT %d", 5), S_OK);
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
      .Reply("+2.50E+00\n")
      .Expect("STAT:QUES:INST:ISUM2:COND?\n")
      .Reply("+3\n");
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
  EXPECT_EQ(io_.InstrQueryf(&d, "MEAS:VOLT? (@%d)", 2), S_OK);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(io_.InstrQueryf(&n, "STAT:QUES:INST:ISUM%d:COND?", 2), S_OK);
  EXPECT_EQ(n, 3);
}

TEST_F(IoManager, IntegerQueriesReportRepliesThatAreNoNumberOrOutOfRange) {
  script_->Expect("N?\n")
      .Reply("OFF\n")
      .Expect("N?\n")
      .Reply("9.9E37\n")
      .Expect("N?\n")
      .Reply("70000\n")
      .Expect("N?\n")
      .Reply("2147483648\n")
      .Expect("N?\n")
      .Reply("-2147483648\n");
  int32_t n = 7;
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(n, 0);
  EXPECT_NE(TakeErrorDescription().find("OFF"), std::string::npos);
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), S_OK);
  EXPECT_EQ(n, 70000);
  EXPECT_EQ(io_.InstrQuery("N?", kIoTimeoutKeep, &n), E_IVI_UNEXPECTED_RESPONSE);
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
  std::optional<CDriverIOManager::CommandScope> command;
  command.emplace(io_, "OUTP?");
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  on = VARIANT_TRUE;
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), E_IVI_UNEXPECTED_RESPONSE);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), E_IVI_UNEXPECTED_RESPONSE);
  command.emplace(io_, "VOLT:MODE?");
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
      .Expect("VOLT 10\n")
      .Expect("*ESR?\n")
      .Reply("garbage\n")
      .ExpectClear();
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 6), E_IVI_INSTRUMENT_STATUS);
  EXPECT_NE(TakeErrorDescription().find("Instrument error detected"), std::string::npos);
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 7), S_OK);
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 8), S_OK);
  EXPECT_EQ(io_.InstrPrintfNoPoll("VOLT %d", 9), S_OK);
  // A status reply that is no number proves nothing: the poll fails.
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 10), E_IVI_INSTRUMENT_STATUS);
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

TEST_F(IoManager, EachOperationIsOneRecordWithItsCommandAndItsReply) {
  test::TraceRecorder recorder;
  MethodTraceSink* sink = &recorder;
  io_.SetTraceSink(&sink);
  script_->Expect("VOLT 2.5\n").Expect("ID?\n").Reply("x\n").Expect("N?\n").Reply("4\n");
  script_->Expect("OUTP?\n").Reply(" 1\n");
  EXPECT_EQ(io_.InstrPrintf("VOLT %.15g", 2.5), S_OK);
  std::string s;
  EXPECT_EQ(io_.InstrQuery("ID?", 100, kIoTimeoutKeep, &s), S_OK);
  int32_t n = 0;
  EXPECT_EQ(io_.InstrQuery("N?", 5000, &n), S_OK);
  CDriverIOManager::CommandScope command(io_, "OUTP?");
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(io_.InstrQueryCommandBool(&on), S_OK);
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{
                "enter CDriverIOManager.CDriverIOManager.InstrPrintf(In strCmd=VOLT 2.5)",
                "leave InstrPrintf() 0x00000000",
                "enter CDriverIOManager.CDriverIOManager.InstrPrintf(In strCommand=ID?, In "
                "cchDesired=100, In lTimeout=-2)",
                "leave InstrPrintf(Out bstrResult=x) 0x00000000",
                "enter CDriverIOManager.CDriverIOManager.InstrQuery(In strCommand=N?, In "
                "lTimeout=5000)",
                "leave InstrQuery(Out plResult=4) 0x00000000",
                "enter CDriverIOManager.CDriverIOManager.InstrQueryCommandBool(In "
                "strCommand=OUTP?, In lTimeout=-2)",
                "leave InstrQueryCommandBool(Out bstrResult=1) 0x00000000"}));

  // A tracer that is not running gets asked, and nothing else.
  recorder.events.clear();
  recorder.running = false;
  script_->Expect("VOLT 3\n");
  EXPECT_EQ(io_.InstrPrintf("VOLT %d", 3), S_OK);
  EXPECT_TRUE(recorder.events.empty());
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

TEST_F(IoManager, ANumberReadAfterItsCommandAndTheRestDroppedByTheNextCommand) {
  script_->Expect("SYST:REM;*OPC?\n").Reply("+1;junk\n").Expect("VOLT?\n").Reply("2\n");
  ASSERT_EQ(io_.InstrPrintfNoPoll("SYST:REM;*OPC?"), S_OK);
  int32_t done = 0;
  ASSERT_EQ(io_.FormattedReadNumber(&done), S_OK);
  EXPECT_EQ(done, 1);
  double d = 0;
  ASSERT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, &d), S_OK);
  EXPECT_EQ(d, 2.0);
}

TEST_F(IoManager, ArgumentsAreCheckedBeforeAnythingIsSent) {
  EXPECT_EQ(io_.InstrQuery("VOLT?", kIoTimeoutKeep, static_cast<double*>(nullptr)), E_POINTER);
  std::string s;
  EXPECT_EQ(io_.InstrQuery("VOLT?", -1, kIoTimeoutKeep, &s), E_INVALIDARG);
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
  vmk::com::ComPtr<IMessage> message;
  ASSERT_EQ(provider.ioprvGetIMessagePointer(message.put()), S_OK);
  VARIANT_BOOL term = VARIANT_FALSE;
  EXPECT_EQ(message->get_TerminationCharacterEnabled(&term), S_OK);
  EXPECT_EQ(term != VARIANT_FALSE, c.lineFeedSettings);
  message.reset();
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
