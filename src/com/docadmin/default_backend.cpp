// The backend of the services the class factory creates: the card through the card
// application, the block objects through the module's object map.
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"
#include "docadmin/card_write.h"
#include "docadmin/docadmin_backend.h"
#include "docadmin/read_methods.h"
#include "docadmin/signed_read.h"
#include "docadmin/verified_read.h"

namespace carvix::com {
namespace {

class ModuleBackend final : public DocAdminBackend {
  public:
    void ReadVerified(const std::u16string& reader, std::uint16_t appId,
                      CardBlock& model) override {
        ReadVerifiedFromCard(reader, appId, model);
    }
    std::shared_ptr<const BlockSigner> ReadVerifiedSigned(const std::u16string& reader,
                                                          std::uint16_t appId,
                                                          CardBlock& model) override {
        return ReadSignedFromCard(reader, appId, model);
    }
    // In process, straight from the module's object map: the classes are this module's
    // own, and the model travels through their private IModelTransfer.
    HRESULT CreateBlockObject(const CLSID& clsid, const IID& iid, void** ppv) override {
        return CreateObject(clsid, iid, ppv);
    }
    HRESULT LoadBlockObject(const ReadMethod&, IUnknown* object, CardBlock& model) override {
        return LoadBlock(object, static_cast<const CardBlock&>(model));
    }
    HRESULT StoreBlockObject(IUnknown* object, CardBlock& model) override {
        return StoreBlock(object, model);
    }
    void WriteToCard(std::uintptr_t handle, std::uint16_t appId, const CardBlock& model,
                     const Orvel::Security::Cryptography::X509::X509Certificate& signer) override {
        WriteBlockToCard(handle, appId, model, signer);
    }
};

}  // namespace

DocAdminBackend& DefaultDocAdminBackend() {
    static ModuleBackend backend;
    return backend;
}

}  // namespace carvix::com
