// The library's COM server entry points: how a program creates the driver object.
//
//   IClassFactory* factory = nullptr;
//   DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, (void**)&factory);
//   IVelmoraK40xx* driver = nullptr;
//   factory->CreateInstance(nullptr, IID_IVelmoraK40xx, (void**)&driver);
#pragma once

#include "vmk40xx/com.h"

extern "C" {
// The class factory of a served class; CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// S_OK when no driver object and no server lock is alive, else S_FALSE.
HRESULT DllCanUnloadNow();
}
