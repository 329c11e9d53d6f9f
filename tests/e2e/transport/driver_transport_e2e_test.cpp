// The driver, created through its class factory, over VXI-11 as over the socket: the same
// members against the same emulator, the resource the only difference. The VXI-11 sessions use
// TCPIP0::127.0.0.1::inst0::INSTR, found through the portmapper, so these tests take turns with
// every other user of it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/emulator.h"
#include "tests/support/client.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/visacom.h"
#include "vmk40xx/vmk40xx.h"

namespace {

using vmk::test::Bstr;
using vmk::test::Emulator;
using vmk::test::Link;
using vmk::test::Ref;
using vmk::test::TakeError;

const char* Name(Link link) {
  return link == Link::Vxi11 ? "Vxi11" : "Socket";
}

}  // namespace

namespace vmk::test {
void PrintTo(Link link, std::ostream* os) {
  *os << Name(link);
}
}  // namespace vmk::test

namespace {

class OverEachTransport : public ::testing::TestWithParam<Link> {
 protected:
  void Start(const std::string& model) {
    emulator = std::make_unique<Emulator>(std::vector<std::string>{"--model", model}, GetParam());
    ASSERT_FALSE(emulator->Resource().empty()) << "the emulator did not start";
    driver = vmk::test::NewDriver();
    ASSERT_EQ(driver->Initialize(Bstr(emulator->Resource()), VARIANT_TRUE, VARIANT_TRUE, Bstr("")),
              S_OK)
        << TakeError();
  }
  void TearDown() override {
    if (driver) driver->Close();
    driver = nullptr;
    emulator.reset();
  }
  Ref<IVelmoraK40xxOutput> Output(const char* name) {
    Ref<IVelmoraK40xxOutputs> outputs;
    Ref<IVelmoraK40xxOutput> output;
    EXPECT_EQ(driver->get_Outputs(&outputs), S_OK);
    EXPECT_EQ(outputs->get_Item(Bstr(name), &output), S_OK);
    return output;
  }

  std::unique_ptr<Emulator> emulator;
  vmk::com::ComPtr<IVelmoraK40xx> driver;
};

TEST_P(OverEachTransport, IdentifiesTheModelAndReadsBackSettingsAndMeasurements) {
  ASSERT_NO_FATAL_FAILURE(Start("K4201A"));
  Ref<IIviDriverIdentity> identity;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverIdentity, reinterpret_cast<void**>(&identity)),
            S_OK);
  BSTR model = nullptr;
  EXPECT_EQ(identity->get_InstrumentModel(&model), S_OK);
  EXPECT_EQ(vmk::com::BstrToUtf8(model), "K4201A");
  SysFreeString(model);

  Ref<IVelmoraK40xxOutput> output = Output("Output2");
  ASSERT_EQ(output->ApplyVoltageCurrent(3.0, 0.5), S_OK) << TakeError();
  double v = 0;
  EXPECT_EQ(output->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 3.0);
  Ref<IVelmoraK40xxOutputs> outputs;
  ASSERT_EQ(driver->get_Outputs(&outputs), S_OK);
  ASSERT_EQ(outputs->put_Enabled(VARIANT_TRUE), S_OK);
  EXPECT_EQ(output->Measure(VelmoraK40xxMeasurementVoltage, &v), S_OK) << TakeError();
  EXPECT_NEAR(v, 3.0, 1e-6);
  VARIANT_BOOL state = VARIANT_FALSE;
  EXPECT_EQ(output->QueryState(VelmoraK40xxOutputConstantVoltage, &state), S_OK);
  EXPECT_EQ(state, VARIANT_TRUE);
}

TEST_P(OverEachTransport, ABusTriggerAppliesTheTriggeredLevel) {
  ASSERT_NO_FATAL_FAILURE(Start("K4105A"));
  Ref<IVelmoraK40xxTriggers> triggers;
  Ref<IVelmoraK40xxTrigger> trigger;
  ASSERT_EQ(driver->get_Triggers(&triggers), S_OK);
  ASSERT_EQ(triggers->get_Item(Bstr("Trigger1"), &trigger), S_OK);
  ASSERT_EQ(trigger->put_VoltageLevel(1.5), S_OK) << TakeError();
  ASSERT_EQ(trigger->put_Source(VelmoraK40xxTriggerSourceSwTrigFunc), S_OK);
  ASSERT_EQ(triggers->Initiate(), S_OK);
  ASSERT_EQ(triggers->SendSoftwareTrigger(), S_OK);
  double v = 0;
  EXPECT_EQ(Output("Output1")->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 1.5);
}

TEST_P(OverEachTransport, ARejectedCommandShowsInTheStatusPollTheSerialPollAndErrorQuery) {
  ASSERT_NO_FATAL_FAILURE(Start("K4301A"));
  Ref<IIviDriverOperation> operation;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(&operation)),
            S_OK);
  ASSERT_EQ(operation->put_QueryInstrumentStatus(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Output("Output1")->put_VoltageLevel(1000), E_IVI_INSTRUMENT_STATUS);
  TakeError();
  // The error queue is not empty: bit 2 of the status byte, from device_readstb over VXI-11
  // and from "*STB?" over the socket.
  Ref<IVelmoraK40xxStatus> status;
  ASSERT_EQ(driver->get_Status(&status), S_OK);
  LONG stb = 0;
  EXPECT_EQ(status->get_SerialPoll(&stb), S_OK) << TakeError();
  EXPECT_EQ(stb & 0x04, 0x04);
  Ref<IIviDriverUtility> utility;
  ASSERT_EQ(driver->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(&utility)),
            S_OK);
  LONG code = 0;
  BSTR message = nullptr;
  ASSERT_EQ(utility->ErrorQuery(&code, &message), S_OK) << TakeError();
  EXPECT_EQ(code, -222);
  EXPECT_EQ(vmk::com::BstrToUtf8(message), "Data out of range");
  SysFreeString(message);
}

TEST_P(OverEachTransport, ATimeOutThenADeviceClearAndTheNextQueryIsNotGivenTheStaleReply) {
  ASSERT_NO_FATAL_FAILURE(Start("K4102A"));
  Ref<IVelmoraK40xxSystem> system;
  ASSERT_EQ(driver->get_System(&system), S_OK);
  ASSERT_EQ(system->put_TimeoutMilliseconds(600), S_OK) << TakeError();
  Ref<IVelmoraK40xxOutput> output = Output("Output1");
  ASSERT_EQ(output->put_VoltageLevel(4.25), S_OK);
  ASSERT_TRUE(emulator->Send("SIM:FAUL:DEL 1500"));
  double v = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(output->get_VoltageLevel(&v), E_VELMORAK40XX_IO_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(TakeError().rfind("VelmoraK40xx: IO timeout error: ", 0), 0u);
  EXPECT_LT(waited, std::chrono::milliseconds(1400));
  // The device clear, through the session the driver hands out.
  Ref<IFormattedIO488> io;
  ASSERT_EQ(system->get_IO(&io), S_OK);
  Ref<IMessage> message;
  ASSERT_EQ(io->get_IO(&message), S_OK);
  EXPECT_EQ(message->Clear(), S_OK) << TakeError();
  ASSERT_TRUE(emulator->Send("SIM:FAUL:DEL 0"));
  // By now the late "+4.25..." would have arrived.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  ASSERT_EQ(output->put_CurrentLimit(0.25), S_OK);
  double limit = 0;
  EXPECT_EQ(output->get_CurrentLimit(&limit), S_OK) << TakeError();
  EXPECT_EQ(limit, 0.25);
  EXPECT_EQ(output->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(v, 4.25);
}

INSTANTIATE_TEST_SUITE_P(Transports, OverEachTransport, ::testing::Values(Link::Socket, Link::Vxi11),
                         [](const ::testing::TestParamInfo<Link>& info) {
                           return std::string(Name(info.param));
                         });

// Initialize keeps "Unknown resource." and adds what the I/O layer knows.
std::string InitializeFailure(const std::string& resource) {
  vmk::com::ComPtr<IVelmoraK40xx> driver = vmk::test::NewDriver();
  const HRESULT hr = driver->Initialize(Bstr(resource), VARIANT_FALSE, VARIANT_FALSE, Bstr(""));
  EXPECT_EQ(hr, E_IVI_RESOURCE_UNKNOWN) << resource;
  return TakeError();
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

TEST(InitializeFailure, SaysWhyTheResourceCouldNotBeOpened) {
  const std::string head = "VelmoraK40xx: Unknown resource.\r\n";
  const std::string port = std::to_string(FreePort());
  EXPECT_EQ(InitializeFailure("TCPIP0::127.0.0.1::" + port + "::SOCKET"),
            head + "connection to 127.0.0.1:" + port + " refused (nothing listens on that port)");
  EXPECT_EQ(InitializeFailure("TCPIP0::127.0.0.1," + port + "::inst0::INSTR"),
            head + "connection to the VXI-11 server 127.0.0.1:" + port + " refused");
  const std::string unknown = InitializeFailure("TCPIP0::no-such-host.invalid::5025::SOCKET");
  EXPECT_EQ(unknown.rfind(head + "host \"no-such-host.invalid\" not found: ", 0), 0u) << unknown;
  EXPECT_EQ(InitializeFailure("ASRL/dev/no-such-serial-port::INSTR"),
            head + "serial port /dev/no-such-serial-port does not exist");

  // The portmapper runs (these tests hold it), but no VXI-11 server is registered with it.
  EXPECT_EQ(InitializeFailure("TCPIP0::127.0.0.1::inst0::INSTR"),
            head + "127.0.0.1 has no VXI-11 server: its portmapper knows none");

  Emulator sim({"--model", "K4102A"}, Link::Vxi11Direct);
  const std::string server = "127.0.0.1:" + std::to_string(sim.Vxi11Port());
  EXPECT_EQ(InitializeFailure("TCPIP0::127.0.0.1," + std::to_string(sim.Vxi11Port()) +
                              "::inst3::INSTR"),
            head + "VXI-11 link refused by " + server +
                " for device \"inst3\": device not accessible (VXI-11 error 3)");
}

TEST(InitializeFailure, SaysThatGpibNeedsItsLibrary) {
  if (void* lib = dlopen("libgpib.so.0", RTLD_NOW)) {
    dlclose(lib);
    GTEST_SKIP() << "this machine has linux-gpib";
  }
  EXPECT_EQ(InitializeFailure("GPIB0::5::INSTR"),
            "VelmoraK40xx: Unknown resource.\r\nGPIB is not available: no GPIB library on this "
            "machine");
}

TEST(InitializeFailure, SaysThatAUsbInstrumentsDeviceFileIsMissing) {
  // A sysfs of one USBTMC instrument whose /dev node is not there.
  const std::string root = ::testing::TempDir() + "usb-e2e-" + std::to_string(getpid());
  const std::string device = root + "/sys/devices/usb1/1-1";
  ASSERT_EQ(std::system(("mkdir -p " + device + "/1-1:1.0 " + root + "/sys/class/usbmisc/usbtmc4 " +
                         root + "/dev")
                            .c_str()),
            0);
  auto write = [](const std::string& path, const char* text) {
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text, f);
    std::fclose(f);
  };
  write(device + "/idVendor", "1ab1\n");
  write(device + "/idProduct", "0e11\n");
  write(device + "/serial", "DP8C0001\n");
  write(device + "/1-1:1.0/bInterfaceNumber", "00\n");
  ASSERT_EQ(symlink((device + "/1-1:1.0").c_str(),
                    (root + "/sys/class/usbmisc/usbtmc4/device").c_str()),
            0);
  setenv("VMK40XX_SYSFS", (root + "/sys").c_str(), 1);
  setenv("VMK40XX_DEVFS", (root + "/dev").c_str(), 1);
  EXPECT_EQ(InitializeFailure("USB0::0x1AB1::0x0E11::DP8C0001::INSTR"),
            "VelmoraK40xx: Unknown resource.\r\nno such device file " + root +
                "/dev/usbtmc4 (for USB instrument 0x1AB1::0x0E11::DP8C0001)");
  EXPECT_EQ(InitializeFailure("USB0::0x1AB1::0x0E11::OTHER::INSTR"),
            "VelmoraK40xx: Unknown resource.\r\nno USB instrument 0x1AB1::0x0E11::OTHER is "
            "attached to the usbtmc driver (nothing matches in " +
                root + "/sys/class/usbmisc)");
  unsetenv("VMK40XX_SYSFS");
  unsetenv("VMK40XX_DEVFS");
  std::system(("rm -rf " + root).c_str());
}

}  // namespace
