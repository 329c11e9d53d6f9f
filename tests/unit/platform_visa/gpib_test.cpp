// GPIB through a stand-in for linux-gpib's library (gpib_standin.c), which the loader finds on
// this test's LD_LIBRARY_PATH: what the I/O library asks of linux-gpib, call by call.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "tests/unit/platform_visa/visa_test_util.h"

namespace vmk {
namespace {

std::string StandinLog() {
  void* lib = dlopen("libgpib.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (!lib) return "(not loaded)";
  auto log = reinterpret_cast<const char* (*)()>(dlsym(lib, "standin_log"));
  std::string text = log ? log() : "(no log)";
  dlclose(lib);
  return text;
}

TEST(Gpib, OpensTheAddressAndMapsTimeOutTerminationAndEnd) {
  com::ComPtr<IMessage> m;
  ASSERT_EQ(test::OpenMessage("GPIB0::5::INSTR", &m), S_OK) << test::TakeErrorDescription();
  SHORT type = 0;
  EXPECT_EQ(m->get_HardwareInterfaceType(&type), S_OK);
  EXPECT_EQ(type, INTF_GPIB);
  EXPECT_EQ(m->put_TerminationCharacterEnabled(VARIANT_TRUE), S_OK);
  EXPECT_EQ(test::WriteText(m.get(), "*IDN?\n"), S_OK);
  std::string reply;
  // END (EOI) came with the line feed: the read ends there.
  EXPECT_EQ(test::ReadText(m.get(), 100, &reply), S_VISA_TERM_CHAR);
  EXPECT_EQ(reply, "STANDIN,GPIB,0,1\n");
  SHORT stb = 0;
  EXPECT_EQ(m->ReadSTB(&stb), S_OK);
  EXPECT_EQ(stb, 0x42);
  EXPECT_EQ(m->Clear(), S_OK);
  // A read with no reply coming: linux-gpib's TIMO is VISA's time-out.
  EXPECT_EQ(m->put_Timeout(250), S_OK);
  EXPECT_EQ(test::ReadText(m.get(), 100, &reply), E_VISA_TMO);
  test::TakeErrorDescription();
  EXPECT_EQ(m->Close(), S_OK);
  // 2000 ms rounds up to T3s (12), 250 ms to T300ms (10); line feed with REOS is 0x40A; no
  // secondary address is 0.
  EXPECT_EQ(StandinLog(),
            "ibdev 0 5 0 12 1 0;ibeos 0x40a;ibtmo 12;ibwrt;ibclr;ibtmo 10;ibonl 0;");
}

TEST(Gpib, SecondaryAddressesAndAnAbsentListener) {
  com::ComPtr<IMessage> m;
  // VISA's secondary address n is linux-gpib's n + 96; address 9 has nobody on the stand-in bus.
  EXPECT_EQ(test::OpenMessage("GPIB0::9::3::INSTR", &m), E_VISA_RSRC_NFOUND);
  EXPECT_EQ(test::TakeErrorDescription(),
            "cannot open GPIB0 address 9.3: no listener on the bus: is the instrument switched "
            "on and at that address? (ENOL)");
  EXPECT_NE(StandinLog().find("ibdev 0 9 99 12 1 0;"), std::string::npos) << StandinLog();
  EXPECT_EQ(test::OpenMessage("GPIB0::31::INSTR", &m), E_VISA_INV_RSRC_NAME);
  test::TakeErrorDescription();
}

}  // namespace
}  // namespace vmk
