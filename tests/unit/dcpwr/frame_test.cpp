// The method entry frame as seen from inside: what it records, what it restores, and in which
// order it refuses a call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "dcpwr/velmora_k40xx.h"
#include "platform/com/com_ptr.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;

struct RecordingTrace final : MethodTraceSink {
  void EnterMethod(const CallContext& c) override {
    events.push_back(std::string("enter ") + c.cls + "." + c.iface + "." + c.method);
  }
  void LeaveMethod(const CallContext& c, HRESULT hr) override {
    events.push_back(std::string("leave ") + c.method + (FAILED(hr) ? " failed" : " ok"));
  }
  std::vector<std::string> events;
};

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    driver = VelmoraK40xx::Create();
    driver->SetMethodTrace(&trace);
    driver->QueryInterface(IID_IVelmoraK40xx, reinterpret_cast<void**>(root.put()));
  }
  void TearDown() override {
    root.reset();
    driver->Release();
  }
  void Open(const char* options) {
    Bstr r("GPIB0::5::INSTR"), o(options);
    ASSERT_EQ(root->Initialize(r.get(), VARIANT_FALSE, VARIANT_FALSE, o.get()), S_OK);
  }
  VelmoraK40xx* driver = nullptr;
  ComPtr<IVelmoraK40xx> root;
  RecordingTrace trace;
};

TEST_F(Frame, EveryPathOutRestoresTheCallStateItFound) {
  const IID before = driver->Errors().InterfaceId();
  ComPtr<IVelmoraK40xxSystem> system;
  ASSERT_EQ(root->get_System(system.put()), S_OK);  // allowed while closed
  VelmoraK40xxModelEnum model;
  EXPECT_EQ(system->get_Model(&model), E_IVI_NOT_INITIALIZED);  // refused at the session check
  Open("Simulate=true, DriverSetup=Model=K4301A");
  EXPECT_EQ(system->get_Model(nullptr), E_IVI_NULL_POINTER);  // refused at the pointer check
  EXPECT_EQ(system->put_Model(VelmoraK40xxModelK4201A), E_IVI_PROPERTY_NOT_SUPPORTED);
  EXPECT_TRUE(driver->CallStack().empty());
  EXPECT_EQ(driver->IO().CurrentModel(), "");
  EXPECT_TRUE(driver->Errors().InterfaceId() == before);
}

TEST_F(Frame, OnlyCallsThatPassTheChecksAreTracedWithTheirResult) {
  VARIANT_BOOL v;
  ComPtr<IIviDriverOperation> op;
  root->QueryInterface(IID_IIviDriverOperation, reinterpret_cast<void**>(op.put()));
  EXPECT_EQ(op->get_Cache(&v), E_IVI_NOT_INITIALIZED);
  EXPECT_TRUE(trace.events.empty());
  Open("Simulate=true");
  EXPECT_EQ(op->put_InterchangeCheck(VARIANT_TRUE), E_IVI_VALUE_NOT_SUPPORTED);
  ASSERT_GE(trace.events.size(), 4u);
  EXPECT_EQ(trace.events[0], "enter VelmoraK40xx.IIviDriver.Initialize");
  EXPECT_EQ(trace.events[1], "leave Initialize ok");
  EXPECT_EQ(trace.events[2], "enter VelmoraK40xx.IIviDriverOperation.put_InterchangeCheck");
  EXPECT_EQ(trace.events[3], "leave put_InterchangeCheck failed");
}

TEST_F(Frame, ChildCallsCarryTheirOwnClassName) {
  Open("Simulate=true, DriverSetup=Model=K4201A");
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> out;
  root->get_Outputs(outputs.put());
  Bstr name("Output2");
  ASSERT_EQ(outputs->get_Item(name.get(), out.put()), S_OK);
  trace.events.clear();
  ComPtr<IVelmoraK40xxProtection> protection;
  EXPECT_EQ(out->get_Protection(protection.put()), S_OK);
  ASSERT_EQ(trace.events.size(), 2u);
  EXPECT_EQ(trace.events[0], "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.get_Protection");
}

// Holds the first call it sees inside the frame until released.
struct BlockingTrace final : MethodTraceSink {
  void EnterMethod(const CallContext&) override {
    if (blocked.exchange(true)) return;
    entered.set_value();
    release.get_future().wait();
  }
  void LeaveMethod(const CallContext&, HRESULT) override {}
  std::atomic<bool> blocked{false};
  std::promise<void> entered, release;
};

TEST_F(Frame, CallsOnTheRootAndItsOutputsShareOneLock) {
  Open("Simulate=true, DriverSetup=Model=K4201A");
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> out;
  root->get_Outputs(outputs.put());
  Bstr name("Output2");
  ASSERT_EQ(outputs->get_Item(name.get(), out.put()), S_OK);

  BlockingTrace blocking;
  driver->SetMethodTrace(&blocking);
  std::thread first([&] {
    VARIANT_BOOL v;
    root->get_Initialized(&v);  // held inside the frame
  });
  blocking.entered.get_future().wait();
  std::atomic<bool> secondDone{false};
  std::thread second([&] {
    ComPtr<IVelmoraK40xxProtection> protection;
    out->get_Protection(protection.put());  // a call on the output object of the same session
    secondDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(secondDone.load());
  blocking.release.set_value();
  first.join();
  second.join();
  EXPECT_TRUE(secondDone.load());
  driver->SetMethodTrace(&trace);
}

}  // namespace
}  // namespace vmk
