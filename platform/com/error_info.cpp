// The error object of CreateErrorInfo and the per-thread slot of SetErrorInfo/GetErrorInfo.
// As in COM, error information belongs to the thread that set it: a failure on one thread is
// never reported by a call on another.
#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include "platform/com/com_object.h"
#include "platform/com/error_slot.h"
#include "vmk40xx/com.h"

namespace {

class ErrorInfo final : public vmk::ComClass<IErrorInfo, ICreateErrorInfo> {
 public:
  // Reached through either base; IErrorInfo is the object's identity.
  std::span<const InterfaceEntry> Interfaces() override {
    static const InterfaceEntry kTable[] = {
        {&IID_IErrorInfo, vmk::InterfaceOf<ErrorInfo, IErrorInfo>},
        {&IID_ICreateErrorInfo, vmk::InterfaceOf<ErrorInfo, ICreateErrorInfo>}};
    return kTable;
  }

  // IErrorInfo
  HRESULT GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* out) override { return Get(source_, out); }
  HRESULT GetDescription(BSTR* out) override { return Get(description_, out); }
  HRESULT GetHelpFile(BSTR* out) override { return Get(help_file_, out); }
  HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
    if (!pdwHelpContext) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *pdwHelpContext = help_context_;
    return S_OK;
  }

  // ICreateErrorInfo
  HRESULT SetGUID(REFGUID rguid) override {
    std::lock_guard lock(mutex_);
    guid_ = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPCOLESTR s) override { return Set(source_, s); }
  HRESULT SetDescription(LPCOLESTR s) override { return Set(description_, s); }
  HRESULT SetHelpFile(LPCOLESTR s) override { return Set(help_file_, s); }
  HRESULT SetHelpContext(DWORD dwHelpContext) override {
    std::lock_guard lock(mutex_);
    help_context_ = dwHelpContext;
    return S_OK;
  }

 private:
  ~ErrorInfo() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(help_file_);
  }

  // An unset text reads as a null BSTR, which is the empty string.
  HRESULT Get(const BSTR& field, BSTR* out) {
    if (!out) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *out = nullptr;
    if (field && !(*out = SysAllocStringLen(field, SysStringLen(field)))) return E_OUTOFMEMORY;
    return S_OK;
  }
  HRESULT Set(BSTR& field, LPCOLESTR s) {
    BSTR copy = SysAllocString(s);
    if (s && !copy) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    SysFreeString(std::exchange(field, copy));
    return S_OK;
  }

  std::mutex mutex_;
  GUID guid_{};
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR help_file_ = nullptr;
  DWORD help_context_ = 0;
};

// The thread's error object; what a thread leaves behind is released when it exits.
struct ThreadErrorSlot {
  IErrorInfo* info = nullptr;
  ~ThreadErrorSlot() {
    if (IErrorInfo* p = std::exchange(info, nullptr)) {
      vmk::com::g_threadsWithErrorInfo.fetch_sub(1, std::memory_order_relaxed);
      p->Release();
    }
  }
};
thread_local ThreadErrorSlot t_error;

// Puts `next` in the slot and keeps the count of filled slots; returns what the slot held.
IErrorInfo* Exchange(IErrorInfo* next) {
  IErrorInfo* old = std::exchange(t_error.info, next);
  if (!old && next) vmk::com::g_threadsWithErrorInfo.fetch_add(1, std::memory_order_relaxed);
  if (old && !next) vmk::com::g_threadsWithErrorInfo.fetch_sub(1, std::memory_order_relaxed);
  return old;
}

}  // namespace

namespace vmk::com {
std::atomic<long> g_threadsWithErrorInfo{0};
}  // namespace vmk::com

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  auto* info = new (std::nothrow) ErrorInfo;
  *pperrinfo = info;
  return info ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo) perrinfo->AddRef();
  // Release after the slot holds the new object: a final Release may run code that sets or
  // reads this thread's error information.
  if (IErrorInfo* old = Exchange(perrinfo)) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
  // The caller takes over the slot's reference; the thread is left with none.
  *pperrinfo = Exchange(nullptr);
  return *pperrinfo ? S_OK : S_FALSE;
}

}  // extern "C"
