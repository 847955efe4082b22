// The runtime's exported functions, with the Windows names and signatures.
//
// Every function tolerates bad input: null pointers, BSTRs and SAFEARRAYs that the runtime
// did not allocate (recognised by address, never dereferenced as ours) and unknown VARIANT
// types give the documented error instead of a crash.
#pragma once

#include "carvix/automation/interfaces.h"

extern "C" {

// BSTR: a UTF-16 text whose allocation starts with its byte length (uint32) four bytes
// before the pointer and ends with a 16-bit terminator. A pointer that the runtime did not
// hand out is read as a plain zero-terminated text and never freed.
CARVIX_COM_API BSTR SysAllocString(const OLECHAR* psz);
CARVIX_COM_API BSTR SysAllocStringLen(const OLECHAR* strIn, std::uint32_t ui);
CARVIX_COM_API BSTR SysAllocStringByteLen(const char* psz, std::uint32_t len);
CARVIX_COM_API std::int32_t SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
CARVIX_COM_API void SysFreeString(BSTR bstrString);
CARVIX_COM_API std::uint32_t SysStringLen(BSTR pbstr);
CARVIX_COM_API std::uint32_t SysStringByteLen(BSTR bstr);

// VARIANT.
CARVIX_COM_API void VariantInit(VARIANT* pvarg);
CARVIX_COM_API HRESULT VariantClear(VARIANT* pvarg);
CARVIX_COM_API HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
CARVIX_COM_API HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc);
CARVIX_COM_API HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc,
                                         std::uint16_t wFlags, VARTYPE vt);
CARVIX_COM_API HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID lcid,
                                           std::uint16_t wFlags, VARTYPE vt);

// SAFEARRAY. Indices in rgIndices are given leftmost dimension first.
CARVIX_COM_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, std::uint32_t cDims,
                                          const SAFEARRAYBOUND* rgsabound);
CARVIX_COM_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lLbound,
                                                std::uint32_t cElements);
CARVIX_COM_API HRESULT SafeArrayDestroy(SAFEARRAY* psa);
CARVIX_COM_API HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* psaboundNew);
CARVIX_COM_API HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
CARVIX_COM_API std::uint32_t SafeArrayGetDim(SAFEARRAY* psa);
CARVIX_COM_API std::uint32_t SafeArrayGetElemsize(SAFEARRAY* psa);
CARVIX_COM_API HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
CARVIX_COM_API HRESULT SafeArrayGetLBound(SAFEARRAY* psa, std::uint32_t nDim,
                                          std::int32_t* plLbound);
CARVIX_COM_API HRESULT SafeArrayGetUBound(SAFEARRAY* psa, std::uint32_t nDim,
                                          std::int32_t* plUbound);
CARVIX_COM_API HRESULT SafeArrayGetElement(SAFEARRAY* psa, const std::int32_t* rgIndices, void* pv);
CARVIX_COM_API HRESULT SafeArrayPutElement(SAFEARRAY* psa, const std::int32_t* rgIndices, void* pv);
CARVIX_COM_API HRESULT SafeArrayLock(SAFEARRAY* psa);
CARVIX_COM_API HRESULT SafeArrayUnlock(SAFEARRAY* psa);
CARVIX_COM_API HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
CARVIX_COM_API HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

// DATE: days since 1899-12-30; for days before it the fraction still counts forward from
// midnight (-1.25 is 1899-12-29 06:00). Range 0100-01-01 to 9999-12-31 23:59:59.
// Both return TRUE (1) on success and FALSE (0) for a null pointer or a value out of range.
CARVIX_COM_API std::int32_t SystemTimeToVariantTime(const SYSTEMTIME* lpSystemTime, double* pvtime);
CARVIX_COM_API std::int32_t VariantTimeToSystemTime(double vtime, SYSTEMTIME* lpSystemTime);

// GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
CARVIX_COM_API std::int32_t StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, std::int32_t cchMax);
CARVIX_COM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
CARVIX_COM_API HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
CARVIX_COM_API std::int32_t IsEqualGUID(REFGUID rguid1, REFGUID rguid2);

// Activation through the registry (see registry.h for the hives).
CARVIX_COM_API HRESULT CoInitialize(void* pvReserved);
CARVIX_COM_API HRESULT CoInitializeEx(void* pvReserved, std::uint32_t dwCoInit);
CARVIX_COM_API void CoUninitialize(void);
CARVIX_COM_API HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
CARVIX_COM_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
CARVIX_COM_API HRESULT CoGetClassObject(REFCLSID rclsid, std::uint32_t dwClsContext,
                                        void* pvReserved, REFIID riid, void** ppv);
CARVIX_COM_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter,
                                        std::uint32_t dwClsContext, REFIID riid, void** ppv);
CARVIX_COM_API void CoFreeUnusedLibraries(void);
CARVIX_COM_API void* CoTaskMemAlloc(std::size_t cb);
CARVIX_COM_API void CoTaskMemFree(void* pv);

// Error objects: the text of a failure for the caller, one per thread. A member that fails
// records one with SetErrorInfo; Invoke moves its description into EXCEPINFO and clears it;
// GetErrorInfo hands the current one over (S_FALSE and null when there is none) and clears
// it. SetErrorInfo(0, nullptr) clears it. dwReserved must be 0 (E_INVALIDARG otherwise).
CARVIX_COM_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
CARVIX_COM_API HRESULT SetErrorInfo(std::uint32_t dwReserved, IErrorInfo* perrinfo);
CARVIX_COM_API HRESULT GetErrorInfo(std::uint32_t dwReserved, IErrorInfo** pperrinfo);

// The system's message text for an error code (PC/SC, Win32 or HRESULT), without line breaks.
// dwFlags must hold FORMAT_MESSAGE_FROM_SYSTEM (0x1000); inserts are never expanded
// (Arguments is ignored). With FORMAT_MESSAGE_ALLOCATE_BUFFER (0x100) lpBuffer is an
// OLECHAR** that receives a text from CoTaskMemAlloc (free it with CoTaskMemFree); without,
// the text and its terminator are written into the nSize characters at lpBuffer. Returns the
// length without the terminator, or 0 for other flags, a null buffer or a buffer too small.
CARVIX_COM_API std::uint32_t FormatMessageW(std::uint32_t dwFlags, const void* lpSource,
                                            std::uint32_t dwMessageId, std::uint32_t dwLanguageId,
                                            OLECHAR* lpBuffer, std::uint32_t nSize,
                                            void* Arguments);

// Not a Windows name: the members of an object as JSON (a new BSTR in *json), from the
// ITypeInfo its GetTypeInfo returned. Clients behind a C or foreign-function interface
// (Python's ctypes, the browser bridge) learn methods and properties from it. E_INVALIDARG
// for a null argument or type information this runtime did not hand out.
CARVIX_COM_API HRESULT CarvixDescribeTypeInfoJson(ITypeInfo* info, BSTR* json);

}  // extern "C"
