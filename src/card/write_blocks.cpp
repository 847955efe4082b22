#include "carvix/blocks/card_block.h"
#include "carvix/card/applet_command_set.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/card/sod_block.h"
#include "carvix/card/sod_registry.h"
#include "carvix/card/user_signing.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "link_failures.h"

#include <algorithm>

namespace x509 = Orvel::Security::Cryptography::X509;
using carvix::card::ConvertingLinkFailures;

namespace {

constexpr std::size_t kDigestSize = 32;  // SHA-256

// The SOD that covers every block of the list, after putting each block's encoded bytes into
// the cache. Refuses SODs in the list, blocks of different SODs and a list no SOD covers
// (writing such blocks would leave nothing on the card that vouches for them).
std::uint16_t EncodeIntoCache(const SodRegistry& registry,
                              const std::vector<const CardBlock*>& blocks,
                              std::map<std::uint16_t, Orvel::ByteArray>& cache) {
    std::uint16_t sodInUse = 0;
    for (const CardBlock* block : blocks) {
        if (block == nullptr) {
            throw CardException(u"A card block to write is missing.");
        }
        const std::uint16_t id = block->Tag();
        if (registry.IsSod(id)) {
            throw CardException(Orvel::Format(
                "Tried to write to SOD block with ID 0x%X, which is not allowed.", id));
        }
        cache[id] = block->Encode();
        const std::uint16_t sodId = registry.SodOf(id);
        if (sodId == 0) {
            continue;
        }
        if (sodInUse == 0) {
            sodInUse = sodId;
        } else if (sodId != sodInUse) {
            throw CardException(
                Orvel::Format("Card block with ID 0x%X is registered to SOD block with ID 0x%X, "
                              "but previous blocks are registered to SOD with ID 0x%X.",
                              id, sodId, sodInUse));
        }
    }
    if (blocks.empty()) {
        throw CardException(u"There is no card block to write.");
    }
    if (sodInUse == 0) {
        throw CardException(
            Orvel::Format("Card block with ID 0x%X is not registered to any SOD block of this card "
                          "application, so it cannot be written.",
                          blocks.front()->Tag()));
    }
    return sodInUse;
}

// Added to the message of a failure while the SOD was being written (the card may hold part
// of it) and of one after it was written, before the last block.
constexpr std::u16string_view kMaybeInconsistent =
    u" The write broke off while the SOD was being written: the card may now be inconsistent "
    u"(its SOD not matching its blocks). Repeat the same write to repair it.";
constexpr std::u16string_view kLeftInconsistent =
    u" The write broke off after the SOD was written: the card is now inconsistent (its SOD "
    u"does not match its blocks). Repeat the same write to repair it.";

}  // namespace

void CardApplet::WriteBlocks(const std::vector<const CardBlock*>& blocks,
                             const x509::X509Certificate& signer) {
    try {
        const SodRegistry& registry = SodRegistry::ForApplication(applicationId_);
        const std::uint16_t sodId = EncodeIntoCache(registry, blocks, blockCache_);
        // The user may be asked to choose, a PIN may be asked for and a PKCS#11 module
        // loaded: all of it happens here, before the card is held.
        const Signer signing = ResolveSigner(signer);
        WriteInTransaction(registry, sodId, blocks, signing);
    } catch (...) {
        blockCache_.clear();
        throw;
    }
}

void CardApplet::WriteBlocksWith(const std::vector<const CardBlock*>& blocks,
                                 const Signer& signer) {
    try {
        const SodRegistry& registry = SodRegistry::ForApplication(applicationId_);
        const std::uint16_t sodId = EncodeIntoCache(registry, blocks, blockCache_);
        WriteInTransaction(registry, sodId, blocks, signer);
    } catch (...) {
        blockCache_.clear();
        throw;
    }
}

void CardApplet::WriteInTransaction(const SodRegistry& registry, std::uint16_t sodId,
                                    const std::vector<const CardBlock*>& blocks,
                                    const Signer& signing) {
    // One transaction from the read of the old SOD to the last block: no other client sees
    // a SOD that does not match its blocks. Each WriteBlock nests its own inside it.
    ConvertingLinkFailures([&] {
        SmartCardIO::TransactionGuard whole(*connection_);
        const std::vector<std::uint16_t> covered = registry.BlocksOf(sodId);

        // The old SOD is needed only for hashes of blocks neither written nor read here. A
        // SOD that a broken-off write left torn is then never needed to write it again.
        Orvel::ByteArray oldContent;
        const bool needOld = std::any_of(covered.begin(), covered.end(), [&](std::uint16_t id) {
            return !blockCache_.contains(id);
        });
        if (needOld) {
            std::unique_ptr<SodBlock> old = registry.CreateSodBlock(sodId);
            old->Decode(ReadBlock(sodId));
            oldContent = VerifySignedMessage(old->Message().GetValue()).content;
            if (oldContent.size() < covered.size() * kDigestSize) {
                throw CardException(Orvel::Format(
                    "Signed content of SOD block with ID 0x%X has %d bytes, too few for the "
                    "hashes of its %d blocks",
                    sodId, static_cast<int>(oldContent.size()), static_cast<int>(covered.size())));
            }
        }

        Orvel::ByteArray hashes;
        hashes.reserve(covered.size() * kDigestSize);
        for (std::size_t j = 0; j < covered.size(); ++j) {
            auto cached = blockCache_.find(covered[j]);
            if (cached != blockCache_.end()) {
                Orvel::ByteArray digest = ComputeSha256(cached->second);
                hashes.insert(hashes.end(), digest.begin(), digest.end());
            } else {
                auto slot = oldContent.begin() + static_cast<std::ptrdiff_t>(j * kDigestSize);
                hashes.insert(hashes.end(), slot, slot + kDigestSize);
            }
        }

        std::unique_ptr<SodBlock> sod = registry.CreateSodBlock(sodId);
        sod->Message().SetValue(SignWith(hashes, signing, true));
        // Encoding checks the element's size limit, still before anything is written.
        Orvel::ByteArray sodBytes = sod->Encode();

        // Before the SOD's first UPDATE BINARY the card is untouched. A failure from here on
        // leaves a SOD that describes the new blocks; writing the same blocks again repairs it.
        // The code of a failure stays the card's; the message tells the user that the card
        // needs the write again.
        try {
            WriteBlock(sodId, sodBytes);
        } catch (const CardException& e) {
            throw CardException(e.Message() + std::u16string(kMaybeInconsistent), e.Code());
        }
        blockCache_[sodId] = std::move(sodBytes);
        try {
            for (const CardBlock* block : blocks) {
                WriteBlock(block->Tag(), blockCache_.at(block->Tag()));
            }
        } catch (const CardException& e) {
            throw CardException(e.Message() + std::u16string(kLeftInconsistent), e.Code());
        }
    });
}

void CardApplet::WriteBlock(std::uint16_t blockId, const Orvel::ByteArray& bytes) {
    ConvertingLinkFailures([&] {
        SmartCardIO::TransactionGuard guard(*connection_);
        CheckDeclared(blockId);
        commandSet_->SelectApplet(guard);
        commandSet_->WriteFile(guard, blockId, bytes);
    });
}
