// The PC/SC values the card link uses, as 32-bit numbers (pcsc-lite's own macros are `long`
// on LP64, which must never take part in a sign test or an HRESULT mapping).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Orvel::PCSC {

inline constexpr std::uint32_t kScopeUser = 0;
inline constexpr std::uint32_t kScopeSystem = 2;

inline constexpr std::uint32_t kShareShared = 2;

inline constexpr std::uint32_t kProtocolUndefined = 0;
inline constexpr std::uint32_t kProtocolT0 = 1;
inline constexpr std::uint32_t kProtocolT1 = 2;
inline constexpr std::uint32_t kProtocolT0OrT1 = kProtocolT0 | kProtocolT1;
// pcsc-lite's value for the raw protocol (the resource manager reports it as the active
// protocol, so the library's value is the one that counts).
inline constexpr std::uint32_t kProtocolRaw = 0x0004;

inline constexpr std::uint32_t kLeaveCard = 0;
inline constexpr std::uint32_t kResetCard = 1;

inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kInternalError = 0x80100001u;  // calls made in the wrong state
inline constexpr std::uint32_t kInsufficientBuffer = 0x80100008u;
inline constexpr std::uint32_t kProtocolMismatch = 0x8010000Fu;
inline constexpr std::uint32_t kNotTransacted = 0x80100016u;  // an exchange that broke off
inline constexpr std::uint32_t kNoService = 0x8010001Du;
inline constexpr std::uint32_t kServiceStopped = 0x8010001Eu;
inline constexpr std::uint32_t kTimeout = 0x8010000Au;  // a status wait that saw no change
inline constexpr std::uint32_t kNoReadersAvailable = 0x8010002Eu;
inline constexpr std::uint32_t kResetCardWarning = 0x80100068u;  // reset by another application
inline constexpr std::uint32_t kRemovedCard = 0x80100069u;

/// Receive buffer sizes of a transmission, chosen by the command's extended flag.
inline constexpr std::size_t kShortReceiveBuffer = 512;
inline constexpr std::size_t kExtendedReceiveBuffer = 8192;

}  // namespace Orvel::PCSC
