#include "carvix/card/card_applet.h"
#include "docadmin/card_write.h"

#include <utility>

namespace carvix::com {

void WriteBlockToCard(std::uintptr_t handle, std::uint16_t appId, const CardBlock& model,
                      const Orvel::Security::Cryptography::X509::X509Certificate& signer) {
    // The unique_ptr closes the applet when a step throws; Close does it on the good path.
    // The handle stays open either way: it belongs to the authentication object.
    std::unique_ptr<CardApplet> applet =
        CardApplet::OpenForWrite(static_cast<SCARDHANDLE>(handle), appId);
    applet->WriteBlocks({&model}, signer);
    CardApplet::Close(std::move(applet));
}

}  // namespace carvix::com
