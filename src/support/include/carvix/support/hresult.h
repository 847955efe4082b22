// HRESULT values the component returns and the one mapping from an error code to an HRESULT.
#pragma once

#include <cstdint>

namespace Orvel {

inline constexpr std::int32_t kS_OK = 0;
inline constexpr std::int32_t kS_FALSE = 1;
inline constexpr std::int32_t kE_NOTIMPL = static_cast<std::int32_t>(0x80004001u);
inline constexpr std::int32_t kE_NOINTERFACE = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kE_POINTER = static_cast<std::int32_t>(0x80004003u);
inline constexpr std::int32_t kE_FAIL = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t kE_UNEXPECTED = static_cast<std::int32_t>(0x8000FFFFu);
inline constexpr std::int32_t kE_OUTOFMEMORY = static_cast<std::int32_t>(0x8007000Eu);
inline constexpr std::int32_t kE_INVALIDARG = static_cast<std::int32_t>(0x80070057u);

/// Zero or negative codes pass unchanged; a positive code c becomes 0x80070000 | (c & 0xFFFF).
constexpr std::int32_t HResultFromCode(std::int32_t code) noexcept {
    if (code <= 0) {
        return code;
    }
    return static_cast<std::int32_t>(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

/// PC/SC return values are `long` (64-bit on LP64); the code is the low 32 bits.
constexpr std::uint32_t PcscCode(long rv) noexcept {
    return static_cast<std::uint32_t>(static_cast<unsigned long>(rv) & 0xFFFFFFFFu);
}

}  // namespace Orvel
