#include "carvix/blocks/u16_list_element.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "le16.h"

#include <algorithm>

U16ListElement::~U16ListElement() = default;

std::vector<std::uint16_t> U16ListElement::GetValue() const {
    RequirePresent();
    return value_;
}

void U16ListElement::SetValue(std::vector<std::uint16_t> value) {
    value_ = std::move(value);
    MarkAssigned();
}

bool U16ListElement::Contains(std::uint16_t number) const noexcept {
    return State() != Presence::Absent &&
           std::find(value_.begin(), value_.end(), number) != value_.end();
}

void U16ListElement::CopyFrom(const U16ListElement& other) {
    value_ = other.value_;
    CopyHeaderFrom(other);
}

Orvel::ByteArray U16ListElement::EncodeValue() const {
    Orvel::ByteArray out;
    out.reserve(value_.size() * 2);
    for (std::uint16_t number : value_) {
        carvix::blocks::detail::AppendLe16(out, number);
    }
    return out;
}

void U16ListElement::DecodeValue(ByteView value) {
    if (value.size() % 2 != 0) {
        throw CardException(
            Orvel::Format("Element with tag 0x%X has incorrect size of %zu", Tag(), value.size()));
    }
    std::vector<std::uint16_t> numbers;
    numbers.reserve(value.size() / 2);
    for (std::size_t at = 0; at < value.size(); at += 2) {
        numbers.push_back(carvix::blocks::detail::ReadLe16(value, at));
    }
    value_ = std::move(numbers);
}
