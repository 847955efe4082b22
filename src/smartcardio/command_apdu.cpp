#include "carvix/smartcardio/command_apdu.h"

#include "carvix/support/exceptions.h"

#include <utility>

namespace SmartCardIO {
namespace {

void CheckData(const Orvel::ByteArray& data, bool extended) {
    const std::size_t limit = extended ? 65535 : 255;
    if (data.empty() || data.size() > limit) {
        throw SCIOException(u"Command data has invalid length.");
    }
}

void PutLength(Orvel::ByteArray& out, std::size_t value, bool extended) {
    if (extended) {
        out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
    }
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace

CommandAPDU::CommandAPDU(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2)
    : cla_(cla), ins_(ins), p1_(p1), p2_(p2) {}

CommandAPDU::CommandAPDU(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                         std::uint32_t le, bool extended)
    : cla_(cla),
      ins_(ins),
      p1_(p1),
      p2_(p2),
      apduCase_(extended ? kCase2Extended : kCase2Short),
      extended_(extended) {
    if (!extended && le > 256) {
        throw SCIOException(u"LE cannot be greater than 256 if extended APDU is not used.");
    }
    if (extended && le > 65536) {
        throw SCIOException(u"LE cannot be greater than 65536.");
    }
    // 65536 is kept as 0, which is how the extended form writes it.
    le_ = static_cast<std::uint16_t>(le & 0xFFFF);
}

CommandAPDU::CommandAPDU(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                         Orvel::ByteArray data, bool extended)
    : cla_(cla),
      ins_(ins),
      p1_(p1),
      p2_(p2),
      data_(std::move(data)),
      apduCase_(extended ? kCase3Extended : kCase3Short),
      extended_(extended) {
    CheckData(data_, extended);
}

CommandAPDU::CommandAPDU(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, Orvel::ByteArray data,
                         bool extended)
    : cla_(0x00),
      ins_(ins),
      p1_(p1),
      p2_(p2),
      data_(std::move(data)),
      apduCase_(extended ? kCase4Extended : kCase4Short),
      extended_(extended) {
    CheckData(data_, extended);
}

CommandAPDU::CommandAPDU(const CommandAPDU& command, std::uint16_t le) : CommandAPDU(command) {
    le_ = le;
    switch (apduCase_) {
        case kCase1:
            apduCase_ = extended_ ? kCase2Extended : kCase2Short;
            break;
        case kCase3Short:
            apduCase_ = kCase4Short;
            break;
        case kCase3Extended:
            apduCase_ = kCase4Extended;
            break;
        default:
            break;
    }
}

Orvel::ByteArray CommandAPDU::Bytes() const {
    Orvel::ByteArray out{cla_, ins_, p1_, p2_};
    out.reserve(4 + 3 + data_.size() + 2);
    const bool hasData = apduCase_ >= kCase3Short && apduCase_ <= kCase4Extended;
    const bool hasLe = apduCase_ == kCase2Short || apduCase_ == kCase2Extended ||
                       apduCase_ == kCase4Short || apduCase_ == kCase4Extended;
    if (extended_ && (hasData || hasLe)) {
        out.push_back(0x00);
    }
    if (hasData) {
        PutLength(out, data_.size(), extended_);
        out.insert(out.end(), data_.begin(), data_.end());
    }
    if (hasLe) {
        PutLength(out, le_, extended_);
    }
    return out;
}

}  // namespace SmartCardIO
