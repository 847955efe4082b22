#include "carvix/blocks/tlv_element.h"

#include "carvix/blocks/card_block.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "le16.h"

using carvix::blocks::detail::AppendLe16;
using carvix::blocks::detail::ReadLe16;

namespace {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kLargestLength = 0xFFFF;

Presence InitialPresence(Requirement requirement) noexcept {
    return requirement == Requirement::Mandatory ? Presence::Mandatory : Presence::Absent;
}

}  // namespace

TlvElement::TlvElement(std::uint16_t tag, std::uint32_t maxLength, Requirement requirement)
    : tag_(tag), maxLength_(maxLength), presence_(InitialPresence(requirement)) {}

TlvElement::TlvElement(CardBlock& owner, std::uint16_t tag, std::uint32_t maxLength,
                       Requirement requirement)
    : TlvElement(tag, maxLength, requirement) {
    owner.Register(this);
}

TlvElement::~TlvElement() = default;

std::optional<Orvel::ByteArray> TlvElement::GetBytes() const {
    if (presence_ == Presence::Absent) {
        return std::nullopt;
    }
    return EncodeValue();
}

void TlvElement::SetBytes(std::optional<ByteView> bytes) {
    if (bytes) {
        DecodeValue(*bytes);
        MarkAssigned();
        return;
    }
    if (presence_ == Presence::Mandatory) {
        throw CardException(
            Orvel::Format("Mandatory element with tag 0x%04X not found in block", tag_));
    }
    presence_ = Presence::Absent;
}

std::optional<ByteView> TlvElement::FindIn(ByteView block) const {
    std::size_t position = kHeaderSize;
    while (position < block.size()) {
        if (block.size() - position < kHeaderSize) {
            throw CardException(Orvel::Format(
                "TLV element header at offset %zu of block with tag 0x%X runs past the end "
                "of the block (size %zu)",
                position, ReadLe16(block, 0), block.size()));
        }
        const std::uint16_t tag = ReadLe16(block, position);
        const std::size_t length = ReadLe16(block, position + 2);
        const std::size_t room = block.size() - position - kHeaderSize;
        if (tag == tag_ && length > maxLength_) {
            throw CardException(Orvel::Format(
                "Length %zu of TLV element with tag 0x%X in given block is larger than "
                "maximum allowed %u",
                length, tag_, maxLength_));
        }
        if (length > room) {
            throw CardException(Orvel::Format(
                "TLV element with tag 0x%X at offset %zu of block with tag 0x%X has length "
                "%zu, which runs past the end of the block (size %zu)",
                tag, position, ReadLe16(block, 0), length, block.size()));
        }
        if (tag == tag_) {
            return block.subspan(position + kHeaderSize, length);
        }
        position += kHeaderSize + length;
    }
    return std::nullopt;
}

void TlvElement::DecodeFrom(ByteView block) {
    SetBytes(FindIn(block));
}

bool TlvElement::AppendTlvTo(Orvel::ByteArray& out) const {
    std::optional<Orvel::ByteArray> value = GetBytes();
    if (!value) {
        return false;
    }
    if (value->size() > maxLength_) {
        throw CardException(
            Orvel::Format("Element with tag 0x%X has length %zu, but maximum allowed is %u", tag_,
                          value->size(), maxLength_));
    }
    if (value->size() > kLargestLength) {
        throw CardException(u"TLV element size is larger than maximum allowed");
    }
    AppendLe16(out, tag_);
    AppendLe16(out, static_cast<std::uint32_t>(value->size()));
    out.insert(out.end(), value->begin(), value->end());
    return true;
}

std::optional<Orvel::ByteArray> TlvElement::EncodeToTlv() const {
    Orvel::ByteArray out;
    if (!AppendTlvTo(out)) {
        return std::nullopt;
    }
    return out;
}

bool TlvElement::IsNull() const {
    if (presence_ == Presence::Mandatory) {
        throw CardException(
            Orvel::Format("Calling IsNull on mandatory value with tag %d", int{tag_}));
    }
    return presence_ == Presence::Absent;
}

void TlvElement::RequirePresent() const {
    if (presence_ == Presence::Absent) {
        throw CardException(
            Orvel::Format("Referenced non-existent optional value with tag %d", int{tag_}));
    }
}

void TlvElement::MarkAssigned() noexcept {
    if (presence_ == Presence::Absent) {
        presence_ = Presence::Present;
    }
}

void TlvElement::CopyHeaderFrom(const TlvElement& other) noexcept {
    tag_ = other.tag_;
    maxLength_ = other.maxLength_;
    presence_ = other.presence_;
}
