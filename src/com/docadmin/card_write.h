// One block written with its SOD signed again, on a card handle that a caller authenticated.
#pragma once

#include <cstdint>

class CardBlock;

namespace Orvel::Security::Cryptography::X509 {
class X509Certificate;
}

namespace carvix::com {

/// Opens the application `appId` on the card handle `handle` without taking it over, writes
/// `model` and the SOD that covers it (signed by `signer`, or by the user's choice when it is
/// empty), and closes the application (also when any step throws).
void WriteBlockToCard(std::uintptr_t handle, std::uint16_t appId, const CardBlock& model,
                      const Orvel::Security::Cryptography::X509::X509Certificate& signer);

}  // namespace carvix::com
