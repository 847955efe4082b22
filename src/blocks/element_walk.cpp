#include "element_walk.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "le16.h"

namespace carvix::blocks::detail {
namespace {
constexpr std::size_t kHeaderSize = 4;
}  // namespace

ElementWalk::ElementWalk(std::span<const std::uint8_t> block) noexcept
    : block_(block), position_(kHeaderSize) {}

std::optional<ElementHeader> ElementWalk::Next() {
    if (position_ >= block_.size()) {
        return std::nullopt;
    }
    if (block_.size() - position_ < kHeaderSize) {
        throw CardException(
            Orvel::Format("TLV element header at offset %zu of block with tag 0x%X runs past the "
                          "end of the block (size %zu)",
                          position_, ReadLe16(block_, 0), block_.size()));
    }
    return ElementHeader{ReadLe16(block_, position_), ReadLe16(block_, position_ + 2), position_};
}

std::span<const std::uint8_t> ElementWalk::Value(const ElementHeader& header) {
    if (header.length > block_.size() - header.offset - kHeaderSize) {
        throw CardException(Orvel::Format(
            "TLV element with tag 0x%X at offset %zu of block with tag 0x%X has length "
            "%zu, which runs past the end of the block (size %zu)",
            header.tag, header.offset, ReadLe16(block_, 0), header.length, block_.size()));
    }
    position_ = header.offset + kHeaderSize + header.length;
    return block_.subspan(header.offset + kHeaderSize, header.length);
}

}  // namespace carvix::blocks::detail
