#include "carvix/card/card_applet.h"
#include "carvix/card/user_signing.h"
#include "docadmin/card_write.h"

#include <utility>

namespace carvix::com {

void WriteBlockToCard(std::uintptr_t handle, std::uint16_t appId, const CardBlock& model,
                      const Orvel::Security::Cryptography::X509::X509Certificate& signer) {
    // With a named signer the call holds the card once, from the open to the last block; the
    // signer is resolved (its key opened, a token logged in to) before that, so that nothing
    // waits on a token, a module or a person while the card is held. Without one the user is
    // asked to choose a certificate in the middle of the write, and the card must not be held
    // while a person decides: the open and the write then take the card each on their own.
    // The unique_ptr closes the applet when a step throws; Close does it on the good path.
    // The handle stays open either way: it belongs to the authentication object.
    if (signer.IsEmpty()) {
        std::unique_ptr<CardApplet> applet = CardApplet::OpenForWrite(
            static_cast<SCARDHANDLE>(handle), appId, CardApplet::Hold::EachOperation);
        applet->WriteBlocks({&model}, signer);
        CardApplet::Close(std::move(applet));
        return;
    }
    const Signer resolved = ResolveSigner(signer);
    std::unique_ptr<CardApplet> applet = CardApplet::OpenForWrite(
        static_cast<SCARDHANDLE>(handle), appId, CardApplet::Hold::UntilClose);
    applet->WriteBlocksWith({&model}, resolved);
    CardApplet::Close(std::move(applet));
}

}  // namespace carvix::com
