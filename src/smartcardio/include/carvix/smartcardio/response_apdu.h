// A response APDU: the data bytes and the two status bytes that end every answer.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <span>

namespace SmartCardIO {

class ResponseAPDU {
  public:
    /// Parses a card's answer. Fewer than two bytes throw Orvel::FrameworkError
    /// (E_INVALIDARG), which is not an Orvel::Exception.
    explicit ResponseAPDU(std::span<const std::uint8_t> bytes);
    ResponseAPDU(Orvel::ByteArray data, std::uint8_t sw1, std::uint8_t sw2);

    std::uint8_t SW1() const noexcept { return sw1_; }
    std::uint8_t SW2() const noexcept { return sw2_; }
    /// SW1 in the high byte, SW2 in the low byte.
    std::uint16_t SW() const noexcept { return static_cast<std::uint16_t>(sw1_ << 8 | sw2_); }
    const Orvel::ByteArray& Data() const noexcept { return data_; }
    Orvel::ByteArray& Data() noexcept { return data_; }

  private:
    Orvel::ByteArray data_;
    std::uint8_t sw1_;
    std::uint8_t sw2_;
};

}  // namespace SmartCardIO
