#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/signer_trust.h"
#include "carvix/com/signer_trust_service.h"
#include "docadmin/signed_read.h"

#include <utility>

namespace carvix::com {

std::shared_ptr<const BlockSigner> ReadSignedFromCard(const std::u16string& reader,
                                                      std::uint16_t appId, CardBlock& model) {
    // The unique_ptr closes the applet when a step throws; Close does it on the good path.
    std::unique_ptr<CardApplet> applet =
        CardApplet::OpenForRead(reader, appId, CardApplet::Hold::UntilClose);
    Orvel::Security::Cryptography::X509::X509Certificate signer;
    applet->ReadVerifiedBlock(model, signer);
    const std::optional<card::SignerTrust> trust = card::BlockSignerTrust(*applet, model.Tag());
    CardApplet::Close(std::move(applet));
    if (!trust) {
        return nullptr;
    }
    std::shared_ptr<const BlockSigner> found =
        MakeBlockSigner(signer.IsEmpty() ? nullptr : signer.Handle(), *trust);
    card::EnforceTrustPolicy(*trust, model.Tag(), found->subject);
    return found;
}

}  // namespace carvix::com
