// Command and response APDUs as the virtual card sees them on the wire.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace carvix::vcard {

using Bytes = std::vector<std::uint8_t>;

// One parsed command APDU (ISO 7816-4 cases 1 to 4, short and extended form).
struct Command {
    std::uint8_t cla = 0;
    std::uint8_t ins = 0;
    std::uint8_t p1 = 0;
    std::uint8_t p2 = 0;
    Bytes data;
    std::optional<std::uint32_t>
        le;  // Ne: 1..256 short, 1..65536 extended; absent for cases 1 and 3
    bool extended = false;
};

// Splits raw command bytes into header, data and Le; nullopt when the bytes are no valid APDU.
std::optional<Command> ParseCommand(std::span<const std::uint8_t> raw);

struct Response {
    Bytes data;
    std::uint16_t sw = 0x9000;

    Bytes Serialize() const;
    static Response Status(std::uint16_t sw) { return Response{{}, sw}; }
};

// Status words the card answers with.
namespace sw {
inline constexpr std::uint16_t kOk = 0x9000;
inline constexpr std::uint16_t kVerifyFailed = 0x6300;
inline constexpr std::uint16_t kWrongLength = 0x6700;
inline constexpr std::uint16_t kSecurityNotSatisfied = 0x6982;
inline constexpr std::uint16_t kConditionsNotSatisfied = 0x6985;
inline constexpr std::uint16_t kWrongData = 0x6A80;
inline constexpr std::uint16_t kNotFound = 0x6A82;
inline constexpr std::uint16_t kFileFull = 0x6A84;
inline constexpr std::uint16_t kWrongP1P2 = 0x6A86;
inline constexpr std::uint16_t kRefDataNotFound = 0x6A88;
inline constexpr std::uint16_t kOffsetOutside = 0x6B00;
inline constexpr std::uint16_t kInsNotSupported = 0x6D00;
inline constexpr std::uint16_t kClaNotSupported = 0x6E00;
inline constexpr std::uint16_t kNoPreciseDiagnosis = 0x6F00;
}  // namespace sw

// Hex helpers: ToHex gives upper-case digits without separators; FromHex accepts upper or
// lower case with optional spaces or colons between bytes and throws std::invalid_argument.
std::string ToHex(std::span<const std::uint8_t> bytes);
Bytes FromHex(std::string_view text);

}  // namespace carvix::vcard
