// The walk over the elements of a block: a 4-byte block header, then elements of a 16-bit
// tag, a 16-bit length (both little-endian) and the value, up to the end of the block.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace carvix::blocks::detail {

struct ElementHeader {
    std::uint16_t tag = 0;
    std::size_t length = 0;
    std::size_t offset = 0;  // of the element's header in the block
};

/// Each element in turn: Next reads a header, Value takes the value after it and moves on.
/// Both refuse, with a CardException that names the offsets, a part that runs past the end.
class ElementWalk {
  public:
    explicit ElementWalk(std::span<const std::uint8_t> block) noexcept;

    /// The next element's header, or nullopt at the end of the block.
    std::optional<ElementHeader> Next();
    /// The value of the element whose header Next returned last.
    std::span<const std::uint8_t> Value(const ElementHeader& header);

  private:
    std::span<const std::uint8_t> block_;
    std::size_t position_;
};

}  // namespace carvix::blocks::detail
