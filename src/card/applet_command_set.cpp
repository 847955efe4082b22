#include "carvix/card/applet_command_set.h"

#include "carvix/smartcardio/command_apdu.h"
#include "carvix/smartcardio/response_apdu.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "carvix/support/text.h"

#include <algorithm>
#include <array>

using SmartCardIO::CommandAPDU;
using SmartCardIO::ResponseAPDU;
using SmartCardIO::TransactionGuard;

namespace {

constexpr std::uint16_t kStatusOk = 0x9000;
constexpr std::uint32_t kAddressSpace = 0x10000;  // P1 P2 carry a 16-bit offset

ResponseAPDU Send(const TransactionGuard& guard, const CommandAPDU& command) {
    ResponseAPDU response = guard.Transmit(command);
    if (response.SW() != kStatusOk) {
        throw JavaCard::AppletException(response.SW());
    }
    return response;
}

std::uint8_t High(std::uint32_t value) {
    return static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
std::uint8_t Low(std::uint32_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

// The registered prefix F3 81 00 00 02, then "SERQXVL" 01, "SERQXZK" 01 or "SERZK" 01.
const Orvel::ByteArray kPkcs15Aid = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50,
                                     0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
const Orvel::ByteArray kVlAid = {0xF3, 0x81, 0x00, 0x00, 0x02, 0x53, 0x45,
                                 0x52, 0x51, 0x58, 0x56, 0x4C, 0x01};
const Orvel::ByteArray kZkAid = {0xF3, 0x81, 0x00, 0x00, 0x02, 0x53, 0x45,
                                 0x52, 0x51, 0x58, 0x5A, 0x4B, 0x01};
const Orvel::ByteArray kShortZkAid = {0xF3, 0x81, 0x00, 0x00, 0x02, 0x53,
                                      0x45, 0x52, 0x5A, 0x4B, 0x01};

}  // namespace

const AppletCommandSet& AppletCommandSet::For(std::uint16_t applicationId) {
    static const std::array<AppletCommandSet, 7> sets = {
        AppletCommandSet(kPkcs15Aid),  AppletCommandSet(kVlAid), AppletCommandSet(kVlAid),
        AppletCommandSet(kVlAid),      AppletCommandSet(kVlAid), AppletCommandSet(kZkAid),
        AppletCommandSet(kShortZkAid),
    };
    if (applicationId >= sets.size()) {
        throw CardException(Orvel::Format("Number %d is not valid value for card ID",
                                          static_cast<int>(applicationId)));
    }
    return sets[applicationId];
}

AppletCommandSet::AppletCommandSet(Orvel::ByteArray aid) : aid_(std::move(aid)) {}

void AppletCommandSet::SelectApplet(const TransactionGuard& guard) const {
    if (aid_.empty()) {
        Send(guard, CommandAPDU(0x00, 0xA4, 0x04, 0x00, 256u, false));
    } else {
        Send(guard, CommandAPDU(0xA4, 0x04, 0x00, aid_, false));
    }
}

Orvel::ByteArray AppletCommandSet::SelectFile(const TransactionGuard& guard,
                                              std::uint16_t fileId) const {
    Orvel::ByteArray id = {High(fileId), Low(fileId)};
    return Send(guard, CommandAPDU(0xA4, 0x00, 0x00, id, false)).Data();
}

Orvel::ByteArray AppletCommandSet::ReadBinary(const TransactionGuard& guard, std::uint16_t offset,
                                              std::uint32_t length) const {
    Orvel::ByteArray result;
    if (length == 0) {
        return result;
    }
    if (offset + length > kAddressSpace) {
        throw CardException(Orvel::Format(
            "Cannot read %u bytes at offset %u: the card addresses at most 65536 bytes",
            static_cast<unsigned>(length), static_cast<unsigned>(offset)));
    }
    result.reserve(length);
    for (std::uint32_t position = 0; position < length; position += kPieceSize) {
        std::uint32_t piece = std::min(kPieceSize, length - position);
        std::uint32_t at = offset + position;
        ResponseAPDU response =
            Send(guard, CommandAPDU(0x00, 0xB0, High(at), Low(at), piece, false));
        // A piece of another length would shift every later byte of the block.
        if (response.Data().size() != piece) {
            throw CardException(
                Orvel::Format("Card returned %d bytes at offset %u where %u were requested",
                              static_cast<int>(response.Data().size()), static_cast<unsigned>(at),
                              static_cast<unsigned>(piece)));
        }
        result.insert(result.end(), response.Data().begin(), response.Data().end());
    }
    return result;
}

void AppletCommandSet::WriteFile(const TransactionGuard& guard, std::uint16_t fileId,
                                 std::span<const std::uint8_t> data) const {
    (void)SelectFile(guard, fileId);
    if (data.size() > kAddressSpace) {
        throw CardException(
            Orvel::Format("Cannot write %u bytes: the card addresses at most 65536 bytes",
                          static_cast<unsigned>(data.size())));
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    for (std::uint32_t position = 0; position < length; position += kPieceSize) {
        std::uint32_t piece = std::min(kPieceSize, length - position);
        Orvel::ByteArray chunk(data.begin() + position, data.begin() + position + piece);
        Send(guard,
             CommandAPDU(0x00, 0xD6, High(position), Low(position), std::move(chunk), false));
    }
}

std::uint16_t AppletCommandSet::FileSizeOf(std::span<const std::uint8_t> selectResponse) {
    if (selectResponse.size() < 10) {
        Orvel::ThrowInvalidArgument();
    }
    return static_cast<std::uint16_t>(selectResponse[2] << 8 | selectResponse[3]);
}
