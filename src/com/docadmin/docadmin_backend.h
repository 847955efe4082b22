// What the document service needs from outside itself: the card (open the application, read
// one verified block or write one block, close) and the block objects (create one in process,
// load it from a model, store it into one). The default backend goes to the card and the module's
// object map; tests give the service their own.
#pragma once

#include "carvix/automation/types.h"

#include <cstdint>
#include <memory>
#include <string>

class CardBlock;

namespace Orvel::Security::Cryptography::X509 {
class X509Certificate;
}

namespace carvix::com {
struct ReadMethod;
struct BlockSigner;
}  // namespace carvix::com

namespace carvix::com {

class DocAdminBackend {
  public:
    virtual ~DocAdminBackend() = default;

    /// Opens the card application on `reader` for `appId`, reads the block of `model` into it
    /// verified against its SOD, and closes the application on every path. Failures leave
    /// as exceptions (CardException from the card layer, anything else it lets through).
    virtual void ReadVerified(const std::u16string& reader, std::uint16_t appId,
                              CardBlock& model) = 0;
    /// ReadVerified, also giving back the signer of the block's SOD with its trust result
    /// (null for a block without SOD, or when the backend does not know it), and failing as
    /// the administrator's trust policy says.
    virtual std::shared_ptr<const BlockSigner> ReadVerifiedSigned(const std::u16string& reader,
                                                                  std::uint16_t appId,
                                                                  CardBlock& model) {
        ReadVerified(reader, appId, model);
        return nullptr;
    }
    /// Creates the block object of `clsid` in process and asks it for `iid`.
    virtual HRESULT CreateBlockObject(const CLSID& clsid, const IID& iid, void** ppv) = 0;
    /// Hands `model` to the Load of `object`, created for `method` (the object copies the
    /// fields).
    virtual HRESULT LoadBlockObject(const ReadMethod& method, IUnknown* object,
                                    CardBlock& model) = 0;

    /// The caller's block object `object` stores its fields into `model`, a fresh model of
    /// the block that the write method writes.
    virtual HRESULT StoreBlockObject(IUnknown* object, CardBlock& model) = 0;
    /// Opens the card application `appId` on the authenticated card handle `handle` (which
    /// stays the caller's), writes `model` with its SOD signed again by `signer` (empty: the
    /// user chooses), and closes the application on every path. Failures leave as for
    /// ReadVerified.
    virtual void WriteToCard(
        std::uintptr_t handle, std::uint16_t appId, const CardBlock& model,
        const Orvel::Security::Cryptography::X509::X509Certificate& signer) = 0;
};

/// The backend of every service created by the class factory.
DocAdminBackend& DefaultDocAdminBackend();

}  // namespace carvix::com
