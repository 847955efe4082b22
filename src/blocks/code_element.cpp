#include "carvix/blocks/code_element.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

CodeElement::CodeElement(std::uint16_t tag, std::uint32_t maxLength, Requirement requirement,
                         const CodeTable& table)
    : TlvElement(tag, maxLength, requirement), table_(&table) {}

CodeElement::CodeElement(CardBlock& owner, std::uint16_t tag, std::uint32_t maxLength,
                         Requirement requirement, const CodeTable& table)
    : TlvElement(owner, tag, maxLength, requirement), table_(&table) {}

CodeElement::~CodeElement() = default;

std::int32_t CodeElement::GetValue() const {
    RequirePresent();
    return value_;
}

void CodeElement::SetValue(std::int32_t value) {
    value_ = value;
    MarkAssigned();
}

void CodeElement::CopyFrom(const CodeElement& other) {
    value_ = other.value_;
    CopyHeaderFrom(other);
}

Orvel::ByteArray CodeElement::EncodeValue() const {
    const Orvel::ByteArray* code = table_->CodeOf(value_);
    if (code == nullptr) {
        throw CardException(
            Orvel::Format("Number %d is not valid value for tag 0x%X", value_, Tag()));
    }
    return *code;
}

void CodeElement::DecodeValue(ByteView value) {
    std::optional<std::int32_t> number = table_->NumberOf(value);
    if (!number) {
        throw CardException(Orvel::Format("Element with tag 0x%X has invalid value", Tag()));
    }
    value_ = *number;
}
