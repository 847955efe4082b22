#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/card/sod_block.h"
#include "carvix/card/sod_registry.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "link_failures.h"

#include <algorithm>
#include <optional>

void CardApplet::ReadVerifiedBlock(CardBlock& model,
                                   Orvel::Security::Cryptography::X509::X509Certificate& signer) {
    const std::uint16_t blockId = model.Tag();
    const SodRegistry& registry = SodRegistry::ForApplication(applicationId_);
    const std::uint16_t sodId = registry.SodOf(blockId);

    // The block and its SOD come from the card in one transaction: a writer holds the card
    // from its SOD to its last block, so the two read here always belong together.
    Orvel::ByteArray stored;
    Orvel::ByteArray sodBytes;
    {
        std::optional<SmartCardIO::TransactionGuard> guard;
        if (!blockCache_.contains(blockId) || (sodId != 0 && !blockCache_.contains(sodId))) {
            carvix::card::ConvertingLinkFailures([&] { guard.emplace(*connection_); });
        }
        auto read = [&](std::uint16_t id) {
            return guard ? ReadBlockIn(*guard, id) : ReadBlock(id);
        };
        stored = read(blockId);
        model.Decode(stored);
        if (sodId != 0) {
            sodBytes = read(sodId);
        }
    }
    if (sodId == 0) {
        return;
    }
    std::unique_ptr<SodBlock> sod = registry.CreateSodBlock(sodId);
    sod->Decode(sodBytes);
    VerifiedMessage verified = VerifySignedMessage(sod->Message().GetValue());
    signer = verified.signer;

    std::vector<std::uint16_t> covered = registry.BlocksOf(sodId);
    const auto position = static_cast<std::size_t>(
        std::find(covered.begin(), covered.end(), blockId) - covered.begin());
    Orvel::ByteArray digest = ComputeSha256(stored);
    const std::size_t n = digest.size();
    // A content too short for this block's slot cannot vouch for the block.
    if (verified.content.size() < (position + 1) * n) {
        throw CardException(Orvel::Format(
            "Signed content of SOD block with ID 0x%X has %d bytes, too few for the hash of "
            "block with ID 0x%X",
            sodId, static_cast<int>(verified.content.size()), blockId));
    }
    if (!std::equal(digest.begin(), digest.end(), verified.content.begin() + position * n)) {
        throw CardException(Orvel::Format(
            "Hash of block with ID 0x%X does not match the hash in corresponding SOD block",
            blockId));
    }
}
