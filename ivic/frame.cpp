#include "ivic/frame.h"

#include "vmk40xx/server.h"

namespace vmk::ivic {

ViStatus Refuse(ViSession vi, ViStatus status, const std::string& text) noexcept {
  SessionSetError(vi, status, text.c_str());
  return status;
}

ViStatus Refuse(ViSession vi, const Refusal& refusal) noexcept {
  SessionSetError(vi, refusal.status, refusal.text);
  return refusal.status;
}

ViStatus MapAndRecordStatus(ViSession vi, HRESULT hr) noexcept {
  const ViStatus status = MapStatus(hr);
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return status;
  BSTR description = nullptr;
  if (FAILED(info->GetDescription(&description))) description = nullptr;
  info->Release();
  try {
    SessionSetError(vi, status, com::BstrToUtf8(description).c_str());
  } catch (const std::bad_alloc&) {
    // The status still tells what failed; only its text is lost.
    SessionSetError(vi, status, nullptr);
  }
  SysFreeString(description);
  return status;
}

ViStatus TextResult::CopyTo(ViInt32 bufferSize, ViChar* buffer) const {
  if (!b_) return CopyText({}, bufferSize, buffer);
  return CopyText(com::BstrToUtf8(b_), bufferSize, buffer);
}

ComOnThread::ComOnThread()
    : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ||
          SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}

HRESULT CreateDriver(com::ComPtr<IUnknown>& out) {
  com::ComPtr<IClassFactory> factory;
  HRESULT hr = DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory,
                                 reinterpret_cast<void**>(factory.put()));
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(out.put()));
}

}  // namespace vmk::ivic
