// What the C interface's tests share: simulated sessions, the recorded error, and a stand-in
// driver object that a session can be attached to, which answers with the statuses, error
// descriptions and values a test sets and remembers what the C layer passed it.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <utility>

#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "vmk40xx/errors.h"
#include "vmk40xx/ivi_dcpwr.h"
#include "vmk40xx/vmk40xx_c.h"

namespace vmk::test {

inline constexpr const char* kResource = "TCPIP0::192.0.2.1::5025::SOCKET";

inline ViSession OpenSimulated(const std::string& model = "K4201A") {
  ViSession vi = VI_NULL;
  const std::string options = "Simulate=true, DriverSetup=Model=" + model;
  EXPECT_EQ(VmK40xx_InitWithOptions(kResource, VI_FALSE, VI_FALSE, options.c_str(), &vi),
            VI_SUCCESS);
  EXPECT_NE(vi, VI_NULL);
  return vi;
}

// The recorded error of a session (VI_NULL: of the thread), read and cleared.
inline std::pair<ViStatus, std::string> TakeError(ViSession vi) {
  ViStatus code = 12345;
  char text[512] = "not written";
  EXPECT_EQ(VmK40xx_GetError(vi, &code, sizeof text, text), VI_SUCCESS);
  return {code, text};
}

using Recorded = std::pair<ViStatus, std::string>;

// Answers IIviDriverOperation and IIviDCPwrOutputs; nothing else.
class StandIn final : public ComClass<IIviDriverOperation, IIviDCPwrOutputs> {
 public:
  static StandIn* Make() { return new StandIn; }

  // What the next call returns, and the description it leaves as error information.
  HRESULT result = S_OK;
  std::u16string description;
  VARIANT_BOOL simulate = VARIANT_FALSE;  // what get_Simulate gives, and put_Simulate got
  std::u16string item_name;               // what get_Item got
  int item_calls = 0;

  std::span<const InterfaceEntry> Interfaces() override {
    static const InterfaceEntry kTable[] = {
        {&IID_IIviDriverOperation, InterfaceOf<StandIn, IIviDriverOperation>},
        {&IID_IIviDCPwrOutputs, InterfaceOf<StandIn, IIviDCPwrOutputs>}};
    return kTable;
  }

  HRESULT get_Simulate(VARIANT_BOOL* v) override {
    *v = simulate;
    return Answer();
  }
  HRESULT put_Simulate(VARIANT_BOOL v) override {
    simulate = v;
    return Answer();
  }
  HRESULT get_DriverSetup(BSTR* v) override {
    *v = SysAllocString(u"Model=K4201A");
    return Answer();
  }
  HRESULT get_Item(BSTR name, IIviDCPwrOutput** v) override {
    ++item_calls;
    item_name = name ? std::u16string(name, SysStringLen(name)) : u"(null BSTR)";
    *v = nullptr;
    return result == S_OK ? E_IVI_UNKNOWN_PHYSICAL_IDENTIFIER : Answer();
  }
  HRESULT get_Count(LONG* v) override {
    *v = 2;
    return Answer();
  }

  // The rest is not reached by these tests.
  HRESULT get_LogicalName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_IoResourceDescriptor(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_Cache(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_Cache(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT get_InterchangeCheck(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_InterchangeCheck(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT get_QueryInstrumentStatus(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_QueryInstrumentStatus(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT get_RangeCheck(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_RangeCheck(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT get_RecordCoercions(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_RecordCoercions(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT InvalidateAllAttributes() override { return E_NOTIMPL; }
  HRESULT ClearInterchangeWarnings() override { return E_NOTIMPL; }
  HRESULT GetNextInterchangeWarning(BSTR*) override { return E_NOTIMPL; }
  HRESULT ResetInterchangeCheck() override { return E_NOTIMPL; }
  HRESULT GetNextCoercionRecord(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_Name(LONG, BSTR*) override { return E_NOTIMPL; }

 private:
  StandIn() = default;
  HRESULT Answer() {
    if (!description.empty()) {
      com::ComPtr<ICreateErrorInfo> create;
      CreateErrorInfo(create.put());
      create->SetDescription(description.c_str());
      com::ComPtr<IErrorInfo> info;
      create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()));
      SetErrorInfo(0, info.get());
    }
    return result;
  }
};

// A session bound to a stand-in, closed (and the stand-in released) at the end of the scope.
struct StandInSession {
  StandInSession() : object(StandIn::Make()) {
    EXPECT_EQ(VmK40xx_AttachToExistingCOMSession(static_cast<IIviDriverOperation*>(object), &vi),
              VI_SUCCESS);
  }
  ~StandInSession() {
    VmK40xx_close(vi);
    object->Release();
  }
  StandIn* object;
  ViSession vi = VI_NULL;
};

}  // namespace vmk::test
