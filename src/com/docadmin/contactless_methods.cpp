// The two contactless methods of the document service: the extract of the card's contactless
// part read into a block object, and the extract built again from the contact card and
// written with a new SOD. Each call loads the vendor library for itself and frees it before
// it returns.
#include "carvix/automation/oleauto.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/contactless/cl_card.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"
#include "docadmin/docadmin_service.h"
#include "docadmin/signer_from_base64.h"

#include <optional>
#include <string>

namespace carvix::com {
namespace {

namespace cl = carvix::contactless;
namespace x509 = Orvel::Security::Cryptography::X509;

std::u16string Text(BSTR text) {
    return std::u16string(text == nullptr ? u"" : text, SysStringLen(text));
}

/// The module's directory, or the HRESULT of the failure to find it (no warning box).
std::optional<std::string> ModuleDirectory(HRESULT& failure) {
    try {
        return cl::GetModuleDirectory();
    } catch (const Orvel::Win32Exception& e) {
        failure = Orvel::HResultFromCode(static_cast<std::int32_t>(e.Code()));
        return std::nullopt;
    }
}

}  // namespace

HRESULT DocAdminService::ReadVLContactlessData(BSTR bsContactlessReaderName,
                                               std::int32_t bCheckCLSod,
                                               IVLContactlessBlockArg** ppBlock) {
    const std::u16string reader = Text(bsContactlessReaderName);
    if (reader.empty() || ppBlock == nullptr) {
        return E_INVALIDARG;
    }
    *ppBlock = nullptr;
    return Guarded(FailurePolicy::Document, [&] {
        HRESULT failure = E_FAIL;
        const std::optional<std::string> directory = ModuleDirectory(failure);
        if (!directory) {
            return failure;
        }
        VLContactlessModel model;
        {
            // The library is freed before the block object is made.
            const std::unique_ptr<cl::CLCard> card = cl::CLCard::Create(*directory, reader);
            card->Read(model, bCheckCLSod != 0);
        }
        void* object = nullptr;
        const HRESULT handed = HandOut(kReadOf<IVLContactlessBlock>, model, &object);
        if (SUCCEEDED(handed)) {
            *ppBlock = static_cast<IVLContactlessBlockArg*>(object);
        }
        return handed;
    });
}

HRESULT DocAdminService::UpdateVLContactlessData(BSTR bsContactReaderName, std::uint16_t uwAppID,
                                                 BSTR bsContactlessReaderName,
                                                 std::int32_t bCheckCLSod, BSTR bsEncryptedKeyB64,
                                                 BSTR bsSignerCertB64) {
    const std::u16string contactReader = Text(bsContactReaderName);
    const std::u16string contactlessReader = Text(bsContactlessReaderName);
    if (contactReader.empty() || contactlessReader.empty()) {
        return E_INVALIDARG;
    }
    return Guarded(FailurePolicy::Document, [&] {
        Orvel::ByteArray encryptedKey;
        try {
            encryptedKey = Orvel::FromBase64(Text(bsEncryptedKeyB64));
        } catch (const Orvel::ArgumentException&) {
            return E_INVALIDARG;
        }
        x509::X509Certificate signer;
        if (const HRESULT hr = SignerFromBase64(bsSignerCertB64, signer); FAILED(hr)) {
            return hr;
        }
        HRESULT failure = E_FAIL;
        const std::optional<std::string> directory = ModuleDirectory(failure);
        if (!directory) {
            return failure;
        }
        const std::unique_ptr<cl::CLCard> card = cl::CLCard::Create(*directory, contactlessReader);
        card->Update(contactReader, uwAppID, bCheckCLSod != 0, encryptedKey, signer);
        return S_OK;
    });
}

}  // namespace carvix::com
