#include "carvix/blocks/bytes_element.h"

BytesElement::~BytesElement() = default;

Orvel::ByteArray BytesElement::GetValue() const {
    RequirePresent();
    return value_;
}

void BytesElement::SetValue(Orvel::ByteArray value) {
    value_ = std::move(value);
    MarkAssigned();
}

void BytesElement::CopyFrom(const BytesElement& other) {
    value_ = other.value_;
    CopyHeaderFrom(other);
}

Orvel::ByteArray BytesElement::EncodeValue() const {
    return value_;
}

void BytesElement::DecodeValue(ByteView value) {
    value_.assign(value.begin(), value.end());
}
