// Selectors on the three-output model: any name given to the collections of the driver's own
// and of the class interfaces finds an instance whose name reads back, or fails with a report.
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"

using vmk::test::Bstr;
using vmk::test::Ref;

namespace {

IVelmoraK40xx* Session() {
  static IVelmoraK40xx* driver = [] {
    vmk::fuzz::IsolateFromTheMachine();
    auto d = vmk::test::NewDriver();
    if (!d || FAILED(d->Initialize(Bstr("GPIB0::5::INSTR"), VARIANT_FALSE, VARIANT_FALSE,
                                   Bstr("Simulate=true, DriverSetup=Model=K4301A"))))
      std::abort();
    return d.Detach();
  }();
  return driver;
}

template <class Item>
void Check(HRESULT hr, Item* item) {
  if (SUCCEEDED(hr) != (item != nullptr)) std::abort();
  if (FAILED(hr) && vmk::test::TakeError().empty()) std::abort();
  if (item) item->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IVelmoraK40xx* driver = Session();
  const Bstr name{std::string(vmk::fuzz::Text(data, size))};

  Ref<IVelmoraK40xxOutputs> outputs;
  if (FAILED(driver->get_Outputs(&outputs))) std::abort();
  IVelmoraK40xxOutput* output = nullptr;
  HRESULT hr = outputs->get_Item(name, &output);
  if (output) {
    double level = -1;
    if (FAILED(output->get_VoltageLevel(&level))) std::abort();
  }
  Check(hr, output);

  Ref<IVelmoraK40xxTriggers> triggers;
  if (FAILED(driver->get_Triggers(&triggers))) std::abort();
  IVelmoraK40xxTrigger* trigger = nullptr;
  Check(triggers->get_Item(name, &trigger), trigger);

  Ref<IVelmoraK40xxCalibrations> calibrations;
  if (FAILED(driver->get_Calibrations(&calibrations))) std::abort();
  IVelmoraK40xxCalibration* calibration = nullptr;
  Check(calibrations->get_Item(name, &calibration), calibration);

  Ref<IIviDCPwrOutputs> classOutputs;
  if (FAILED(driver->QueryInterface(IID_IIviDCPwrOutputs, reinterpret_cast<void**>(&classOutputs))))
    std::abort();
  IIviDCPwrOutput* classOutput = nullptr;
  Check(classOutputs->get_Item(name, &classOutput), classOutput);
  vmk::fuzz::DropErrorInfo();
  return 0;
}
