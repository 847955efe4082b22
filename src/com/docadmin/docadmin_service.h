// CARVIX.DocAdmin: reads the card's data blocks into block objects and writes the variable
// ones back. It keeps no state
// between calls; every call opens the card application and closes it before returning.
#pragma once

#include "carvix/com/docadmin_service.h"
#include "carvix/com/object.h"
#include "docadmin/docadmin_backend.h"
#include "docadmin/read_methods.h"

namespace carvix::com {

class DocAdminService final
    : public CoClass<DocAdminService, IDocAdminService, kDocAdminServiceDesc, ObjectSafety> {
  public:
    DocAdminService() : backend_(DefaultDocAdminBackend()) {}
    /// A service on another backend (tests); the backend must outlive the object.
    explicit DocAdminService(DocAdminBackend& backend) : backend_(backend) {}

    HRESULT ReadVLDocumentData(BSTR bsReaderName, std::uint16_t uwAppID,
                               IVLDocumentBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT ReadVLFixedPersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                 IVLFixedPersoBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT ReadVLPhotoData(BSTR bsReaderName, std::uint16_t uwAppID,
                            IVLPhotoBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT ReadVLVariablePersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                    IVLVariablePersoBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT WriteVLVariablePersoData(IAuthenticationServiceArg* pAuth,
                                     IVLVariablePersoBlockArg* pBlock,
                                     BSTR bsSignerCertB64) override;
    HRESULT ReadZKDocumentData(BSTR bsReaderName, std::uint16_t uwAppID,
                               IZKDocumentBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT ReadZKFixedAdminData(BSTR bsReaderName, std::uint16_t uwAppID,
                                 IZKFixedAdminBlockArg** ppData) override {
        return Read(bsReaderName, uwAppID, ppData);
    }
    HRESULT ReadZKFixedPersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                 IZKFixedPersoBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT ReadZKVariableAdminData(BSTR bsReaderName, std::uint16_t uwAppID,
                                    IZKVariableAdminBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT WriteZKVariableAdminData(IAuthenticationServiceArg* pAuth,
                                     IZKVariableAdminBlockArg* pBlock,
                                     BSTR bsSignerCertB64) override;
    HRESULT ReadZKVariablePersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                    IZKVariablePersoBlockArg** ppBlock) override {
        return Read(bsReaderName, uwAppID, ppBlock);
    }
    HRESULT WriteZKVariablePersoData(IAuthenticationServiceArg* pAuth,
                                     IZKVariablePersoBlockArg* pBlock,
                                     BSTR bsSignerCertB64) override;
    HRESULT ReadVLContactlessData(BSTR bsContactlessReaderName, std::int32_t bCheckCLSod,
                                  IVLContactlessBlockArg** ppBlock) override;
    HRESULT UpdateVLContactlessData(BSTR bsContactReaderName, std::uint16_t uwAppID,
                                    BSTR bsContactlessReaderName, std::int32_t bCheckCLSod,
                                    BSTR bsEncryptedKeyB64, BSTR bsSignerCertB64) override;

    /// One write method: `block` stores into `model` (a fresh model of the row's block), which
    /// is written on the card handle and for the application that `auth` holds.
    HRESULT Write(CardBlock& model, IAuthenticationService* auth, IUnknown* block, BSTR signerB64);

  private:
    /// Every read method: the block read into a new model of the interface Block hands
    /// out, and a new object of the class of that interface loaded from it.
    template <class Block>
    HRESULT Read(BSTR readerName, std::uint16_t appId, Block** out) {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        void* object = *out;  // left as it is when the call fails before it starts
        const HRESULT hr = ReadBlock(kReadOf<Block>, readerName, appId, &object);
        *out = static_cast<Block*>(object);
        return hr;
    }
    HRESULT ReadBlock(const ReadMethod& method, BSTR readerName, std::uint16_t appId, void** out);
    /// A new object of the class of `method`'s interface, loaded from `model`, into `out`.
    HRESULT HandOut(const ReadMethod& method, CardBlock& model, void** out);

    DocAdminBackend& backend_;
};

}  // namespace carvix::com
