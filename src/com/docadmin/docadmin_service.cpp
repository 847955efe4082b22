#include "docadmin_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/blocks/card_block.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/com/module.h"
#include "carvix/com/signer_trust_service.h"

#include <new>
#include <string>

namespace carvix::com {

namespace ca = automation;
using S = IDocAdminService;

inline constexpr ca::MemberDesc kDocAdminMembers[] = {
    ca::Method<&S::ReadVLDocumentData>(1, u"ReadVLDocumentData",
                                       {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                       u"method ReadVLDocumentData"),
    ca::Method<&S::ReadVLFixedPersoData>(2, u"ReadVLFixedPersoData",
                                         {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                         u"method ReadVLFixedPersoData"),
    ca::Method<&S::ReadVLPhotoData>(3, u"ReadVLPhotoData",
                                    {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                    u"method ReadVLPhotoData"),
    ca::Method<&S::ReadVLVariablePersoData>(4, u"ReadVLVariablePersoData",
                                            {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                            u"method ReadVLVariablePersoData"),
    ca::Method<&S::WriteVLVariablePersoData>(5, u"WriteVLVariablePersoData",
                                             {u"pAuth", u"pBlock", u"bsSignerCertB64"},
                                             u"method WriteVLVariablePersoData"),
    ca::Method<&S::ReadZKDocumentData>(6, u"ReadZKDocumentData",
                                       {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                       u"method ReadZKDocumentData"),
    ca::Method<&S::ReadZKFixedAdminData>(7, u"ReadZKFixedAdminData",
                                         {u"bsReaderName", u"uwAppID", u"ppData"},
                                         u"method ReadZKFixedAdminData"),
    ca::Method<&S::ReadZKFixedPersoData>(8, u"ReadZKFixedPersoData",
                                         {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                         u"method ReadZKFixedPersoData"),
    ca::Method<&S::ReadZKVariableAdminData>(9, u"ReadZKVariableAdminData",
                                            {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                            u"method ReadZKVariableAdminData"),
    ca::Method<&S::WriteZKVariableAdminData>(10, u"WriteZKVariableAdminData",
                                             {u"pAuth", u"pBlock", u"bsSignerCertB64"},
                                             u"method WriteZKVariableAdminData"),
    ca::Method<&S::ReadZKVariablePersoData>(11, u"ReadZKVariablePersoData",
                                            {u"bsReaderName", u"uwAppID", u"ppBlock"},
                                            u"method ReadZKVariablePersoData"),
    ca::Method<&S::WriteZKVariablePersoData>(12, u"WriteZKVariablePersoData",
                                             {u"pAuth", u"pBlock", u"bsSignerCertB64"},
                                             u"method WriteZKVariablePersoData"),
    ca::Method<&S::ReadVLContactlessData>(13, u"ReadVLContactlessData",
                                          {u"bsContactlessReaderName", u"bCheckCLSod", u"ppBlock"},
                                          u"method ReadVLContactlessData"),
    ca::Method<&S::UpdateVLContactlessData>(
        14, u"UpdateVLContactlessData",
        {u"bsContactReaderName", u"uwAppID", u"bsContactlessReaderName", u"bCheckCLSod",
         u"bsEncryptedKeyB64", u"bsSignerCertB64"},
        u"method UpdateVLContactlessData"),
};

const ca::InterfaceDesc kDocAdminServiceDesc{u"IDocAdminService", kIidIDocAdminService,
                                             u"IDocAdminService Interface", kDocAdminMembers};

HRESULT DocAdminService::ReadBlock(const ReadMethod& method, BSTR readerName, std::uint16_t appId,
                                   void** out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    const std::uint32_t length = SysStringLen(readerName);
    if (length == 0) {
        return E_INVALIDARG;
    }
    *out = nullptr;
    return Guarded(FailurePolicy::Document, [&] {
        const std::u16string reader(readerName, length);
        const std::unique_ptr<CardBlock> model = method.makeModel();
        const std::shared_ptr<const BlockSigner> signer =
            backend_.ReadVerifiedSigned(reader, appId, *model);
        const HRESULT handed = HandOut(method, *model, out);
        if (SUCCEEDED(handed)) {
            AttachSigner(static_cast<IUnknown*>(*out), signer);
        }
        return handed;
    });
}

HRESULT DocAdminService::HandOut(const ReadMethod& method, CardBlock& model, void** out) {
    const ClassEntry* blockClass = FindClassOf(method.iid);
    if (blockClass == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    automation::ComPtr<IUnknown> object;  // holds the interface of method.iid
    const HRESULT created =
        backend_.CreateBlockObject(blockClass->clsid, method.iid, object.PutVoid());
    if (FAILED(created) || !object) {
        return FAILED(created) ? created : E_NOINTERFACE;
    }
    HRESULT loaded = E_FAIL;
    try {
        loaded = backend_.LoadBlockObject(method, object.Get(), model);
    } catch (...) {
        loaded = E_FAIL;  // a model that cannot give its values; never escapes the call
    }
    if (FAILED(loaded)) {
        return loaded;
    }
    *out = object.Detach();
    return S_OK;
}

// The write methods are in write_methods.cpp, the contactless ones in contactless_methods.cpp.

}  // namespace carvix::com
