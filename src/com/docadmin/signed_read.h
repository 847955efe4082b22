// A verified block read that also gives back who signed the block's SOD and whether that
// signer is trusted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CardBlock;

namespace carvix::com {

struct BlockSigner;

/// ReadVerifiedFromCard, then the trust of the SOD's signer against the installed anchors.
/// When the administrator requires trusted signers and this one is not, raises CardException
/// with the trust failure code (card/signer_trust.h). Null for a block without SOD.
std::shared_ptr<const BlockSigner> ReadSignedFromCard(const std::u16string& reader,
                                                      std::uint16_t appId, CardBlock& model);

}  // namespace carvix::com
