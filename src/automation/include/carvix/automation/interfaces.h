// The automation interfaces as C++ abstract classes in the Windows vtable order.
//
// No interface has a virtual destructor, so the vtable holds exactly the Windows slots and
// a C client sees it as a structure of function pointers whose first argument is `this`.
// Objects are destroyed by their own Release.
#pragma once

#include "carvix/automation/types.h"

/// The well-known interface identifiers (Windows values).
inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeInfo = {0x00020401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IObjectSafety = {
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

struct ITypeInfo;

struct IUnknown {
    static constexpr const IID& kIid = IID_IUnknown;
    static constexpr const char16_t* kName = u"IUnknown";
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

  protected:
    ~IUnknown() = default;
};

struct IDispatch : IUnknown {
    static constexpr const IID& kIid = IID_IDispatch;
    static constexpr const char16_t* kName = u"IDispatch";
    virtual HRESULT GetTypeInfoCount(std::uint32_t* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(std::uint32_t iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, std::uint32_t cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, std::uint16_t wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           std::uint32_t* puArgErr) = 0;

  protected:
    ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
    static constexpr const IID& kIid = IID_IClassFactory;
    static constexpr const char16_t* kName = u"IClassFactory";
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(std::int32_t fLock) = 0;

  protected:
    ~IClassFactory() = default;
};

struct IObjectSafety : IUnknown {
    static constexpr const IID& kIid = IID_IObjectSafety;
    static constexpr const char16_t* kName = u"IObjectSafety";
    virtual HRESULT GetInterfaceSafetyOptions(REFIID riid, std::uint32_t* pdwSupportedOptions,
                                              std::uint32_t* pdwEnabledOptions) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(REFIID riid, std::uint32_t dwOptionSetMask,
                                              std::uint32_t dwEnabledOptions) = 0;

  protected:
    ~IObjectSafety() = default;
};

/// What a failed call left for its caller: the failure's text (description), where it
/// happened (source), the interface (GUID) and a help reference. Read-only; the thread's
/// current one is handed out by GetErrorInfo (oleauto.h).
struct IErrorInfo : IUnknown {
    static constexpr const IID& kIid = IID_IErrorInfo;
    static constexpr const char16_t* kName = u"IErrorInfo";
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(std::uint32_t* pdwHelpContext) = 0;

  protected:
    ~IErrorInfo() = default;
};

/// Fills an error object made by CreateErrorInfo; the object also answers IErrorInfo.
struct ICreateErrorInfo : IUnknown {
    static constexpr const IID& kIid = IID_ICreateErrorInfo;
    static constexpr const char16_t* kName = u"ICreateErrorInfo";
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(std::uint32_t dwHelpContext) = 0;

  protected:
    ~ICreateErrorInfo() = default;
};

/// Answers S_OK for the interfaces whose failures leave an error object (SetErrorInfo), so
/// a caller knows that GetErrorInfo after a failed call describes that call.
struct ISupportErrorInfo : IUnknown {
    static constexpr const IID& kIid = IID_ISupportErrorInfo;
    static constexpr const char16_t* kName = u"ISupportErrorInfo";
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

  protected:
    ~ISupportErrorInfo() = default;
};

/// Type information of one interface. GetIDsOfNames, GetNames, GetDocumentation and Invoke
/// are served; the slots that hand out type-library structures return E_NOTIMPL (their
/// pointer arguments are declared opaque, which keeps the slot layout). The full description
/// is available as JSON, see typeinfo.h.
struct ITypeInfo : IUnknown {
    static constexpr const IID& kIid = IID_ITypeInfo;
    static constexpr const char16_t* kName = u"ITypeInfo";
    virtual HRESULT GetTypeAttr(void** ppTypeAttr) = 0;
    virtual HRESULT GetTypeComp(void** ppTComp) = 0;
    virtual HRESULT GetFuncDesc(std::uint32_t index, void** ppFuncDesc) = 0;
    virtual HRESULT GetVarDesc(std::uint32_t index, void** ppVarDesc) = 0;
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, std::uint32_t cMaxNames,
                             std::uint32_t* pcNames) = 0;
    virtual HRESULT GetRefTypeOfImplType(std::uint32_t index, std::uint32_t* pRefType) = 0;
    virtual HRESULT GetImplTypeFlags(std::uint32_t index, std::int32_t* pImplTypeFlags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, std::uint32_t cNames, MEMBERID* pMemId) = 0;
    virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, std::uint16_t wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           std::uint32_t* puArgErr) = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                     std::uint32_t* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, std::int32_t invKind, BSTR* pBstrDllName,
                                BSTR* pBstrName, std::uint16_t* pwOrdinal) = 0;
    virtual HRESULT GetRefTypeInfo(std::uint32_t hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, std::int32_t invKind, void** ppv) = 0;
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObj) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* pBstrMops) = 0;
    virtual HRESULT GetContainingTypeLib(void** ppTLib, std::uint32_t* pIndex) = 0;
    virtual void ReleaseTypeAttr(void* pTypeAttr) = 0;
    virtual void ReleaseFuncDesc(void* pFuncDesc) = 0;
    virtual void ReleaseVarDesc(void* pVarDesc) = 0;

  protected:
    ~ITypeInfo() = default;
};
