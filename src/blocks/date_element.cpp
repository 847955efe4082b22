#include "carvix/blocks/date_element.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

#include <cstdio>

namespace {

bool IsSpace(std::uint8_t c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(std::uint8_t c) noexcept {
    return c >= '0' && c <= '9';
}

/// Reads one unsigned 16-bit decimal field the way scanf's "%<width>hu" does: white space
/// is skipped, then an optional sign and digits take at most `width` characters; a minus
/// sign negates modulo 2^16. Returns false when no digit is found. Never reads past `text`.
bool ScanField(ByteView text, std::size_t& position, int width, std::uint16_t& out) noexcept {
    while (position < text.size() && IsSpace(text[position])) {
        ++position;
    }
    bool negative = false;
    int used = 0;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
        ++used;
    }
    std::uint32_t value = 0;
    int digits = 0;
    while (position < text.size() && used < width && IsDigit(text[position])) {
        value = value * 10 + (text[position] - '0');
        ++position;
        ++used;
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    out = static_cast<std::uint16_t>(negative ? 0u - value : value);
    return true;
}

}  // namespace

DateElement::DateElement(std::uint16_t tag, Requirement requirement)
    : TlvElement(tag, kLength, requirement) {}

DateElement::DateElement(CardBlock& owner, std::uint16_t tag, Requirement requirement)
    : TlvElement(owner, tag, kLength, requirement) {}

DateElement::~DateElement() = default;

Orvel::DateTime DateElement::GetValue() const {
    RequirePresent();
    return value_;
}

void DateElement::SetValue(Orvel::DateTime value) {
    value_ = value;
    MarkAssigned();
}

void DateElement::CopyFrom(const DateElement& other) {
    value_ = other.value_;
    CopyHeaderFrom(other);
}

Orvel::ByteArray DateElement::EncodeDate(const Orvel::DateTime& value) {
    // Years below 1000 are zero-padded so that the value is always the full 8 digits.
    char digits[40];
    std::snprintf(digits, sizeof digits, "%02d%02d%04d", value.Day(), value.Month(), value.Year());
    return Orvel::ByteArray(digits, digits + kLength);
}

Orvel::DateTime DateElement::DecodeDate(ByteView bytes) {
    if (bytes.size() != kLength) {
        throw CardException(Orvel::Format("Date element has incorrect size of %zu", bytes.size()));
    }
    std::size_t position = 0;
    std::uint16_t day = 0;
    std::uint16_t month = 0;
    std::uint16_t year = 0;
    if (!ScanField(bytes, position, 2, day) || !ScanField(bytes, position, 2, month) ||
        !ScanField(bytes, position, 4, year)) {
        throw CardException(u"Date element has incorrect format");
    }
    return Orvel::DateTime(year, month, day, Orvel::DateTimeKind::Utc);
}

Orvel::ByteArray DateElement::EncodeValue() const {
    return EncodeDate(value_);
}

void DateElement::DecodeValue(ByteView value) {
    value_ = DecodeDate(value);
}
