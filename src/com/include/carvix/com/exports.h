// The entry points of carvix-qx.so, with the Windows names and signatures.
#pragma once

#include "carvix/automation/types.h"

#define CARVIX_QX_EXPORT __attribute__((visibility("default")))

extern "C" {

/// S_OK when no object, held factory or server lock remains, else S_FALSE.
CARVIX_QX_EXPORT HRESULT DllCanUnloadNow(void);
/// The cached class factory of a class: E_POINTER for a null ppv, CLASS_E_CLASSNOTAVAILABLE
/// (0x80040111) for a class the module does not serve, ppv null on every failure.
CARVIX_QX_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
CARVIX_QX_EXPORT HRESULT DllRegisterServer(void);
CARVIX_QX_EXPORT HRESULT DllUnregisterServer(void);
/// pszCmdLine "user" in any case (the whole word) switches to per-user registration for the
/// rest of the module's life. A failed install is rolled back by a full unregistration.
CARVIX_QX_EXPORT HRESULT DllInstall(std::int32_t bInstall, const OLECHAR* pszCmdLine);
/// The type library as JSON (a new BSTR owned by the caller): library name, version, help,
/// GUID, the coclasses with ProgIDs, and every interface with its members and parameters.
CARVIX_QX_EXPORT HRESULT DllDescribeTypeLibrary(BSTR* pbstrJson);
}
