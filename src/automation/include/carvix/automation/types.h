// Data types of the automation runtime with the Windows names and the Windows x64 layouts.
//
// The generic integer names (LONG, DWORD, BOOL, ...) are not defined here because pcsc-lite
// defines them with other widths; signatures use the fixed-width types of the Windows sizes
// (LONG = std::int32_t, ULONG/DWORD/UINT = std::uint32_t, BOOL = std::int32_t).
//
// A client written only against these names, sizes and offsets (in C, C++, or through a
// foreign-function bridge) works without this header; the static assertions below pin the
// layout so that a change can never slip in unnoticed.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(CARVIX_COM_BUILD)
#define CARVIX_COM_API __attribute__((visibility("default")))
#else
#define CARVIX_COM_API
#endif

using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using MEMBERID = DISPID;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;  // length-prefixed, see SysAllocString

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

constexpr bool operator==(const GUID& a, const GUID& b) noexcept {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct IUnknown;
struct IDispatch;
struct SAFEARRAY;

union CY {
    std::int64_t int64;
};

struct SYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

struct VARIANT;
using VARIANTARG = VARIANT;

struct VARIANT_BRECORD {
    void* pvRecord;
    void* pRecInfo;
};

/// 24 bytes: the type, three reserved words, then a 16-byte union (x64 layout).
struct VARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1;
    std::uint16_t wReserved2;
    std::uint16_t wReserved3;
    union {
        std::int64_t llVal;
        std::int32_t lVal;
        std::uint8_t bVal;
        std::int16_t iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        std::uint8_t* pbVal;
        std::int16_t* piVal;
        std::int32_t* plVal;
        std::int64_t* pllVal;
        float* pfltVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        signed char cVal;
        std::uint16_t uiVal;
        std::uint32_t ulVal;
        std::uint64_t ullVal;
        std::int32_t intVal;
        std::uint32_t uintVal;
        signed char* pcVal;
        std::uint16_t* puiVal;
        std::uint32_t* pulVal;
        std::uint64_t* pullVal;
        std::int32_t* pintVal;
        std::uint32_t* puintVal;
        VARIANT_BRECORD brecVal;
    };
};

struct SAFEARRAYBOUND {
    std::uint32_t cElements;
    std::int32_t lLbound;
};

/// Windows field order; the element type is kept in the four bytes before the structure
/// (FADF_HAVEVARTYPE), as on Windows.
struct SAFEARRAY {
    std::uint16_t cDims;
    std::uint16_t fFeatures;
    std::uint32_t cbElements;
    std::uint32_t cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};

struct DISPPARAMS {
    VARIANTARG* rgvarg;  // arguments in reverse order: the last one first
    DISPID* rgdispidNamedArgs;
    std::uint32_t cArgs;
    std::uint32_t cNamedArgs;
};

struct EXCEPINFO {
    std::uint16_t wCode;
    std::uint16_t wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    std::uint32_t dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

static_assert(sizeof(HRESULT) == 4 && sizeof(SCODE) == 4 && sizeof(LCID) == 4);
static_assert(sizeof(VARIANT_BOOL) == 2 && sizeof(OLECHAR) == 2 && sizeof(DATE) == 8);
static_assert(sizeof(GUID) == 16 && offsetof(GUID, Data4) == 8);
static_assert(sizeof(SYSTEMTIME) == 16 && offsetof(SYSTEMTIME, wMilliseconds) == 14);
static_assert(sizeof(VARIANT) == 24 && alignof(VARIANT) == 8);
static_assert(offsetof(VARIANT, vt) == 0 && offsetof(VARIANT, wReserved3) == 6);
static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, bstrVal) == 8);
static_assert(offsetof(VARIANT, brecVal) == 8 && sizeof(VARIANT_BRECORD) == 16);
static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(offsetof(SAFEARRAY, fFeatures) == 2 && offsetof(SAFEARRAY, cbElements) == 4);
static_assert(offsetof(SAFEARRAY, cLocks) == 8 && offsetof(SAFEARRAY, pvData) == 16);
static_assert(offsetof(SAFEARRAY, rgsabound) == 24 && sizeof(SAFEARRAY) == 32);
static_assert(sizeof(DISPPARAMS) == 24 && offsetof(DISPPARAMS, cArgs) == 16);
static_assert(sizeof(EXCEPINFO) == 64 && offsetof(EXCEPINFO, scode) == 56);

// VARIANT types.
enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_USERDEFINED = 29,
    VT_RECORD = 36,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

// SAFEARRAY features.
enum : std::uint16_t {
    FADF_AUTO = 0x1,
    FADF_STATIC = 0x2,
    FADF_EMBEDDED = 0x4,
    FADF_FIXEDSIZE = 0x10,
    FADF_RECORD = 0x20,
    FADF_HAVEIID = 0x40,
    FADF_HAVEVARTYPE = 0x80,
    FADF_BSTR = 0x100,
    FADF_UNKNOWN = 0x200,
    FADF_DISPATCH = 0x400,
    FADF_VARIANT = 0x800,
};

// IDispatch::Invoke flags and special DISPIDs.
inline constexpr std::uint16_t DISPATCH_METHOD = 0x1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 0x2;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 0x4;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUTREF = 0x8;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

// VariantChangeType flags.
inline constexpr std::uint16_t VARIANT_NOVALUEPROP = 0x1;
inline constexpr std::uint16_t VARIANT_ALPHABOOL = 0x2;

// Class contexts.
inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
inline constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr std::uint32_t CLSCTX_ALL = 0x17;

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;

inline constexpr std::uint32_t INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr std::uint32_t INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

#define CARVIX_HR(x) static_cast<HRESULT>(x##u)
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = CARVIX_HR(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = CARVIX_HR(0x80004002);
inline constexpr HRESULT E_POINTER = CARVIX_HR(0x80004003);
inline constexpr HRESULT E_FAIL = CARVIX_HR(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = CARVIX_HR(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = CARVIX_HR(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = CARVIX_HR(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = CARVIX_HR(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = CARVIX_HR(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = CARVIX_HR(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = CARVIX_HR(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = CARVIX_HR(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = CARVIX_HR(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = CARVIX_HR(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = CARVIX_HR(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = CARVIX_HR(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = CARVIX_HR(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = CARVIX_HR(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = CARVIX_HR(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = CARVIX_HR(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = CARVIX_HR(0x8002000F);
inline constexpr HRESULT DISP_E_NOTACOLLECTION = CARVIX_HR(0x80020011);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = CARVIX_HR(0x8002802B);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = CARVIX_HR(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = CARVIX_HR(0x80040111);
inline constexpr HRESULT REGDB_E_WRITEREGDB = CARVIX_HR(0x80040151);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = CARVIX_HR(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = CARVIX_HR(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = CARVIX_HR(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = CARVIX_HR(0x800401F9);
inline constexpr HRESULT CO_E_NOTINITIALIZED = CARVIX_HR(0x800401F0);
#undef CARVIX_HR

constexpr bool SUCCEEDED(HRESULT hr) noexcept {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) noexcept {
    return hr < 0;
}
