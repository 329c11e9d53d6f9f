#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>

#include "platform/visa/number_text.h"
#include "platform/visa/transport.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk::visa {
namespace {

TEST(ResourceName, TakesKeywordsWithoutCaseAndKeepsTheRestAsWritten) {
  ResourceName r;
  std::string why;
  ASSERT_EQ(ParseResourceName("tcpip0::MyHost::5025::socket", &r, &why), S_OK) << why;
  EXPECT_EQ(r.keyword, "TCPIP");
  EXPECT_EQ(r.resourceClass, "SOCKET");
  ASSERT_EQ(r.fields.size(), 2u);
  EXPECT_EQ(r.fields[0], "MyHost");

  ASSERT_EQ(ParseResourceName("ASRL/dev/serial/by-id/usb-FTDI_X::INSTR", &r, &why), S_OK);
  EXPECT_EQ(r.keyword, "ASRL");
  EXPECT_EQ(r.devicePath, "/dev/serial/by-id/usb-FTDI_X");
  EXPECT_TRUE(r.fields.empty());

  ASSERT_EQ(ParseResourceName("ASRL3", &r, &why), S_OK);
  EXPECT_EQ(r.board, 3);
  EXPECT_EQ(r.resourceClass, "INSTR");

  // The longer keyword wins: GPIB-VXI is not GPIB with a board "-VXI".
  ASSERT_EQ(ParseResourceName("GPIB-VXI0::12::INSTR", &r, &why), S_OK);
  EXPECT_EQ(r.keyword, "GPIB-VXI");
  EXPECT_EQ(r.board, 0);
}

TEST(ResourceName, RefusesWhatIsNoResourceName) {
  ResourceName r;
  std::string why;
  for (const char* bad :
       {"", "COM1", "FOO::bar::INSTR", "TCPIPx::host::INSTR", "TCPIP0::::5025::SOCKET"}) {
    EXPECT_EQ(ParseResourceName(bad, &r, &why), E_VISA_INV_RSRC_NAME) << bad;
    EXPECT_FALSE(why.empty());
  }
}

TEST(ResourceManager, ExplainsWhyASocketOrPortCannotBeOpened) {
  com::ComPtr<IMessage> m;
  EXPECT_EQ(test::OpenMessage("TCPIP0::127.0.0.1::99999::SOCKET", &m), E_VISA_INV_RSRC_NAME);
  EXPECT_NE(test::TakeErrorDescription().find("99999"), std::string::npos);

  // A port that was just free: nothing listens there.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  const std::string refused = "TCPIP::127.0.0.1::" + std::to_string(ntohs(a.sin_port)) + "::SOCKET";
  EXPECT_EQ(test::OpenMessage(refused, &m), E_VISA_RSRC_NFOUND);
  EXPECT_NE(test::TakeErrorDescription().find("refused"), std::string::npos);

  EXPECT_EQ(test::OpenMessage("ASRL/dev/no-such-port::INSTR", &m), E_VISA_RSRC_NFOUND);
  EXPECT_NE(test::TakeErrorDescription().find("does not exist"), std::string::npos);
  EXPECT_EQ(test::OpenMessage("ASRL0::INSTR", &m), E_VISA_INV_RSRC_NAME);
  EXPECT_EQ(test::OpenMessage("SCRIPT::never-installed::INSTR", &m), E_VISA_RSRC_NFOUND);
}

TEST(NumberText, ReadsInstrumentNumbersWhateverTheirForm) {
  double v = 0;
  EXPECT_EQ(ParseNumber("+1.00000E+00", &v), 12u);
  EXPECT_EQ(v, 1.0);
  EXPECT_EQ(ParseNumber("  -2.5e-3,7", &v), 9u);
  EXPECT_EQ(v, -0.0025);
  EXPECT_EQ(ParseNumber("#HFF", &v), 4u);
  EXPECT_EQ(v, 255.0);
  EXPECT_EQ(ParseNumber("#B101", &v), 5u);
  EXPECT_EQ(v, 5.0);
  EXPECT_EQ(ParseNumber(".5", &v), 2u);
  EXPECT_EQ(v, 0.5);
  EXPECT_GT(ParseNumber("1e999", &v), 0u);
  EXPECT_TRUE(std::isinf(v));
  EXPECT_GT(ParseNumber("1e-999", &v), 0u);
  EXPECT_EQ(v, 0.0);
  // Words are not numbers, even those a C library would read.
  for (const char* word : {"", "abc", "ON", "inf", "nan", "+", "-.", "#X12"})
    EXPECT_EQ(ParseNumber(word, &v), 0u) << word;
}

// Short decimals take a quick way in; these are its edges, each with the value and length the
// general reader gives (the compiler's own reading of the literal is the reference).
TEST(NumberText, ShortDecimalsReadExactlyAsTheGeneralReaderReadsThem) {
  struct Case {
    const char* text;
    double value;
    size_t length;
  };
  const Case cases[] = {
      {"4.35", 4.35, 4},
      {"+5.00000E+00\n", 5.0, 12},
      {"1.5e-22", 1.5e-22, 7},
      {"8.123456789012345E-23", 8.123456789012345E-23, 21},
      {"9007199254740992", 9007199254740992.0, 16},
      {"9007199254740993", 9007199254740992.0, 16},  // 2^53 + 1 rounds to even
      {"123456789012345678901", 123456789012345678901.0, 21},
      {"1.7976931348623157e308", 1.7976931348623157e308, 22},
      {"2.2250738585072014e-308", 2.2250738585072014e-308, 23},
      {"0.000001e6", 1.0, 10},
      {"0.00000000000000000000000000000000", 0.0, 34},
      {"0e999", 0.0, 5},
      {"5.", 5.0, 2},
      {"5e", 5.0, 1},
      {"5e+;", 5.0, 1},
      {"12.5.3", 12.5, 4},
      {"-0", -0.0, 2},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(ParseNumber(c.text, &v), c.length) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(std::signbit(v), std::signbit(c.value)) << c.text;
  }
}

TEST(NumberText, WritesTheShortestTextThatReadsBack) {
  EXPECT_EQ(FormatDouble(5.0), "5");
  EXPECT_EQ(FormatDouble(0.1), "0.1");
  EXPECT_EQ(FormatDouble(-1.25e-7), "-1.25e-07");
  EXPECT_EQ(FormatFloat(0.1f), "0.1");
  EXPECT_EQ(FormatInteger(-2147483648LL), "-2147483648");
  double back = 0;
  const double awkward = 1.0 / 3.0;
  ParseNumber(FormatDouble(awkward), &back);
  EXPECT_EQ(back, awkward);
}

}  // namespace
}  // namespace vmk::visa
