// Replies to the query members over the scripted instrument: the first byte picks the member
// (and whether the session polls status), the rest is the instrument's reply. Whatever comes
// back, a member returns a value or a failure with its error text, and never a failure
// without one.
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/script.h"

using vmk::test::Bstr;
using vmk::test::Ref;

namespace {

struct Query {
  const char* command;  // what the member writes on a dual model, output 2
  std::function<HRESULT(IVelmoraK40xx*)> call;
};

template <class T>
HRESULT Out2(IVelmoraK40xx* d, const std::function<HRESULT(IVelmoraK40xxOutput*, T*)>& get) {
  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxOutput> out;
  if (FAILED(d->get_Outputs(&outputs)) || FAILED(outputs->get_Item(Bstr("Output2"), &out)))
    std::abort();
  T value{};
  return get(out.p, &value);
}

HRESULT Protection2(IVelmoraK40xx* d,
                    const std::function<HRESULT(IVelmoraK40xxProtection*)>& get) {
  Ref<IVelmoraK40xxOutputs> outputs;
  Ref<IVelmoraK40xxOutput> out;
  Ref<IVelmoraK40xxProtection> protection;
  if (FAILED(d->get_Outputs(&outputs)) || FAILED(outputs->get_Item(Bstr("Output2"), &out)) ||
      FAILED(out->get_Protection(&protection)))
    std::abort();
  return get(protection.p);
}

HRESULT Trigger2(IVelmoraK40xx* d, const std::function<HRESULT(IVelmoraK40xxTrigger*)>& get) {
  Ref<IVelmoraK40xxTriggers> triggers;
  Ref<IVelmoraK40xxTrigger> t;
  if (FAILED(d->get_Triggers(&triggers)) || FAILED(triggers->get_Item(Bstr("Trigger2"), &t)))
    std::abort();
  return get(t.p);
}

template <class Itf>
Ref<Itf> Sub(IVelmoraK40xx* d, HRESULT (IVelmoraK40xx::*get)(Itf**)) {
  Ref<Itf> r;
  if (FAILED((d->*get)(&r))) std::abort();
  return r;
}

const Query kQueries[] = {
    {"INST:NSEL 2\nVOLT?\n",
     [](IVelmoraK40xx* d) {
       return Out2<double>(d, [](auto* o, double* v) { return o->get_VoltageLevel(v); });
     }},
    {"INST:NSEL 2\nCURR?\n",
     [](IVelmoraK40xx* d) {
       return Out2<double>(d, [](auto* o, double* v) { return o->get_CurrentLimit(v); });
     }},
    {"INST:NSEL 2\nMEAS:VOLT?\n",
     [](IVelmoraK40xx* d) {
       return Out2<double>(
           d, [](auto* o, double* v) { return o->Measure(VelmoraK40xxMeasurementVoltage, v); });
     }},
    {"INST:NSEL 2\nVOLT:RANG?\n",
     [](IVelmoraK40xx* d) {
       return Out2<VelmoraK40xxVoltageRangeEnum>(
           d, [](auto* o, VelmoraK40xxVoltageRangeEnum* v) { return o->get_VoltageRange(v); });
     }},
    {"INST:NSEL 2\nVOLT:STEP?\n",
     [](IVelmoraK40xx* d) {
       return Out2<double>(
           d, [](auto* o, double* v) { return o->get_Step(VelmoraK40xxVoltageStep, v); });
     }},
    {"STAT:QUES:INST:ISUM2:COND?\n",
     [](IVelmoraK40xx* d) {
       return Out2<VARIANT_BOOL>(d, [](auto* o, VARIANT_BOOL* v) {
         return o->QueryState(VelmoraK40xxOutputConstantCurrent, v);
       });
     }},
    {"INST:NSEL 2\nVOLT:PROT?\n",
     [](IVelmoraK40xx* d) {
       return Protection2(d, [](IVelmoraK40xxProtection* p) {
         double v = 0;
         return p->get_OVPLimit(&v);
       });
     }},
    {"INST:NSEL 2\nVOLT:PROT:STAT?\n",
     [](IVelmoraK40xx* d) {
       return Protection2(d, [](IVelmoraK40xxProtection* p) {
         VARIANT_BOOL v = 0;
         return p->get_OVPEnabled(&v);
       });
     }},
    {"INST:NSEL 2\nVOLT:TRIG?\n",
     [](IVelmoraK40xx* d) {
       return Trigger2(d, [](IVelmoraK40xxTrigger* t) {
         double v = 0;
         return t->get_VoltageLevel(&v);
       });
     }},
    {"INST:NSEL 2\nTRIG:SOUR?\n",
     [](IVelmoraK40xx* d) {
       return Trigger2(d, [](IVelmoraK40xxTrigger* t) {
         VelmoraK40xxTriggerSourceEnum v{};
         return t->get_Source(&v);
       });
     }},
    {"OUTP?\n",
     [](IVelmoraK40xx* d) {
       VARIANT_BOOL v = 0;
       return Sub(d, &IVelmoraK40xx::get_Outputs)->get_Enabled(&v);
     }},
    {"INST:NSEL?\n",
     [](IVelmoraK40xx* d) {
       VelmoraK40xxOutputEnum v{};
       return Sub(d, &IVelmoraK40xx::get_Outputs)->get_Channel(&v);
     }},
    {"INST:COUP?\n",
     [](IVelmoraK40xx* d) {
       VelmoraK40xxCouplingEnum v{};
       return Sub(d, &IVelmoraK40xx::get_Triggers)->get_Coupling(&v);
     }},
    {"DISP:TEXT?\n",
     [](IVelmoraK40xx* d) {
       vmk::com::Bstr v;
       return Sub(d, &IVelmoraK40xx::get_Display)->get_Text(v.put());
     }},
    {"DISP:MODE?\n",
     [](IVelmoraK40xx* d) {
       VelmoraK40xxDisplayModeEnum v{};
       return Sub(d, &IVelmoraK40xx::get_Display)->get_Mode(&v);
     }},
    {"MEM:STAT:NAME? 3\n",
     [](IVelmoraK40xx* d) {
       vmk::com::Bstr v;
       return Sub(d, &IVelmoraK40xx::get_System)->get_MemoryName(3, v.put());
     }},
    {"*OPC?\n",
     [](IVelmoraK40xx* d) {
       return Sub(d, &IVelmoraK40xx::get_System)->WaitForOperationComplete(1000);
     }},
    {"CAL:STR?\n",
     [](IVelmoraK40xx* d) {
       vmk::com::Bstr v;
       return Sub(d, &IVelmoraK40xx::get_Calibrations)->get_String(v.put());
     }},
    {"CAL:COUN?\n",
     [](IVelmoraK40xx* d) {
       LONG v = 0;
       return Sub(d, &IVelmoraK40xx::get_Calibrations)->get_Times(&v);
     }},
    {"*ESR?\n",
     [](IVelmoraK40xx* d) {
       LONG v = 0;
       return Sub(d, &IVelmoraK40xx::get_Status)
           ->get_Register(VelmoraK40xxStatusRegisterStandardEvent,
                          VelmoraK40xxStatusSubRegisterEvent, &v);
     }},
    {"SYST:ERR?\n",
     [](IVelmoraK40xx* d) {
       Ref<IIviDriverUtility> utility;
       if (FAILED(d->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(&utility))))
         std::abort();
       LONG code = 0;
       BSTR message = nullptr;
       const HRESULT hr = utility->ErrorQuery(&code, &message);
       SysFreeString(message);
       return hr;
     }},
    {"*TST?\n",
     [](IVelmoraK40xx* d) {
       Ref<IIviDriverUtility> utility;
       if (FAILED(d->QueryInterface(IID_IIviDriverUtility, reinterpret_cast<void**>(&utility))))
         std::abort();
       LONG code = 0;
       BSTR message = nullptr;
       const HRESULT hr = utility->SelfTest(&code, &message);
       SysFreeString(message);
       return hr;
     }},
};
constexpr size_t kCount = sizeof kQueries / sizeof kQueries[0];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vmk::fuzz::IsolateFromTheMachine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return -1;
  const Query& q = kQueries[data[0] % kCount];
  const bool poll = (data[0] & 0x80) != 0;
  const std::string_view reply = vmk::fuzz::Text(data + 1, size - 1);

  auto script = vmk::visa::Script::Install("fuzz");
  script->Expect("*IDN?\n").Reply("Velmora,K4201A,0,1.0\n");
  {
    auto driver = vmk::test::NewDriver();
    if (!driver || FAILED(driver->Initialize(Bstr("SCRIPT::fuzz::INSTR"), VARIANT_FALSE,
                                             VARIANT_FALSE, Bstr(""))))
      std::abort();
    if (poll) {
      Ref<IIviDriverOperation> operation;
      if (FAILED(driver->QueryInterface(IID_IIviDriverOperation,
                                        reinterpret_cast<void**>(&operation))))
        std::abort();
      script->Expect("*CLS\n").Expect("*ESR?\n").Reply("+0\n");
      if (FAILED(operation->put_QueryInstrumentStatus(VARIANT_TRUE))) std::abort();
    }
    script->Expect(q.command).Reply(reply);
    // A polled member asks for the status after its reply: the reply may already hold it.
    if (poll) script->Expect("*ESR?\n");
    vmk::fuzz::DropErrorInfo();
    const HRESULT hr = q.call(driver.get());
    if (FAILED(hr) && vmk::test::TakeError().empty()) std::abort();
    if (SUCCEEDED(hr) && !vmk::test::TakeError().empty()) std::abort();
    driver->Close();
    vmk::fuzz::DropErrorInfo();
  }
  vmk::visa::Script::Uninstall("fuzz");
  return 0;
}
