#include "carvix/card/card_applet.h"
#include "docadmin/verified_read.h"

#include <utility>

namespace carvix::com {

void ReadVerifiedFromCard(const std::u16string& reader, std::uint16_t appId, CardBlock& model) {
    // The unique_ptr closes the applet when a step throws; Close does it on the good path.
    std::unique_ptr<CardApplet> applet =
        CardApplet::OpenForRead(reader, appId, CardApplet::Hold::UntilClose);
    Orvel::Security::Cryptography::X509::X509Certificate signer;
    applet->ReadVerifiedBlock(model, signer);
    CardApplet::Close(std::move(applet));
}

}  // namespace carvix::com
