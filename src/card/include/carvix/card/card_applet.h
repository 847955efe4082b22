// The opened card application: one card connection, the applet's command set, the confirmed
// application ID and the cache of the blocks read (or written) so far.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/x509_certificate.h"

#include <PCSC/winscard.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AppletCommandSet;
class CardBlock;
class SodRegistry;
struct Signer;
namespace SmartCardIO {
class CardConnection;
class TransactionGuard;
}  // namespace SmartCardIO

/// Opened by one scripting call and closed before it returns. Owns its connection (which,
/// for the write form, adopts a handle it does not own) and its block cache. Everything it
/// lets out is a `CardException`: PC/SC failures as "PCSC exception: ...", applet status
/// words as "Applet exception: ...", format and consistency errors with E_FAIL. Used from one
/// thread at a time.
class CardApplet {
  public:
    static constexpr std::uint16_t kCardDocumentBlock = 0x0D00;

    /// How long the applet holds the card.
    enum class Hold {
        /// Each read or write connects, takes the card and lets it go again on its own.
        EachOperation,
        /// One connection and one card transaction from the open (its document read included)
        /// to the close: for a scripting call, which does all its card work in between. Other
        /// clients wait for the card until the applet is closed.
        UntilClose,
    };

    /// Opens the application on a named reader (share mode 2, protocols T=0 or T=1) and checks
    /// that the card's document ID is `applicationId`.
    static std::unique_ptr<CardApplet> OpenForRead(const std::u16string& readerName,
                                                   std::uint16_t applicationId,
                                                   Hold hold = Hold::EachOperation);
    /// The same on a card handle that the caller keeps owning (an authenticated one).
    static std::unique_ptr<CardApplet> OpenForWrite(SCARDHANDLE handle, std::uint16_t applicationId,
                                                    Hold hold = Hold::EachOperation);
    /// The same on any connection, for example one over a scripted channel in tests.
    static std::unique_ptr<CardApplet> Open(std::unique_ptr<SmartCardIO::CardConnection> connection,
                                            std::uint16_t applicationId,
                                            Hold hold = Hold::EachOperation);
    /// Destroys the applet with its connection and cache; a null applet is ignored.
    static void Close(std::unique_ptr<CardApplet> applet) noexcept;

    ~CardApplet();
    CardApplet(const CardApplet&) = delete;
    CardApplet& operator=(const CardApplet&) = delete;

    /// The block's stored bytes, header included (a copy), from the cache or else read from
    /// the card inside one transaction. Nothing is cached when the read fails.
    Orvel::ByteArray ReadBlock(std::uint16_t blockId);

    /// Reads the block whose ID is the model's tag, decodes it into the model and checks it
    /// against the SOD that covers it. `signer` receives the SOD's signer certificate (before
    /// the hash is compared) and stays empty for a block no SOD covers. The block and its SOD
    /// are read inside one card transaction, so a write by another client cannot tear them.
    void ReadVerifiedBlock(CardBlock& model,
                           Orvel::Security::Cryptography::X509::X509Certificate& signer);

    /// Encodes the blocks, rebuilds and signs again the SOD that covers them (all must belong
    /// to one SOD), then writes the SOD and after it the blocks, all inside one card
    /// transaction. The card must have been authenticated for writing on this handle.
    /// `signer` picks the signing certificate of the user's "My" store; when empty the user
    /// chooses (see SignContent). Validation, the choice of the certificate and the signature
    /// all happen before the first UPDATE BINARY. On success the cache holds the written
    /// bytes; on any failure the cache is empty and the failure is a CardException.
    /// The signer is resolved (chosen, looked up, its key opened) after the blocks are
    /// encoded and before the card is taken, so this form must be called while the card is not
    /// held (Hold::EachOperation).
    void WriteBlocks(const std::vector<const CardBlock*>& blocks,
                     const Orvel::Security::Cryptography::X509::X509Certificate& signer);
    /// The same with a signer resolved by the caller before the card was taken: the form for
    /// an applet opened with Hold::UntilClose.
    void WriteBlocksWith(const std::vector<const CardBlock*>& blocks, const Signer& signer);
    /// Writes one block's stored bytes in its own (possibly nested) transaction: the declared
    /// check, SELECT of the applet and the file, then UPDATE BINARY in 128-byte pieces.
    void WriteBlock(std::uint16_t blockId, const Orvel::ByteArray& bytes);

    /// 0 until the document check has passed, then the confirmed application ID.
    std::uint16_t ApplicationId() const noexcept { return applicationId_; }
    const AppletCommandSet& CommandSet() const noexcept { return *commandSet_; }

    /// Fails with "Card block with ID %d is not declared as present in the card" when the
    /// cached card document block does not list `blockId` (nothing to check for 0x0D00 or
    /// before that block is cached). Used inside each block read and write.
    void CheckDeclared(std::uint16_t blockId) const;

    /// The cache, for the write path: the bytes of a block, or none.
    std::optional<Orvel::ByteArray> CachedBlock(std::uint16_t blockId) const;
    void CacheBlock(std::uint16_t blockId, Orvel::ByteArray bytes);
    void ClearCache() noexcept { blockCache_.clear(); }

  private:
    CardApplet(std::unique_ptr<SmartCardIO::CardConnection> connection);
    void CheckDocument(std::uint16_t applicationId);
    Orvel::ByteArray ReadFromCard(std::uint16_t blockId);
    // ReadBlock inside a transaction the caller already holds on this applet's connection:
    // no nested transaction start (and its round trips to the resource manager) per block.
    Orvel::ByteArray ReadBlockIn(const SmartCardIO::TransactionGuard& guard, std::uint16_t blockId);
    Orvel::ByteArray ReadFromCardIn(const SmartCardIO::TransactionGuard& guard,
                                    std::uint16_t blockId);
    // Gets a signer that is ready: nothing in the transaction can ask the user, load a
    // PKCS#11 module or open a certificate store.
    void WriteInTransaction(const SodRegistry& registry, std::uint16_t sodId,
                            const std::vector<const CardBlock*>& blocks, const Signer& signer);

    std::unique_ptr<SmartCardIO::CardConnection> connection_;
    const AppletCommandSet* commandSet_ = nullptr;
    std::uint16_t applicationId_ = 0;
    std::map<std::uint16_t, Orvel::ByteArray> blockCache_;
    // The transaction of Hold::UntilClose. Declared after the connection so that it ends (and
    // disconnects) before the connection goes.
    std::unique_ptr<SmartCardIO::TransactionGuard> heldTransaction_;
};
