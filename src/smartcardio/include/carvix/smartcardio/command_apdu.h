// ISO/IEC 7816-4 command APDUs in their seven forms (cases 1 to 4, short and extended).
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>

namespace SmartCardIO {

/// The seven forms a command can take; the value decides the byte form.
enum ApduCase : std::uint32_t {
    kCase1 = 0,       // header only
    kCase2Short = 1,  // Le only
    kCase2Extended = 2,
    kCase3Short = 3,  // data only
    kCase3Extended = 4,
    kCase4Short = 5,  // data and Le
    kCase4Extended = 6,
};

/// A command APDU: a plain, copyable value. Constructors check the lengths and throw
/// SCIOException. Note that a data argument written as a one-element braced list would pick
/// the Le-only constructor; pass data as a ByteArray.
class CommandAPDU {
  public:
    /// Header only (case 1).
    CommandAPDU(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2);
    /// Le only (case 2). Short form: le at most 256 (256 is sent as 0x00). Extended form:
    /// le at most 65536 (65536 is sent as 0x00 0x00).
    CommandAPDU(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                std::uint32_t le, bool extended);
    /// Data only (case 3): 1 to 255 bytes, or 1 to 65535 when extended.
    CommandAPDU(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                Orvel::ByteArray data, bool extended);
    /// Data and Le (case 4): class byte 0x00 and le 0, the largest answer the form allows.
    CommandAPDU(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, Orvel::ByteArray data,
                bool extended);
    /// A copy of `command` expecting `le` bytes; a case without Le is raised to the matching
    /// case with Le. No length check.
    CommandAPDU(const CommandAPDU& command, std::uint16_t le);

    CommandAPDU(const CommandAPDU&) = default;
    CommandAPDU& operator=(const CommandAPDU&) = default;

    std::uint8_t Cla() const noexcept { return cla_; }
    std::uint8_t Ins() const noexcept { return ins_; }
    std::uint8_t P1() const noexcept { return p1_; }
    std::uint8_t P2() const noexcept { return p2_; }
    const Orvel::ByteArray& Data() const noexcept { return data_; }
    /// 0 stands for the largest value of the form (256 short, 65536 extended).
    std::uint16_t Le() const noexcept { return le_; }
    std::uint32_t Case() const noexcept { return apduCase_; }
    bool Extended() const noexcept { return extended_; }

    /// The command's bytes: header, then Lc, data and Le as the case requires.
    Orvel::ByteArray Bytes() const;

  private:
    std::uint8_t cla_ = 0;
    std::uint8_t ins_ = 0;
    std::uint8_t p1_ = 0;
    std::uint8_t p2_ = 0;
    Orvel::ByteArray data_;
    std::uint16_t le_ = 0;
    std::uint32_t apduCase_ = kCase1;
    bool extended_ = false;
};

}  // namespace SmartCardIO
