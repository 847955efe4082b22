// Little-endian 16-bit fields of block and element headers.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace carvix::blocks::detail {

/// The caller guarantees that bytes[at] and bytes[at + 1] exist.
inline std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline void AppendLe16(Orvel::ByteArray& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

}  // namespace carvix::blocks::detail
