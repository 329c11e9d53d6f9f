// The library's COM server entry points: how a program creates the driver object and how an
// installation registers it.
//
// Once registered (DllRegisterServer, or the vmk40xx-regsvr tool), by ProgID:
//
//   CLSID clsid;
//   CLSIDFromProgID(u"VelmoraK40xx.VelmoraK40xx", &clsid);
//   IVelmoraK40xx* driver = nullptr;
//   CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVelmoraK40xx, (void**)&driver);
//
// or, registered or not, through the class factory:
//
//   IClassFactory* factory = nullptr;
//   DllGetClassObject(CLSID_VelmoraK40xx, IID_IClassFactory, (void**)&factory);
//   factory->CreateInstance(nullptr, IID_IVelmoraK40xx, (void**)&driver);
#pragma once

#include "vmk40xx/com.h"
#include "vmk40xx/export.h"

extern "C" {
// The class factory of a served class; CLASS_E_CLASSNOTAVAILABLE for any other class, E_POINTER
// for a null `ppv`. The factory creates aggregated objects when given an outer object (which
// must then ask for IID_IUnknown, else CLASS_E_NOAGGREGATION).
VMK40XX_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// S_OK when no object of the library and no server lock is alive, else S_FALSE.
VMK40XX_EXPORT HRESULT DllCanUnloadNow();
// Writes the server's registry keys (class, ProgIDs, AppID, component categories, type
// library) for this library's own path, replacing those of an earlier registration. The
// registry file is changed in one locked, atomic step: on failure it is left as it was and the
// error information says why (REGDB_E_READREGDB for a damaged or unreadable file,
// REGDB_E_WRITEREGDB when it cannot be written).
VMK40XX_EXPORT HRESULT DllRegisterServer();
// Removes the server's keys, and only those; errors as for DllRegisterServer.
VMK40XX_EXPORT HRESULT DllUnregisterServer();
}
