// T=0 carries only short TPDUs: CLA INS P1 P2 P3 and at most 255 data bytes, with no Le
// after data. Longer answers come back piecewise through GET RESPONSE.
#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/exceptions.h"
#include "protocols.h"

#include <algorithm>

namespace SmartCardIO::detail {
namespace {

constexpr std::uint8_t kGetResponse = 0xC0;
constexpr std::uint16_t kSuccess = 0x9000;

// Short length bytes count 0 as 256.
std::uint32_t ShortLength(std::uint32_t value) {
    return value == 0 ? 256 : value;
}

ResponseAPDU Send(CardConnection& connection, const Orvel::ByteArray& bytes) {
    return ResponseAPDU(RawLink::Send(connection, bytes, false));
}

ResponseAPDU Send(CardConnection& connection, const CommandAPDU& command) {
    return Send(connection, command.Bytes());
}

// The data-only short form of a command that carries data: header, Lc, data.
Orvel::ByteArray Case3Bytes(const CommandAPDU& command) {
    Orvel::ByteArray out{command.Cla(), command.Ins(), command.P1(), command.P2(),
                         static_cast<std::uint8_t>(command.Data().size() & 0xFF)};
    out.insert(out.end(), command.Data().begin(), command.Data().end());
    return out;
}

CommandAPDU GetResponse(std::uint32_t le) {
    return CommandAPDU(0x00, kGetResponse, 0x00, 0x00, le, false);
}

// Sends a short Le-only command again; an answer longer than asked is cut to the length.
ResponseAPDU ResendAndTrim(CardConnection& connection, const CommandAPDU& command) {
    ResponseAPDU response = Send(connection, command);
    const std::size_t limit = ShortLength(command.Le());
    if (response.Data().size() > limit) {
        response.Data().resize(limit);
    }
    return response;
}

ResponseAPDU Case2Short(CardConnection& connection, const CommandAPDU& command) {
    ResponseAPDU response = Send(connection, command);
    if (response.SW1() == 0x6C) {
        return ResendAndTrim(connection, CommandAPDU(command, response.SW2()));
    }
    return response;
}

// An answer of more than 256 bytes, gathered from GET RESPONSE pieces.
ResponseAPDU Case2Extended(CardConnection& connection, const CommandAPDU& command) {
    const CommandAPDU header(command.Cla(), command.Ins(), command.P1(), command.P2());
    if (command.Le() <= 256) {
        return Case2Short(connection, CommandAPDU(header, command.Le()));
    }
    ResponseAPDU response = Send(connection, CommandAPDU(header, 0));
    if (response.SW1() == 0x6C) {
        return ResendAndTrim(connection, CommandAPDU(header, response.SW2()));
    }
    if (response.SW1() != 0x61) {
        return response;
    }
    // Counted in 32 bits and never below zero, so a card that sends more than asked ends the
    // collection instead of wrapping the count. Each useful round brings at least one byte,
    // which bounds the rounds by the requested length.
    std::uint32_t remaining = command.Le();
    const std::uint32_t maxRounds = remaining;
    Orvel::ByteArray collected;
    for (std::uint32_t round = 0;; ++round) {
        const Orvel::ByteArray& piece = response.Data();
        collected.insert(collected.end(), piece.begin(), piece.end());
        remaining =
            piece.size() >= remaining ? 0 : remaining - static_cast<std::uint32_t>(piece.size());
        if (remaining == 0 || response.SW() == kSuccess || round >= maxRounds) {
            return ResponseAPDU(std::move(collected), response.SW1(), response.SW2());
        }
        const std::uint32_t le = std::min(ShortLength(response.SW2()), remaining);
        response = Send(connection, GetResponse(le));
        if (response.SW1() != 0x61 && response.SW() != kSuccess) {
            return response;
        }
    }
}

ResponseAPDU Case4Short(CardConnection& connection, const CommandAPDU& command) {
    ResponseAPDU response = Send(connection, Case3Bytes(command));
    if (response.SW() == kSuccess) {
        return Send(connection, GetResponse(ShortLength(command.Le())));
    }
    if (response.SW1() != 0x61) {
        return response;
    }
    const std::uint32_t le = std::min(ShortLength(response.SW2()), ShortLength(command.Le()));
    return Send(connection, GetResponse(le));
}

}  // namespace

ResponseAPDU T0Protocol::Exchange(CardConnection& connection, const CommandAPDU& command) const {
    switch (command.Case()) {
        case kCase1: {
            Orvel::ByteArray bytes = command.Bytes();
            bytes.push_back(0x00);  // P3 = 0
            return Send(connection, bytes);
        }
        case kCase2Short:
            return Case2Short(connection, command);
        case kCase2Extended:
            return Case2Extended(connection, command);
        case kCase3Short:
            return Send(connection, command);
        case kCase3Extended:
            if (command.Data().size() >= 256) {
                throw SCIOException(u"Not implemented");
            }
            return Send(connection, Case3Bytes(command));
        case kCase4Short:
            return Case4Short(connection, command);
        case kCase4Extended:
            throw SCIOException(u"Not implemented");
        default:
            throw SCIOException(u"Unknown APDU case.");
    }
}

}  // namespace SmartCardIO::detail
