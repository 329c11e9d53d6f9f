// The README's C++ program, complete: creates the driver through its class factory, sets 5 V and
// 1 A on Output2, switches the outputs on, prints what Output2 measures, and releases everything
// it took.
//
//   set_output [RESOURCE [OPTIONS]]
//
// Without a resource it runs in simulation as a K4201A. Build against an installation with
//   c++ -std=c++20 set_output.cpp $(pkg-config --cflags --libs vmk40xx)
#include <cstdio>
#include <string>

#include "vmk40xx/server.h"
#include "vmk40xx/vmk40xx.h"

namespace {

// A BSTR for the length of a scope.
struct Text {
  explicit Text(const char* s) {
    std::u16string w;
    for (; *s; ++s) w.push_back(static_cast<unsigned char>(*s));  // ASCII is enough here
    b = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  ~Text() { SysFreeString(b); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  BSTR b;
};

// An interface pointer released at the end of its scope.
template <typename T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  void** out() { return reinterpret_cast<void**>(&p); }
};

// The description COM error information gives for the last failure on this thread.
std::string LastError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "(no description)";
  BSTR d = nullptr;
  info->GetDescription(&d);
  std::string text;
  for (UINT i = 0, n = SysStringLen(d); i < n; ++i)
    text.push_back(d[i] < 0x80 ? static_cast<char>(d[i]) : '?');
  SysFreeString(d);
  info->Release();
  return text;
}

bool Ok(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return true;
  std::fprintf(stderr, "%s failed (0x%08X): %s\n", what, static_cast<unsigned>(hr),
               LastError().c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const char* resource = argc > 1 ? argv[1] : "PSU";
  const char* options =
      argc > 2 ? argv[2] : argc > 1 ? "" : "Simulate=true, DriverSetup=Model=K4201A";

  Ref<IClassFactory> factory;
  if (!Ok(DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, factory.out()), "factory"))
    return 1;
  Ref<IVelmoraK40xx> psu;
  if (!Ok(factory->CreateInstance(nullptr, IID_IVelmoraK40xx, psu.out()), "create")) return 1;

  Text name(resource), setup(options);
  if (!Ok(psu->Initialize(name.b, VARIANT_TRUE, VARIANT_FALSE, setup.b), "Initialize")) return 1;

  int result = 1;
  {
    Ref<IVelmoraK40xxOutputs> outputs;
    Ref<IVelmoraK40xxOutput> output2;
    Text item("Output2");
    double volts = 0, amps = 0;
    if (Ok(psu->get_Outputs(&outputs.p), "Outputs") &&
        Ok(outputs->get_Item(item.b, &output2.p), "Item") &&
        Ok(output2->ApplyVoltageCurrent(5.0, 1.0), "ApplyVoltageCurrent") &&
        Ok(outputs->put_Enabled(VARIANT_TRUE), "Enabled") &&
        Ok(output2->Measure(VelmoraK40xxMeasurementVoltage, &volts), "Measure") &&
        Ok(output2->Measure(VelmoraK40xxMeasurementCurrent, &amps), "Measure")) {
      std::printf("Output2: %.3f V, %.3f A\n", volts, amps);
      result = 0;
    }
  }
  if (!Ok(psu->Close(), "Close")) result = 1;
  return result;
}
