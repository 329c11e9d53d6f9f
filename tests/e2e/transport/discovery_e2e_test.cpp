// Discovery finds the emulator: its VXI-11 server by the portmapper's answer on loopback (the
// only address these tests send to), and its pseudo-terminal when it is named as a serial device.
#include <gtest/gtest.h>

#include <string>

#include "platform/visa/visa.h"
#include "tests/e2e/emulator.h"
#include "vmk40xx/discovery.h"

namespace vmk {
namespace {

using test::Emulator;
using test::Link;

visa::DiscoveryOptions LoopbackOnly() {
  visa::DiscoveryOptions o;
  o.vxi11Targets = {"127.0.0.1"};
  return o;
}

TEST(Discovery, FindsTheVxi11ServerOnLoopbackWithItsIdentity) {
  Emulator sim({"--model", "K4301A", "--serial", "D9"}, Link::Vxi11);
  ASSERT_FALSE(sim.Resource().empty());
  std::vector<visa::FoundResource> found;
  std::string why;
  ASSERT_EQ(visa::FindResources("TCPIP?*::INSTR", LoopbackOnly(), &found, &why), S_OK) << why;
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].resource, "TCPIP0::127.0.0.1::inst0::INSTR");
  EXPECT_EQ(found[0].idn, "Velmora,K4301A,D9,1.2-5.0-1.0");
  EXPECT_EQ(found[0].description, "VXI-11 server on port " + std::to_string(sim.Vxi11Port()));
  // A search for serial ports asks no portmapper and finds no LAN instrument.
  EXPECT_EQ(visa::FindResources("ASRL?*", LoopbackOnly(), &found, &why) == S_OK &&
                !found.empty() && found.back().resource.rfind("TCPIP", 0) == 0,
            false);
}

TEST(Discovery, FindsAPseudoTerminalGivenAsASerialDevice) {
  Emulator sim({"--model", "K4105A"}, Link::Pty);
  ASSERT_FALSE(sim.Resource().empty());
  const std::string path = sim.Resource().substr(4, sim.Resource().size() - 4 - 7);
  visa::DiscoveryOptions o = LoopbackOnly();
  o.serialDevices = {path};
  std::vector<visa::FoundResource> found;
  std::string why;
  ASSERT_EQ(visa::FindResources("ASRL?*", o, &found, &why), S_OK) << why;
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back().resource, sim.Resource());
  EXPECT_EQ(found.back().idn, "Velmora,K4105A,0,1.2-5.0-1.0");
  EXPECT_EQ(found.back().description, "serial device given by name");
}

TEST(Discovery, TheCEntryPointListsWhatFitsLineByLine) {
  Emulator sim({"--model", "K4102A"}, Link::Vxi11);
  ASSERT_FALSE(sim.Resource().empty());
  // The test's environment confines the broadcast to loopback (VMK40XX_VXI11_BROADCAST).
  char list[512];
  int32_t count = -1, required = -1;
  ASSERT_EQ(vmk40xx_find_resources("TCPIP0::127.0.0.1::?*", list, sizeof list, &count, &required),
            S_OK);
  EXPECT_EQ(count, 1);
  const std::string line = "TCPIP0::127.0.0.1::inst0::INSTR\tVelmora,K4102A,0,"
                           "1.2-5.0-1.0\tVXI-11 server on port " +
                           std::to_string(sim.Vxi11Port()) + "\n";
  EXPECT_EQ(std::string(list), line);
  EXPECT_EQ(required, static_cast<int32_t>(line.size() + 1));
  // Too small for the line: nothing is cut in half.
  char small[16];
  EXPECT_EQ(vmk40xx_find_resources("TCPIP?*", small, sizeof small, &count, &required),
            S_VISA_MAX_CNT);
  EXPECT_EQ(std::string(small), "");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(vmk40xx_find_resources("GPIB?*", list, sizeof list, &count, nullptr),
            E_VISA_RSRC_NFOUND);
  EXPECT_EQ(vmk40xx_find_resources("TCPIP[", list, sizeof list, &count, nullptr), E_VISA_INV_EXPR);
}

}  // namespace
}  // namespace vmk
