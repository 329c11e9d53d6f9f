// The message session and the formatted-I/O object over the scripted transport.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "platform/visa/message_session.h"
#include "tests/support/script.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk::visa {
namespace {

using com::Bstr;
using com::ComPtr;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script_ = Script::Install("session");
    ASSERT_EQ(test::OpenMessage("SCRIPT::session::INSTR", &io_), S_OK);
    ASSERT_EQ(io_->put_TerminationCharacterEnabled(VARIANT_TRUE), S_OK);
    ASSERT_EQ(CreateFormattedIO488(fio_.put()), S_OK);
    ASSERT_EQ(fio_->putref_IO(io_.get()), S_OK);
  }
  void TearDown() override {
    EXPECT_TRUE(script_->Done()) << script_->Report();
    Script::Uninstall("session");
  }
  std::string Read(LONG count = 256) {
    std::string s;
    EXPECT_TRUE(SUCCEEDED(test::ReadText(io_.get(), count, &s)));
    return s;
  }
  VARIANT ReadNumber(LONG type, bool flush = false) {
    VARIANT v;
    EXPECT_EQ(fio_->ReadNumber(type, flush ? VARIANT_TRUE : VARIANT_FALSE, &v), S_OK)
        << test::TakeErrorDescription();
    return v;
  }

  std::shared_ptr<Script> script_;
  ComPtr<IMessage> io_;
  ComPtr<IFormattedIO488> fio_;
};

TEST_F(SessionTest, ReadsEndAtTheTerminationCharacterAndKeepTheRest) {
  script_->Expect("A?\n").Reply("1\n2\n");
  ASSERT_EQ(test::WriteText(io_.get(), "A?\n"), S_OK);
  EXPECT_EQ(Read(), "1\n");
  EXPECT_EQ(Read(), "2\n");
}

TEST_F(SessionTest, ACountShorterThanTheReplyLeavesTheRestForTheNextRead) {
  script_->Expect("A?\n").Reply("12345\n");
  ASSERT_EQ(test::WriteText(io_.get(), "A?\n"), S_OK);
  std::string s;
  EXPECT_EQ(test::ReadText(io_.get(), 3, &s), S_VISA_MAX_CNT);
  EXPECT_EQ(s, "123");
  EXPECT_EQ(test::ReadText(io_.get(), 100, &s), S_VISA_TERM_CHAR);
  EXPECT_EQ(s, "45\n");
}

TEST_F(SessionTest, WithoutTerminationCharacterEndEndsTheRead) {
  ASSERT_EQ(io_->put_TerminationCharacterEnabled(VARIANT_FALSE), S_OK);
  script_->Expect("A?\n").Reply("1\n2", /*end=*/true);
  ASSERT_EQ(test::WriteText(io_.get(), "A?\n"), S_OK);
  EXPECT_EQ(Read(), "1\n2");
}

TEST_F(SessionTest, AReplyLeftUnreadIsNeverTakenForTheAnswerOfTheNextQuery) {
  // The first reply is only half read; the second query times out and its reply comes late.
  script_->Expect("A?\n")
      .Reply("11111\n")
      .Expect("B?\n")
      .Timeout()
      .Reply("late B\n")
      .Expect("C?\n")
      .Reply("3\n");
  ASSERT_EQ(test::WriteText(io_.get(), "A?\n"), S_OK);
  std::string s;
  EXPECT_EQ(test::ReadText(io_.get(), 2, &s), S_VISA_MAX_CNT);
  ASSERT_EQ(test::WriteText(io_.get(), "B?\n"), S_OK);
  EXPECT_EQ(test::ReadText(io_.get(), 100, &s), E_VISA_TMO);
  EXPECT_NE(test::TakeErrorDescription().find("time-out"), std::string::npos);
  ASSERT_EQ(test::WriteText(io_.get(), "C?\n"), S_OK);
  EXPECT_EQ(Read(), "3\n");
}

// A write its writer knows draws no reply spares the look for stale input, but only when there is
// none to expect: a reply still owed to an earlier query, or to one that timed out, is dropped
// before the next write all the same, and stays owed until a query's reply is read whole.
TEST_F(SessionTest, AWriteThatDrawsNoReplyStillDropsAReplyStillOwed) {
  IMessage* own = nullptr;
  ASSERT_EQ(io_->QueryInterface(IID_VmkMessageSession, reinterpret_cast<void**>(&own)), S_OK);
  const auto session = ComPtr<CMessageSession>::Attach(static_cast<CMessageSession*>(own));
  script_->Expect("VOLT 5\n")
      .Expect("CURR?\n")
      .Reply("owed\n")
      .Expect("OUTP 1\n")
      .Reply("late\n")
      .Expect("OUTP 0\n")
      .Expect("VOLT?\n")
      .Timeout()
      .Reply("late VOLT\n")
      .Expect("OUTP 1\n")
      .Expect("CURR?\n")
      .Reply("2\n");
  LONG sent = 0;
  ASSERT_EQ(session->WriteText("VOLT 5\n", &sent, false), S_OK);
  ASSERT_EQ(session->WriteText("CURR?\n", &sent, true), S_OK);
  ASSERT_EQ(session->WriteText("OUTP 1\n", &sent, false), S_OK);
  ASSERT_EQ(session->WriteText("OUTP 0\n", &sent, false), S_OK);
  ASSERT_EQ(session->WriteText("VOLT?\n", &sent, true), S_OK);
  std::string s;
  EXPECT_EQ(test::ReadText(io_.get(), 100, &s), E_VISA_TMO);
  test::TakeErrorDescription();
  ASSERT_EQ(session->WriteText("OUTP 1\n", &sent, false), S_OK);
  ASSERT_EQ(session->WriteText("CURR?\n", &sent, true), S_OK);
  EXPECT_EQ(Read(), "2\n");
}

TEST_F(SessionTest, RawAndFormattedIoShareOneBufferEachWay) {
  // A formatted write not yet flushed goes out before a raw write that follows it.
  script_->Expect("VOLT 5;CURR 1\n").Reply("1.5,2.5,3.5\n");
  VARIANT five;
  VariantInit(&five);
  five.vt = VT_I4;
  five.lVal = 5;
  ASSERT_EQ(fio_->WriteString(Bstr("VOLT ").get(), VARIANT_FALSE), S_OK);
  ASSERT_EQ(fio_->WriteNumber(five, ASCIIType_Any, VARIANT_FALSE), S_OK);
  ASSERT_EQ(test::WriteText(io_.get(), ";CURR 1\n"), S_OK);
  // What a formatted read leaves is what the raw read gets.
  VARIANT first = ReadNumber(ASCIIType_R8);
  EXPECT_EQ(first.dblVal, 1.5);
  EXPECT_EQ(Read(), ",2.5,3.5\n");
}

TEST_F(SessionTest, ReadNumberWithoutFlushContinuesOnTheSameReply) {
  script_->Expect("L?\n").Reply("+1.0E+00,-2,7\n").Expect("X?\n").Reply("9\n");
  ASSERT_EQ(test::WriteText(io_.get(), "L?\n"), S_OK);
  EXPECT_EQ(ReadNumber(ASCIIType_R8).dblVal, 1.0);
  EXPECT_EQ(ReadNumber(ASCIIType_I2).iVal, -2);
  VARIANT last = ReadNumber(ASCIIType_UI1, /*flush=*/true);
  EXPECT_EQ(last.vt, VT_UI1);
  EXPECT_EQ(last.bVal, 7);
  ASSERT_EQ(test::WriteText(io_.get(), "X?\n"), S_OK);
  EXPECT_EQ(ReadNumber(ASCIIType_I4, true).lVal, 9);
}

TEST_F(SessionTest, ReadNumberRefusesWordsAndValuesBeyondTheType) {
  script_->Expect("A?\n").Reply("ON\n").Expect("B?\n").Reply("70000\n");
  ASSERT_EQ(test::WriteText(io_.get(), "A?\n"), S_OK);
  VARIANT v;
  EXPECT_EQ(fio_->ReadNumber(ASCIIType_R8, VARIANT_TRUE, &v), E_VISA_INV_FMT);
  EXPECT_NE(test::TakeErrorDescription().find("ON"), std::string::npos);
  ASSERT_EQ(test::WriteText(io_.get(), "B?\n"), S_OK);
  EXPECT_EQ(fio_->ReadNumber(ASCIIType_I2, VARIANT_TRUE, &v), DISP_E_OVERFLOW);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST_F(SessionTest, ListsAreWrittenWithTheSeparatorAndReadByEveryType) {
  script_->Expect("LIST 1;-2;3\n")
      .Expect("L?\n")
      .Reply("1.5, 2 ,abc\n")
      .Expect("L?\n")
      .Reply("4,5\n");
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I2, 0, 3);
  const SHORT values[] = {1, -2, 3};
  std::memcpy(psa->pvData, values, sizeof values);
  VARIANT list;
  VariantInit(&list);
  list.vt = VT_ARRAY | VT_I2;
  list.parray = psa;
  ASSERT_EQ(fio_->WriteString(Bstr("LIST ").get(), VARIANT_FALSE), S_OK);
  ASSERT_EQ(fio_->WriteList(&list, ASCIIType_Any, Bstr(";").get(), VARIANT_FALSE), S_OK);
  ASSERT_EQ(fio_->WriteString(Bstr("\n").get(), VARIANT_TRUE), S_OK);
  VariantClear(&list);

  ASSERT_EQ(test::WriteText(io_.get(), "L?\n"), S_OK);
  VARIANT any;
  ASSERT_EQ(fio_->ReadList(ASCIIType_Any, nullptr, &any), S_OK);
  ASSERT_EQ(any.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(any.parray->rgsabound[0].cElements, 3u);
  const VARIANT* items = static_cast<const VARIANT*>(any.parray->pvData);
  EXPECT_EQ(items[0].dblVal, 1.5);
  EXPECT_EQ(items[1].dblVal, 2.0);
  EXPECT_EQ(Bstr(items[2].bstrVal).utf8(), "abc");
  VariantClear(&any);

  ASSERT_EQ(test::WriteText(io_.get(), "L?\n"), S_OK);
  VARIANT ints;
  ASSERT_EQ(fio_->ReadList(ASCIIType_I4, Bstr(",").get(), &ints), S_OK);
  ASSERT_EQ(ints.vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(static_cast<const LONG*>(ints.parray->pvData)[1], 5);
  VariantClear(&ints);
}

TEST_F(SessionTest, DefiniteBlocksCarryAnyByteAndFollowTheByteOrder) {
  // 0x0A inside the data must not end the read even with the termination character on.
  const std::string block("#14\x00\x0A\x01\x02\n", 8);
  script_->Expect("CURV?\n")
      .Reply(block)
      .Expect("CURV?\n")
      .Reply("junk " + block)
      .Expect(std::string("DATA #14\x00\x0A\x01\x02\n", 13));
  VARIANT v;
  ASSERT_EQ(test::WriteText(io_.get(), "CURV?\n"), S_OK);
  ASSERT_EQ(fio_->ReadIEEEBlock(BinaryType_I2, VARIANT_FALSE, VARIANT_TRUE, &v), S_OK)
      << test::TakeErrorDescription();
  ASSERT_EQ(v.parray->rgsabound[0].cElements, 2u);
  EXPECT_EQ(static_cast<const SHORT*>(v.parray->pvData)[0], 0x000A);
  EXPECT_EQ(static_cast<const SHORT*>(v.parray->pvData)[1], 0x0102);
  VariantClear(&v);

  ASSERT_EQ(fio_->put_InstrumentBigEndian(VARIANT_FALSE), S_OK);
  ASSERT_EQ(test::WriteText(io_.get(), "CURV?\n"), S_OK);
  ASSERT_EQ(fio_->ReadIEEEBlock(BinaryType_I2, VARIANT_TRUE, VARIANT_TRUE, &v), S_OK);
  EXPECT_EQ(static_cast<const SHORT*>(v.parray->pvData)[0], 0x0A00);

  // Written back in the same (little-endian) order, the bytes are the same.
  ASSERT_EQ(fio_->WriteIEEEBlock(Bstr("DATA ").get(), v, VARIANT_TRUE), S_OK);
  VariantClear(&v);
}

TEST_F(SessionTest, IndefiniteBlocksRunToTheFinalLineFeed) {
  script_->Expect("B?\n").Reply(std::string("#0\x01\x02\x03\n", 6));
  ASSERT_EQ(test::WriteText(io_.get(), "B?\n"), S_OK);
  VARIANT v;
  ASSERT_EQ(fio_->ReadIEEEBlock(BinaryType_UI1, VARIANT_FALSE, VARIANT_TRUE, &v), S_OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  ASSERT_EQ(v.parray->rgsabound[0].cElements, 3u);
  EXPECT_EQ(static_cast<const BYTE*>(v.parray->pvData)[2], 3);
  VariantClear(&v);
}

TEST_F(SessionTest, ABlockOfTheWrongSizeOrWithoutHeaderIsRefused) {
  script_->Expect("B?\n").Reply("#13abc\n").Expect("B?\n").Reply("1,2\n");
  VARIANT v;
  ASSERT_EQ(test::WriteText(io_.get(), "B?\n"), S_OK);
  EXPECT_EQ(fio_->ReadIEEEBlock(BinaryType_I4, VARIANT_FALSE, VARIANT_TRUE, &v), E_VISA_INV_FMT);
  ASSERT_EQ(test::WriteText(io_.get(), "B?\n"), S_OK);
  EXPECT_EQ(fio_->ReadIEEEBlock(BinaryType_UI1, VARIANT_FALSE, VARIANT_TRUE, &v), E_VISA_INV_FMT);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST_F(SessionTest, TheWriteBufferSizeDecidesWhenFormattedOutputLeaves) {
  ASSERT_EQ(fio_->SetBufferSize(IO_OUT_BUF, 4), S_OK);
  EXPECT_EQ(fio_->SetBufferSize(IO_OUT_BUF, 0), E_INVALIDARG);
  script_->Expect("ABCDE").Expect("F\n");
  ASSERT_EQ(fio_->WriteString(Bstr("AB").get(), VARIANT_FALSE), S_OK);
  EXPECT_TRUE(script_->Log().empty());
  ASSERT_EQ(fio_->WriteString(Bstr("CDE").get(), VARIANT_FALSE), S_OK);
  ASSERT_EQ(fio_->WriteString(Bstr("F\n").get(), VARIANT_FALSE), S_OK);
  ASSERT_EQ(fio_->FlushWrite(VARIANT_TRUE), S_OK);
}

TEST_F(SessionTest, NumbersUseAPointWhateverTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  const char* comma = nullptr;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "ru_RU.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name)) {
      comma = name;
      break;
    }
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";
  script_->Expect("VOLT 2.5\n").Expect("Q?\n").Reply("1.25\n");
  VARIANT d;
  VariantInit(&d);
  d.vt = VT_R8;
  d.dblVal = 2.5;
  EXPECT_EQ(fio_->WriteString(Bstr("VOLT ").get(), VARIANT_FALSE), S_OK);
  EXPECT_EQ(fio_->WriteNumber(d, ASCIIType_R8, VARIANT_FALSE), S_OK);
  EXPECT_EQ(fio_->WriteString(Bstr("\n").get(), VARIANT_TRUE), S_OK);
  EXPECT_EQ(test::WriteText(io_.get(), "Q?\n"), S_OK);
  EXPECT_EQ(ReadNumber(ASCIIType_R8, true).dblVal, 1.25);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(SessionTest, ReadStbAsksTheInstrumentWhereThereIsNoSerialPoll) {
  script_->Expect("*STB?\n").Reply("+72\n");
  SHORT stb = 0;
  ASSERT_EQ(io_->ReadSTB(&stb), S_OK);
  EXPECT_EQ(stb, 72);
  script_->SerialPoll(0x40);
  ASSERT_EQ(io_->ReadSTB(&stb), S_OK);
  EXPECT_EQ(stb, 0x40);
}

TEST_F(SessionTest, ClearDropsBufferedInputAndPendingOutput) {
  script_->Expect("A?\n").Reply("1\n2\n").ExpectClear().Expect("B?\n").Reply("3\n");
  ASSERT_EQ(test::WriteText(io_.get(), "A?\n"), S_OK);
  EXPECT_EQ(Read(), "1\n");
  ASSERT_EQ(fio_->WriteString(Bstr("never sent").get(), VARIANT_FALSE), S_OK);
  ASSERT_EQ(io_->Clear(), S_OK);
  ASSERT_EQ(test::WriteText(io_.get(), "B?\n"), S_OK);
  EXPECT_EQ(Read(), "3\n");
}

TEST_F(SessionTest, TimeoutValuesBelowInfiniteAreRefused) {
  EXPECT_EQ(io_->put_Timeout(-2), E_INVALIDARG);
  EXPECT_EQ(io_->put_Timeout(-1), S_OK);
  LONG t = 0;
  EXPECT_EQ(io_->get_Timeout(&t), S_OK);
  EXPECT_EQ(t, -1);
}

TEST(FormattedIO, RefusesToWorkUnbound) {
  ComPtr<IFormattedIO488> fio;
  ASSERT_EQ(CreateFormattedIO488(fio.put()), S_OK);
  EXPECT_EQ(fio->FlushWrite(VARIANT_TRUE), E_FAIL);
  EXPECT_NE(test::TakeErrorDescription().find("not bound"), std::string::npos);
  ComPtr<IMessage> io;
  EXPECT_EQ(fio->get_IO(io.put()), S_OK);
  EXPECT_FALSE(io);
}

}  // namespace
}  // namespace vmk::visa
