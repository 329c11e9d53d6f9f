// VXI-11 failures that need no instrument, the portmapper's question on the wire, USBTMC through
// a sysfs tree of the test's own with a pseudo-terminal as the device file, GPIB without its
// library, and discovery's grammar and sysfs listing.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/visa/portmap.h"
#include "platform/visa/transport.h"
#include "platform/visa/visa.h"
#include "tests/unit/platform_visa/test_peer.h"
#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk {
namespace {

using test::OpenMessage;
using test::TakeErrorDescription;

TEST(ResourceName, InstrumentResourcesOfEveryBusKeepTheirFields) {
  visa::ResourceName r;
  std::string why;
  ASSERT_EQ(visa::ParseResourceName("tcpip::10.1.2.3::INSTR", &r, &why), S_OK);
  EXPECT_EQ(r.keyword, "TCPIP");
  EXPECT_EQ(r.fields, (std::vector<std::string>{"10.1.2.3"}));
  EXPECT_EQ(r.resourceClass, "INSTR");
  ASSERT_EQ(visa::ParseResourceName("TCPIP1::gw.lab::gpib0,5", &r, &why), S_OK);
  EXPECT_EQ(r.board, 1);
  EXPECT_EQ(r.fields, (std::vector<std::string>{"gw.lab", "gpib0,5"}));
  EXPECT_EQ(r.resourceClass, "INSTR");
  ASSERT_EQ(visa::ParseResourceName("USB0::0x1AB1::3601::Sn-a1::INSTR", &r, &why), S_OK);
  EXPECT_EQ(r.fields, (std::vector<std::string>{"0x1AB1", "3601", "Sn-a1"}));
  ASSERT_EQ(visa::ParseResourceName("GPIB2::5::12", &r, &why), S_OK);
  EXPECT_EQ(r.board, 2);
  EXPECT_EQ(r.fields, (std::vector<std::string>{"5", "12"}));
}

TEST(ResourceManager, AnswersBusesItHasNoTransportForWithAClearFailure) {
  for (const char* name :
       {"VXI0::1::INSTR", "GPIB-VXI0::2::INSTR", "TCPIP0::127.0.0.1::hislip0::INSTR"}) {
    com::ComPtr<IMessage> m;
    EXPECT_EQ(OpenMessage(name, &m), E_VISA_NSUP_OPER) << name;
    EXPECT_NE(TakeErrorDescription().find("not available"), std::string::npos) << name;
    EXPECT_FALSE(m);
  }
}

TEST(Portmap, TheGetPortQuestionAndItsAnswerOnTheWire) {
  const std::string call = visa::EncodeGetPort(0x01020304, 0x0607AF, 1);
  const uint8_t want[] = {
      0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0,     0, 0, 0, 2,    0, 0x01, 0x86, 0xA0,  // pmap
      0,    0,    0,    2,    0, 0, 0, 3,     0, 0, 0, 0,    0, 0,    0,    0,     // GETPORT
      0,    0,    0,    0,    0, 0, 0, 0,                                          // verifier
      0,    0x06, 0x07, 0xAF, 0, 0, 0, 1,     0, 0, 0, 6,    0, 0,    0,    0};    // TCP
  EXPECT_EQ(call, std::string(reinterpret_cast<const char*>(want), sizeof want));
  const uint8_t reply[] = {0x01, 0x02, 0x03, 0x04, 0, 0, 0, 1, 0, 0, 0, 0,   0, 0, 0, 0,
                           0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0x03, 0xFF};
  uint16_t port = 0;
  EXPECT_TRUE(visa::DecodeGetPortReply(reply, sizeof reply, 0x01020304, &port));
  EXPECT_EQ(port, 1023);
  EXPECT_FALSE(visa::DecodeGetPortReply(reply, sizeof reply, 0x01020305, &port));  // other call
  EXPECT_FALSE(visa::DecodeGetPortReply(reply, sizeof reply - 4, 0x01020304, &port));
  uint8_t denied[sizeof reply];
  std::memcpy(denied, reply, sizeof reply);
  denied[23] = 1;  // PROG_UNAVAIL
  EXPECT_FALSE(visa::DecodeGetPortReply(denied, sizeof denied, 0x01020304, &port));
}

TEST(Vxi11, OpenFailuresSayWhy) {
  com::ComPtr<IMessage> m;
  EXPECT_EQ(OpenMessage("TCPIP0::127.0.0.1,70000::inst0::INSTR", &m), E_VISA_INV_RSRC_NAME);
  EXPECT_NE(TakeErrorDescription().find("\"70000\" is not a TCP port number"), std::string::npos);
  EXPECT_EQ(OpenMessage("TCPIP0::127.0.0.1::inst0::extra::INSTR", &m), E_VISA_INV_RSRC_NAME);
  TakeErrorDescription();

  // A server that takes the connection and never answers: the open gives up at its time-out.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string port = std::to_string(ntohs(a.sin_port));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenMessage("TCPIP0::127.0.0.1," + port + "::inst0::INSTR", &m), E_VISA_RSRC_NFOUND);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(TakeErrorDescription(),
            "no answer from the VXI-11 server 127.0.0.1:" + port + " within 2000 ms");
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  ::close(listener);
}

TEST(Gpib, WithoutLinuxGpibTheOpenSaysSo) {
  if (void* lib = dlopen("libgpib.so.0", RTLD_NOW)) {
    dlclose(lib);
    GTEST_SKIP() << "this machine has linux-gpib";
  }
  com::ComPtr<IMessage> m;
  EXPECT_EQ(OpenMessage("GPIB0::5::INSTR", &m), E_VISA_LIBRARY_NFOUND);
  EXPECT_EQ(TakeErrorDescription(), "GPIB is not available: no GPIB library on this machine");
}

// A sysfs and /dev of the test's own: two USBTMC interfaces of one instrument, a USB serial
// adapter, a serial port, an empty legacy UART slot and a virtual console.
class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ::testing::TempDir() + "vmk-sysfs-" + std::to_string(getpid());
    const std::string usb = "devices/pci0000:00/usb1/1-2";
    Dir("sys/" + usb + "/1-2:1.0");
    Dir("sys/" + usb + "/1-2:1.1");
    File("sys/" + usb + "/idVendor", "1ab1\n");
    File("sys/" + usb + "/idProduct", "0e11\n");
    File("sys/" + usb + "/serial", "DP8C1234\n");
    File("sys/" + usb + "/manufacturer", "Acme\n");
    File("sys/" + usb + "/product", "Bench Meter\n");
    File("sys/" + usb + "/1-2:1.0/bInterfaceNumber", "00\n");
    File("sys/" + usb + "/1-2:1.1/bInterfaceNumber", "01\n");
    Link("sys/class/usbmisc/usbtmc0", usb + "/1-2:1.0");
    Link("sys/class/usbmisc/usbtmc1", usb + "/1-2:1.1");
    const std::string ftdi = "devices/pci0000:00/usb1/1-3";
    Dir("sys/" + ftdi + "/1-3:1.0/ttyUSB0");
    File("sys/" + ftdi + "/idVendor", "0403\n");
    File("sys/" + ftdi + "/idProduct", "6001\n");
    File("sys/" + ftdi + "/serial", "A9XYZ\n");
    File("sys/" + ftdi + "/product", "FT232R USB UART\n");
    File("sys/" + ftdi + "/1-3:1.0/bInterfaceNumber", "00\n");
    Link("sys/class/tty/ttyUSB0", ftdi + "/1-3:1.0/ttyUSB0");
    Dir("sys/devices/platform/serial8250/tty/ttyS0");
    Dir("sys/devices/platform/serial8250/tty/ttyS1");
    Link("sys/class/tty/ttyS0", "devices/platform/serial8250/tty/ttyS0");
    Link("sys/class/tty/ttyS1", "devices/platform/serial8250/tty/ttyS1");
    File("sys/class/tty/ttyS0/type", "4\n");
    File("sys/class/tty/ttyS1/type", "0\n");
    Dir("sys/class/tty/tty0");
    Dir("dev");
    setenv("VMK40XX_SYSFS", (root_ + "/sys").c_str(), 1);
    setenv("VMK40XX_DEVFS", (root_ + "/dev").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VMK40XX_SYSFS");
    unsetenv("VMK40XX_DEVFS");
    std::system(("rm -rf " + root_).c_str());
  }
  void Dir(const std::string& path) { std::system(("mkdir -p " + root_ + "/" + path).c_str()); }
  void File(const std::string& path, const std::string& text) {
    std::ofstream(root_ + "/" + path) << text;
  }
  // A class entry: the directory with its `device` link, as the kernel lays it out.
  void Link(const std::string& entry, const std::string& target) {
    Dir(entry);
    ASSERT_EQ(::symlink((root_ + "/sys/" + target).c_str(), (root_ + "/" + entry + "/device").c_str()), 0);
  }
  // /dev/<name> as a pseudo-terminal whose other side the test holds, in raw mode.
  int StandIn(const std::string& name) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master);
    ::unlockpt(master);
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    EXPECT_EQ(::symlink(::ptsname(master), (root_ + "/dev/" + name).c_str()), 0);
    return master;
  }
  std::string root_;
};

TEST_F(FakeSystem, UsbInstrumentsAreFoundByTheirIdentifiersAndTalkThroughTheirDeviceFile) {
  const int master0 = StandIn("usbtmc0");
  const int master1 = StandIn("usbtmc1");
  com::ComPtr<IMessage> m;
  // Identifiers in hex or decimal; the lowest interface unless one is named.
  ASSERT_EQ(OpenMessage("USB0::0x1ab1::3601::DP8C1234::INSTR", &m), S_OK) << TakeErrorDescription();
  SHORT type = 0;
  EXPECT_EQ(m->get_HardwareInterfaceType(&type), S_OK);
  EXPECT_EQ(type, INTF_USB);
  EXPECT_EQ(test::WriteText(m.get(), "*IDN?\n"), S_OK);
  char buf[64] = {};
  ASSERT_EQ(::read(master0, buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "*IDN?\n");
  // A stand-in has no EOM: the termination character ends the read.
  EXPECT_EQ(m->put_TerminationCharacterEnabled(VARIANT_TRUE), S_OK);
  test::WriteAll(master0, "Acme,BM1,DP8C1234,2.0\nrest");
  std::string reply;
  EXPECT_EQ(test::ReadText(m.get(), 100, &reply), S_VISA_TERM_CHAR);
  EXPECT_EQ(reply, "Acme,BM1,DP8C1234,2.0\n");
  m.reset();

  ASSERT_EQ(OpenMessage("USB0::0x1AB1::0x0E11::DP8C1234::1::INSTR", &m), S_OK)
      << TakeErrorDescription();
  EXPECT_EQ(test::WriteText(m.get(), "X\n"), S_OK);
  ASSERT_EQ(::read(master1, buf, sizeof buf), 2);
  // No serial poll through a file that is not the driver's: "*STB?" is asked instead.
  std::string asked;
  std::thread instrument([&] {
    char q[16];
    const ssize_t n = ::read(master1, q, sizeof q);
    asked.assign(q, n > 0 ? static_cast<size_t>(n) : 0);
    test::WriteAll(master1, "+16\n");
  });
  SHORT stb = 0;
  EXPECT_EQ(m->ReadSTB(&stb), S_OK) << TakeErrorDescription();
  instrument.join();
  EXPECT_EQ(asked, "*STB?\n");
  EXPECT_EQ(stb, 16);
  m.reset();
  ::close(master0);
  ::close(master1);

  EXPECT_EQ(OpenMessage("USB0::0x1AB1::0x0E11::dp8c1234::INSTR", &m), E_VISA_RSRC_NFOUND);
  EXPECT_EQ(TakeErrorDescription(),
            "no USB instrument 0x1AB1::0x0E11::dp8c1234 is attached to the usbtmc driver "
            "(nothing matches in " + root_ + "/sys/class/usbmisc)");
  EXPECT_EQ(OpenMessage("USB0::0x1AB1::0x0E11::DP8C1234::2::INSTR", &m), E_VISA_RSRC_NFOUND);
  TakeErrorDescription();
  EXPECT_EQ(OpenMessage("USB0::vendor::0x0E11::DP8C1234::INSTR", &m), E_VISA_INV_RSRC_NAME);
  TakeErrorDescription();
}

TEST_F(FakeSystem, DiscoveryListsSerialPortsAndUsbInstrumentsFromSysfs) {
  visa::DiscoveryOptions o;
  o.identify = false;
  o.vxi11Targets = {"127.0.0.1"};
  std::vector<visa::FoundResource> found;
  std::string why;
  ASSERT_EQ(visa::FindResources("ASRL?*", o, &found, &why), S_OK) << why;
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].resource, "ASRL/dev/ttyS0::INSTR");
  EXPECT_EQ(found[0].description, "");
  EXPECT_EQ(found[1].resource, "ASRL/dev/ttyUSB0::INSTR");
  EXPECT_EQ(found[1].description, "USB 0403:6001 serial A9XYZ (FT232R USB UART)");

  ASSERT_EQ(visa::FindResources("usb?*", o, &found, &why), S_OK) << why;
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].resource, "USB0::0x1AB1::0x0E11::DP8C1234::INSTR");
  EXPECT_EQ(found[0].description,
            "USB 1ab1:0e11 serial DP8C1234 (Acme Bench Meter) on " + root_ + "/dev/usbtmc0");
  EXPECT_EQ(found[1].resource, "USB0::0x1AB1::0x0E11::DP8C1234::1::INSTR");

  EXPECT_EQ(visa::FindResources("ASRL/dev/ttyUSB?*", o, &found, &why), S_OK);
  EXPECT_EQ(found.size(), 1u);

  // The resource manager's form: the names only.
  com::ComPtr<IResourceManager> rm;
  ASSERT_EQ(visa::CreateResourceManager(rm.put()), S_OK);
  SAFEARRAY* names = nullptr;
  ASSERT_EQ(rm->FindResources(com::Bstr(std::string_view("USB0::0x1AB1::?*")).get(), &names), S_OK);
  ASSERT_NE(names, nullptr);
  ASSERT_EQ(names->rgsabound[0].cElements, 2u);
  EXPECT_EQ(com::BstrToUtf8(static_cast<BSTR*>(names->pvData)[1]),
            "USB0::0x1AB1::0x0E11::DP8C1234::1::INSTR");
  SafeArrayDestroy(names);
  EXPECT_EQ(rm->FindResources(com::Bstr(std::string_view("USB0::0x9999::?*")).get(), &names),
            E_VISA_RSRC_NFOUND);
  EXPECT_EQ(TakeErrorDescription(), "no instrument matches \"USB0::0x9999::?*\"");
}

TEST(ResourceExpression, VisasGrammarWithoutRegardToCase) {
  struct Case {
    const char* expression;
    const char* resource;
    bool matches;
  } cases[] = {
      {"?*", "TCPIP0::10.0.0.1::inst0::INSTR", true},
      {"TCPIP?*::INSTR", "TCPIP0::10.0.0.1::inst0::INSTR", true},
      {"TCPIP?*::INSTR", "TCPIP0::10.0.0.1::5025::SOCKET", false},
      {"tcpip?*", "TCPIP0::10.0.0.1::inst0::INSTR", true},
      {"ASRL?*", "ASRL/dev/ttyUSB0::INSTR", true},
      {"ASRL?*", "TCPIP0::host::INSTR", false},
      {"ASRL[0-9]::?*", "ASRL1::INSTR", true},
      {"ASRL[0-9]::?*", "ASRL/dev/ttyS0::INSTR", false},
      {"ASRL[^/]?*", "ASRL/dev/ttyS0::INSTR", false},
      {"(USB|GPIB)?*", "GPIB0::5::INSTR", true},
      {"USB0::0x1AB1::?*", "USB0::0x1AB1::0x0E11::S::INSTR", true},
      {"GPIB0::5::INSTR", "GPIB0::5::INSTR", true},
      {"GPIB0::5::INSTR", "GPIB0::50::INSTR", false},
      {"a.b", "axb", false},  // '.' is a plain character here
      {"A+B", "AAAB", true},
      {"TCPIP0::\\?", "TCPIP0::?", true},
  };
  for (const Case& c : cases) {
    bool matches = !c.matches;
    std::string why;
    EXPECT_EQ(visa::MatchResourceExpression(c.expression, c.resource, &matches, &why), S_OK)
        << c.expression;
    EXPECT_EQ(matches, c.matches) << c.expression << " against " << c.resource;
  }
  for (const char* bad : {"*", "TCPIP[0-9", "ab\\", "(x"}) {
    bool matches = false;
    std::string why;
    EXPECT_EQ(visa::MatchResourceExpression(bad, "x", &matches, &why), E_VISA_INV_EXPR) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

}  // namespace
}  // namespace vmk
