// The dual interfaces of the block classes and of CARVIX.VoluntaryInsurance, in vtable order:
// IDispatch, Load (DISPID 1), Store (DISPID 2, writable classes only), then for each property
// in DISPID order its get_ accessor, on writable classes followed by put_, and for an optional
// field the same pair for its NameSpecified flag.
//
// Load and Store take a model handed over with ModelHandOver (block_handover.h) and answer
// E_INVALIDARG for anything else. Getters answer E_INVALIDARG for a null out-pointer and
// E_FAIL for an optional field whose flag is false; BSTRs returned are the caller's, and an
// empty text is a null BSTR.
#pragma once

#include "carvix/automation/interfaces.h"
#include "carvix/com/block_fields.h"
#include "carvix/com/guids.h"

#define CARVIX_DECLARE_GET(dispid, name, kind, presence)    \
    virtual HRESULT get_##name(CARVIX_OUT_##kind pVal) = 0; \
    CARVIX_IF_##presence(virtual HRESULT get_##name##Specified(VARIANT_BOOL* pVal) = 0;)

#define CARVIX_DECLARE_GET_PUT(dispid, name, kind, presence)                            \
    virtual HRESULT get_##name(CARVIX_OUT_##kind pVal) = 0;                             \
    virtual HRESULT put_##name(CARVIX_IN_##kind newVal) = 0;                            \
    CARVIX_IF_##presence(virtual HRESULT get_##name##Specified(VARIANT_BOOL* pVal) = 0; \
                         virtual HRESULT put_##name##Specified(VARIANT_BOOL newVal) = 0;)

#define CARVIX_READ_ONLY_BLOCK_INTERFACE(Iface, FIELDS)      \
    struct Iface : IDispatch {                               \
        static constexpr const IID& kIid = kIid##Iface;      \
        static constexpr const char16_t* kName = u"" #Iface; \
        virtual HRESULT Load(VARIANT* pData) = 0;            \
        FIELDS(CARVIX_DECLARE_GET)                           \
      protected:                                             \
        ~Iface() = default;                                  \
    };

#define CARVIX_WRITABLE_BLOCK_INTERFACE(Iface, FIELDS)       \
    struct Iface : IDispatch {                               \
        static constexpr const IID& kIid = kIid##Iface;      \
        static constexpr const char16_t* kName = u"" #Iface; \
        virtual HRESULT Load(VARIANT* pData) = 0;            \
        virtual HRESULT Store(VARIANT* pData) = 0;           \
        FIELDS(CARVIX_DECLARE_GET_PUT)                       \
      protected:                                             \
        ~Iface() = default;                                  \
    };

namespace carvix::com {

CARVIX_READ_ONLY_BLOCK_INTERFACE(IVLDocumentBlock, CARVIX_VL_DOCUMENT_FIELDS)
CARVIX_READ_ONLY_BLOCK_INTERFACE(IVLFixedPersoBlock, CARVIX_VL_FIXED_PERSO_FIELDS)
CARVIX_READ_ONLY_BLOCK_INTERFACE(IVLPhotoBlock, CARVIX_VL_PHOTO_FIELDS)
CARVIX_WRITABLE_BLOCK_INTERFACE(IVLVariablePersoBlock, CARVIX_VL_VARIABLE_PERSO_FIELDS)
CARVIX_READ_ONLY_BLOCK_INTERFACE(IVLContactlessBlock, CARVIX_VL_CONTACTLESS_FIELDS)
CARVIX_READ_ONLY_BLOCK_INTERFACE(IZKDocumentBlock, CARVIX_ZK_DOCUMENT_FIELDS)
CARVIX_READ_ONLY_BLOCK_INTERFACE(IZKFixedAdminBlock, CARVIX_ZK_FIXED_ADMIN_FIELDS)
CARVIX_READ_ONLY_BLOCK_INTERFACE(IZKFixedPersoBlock, CARVIX_ZK_FIXED_PERSO_FIELDS)
CARVIX_WRITABLE_BLOCK_INTERFACE(IZKVariablePersoBlock, CARVIX_ZK_VARIABLE_PERSO_FIELDS)
CARVIX_WRITABLE_BLOCK_INTERFACE(IVoluntaryInsurance, CARVIX_VOLUNTARY_INSURANCE_FIELDS)

/// The variable administrative block: after Store, the voluntary-insurance list (DISPID 3),
/// a VARIANT holding a one-dimensional SAFEARRAY of VARIANTs, each a VoluntaryInsurance.
struct IZKVariableAdminBlock : IDispatch {
    static constexpr const IID& kIid = kIidIZKVariableAdminBlock;
    static constexpr const char16_t* kName = u"IZKVariableAdminBlock";
    virtual HRESULT Load(VARIANT* pData) = 0;
    virtual HRESULT Store(VARIANT* pData) = 0;
    /// A copy of the held array (VT_ARRAY | VT_VARIANT) sharing its element objects;
    /// E_INVALIDARG when the object holds none. pVal is cleared first.
    virtual HRESULT get_VoluntaryInsurances(VARIANT* pVal) = 0;
    /// VT_NULL drops the array; VT_ARRAY | VT_VARIANT (also by reference) keeps a copy;
    /// anything else is E_INVALIDARG and keeps the old array.
    virtual HRESULT put_VoluntaryInsurances(VARIANT* newVal) = 0;
    CARVIX_ZK_VARIABLE_ADMIN_FIELDS(CARVIX_DECLARE_GET_PUT)
  protected:
    ~IZKVariableAdminBlock() = default;
};

}  // namespace carvix::com
