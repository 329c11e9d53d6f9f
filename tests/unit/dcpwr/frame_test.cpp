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
#include "tests/support/script.h"
#include "tests/support/trace_recorder.h"
#include "vmk40xx/vmk40xx.h"

namespace vmk {
namespace {

using com::Bstr;
using com::ComPtr;

using RecordingTrace = test::TraceRecorder;

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
  const IID before = *driver->Errors().InterfaceId();
  ComPtr<IVelmoraK40xxSystem> system;
  ASSERT_EQ(root->get_System(system.put()), S_OK);  // allowed while closed
  VelmoraK40xxModelEnum model;
  EXPECT_EQ(system->get_Model(&model), E_IVI_NOT_INITIALIZED);  // refused at the session check
  Open("Simulate=true, DriverSetup=Model=K4301A");
  EXPECT_EQ(system->get_Model(nullptr), E_IVI_NULL_POINTER);  // refused at the pointer check
  EXPECT_EQ(system->put_Model(VelmoraK40xxModelK4201A), E_IVI_PROPERTY_NOT_SUPPORTED);
  EXPECT_EQ(driver->CurrentCall(), nullptr);
  EXPECT_EQ(driver->IO().CurrentModel(), "");
  EXPECT_TRUE(*driver->Errors().InterfaceId() == before);
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
  EXPECT_EQ(trace.events[0],
            "enter VelmoraK40xx.IIviDriver.Initialize(In ResourceName=GPIB0::5::INSTR, In "
            "IdQuery=false, In Reset=false, In OptionString=Simulate=true)");
  EXPECT_EQ(trace.events[1], "leave Initialize() 0x00000000");
  EXPECT_EQ(trace.events[2],
            "enter VelmoraK40xx.IIviDriverOperation.put_InterchangeCheck(In val=true)");
  EXPECT_EQ(trace.events[3], "leave put_InterchangeCheck() 0x80047013");
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
  EXPECT_EQ(trace.events[0], "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.get_Protection()");
  EXPECT_EQ(trace.events[1], "leave get_Protection(Out val=<interface>) 0x00000000");
}

// Holds the first call it sees inside the frame until released.
struct BlockingTrace final : MethodTraceSink {
  bool Running() const override { return true; }
  void* EnterMethod(const TraceCall&, std::span<const TraceParam>) override {
    if (blocked.exchange(true)) return nullptr;
    entered.set_value();
    release.get_future().wait();
    return nullptr;
  }
  void LeaveMethod(void*, std::span<const TraceParam>, HRESULT) override {}
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


// What a tracer receives of each call: every parameter by the name, direction and value the
// descriptor gives it, In and InOut values on entry, Out and InOut values as the call left them.
TEST_F(Frame, EveryParameterReachesTheTraceWithItsDirectionAndValue) {
  Open("Simulate=true, DriverSetup=Model=K4201A");
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> out;
  root->get_Outputs(outputs.put());
  ASSERT_EQ(outputs->get_Item(Bstr("Output2").get(), out.put()), S_OK);
  ComPtr<IIviDriverUtility> utility;
  root->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(utility.put()));
  trace.events.clear();

  double v = 0;
  EXPECT_EQ(out->put_VoltageLevel(5.25), S_OK);
  EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(out->ApplyVoltageCurrent(1.5, 0.25), S_OK);
  EXPECT_EQ(out->get_Step(VelmoraK40xxCurrentStep, &v), S_OK);
  LONG result = 7;
  BSTR message = SysAllocString(u"before");
  EXPECT_EQ(utility->SelfTest(&result, &message), S_OK);
  SysFreeString(message);
  EXPECT_EQ(trace.events,
            (std::vector<std::string>{
                "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.put_VoltageLevel(In val=5.25)",
                "leave put_VoltageLevel() 0x00000000",
                "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.get_VoltageLevel()",
                "leave get_VoltageLevel(Out val=5.25) 0x00000000",
                "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.ApplyVoltageCurrent(In "
                "VoltageLevel=1.5, In CurrentLimit=0.25)",
                "leave ApplyVoltageCurrent() 0x00000000",
                "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.get_Step(In StepType=2)",
                "leave get_Step(Out val=0.001) 0x00000000",
                // In and out values of an InOut parameter, before and after the call.
                "enter VelmoraK40xx.IIviDriverUtility.SelfTest(InOut TestResult=7, InOut "
                "TestMessage=before)",
                "leave SelfTest(InOut TestResult=0, InOut TestMessage=Selftest passed) "
                "0x00000000"}));
}

// The I/O manager's records of a member's commands arrive while the member's record is open,
// so a tracer nests them inside it; a failed call hands back no string it did not make.
TEST_F(Frame, InstrumentCommandsAreRecordedInsideTheirMember) {
  auto script = visa::Script::Install("frame");
  script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
  Bstr r("SCRIPT::frame::INSTR"), o("");
  ASSERT_EQ(root->Initialize(r.get(), VARIANT_FALSE, VARIANT_FALSE, o.get()), S_OK);
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> out;
  root->get_Outputs(outputs.put());
  ASSERT_EQ(outputs->get_Item(Bstr("Output2").get(), out.put()), S_OK);
  ComPtr<IVelmoraK40xxDisplay> display;
  root->get_Display(display.put());
  trace.events.clear();

  script->Expect("INST:NSEL 2\nVOLT?\n").Reply("+5.000000E+00\n");
  double v = 0;
  EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
  script->Expect("DISP:TEXT?\n").Timeout().ExpectClear();
  BSTR text = reinterpret_cast<BSTR>(&v);  // not a string: the call must overwrite it
  EXPECT_EQ(display->get_Text(&text), E_VELMORAK40XX_IO_TIMEOUT);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(trace.events,
            (std::vector<std::string>{
                "enter VelmoraK40xxOutput.IVelmoraK40xxOutput.get_VoltageLevel()",
                "enter CDriverIOManager.CDriverIOManager.InstrPrintf(In strCmd=INST:NSEL 2)",
                "leave InstrPrintf() 0x00000000",
                "enter CDriverIOManager.CDriverIOManager.InstrQueryCommand(In strCommand=VOLT?, "
                "In lTimeout=-2)",
                "leave InstrQueryCommand(Out pdResult=5) 0x00000000",
                "leave get_VoltageLevel(Out val=5) 0x00000000",
                "enter VelmoraK40xx.IVelmoraK40xxDisplay.get_Text()",
                "enter CDriverIOManager.CDriverIOManager.InstrQueryCommand(In "
                "strCommand=DISP:TEXT?, In cchDesired=128, In lTimeout=-2)",
                "leave InstrQueryCommand(Out bstrResult=) 0x80044215",
                "leave get_Text(Out val=) 0x80044215"}));
  EXPECT_TRUE(script->Done()) << script->Report();
  root->Close();
  visa::Script::Uninstall("frame");
}

// A tracer that is not running is asked once per call and given nothing to record.
TEST_F(Frame, ATracerThatIsNotRunningCostsOneQuestionPerCall) {
  Open("Simulate=true, DriverSetup=Model=K4201A");
  ComPtr<IVelmoraK40xxOutputs> outputs;
  ComPtr<IVelmoraK40xxOutput> out;
  root->get_Outputs(outputs.put());
  ASSERT_EQ(outputs->get_Item(Bstr("Output1").get(), out.put()), S_OK);
  trace.events.clear();
  trace.running = false;
  trace.asked = 0;
  double v = 0;
  EXPECT_EQ(out->put_VoltageLevel(1.0), S_OK);
  EXPECT_EQ(out->get_VoltageLevel(&v), S_OK);
  EXPECT_EQ(trace.asked, 2);
  EXPECT_TRUE(trace.events.empty());
}

}  // namespace
}  // namespace vmk
