#include "carvix/blocks/string_element.h"

#include "carvix/support/codepage.h"

StringElement::StringElement(std::uint16_t tag, std::uint32_t maxLength, Requirement requirement,
                             std::uint32_t codePage)
    : TlvElement(tag, maxLength, requirement), codePage_(codePage) {}

StringElement::StringElement(CardBlock& owner, std::uint16_t tag, std::uint32_t maxLength,
                             Requirement requirement, std::uint32_t codePage)
    : TlvElement(owner, tag, maxLength, requirement), codePage_(codePage) {}

StringElement::~StringElement() = default;

std::u16string StringElement::GetValue() const {
    RequirePresent();
    return value_;
}

void StringElement::SetValue(std::u16string value) {
    value_ = std::move(value);
    MarkAssigned();
}

void StringElement::CopyFrom(const StringElement& other) {
    value_ = other.value_;
    codePage_ = other.codePage_;
    CopyHeaderFrom(other);
}

Orvel::ByteArray StringElement::EncodeText(std::uint32_t codePage, std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    return Orvel::Text::Encode(codePage, text);
}

std::u16string StringElement::DecodeText(std::uint32_t codePage, ByteView bytes) {
    if (codePage == Orvel::Text::kUtf16Le) {
        bytes = bytes.first(bytes.size() & ~std::size_t{1});
    }
    if (bytes.empty()) {
        return {};
    }
    return Orvel::Text::Decode(codePage, bytes);
}

Orvel::ByteArray StringElement::EncodeValue() const {
    return EncodeText(codePage_, value_);
}

void StringElement::DecodeValue(ByteView value) {
    value_ = DecodeText(codePage_, value);
}
