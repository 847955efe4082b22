#include "apdu.h"

#include "carvix/support/hex.h"

#include <stdexcept>
#include <utility>

namespace carvix::vcard {

std::optional<Command> ParseCommand(std::span<const std::uint8_t> raw) {
    if (raw.size() < 4) {
        return std::nullopt;
    }
    Command c;
    c.cla = raw[0];
    c.ins = raw[1];
    c.p1 = raw[2];
    c.p2 = raw[3];
    const auto body = raw.subspan(4);
    if (body.empty()) {
        return c;  // case 1
    }
    if (body.size() == 1) {
        c.le = body[0] == 0 ? 256u : body[0];  // case 2 short
        return c;
    }
    if (body[0] != 0) {  // short Lc
        const std::size_t lc = body[0];
        if (body.size() != 1 + lc && body.size() != 2 + lc) {
            return std::nullopt;
        }
        c.data.assign(body.begin() + 1, body.begin() + 1 + static_cast<std::ptrdiff_t>(lc));
        if (body.size() == 2 + lc) {
            c.le = body.back() == 0 ? 256u : body.back();
        }
        return c;
    }
    // Extended form: a zero byte, then either a 2-byte Le or a 2-byte Lc.
    if (body.size() < 3) {
        return std::nullopt;
    }
    c.extended = true;
    const std::size_t n = (std::size_t{body[1]} << 8) | body[2];
    if (body.size() == 3) {
        c.le = n == 0 ? 65536u : static_cast<std::uint32_t>(n);
        return c;
    }
    if (n == 0 || (body.size() != 3 + n && body.size() != 5 + n)) {
        return std::nullopt;
    }
    c.data.assign(body.begin() + 3, body.begin() + 3 + static_cast<std::ptrdiff_t>(n));
    if (body.size() == 5 + n) {
        const std::uint32_t le = (std::uint32_t{body[3 + n]} << 8) | body[4 + n];
        c.le = le == 0 ? 65536u : le;
    }
    return c;
}

Bytes Response::Serialize() const {
    Bytes out = data;
    out.push_back(static_cast<std::uint8_t>(sw >> 8));
    out.push_back(static_cast<std::uint8_t>(sw & 0xFF));
    return out;
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    return Orvel::ToHex(bytes);
}

Bytes FromHex(std::string_view text) {
    Orvel::HexText hex = Orvel::ParseHex(text, " :\t\n", Orvel::HexSeparators::BetweenBytes);
    switch (hex.fault) {
        case Orvel::HexFault::None:
            return std::move(hex.bytes);
        case Orvel::HexFault::SplitByte:
            throw std::invalid_argument("hex text splits a byte: " + std::string(text));
        case Orvel::HexFault::NotADigit:
            throw std::invalid_argument("not a hex digit in: " + std::string(text));
        case Orvel::HexFault::OddDigits:
            break;
    }
    throw std::invalid_argument("odd number of hex digits in: " + std::string(text));
}

}  // namespace carvix::vcard
