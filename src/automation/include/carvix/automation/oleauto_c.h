/* The automation runtime for C clients: the Windows-named types, constants and functions of
 * types.h, interfaces.h and oleauto.h, written in C11. Interfaces are structures whose first
 * member points at the table of their functions (lpVtbl), each taking the object first:
 *     d->lpVtbl->Invoke(d, dispid, &IID_NULL, 0, DISPATCH_METHOD, &params, &result, NULL, NULL);
 * A REFIID or REFCLSID of the C++ declarations is a pointer here (the same calling
 * convention). C++ clients include oleauto.h instead. Link with -lcarvix-com
 * (`pkg-config --cflags --libs carvix-com`). The host hooks are in host_hooks.h. */
#ifndef CARVIX_AUTOMATION_OLEAUTO_C_H
#define CARVIX_AUTOMATION_OLEAUTO_C_H

#ifdef __cplusplus
#error "oleauto_c.h is for C; C++ clients include carvix/automation/oleauto.h"
#endif

#include <stddef.h>
#include <stdint.h>
#include <uchar.h>

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef uint32_t LCID;
typedef int32_t DISPID;
typedef DISPID MEMBERID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR; /* length-prefixed, see SysAllocString */

typedef struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef const IID* REFIID;
typedef const CLSID* REFCLSID;
typedef const GUID* REFGUID;

typedef struct IUnknown IUnknown;
typedef struct IDispatch IDispatch;
typedef struct ITypeInfo ITypeInfo; /* opaque to C clients */

typedef union CY {
    int64_t int64;
} CY;

typedef struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} SYSTEMTIME;

typedef struct SAFEARRAYBOUND {
    uint32_t cElements;
    int32_t lLbound;
} SAFEARRAYBOUND;

typedef struct SAFEARRAY {
    uint16_t cDims;
    uint16_t fFeatures;
    uint32_t cbElements;
    uint32_t cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

/* 24 bytes: the type, three reserved words, then a 16-byte union. */
typedef struct VARIANT VARIANT;
typedef VARIANT VARIANTARG;
struct VARIANT {
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union {
        int64_t llVal;
        int32_t lVal;
        uint8_t bVal;
        int16_t iVal;
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
        void* byref;
        signed char cVal;
        uint16_t uiVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t intVal;
        uint32_t uintVal;
        VARIANT* pvarVal;
        BSTR* pbstrVal;
        int32_t* plVal;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecVal;
    };
};

typedef struct DISPPARAMS {
    VARIANTARG* rgvarg; /* arguments in reverse order: the last one first */
    DISPID* rgdispidNamedArgs;
    uint32_t cArgs;
    uint32_t cNamedArgs;
} DISPPARAMS;

typedef struct EXCEPINFO EXCEPINFO;
struct EXCEPINFO {
    uint16_t wCode;
    uint16_t wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    uint32_t dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode; /* the failure of the member when Invoke returns DISP_E_EXCEPTION */
};

_Static_assert(sizeof(GUID) == 16, "GUID layout");
_Static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME layout");
_Static_assert(sizeof(VARIANT) == 24 && offsetof(VARIANT, lVal) == 8, "VARIANT layout");
_Static_assert(sizeof(SAFEARRAY) == 32 && offsetof(SAFEARRAY, pvData) == 16, "SAFEARRAY layout");
_Static_assert(sizeof(DISPPARAMS) == 24 && offsetof(DISPPARAMS, cArgs) == 16, "DISPPARAMS layout");
_Static_assert(sizeof(EXCEPINFO) == 64 && offsetof(EXCEPINFO, scode) == 56, "EXCEPINFO layout");

typedef struct IUnknownVtbl {
    HRESULT (*QueryInterface)(IUnknown* self, REFIID riid, void** ppv);
    uint32_t (*AddRef)(IUnknown* self);
    uint32_t (*Release)(IUnknown* self);
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
    HRESULT (*QueryInterface)(IDispatch* self, REFIID riid, void** ppv);
    uint32_t (*AddRef)(IDispatch* self);
    uint32_t (*Release)(IDispatch* self);
    HRESULT (*GetTypeInfoCount)(IDispatch* self, uint32_t* pctinfo);
    HRESULT (*GetTypeInfo)(IDispatch* self, uint32_t iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    HRESULT(*GetIDsOfNames)
    (IDispatch* self, REFIID riid, LPOLESTR* rgszNames, uint32_t cNames, LCID lcid,
     DISPID* rgDispId);
    HRESULT(*Invoke)
    (IDispatch* self, DISPID dispIdMember, REFIID riid, LCID lcid, uint16_t wFlags,
     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, uint32_t* puArgErr);
} IDispatchVtbl;
struct IDispatch {
    const IDispatchVtbl* lpVtbl;
};

/* The error object of a failed call: GetErrorInfo hands over the thread's current one. */
typedef struct IErrorInfo IErrorInfo;
typedef struct IErrorInfoVtbl {
    HRESULT (*QueryInterface)(IErrorInfo* self, REFIID riid, void** ppv);
    uint32_t (*AddRef)(IErrorInfo* self);
    uint32_t (*Release)(IErrorInfo* self);
    HRESULT (*GetGUID)(IErrorInfo* self, GUID* pGUID);
    HRESULT (*GetSource)(IErrorInfo* self, BSTR* pBstrSource);
    HRESULT (*GetDescription)(IErrorInfo* self, BSTR* pBstrDescription);
    HRESULT (*GetHelpFile)(IErrorInfo* self, BSTR* pBstrHelpFile);
    HRESULT (*GetHelpContext)(IErrorInfo* self, uint32_t* pdwHelpContext);
} IErrorInfoVtbl;
struct IErrorInfo {
    const IErrorInfoVtbl* lpVtbl;
};

typedef struct ICreateErrorInfo ICreateErrorInfo;
typedef struct ICreateErrorInfoVtbl {
    HRESULT (*QueryInterface)(ICreateErrorInfo* self, REFIID riid, void** ppv);
    uint32_t (*AddRef)(ICreateErrorInfo* self);
    uint32_t (*Release)(ICreateErrorInfo* self);
    HRESULT (*SetGUID)(ICreateErrorInfo* self, REFGUID rguid);
    HRESULT (*SetSource)(ICreateErrorInfo* self, LPOLESTR szSource);
    HRESULT (*SetDescription)(ICreateErrorInfo* self, LPOLESTR szDescription);
    HRESULT (*SetHelpFile)(ICreateErrorInfo* self, LPOLESTR szHelpFile);
    HRESULT (*SetHelpContext)(ICreateErrorInfo* self, uint32_t dwHelpContext);
} ICreateErrorInfoVtbl;
struct ICreateErrorInfo {
    const ICreateErrorInfoVtbl* lpVtbl;
};

typedef struct ISupportErrorInfo ISupportErrorInfo;
typedef struct ISupportErrorInfoVtbl {
    HRESULT (*QueryInterface)(ISupportErrorInfo* self, REFIID riid, void** ppv);
    uint32_t (*AddRef)(ISupportErrorInfo* self);
    uint32_t (*Release)(ISupportErrorInfo* self);
    HRESULT (*InterfaceSupportsErrorInfo)(ISupportErrorInfo* self, REFIID riid);
} ISupportErrorInfoVtbl;
struct ISupportErrorInfo {
    const ISupportErrorInfoVtbl* lpVtbl;
};

static const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
static const IID IID_IUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
static const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
static const IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

enum {
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
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF
};

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPID_PROPERTYPUT (-3)
#define VARIANT_ALPHABOOL 0x2
#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_ALL 0x17u
#define LOCALE_USER_DEFAULT 0x400u

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003u)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005u)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006u)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009u)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000Eu)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3u)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8u)
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)

BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui);
BSTR SysAllocStringByteLen(const char* psz, uint32_t len);
int32_t SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
void SysFreeString(BSTR bstrString);
uint32_t SysStringLen(BSTR pbstr);
uint32_t SysStringByteLen(BSTR bstr);

void VariantInit(VARIANT* pvarg);
HRESULT VariantClear(VARIANT* pvarg);
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc);
HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, uint16_t wFlags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID lcid, uint16_t wFlags,
                            VARTYPE vt);

SAFEARRAY* SafeArrayCreate(VARTYPE vt, uint32_t cDims, const SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, int32_t lLbound, uint32_t cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* psaboundNew);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
uint32_t SafeArrayGetDim(SAFEARRAY* psa);
uint32_t SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, uint32_t nDim, int32_t* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, uint32_t nDim, int32_t* plUbound);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const int32_t* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const int32_t* rgIndices, void* pv);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

int32_t SystemTimeToVariantTime(const SYSTEMTIME* lpSystemTime, double* pvtime);
int32_t VariantTimeToSystemTime(double vtime, SYSTEMTIME* lpSystemTime);

int32_t StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int32_t cchMax);
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
int32_t IsEqualGUID(REFGUID rguid1, REFGUID rguid2);

HRESULT CoInitialize(void* pvReserved);
HRESULT CoInitializeEx(void* pvReserved, uint32_t dwCoInit);
void CoUninitialize(void);
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
HRESULT CoGetClassObject(REFCLSID rclsid, uint32_t dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, uint32_t dwClsContext, REFIID riid,
                         void** ppv);
void CoFreeUnusedLibraries(void);
void* CoTaskMemAlloc(size_t cb);
void CoTaskMemFree(void* pv);
uint32_t FormatMessageW(uint32_t dwFlags, const void* lpSource, uint32_t dwMessageId,
                        uint32_t dwLanguageId, OLECHAR* lpBuffer, uint32_t nSize, void* Arguments);

/* Error objects, one per thread: a failing member records one with SetErrorInfo; Invoke
 * moves its description into EXCEPINFO.bstrDescription and clears it; GetErrorInfo hands the
 * current one over and clears it (S_FALSE and NULL when there is none). */
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
HRESULT SetErrorInfo(uint32_t dwReserved, IErrorInfo* perrinfo);
HRESULT GetErrorInfo(uint32_t dwReserved, IErrorInfo** pperrinfo);

/* Not a Windows name: an object's members as JSON (a new BSTR in *json), from the ITypeInfo
 * its GetTypeInfo returned. E_INVALIDARG for a null argument or type information this
 * runtime did not hand out. */
HRESULT CarvixDescribeTypeInfoJson(ITypeInfo* info, BSTR* json);

#endif
