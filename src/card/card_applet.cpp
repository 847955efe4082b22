#include "carvix/card/card_applet.h"

#include "carvix/blocks/card_document_model.h"
#include "carvix/card/applet_command_set.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/text.h"
#include "link_failures.h"

namespace {

using carvix::card::ConvertingLinkFailures;
using Orvel::PCSC::kProtocolT0OrT1;
using Orvel::PCSC::kShareShared;

constexpr std::size_t kHeaderSize = 4;  // tag and length, two bytes each
// The whole block (header and body) is read with one 16-bit length.
constexpr std::uint32_t kLargestBody = 0xFFFF - kHeaderSize;

}  // namespace

CardApplet::CardApplet(std::unique_ptr<SmartCardIO::CardConnection> connection)
    : connection_(std::move(connection)) {}

CardApplet::~CardApplet() = default;

std::unique_ptr<CardApplet> CardApplet::OpenForRead(const std::u16string& readerName,
                                                    std::uint16_t applicationId, Hold hold) {
    return ConvertingLinkFailures([&] {
        return Open(std::make_unique<SmartCardIO::CardConnection>(readerName, kShareShared,
                                                                  kProtocolT0OrT1),
                    applicationId, hold);
    });
}

std::unique_ptr<CardApplet> CardApplet::OpenForWrite(SCARDHANDLE handle,
                                                     std::uint16_t applicationId, Hold hold) {
    return ConvertingLinkFailures([&] {
        return Open(
            std::make_unique<SmartCardIO::CardConnection>(handle, kShareShared, kProtocolT0OrT1),
            applicationId, hold);
    });
}

std::unique_ptr<CardApplet> CardApplet::Open(
    std::unique_ptr<SmartCardIO::CardConnection> connection, std::uint16_t applicationId,
    Hold hold) {
    return ConvertingLinkFailures([&] {
        std::unique_ptr<CardApplet> applet(new CardApplet(std::move(connection)));
        if (hold == Hold::UntilClose) {
            // Every guard the applet opens from here on nests inside this one, so the whole
            // call connects, begins, ends and disconnects once.
            applet->heldTransaction_ =
                std::make_unique<SmartCardIO::TransactionGuard>(*applet->connection_);
        }
        applet->CheckDocument(applicationId);
        return applet;
    });
}

void CardApplet::Close(std::unique_ptr<CardApplet> applet) noexcept {
    applet.reset();
}

void CardApplet::CheckDocument(std::uint16_t applicationId) {
    commandSet_ = &AppletCommandSet::For(applicationId);
    Orvel::ByteArray raw = ReadBlock(kCardDocumentBlock);
    CardDocumentModel document;
    document.Decode(raw);
    int documentId = static_cast<int>(document.DocumentID.GetValue());
    if (documentId != applicationId) {
        throw CardException(Orvel::Format("Read document has ID %d, but ID %d was requested.",
                                          documentId, static_cast<int>(applicationId)));
    }
    applicationId_ = applicationId;
}

Orvel::ByteArray CardApplet::ReadBlock(std::uint16_t blockId) {
    auto cached = blockCache_.find(blockId);
    if (cached != blockCache_.end()) {
        return cached->second;
    }
    Orvel::ByteArray bytes = ConvertingLinkFailures([&] { return ReadFromCard(blockId); });
    blockCache_[blockId] = bytes;
    return bytes;
}

Orvel::ByteArray CardApplet::ReadBlockIn(const SmartCardIO::TransactionGuard& guard,
                                         std::uint16_t blockId) {
    auto cached = blockCache_.find(blockId);
    if (cached != blockCache_.end()) {
        return cached->second;
    }
    Orvel::ByteArray bytes = ConvertingLinkFailures([&] { return ReadFromCardIn(guard, blockId); });
    blockCache_[blockId] = bytes;
    return bytes;
}

Orvel::ByteArray CardApplet::ReadFromCard(std::uint16_t blockId) {
    SmartCardIO::TransactionGuard guard(*connection_);
    return ReadFromCardIn(guard, blockId);
}

Orvel::ByteArray CardApplet::ReadFromCardIn(const SmartCardIO::TransactionGuard& guard,
                                            std::uint16_t blockId) {
    CheckDeclared(blockId);
    commandSet_->SelectApplet(guard);
    Orvel::ByteArray select = commandSet_->SelectFile(guard, blockId);
    std::uint16_t size = AppletCommandSet::FileSizeOf(select);
    if (size < kHeaderSize) {
        throw CardException(
            Orvel::Format("Card's elementary file with id 0x%X has too small size", blockId));
    }
    Orvel::ByteArray header = commandSet_->ReadBinary(guard, 0, kHeaderSize);
    auto tag = static_cast<std::uint16_t>(header[0] | header[1] << 8);
    auto length = static_cast<std::uint32_t>(header[2] | header[3] << 8);
    if (tag != blockId) {
        throw CardException(
            Orvel::Format("Tag value 0x%X in read data block is different from required value 0x%X",
                          tag, blockId));
    }
    if (length > kLargestBody) {
        throw CardException(Orvel::Format(
            "Block with ID 0x%X declares a length of %u bytes; at most %u can be read", blockId,
            static_cast<unsigned>(length), static_cast<unsigned>(kLargestBody)));
    }
    return commandSet_->ReadBinary(guard, 0, length + kHeaderSize);
}

void CardApplet::CheckDeclared(std::uint16_t blockId) const {
    if (blockId == kCardDocumentBlock) {
        return;
    }
    auto document = blockCache_.find(kCardDocumentBlock);
    if (document == blockCache_.end()) {
        return;
    }
    CardDocumentModel model;
    model.Decode(document->second);
    if (!model.PresentBlocks.Contains(blockId)) {
        throw CardException(
            Orvel::Format("Card block with ID %d is not declared as present in the card",
                          static_cast<int>(blockId)));
    }
}

std::optional<Orvel::ByteArray> CardApplet::CachedBlock(std::uint16_t blockId) const {
    auto found = blockCache_.find(blockId);
    if (found == blockCache_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void CardApplet::CacheBlock(std::uint16_t blockId, Orvel::ByteArray bytes) {
    blockCache_[blockId] = std::move(bytes);
}
