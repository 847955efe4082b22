#include "carvix/blocks/tlv_element.h"

#include "carvix/blocks/card_block.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "element_walk.h"
#include "le16.h"

using carvix::blocks::detail::AppendLe16;

namespace {

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
    carvix::blocks::detail::ElementWalk walk(block);
    while (const auto header = walk.Next()) {
        if (header->tag == tag_ && header->length > maxLength_) {
            throw CardException(Orvel::Format(
                "Length %zu of TLV element with tag 0x%X in given block is larger than "
                "maximum allowed %u",
                header->length, tag_, maxLength_));
        }
        const ByteView value = walk.Value(*header);
        if (header->tag == tag_) {
            return value;
        }
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
