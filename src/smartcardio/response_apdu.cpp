#include "carvix/smartcardio/response_apdu.h"

#include "carvix/support/framework_error.h"

#include <utility>

namespace SmartCardIO {

ResponseAPDU::ResponseAPDU(std::span<const std::uint8_t> bytes) : sw1_(0), sw2_(0) {
    if (bytes.size() < 2) {
        Orvel::ThrowInvalidArgument();
    }
    data_.assign(bytes.begin(), bytes.end() - 2);
    sw1_ = bytes[bytes.size() - 2];
    sw2_ = bytes[bytes.size() - 1];
}

ResponseAPDU::ResponseAPDU(Orvel::ByteArray data, std::uint8_t sw1, std::uint8_t sw2)
    : data_(std::move(data)), sw1_(sw1), sw2_(sw2) {}

}  // namespace SmartCardIO
