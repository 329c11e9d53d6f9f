// Opening and closing sessions, the session lock, the recorded error and the status texts.
#include <algorithm>
#include <cstring>

#include "ivic/frame.h"

using namespace vmk::ivic;
using vmk::com::ComPtr;

namespace {

// With the session's object, whatever interface the session was given.
template <class Work>
ViStatus OnObject(ViSession vi, Work&& work) noexcept {
  return Guarded(vi, [&]() -> ViStatus {
    SessionObject object;
    if (ViStatus s = object.Open(vi)) return s;
    return work(object.get());
  });
}

// A new session holding its own reference to `object`.
ViStatus Bind(IUnknown* object, ViSession* vi) {
  ViSession handle = VI_NULL;
  if (ViStatus s = SessionNew(&handle)) return s;
  object->AddRef();
  if (ViStatus s = SessionSetDataPtr(handle, object)) {
    object->Release();
    SessionDispose(handle);
    return s;
  }
  *vi = handle;
  return VI_SUCCESS;
}

}  // namespace

extern "C" {

VMK40XX_EXPORT ViStatus VmK40xx_init(ViConstString resourceName, ViBoolean idQuery, ViBoolean reset,
                                     ViSession* vi) {
  return VmK40xx_InitWithOptions(resourceName, idQuery, reset, "", vi);
}

VMK40XX_EXPORT ViStatus VmK40xx_InitWithOptions(ViConstString resourceName, ViBoolean idQuery,
                                                ViBoolean reset, ViConstString optionString,
                                                ViSession* vi) {
  if (!vi) return Refuse(VI_NULL, kNullResult);
  *vi = VI_NULL;
  return Guarded(VI_NULL, [&]() -> ViStatus {
    ComOnThread com;
    if (!com) return Refuse(VI_NULL, kNoCom);
    ComPtr<IUnknown> object;
    if (FAILED(CreateDriver(object))) return Refuse(VI_NULL, kNoDriverObject);
    ComPtr<IIviDriver> driver;
    if (ViStatus s = Query(VI_NULL, object.get(), driver)) return s;
    const HRESULT hr =
        driver->Initialize(InText(resourceName).get(), idQuery ? VARIANT_TRUE : VARIANT_FALSE,
                           reset ? VARIANT_TRUE : VARIANT_FALSE, InText(optionString).get());
    if (FAILED(hr)) return MapAndRecord(VI_NULL, hr);
    ViSession handle = VI_NULL;
    if (ViStatus s = Bind(driver.get(), &handle)) {
      driver->Close();
      return s;
    }
    // VmK40xx_close uninitializes COM on its thread.
    com.Keep();
    *vi = handle;
    return MapAndRecord(handle, hr);
  });
}

VMK40XX_EXPORT ViStatus VmK40xx_close(ViSession vi) {
  return OnObject(vi, [&](IUnknown* object) -> ViStatus {
    ComPtr<IIviDriver> driver;
    ViStatus status = Query(vi, object, driver);
    if (status == VI_SUCCESS) status = MapAndRecord(vi, driver->Close());
    // The session ends also when its object is no driver (an attached object without
    // IIviDriver): kept, it could never be closed and its object never released. Only the call
    // whose dispose ended the session gives up the session's reference, so that two threads
    // closing one session release it once.
    const ViStatus disposed = SessionDispose(vi);
    if (disposed == VI_SUCCESS) object->Release();
    CoUninitialize();
    return status != VI_SUCCESS ? status : disposed;
  });
}

VMK40XX_EXPORT ViStatus VmK40xx_GetNativeIUnknownPtr(ViSession vi, IUnknown** unknown) {
  return OnObject(vi, [&](IUnknown* object) -> ViStatus {
    if (!unknown) return Refuse(vi, kNullResult);
    return MapAndRecord(vi,
                        object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown)));
  });
}

VMK40XX_EXPORT ViStatus VmK40xx_AttachToExistingCOMSession(IUnknown* existing, ViSession* vi) {
  if (!vi) return Refuse(VI_NULL, kNullResult);
  *vi = VI_NULL;
  if (!existing) return Refuse(VI_NULL, kNullResult);
  return Guarded(VI_NULL, [&]() -> ViStatus {
    // Paired with the uninitialization in VmK40xx_close, which would otherwise undo the
    // caller's own.
    ComOnThread com;
    if (!com) return Refuse(VI_NULL, kNoCom);
    if (ViStatus s = Bind(existing, vi)) return s;
    com.Keep();
    return VI_SUCCESS;
  });
}

VMK40XX_EXPORT ViStatus VmK40xx_LockSession(ViSession vi, ViBoolean* callerHasLock) {
  return SessionLock(vi, callerHasLock);
}

VMK40XX_EXPORT ViStatus VmK40xx_UnlockSession(ViSession vi, ViBoolean* callerHasLock) {
  const ViStatus status = SessionUnlock(vi, callerHasLock);
  return status == kLockNotHeld ? Refuse(vi, kUnlockWithoutLock) : status;
}

VMK40XX_EXPORT ViStatus VmK40xx_GetError(ViSession vi, ViStatus* errorCode, ViInt32 bufferSize,
                                         ViChar description[]) {
  return SessionGetError(vi, bufferSize, errorCode, description);
}

VMK40XX_EXPORT ViStatus VmK40xx_ClearError(ViSession vi) {
  return SessionClearError(vi);
}

VMK40XX_EXPORT ViStatus VmK40xx_error_message(ViSession, ViStatus statusCode, ViChar message[256]) {
  if (!message) return Refuse(VI_NULL, kNullResult);
  const char* text = StatusText(statusCode);
  const size_t length = text ? std::min<size_t>(std::strlen(text), 255) : 0;
  std::memcpy(message, text ? text : "", length);
  message[length] = '\0';
  return VI_SUCCESS;
}

}  // extern "C"
