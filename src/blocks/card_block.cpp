#include "carvix/blocks/card_block.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "element_walk.h"
#include "le16.h"

using carvix::blocks::detail::AppendLe16;
using carvix::blocks::detail::ReadLe16;

namespace {
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kLargestBody = 0xFFFF;
}  // namespace

CardBlock::CardBlock(std::uint16_t tag) noexcept : tag_(tag) {}

CardBlock::~CardBlock() = default;

void CardBlock::CheckElementBounds(ByteView block) {
    if (block.size() < kHeaderSize) {
        throw CardException(u"Block size is smaller than minimum allowed");
    }
    carvix::blocks::detail::ElementWalk walk(block);
    while (const auto header = walk.Next()) {
        walk.Value(*header);
    }
}

void CardBlock::Decode(ByteView bytes) {
    if (bytes.size() < kHeaderSize) {
        throw CardException(u"Block size is smaller than minimum allowed");
    }
    const std::uint16_t declaredTag = ReadLe16(bytes, 0);
    if (declaredTag != tag_) {
        throw CardException(Orvel::Format(
            "Declared block tag 0x%X is different from required value 0x%X", declaredTag, tag_));
    }
    const std::size_t declaredLength = ReadLe16(bytes, 2);
    if (declaredLength != bytes.size() - kHeaderSize) {
        throw CardException(Orvel::Format(
            "Element with tag 0x%X has length %zu, different from declared length %zu", tag_,
            bytes.size() - kHeaderSize, declaredLength));
    }
    CheckElementBounds(bytes);
    for (TlvElement* element : elements_) {
        element->DecodeFrom(bytes);
    }
}

Orvel::ByteArray CardBlock::Encode() const {
    Orvel::ByteArray block;
    block.reserve(256);
    AppendLe16(block, tag_);
    AppendLe16(block, 0);
    for (const TlvElement* element : elements_) {
        element->AppendTlvTo(block);
    }
    const std::size_t bodyLength = block.size() - kHeaderSize;
    if (bodyLength > kLargestBody) {
        throw CardException(u"Block size is larger than maximum allowed");
    }
    block[2] = static_cast<std::uint8_t>(bodyLength & 0xFF);
    block[3] = static_cast<std::uint8_t>(bodyLength >> 8);
    return block;
}
