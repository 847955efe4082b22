// Building block bytes by hand, and catching the codec's failures, in the block tests.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace carvix::test {

inline Orvel::ByteArray Ascii(std::string_view text) {
    return Orvel::ByteArray(text.begin(), text.end());
}

inline void PutLe16(Orvel::ByteArray& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

/// One element: tag, length, value.
inline Orvel::ByteArray Tlv(std::uint16_t tag, const Orvel::ByteArray& value) {
    Orvel::ByteArray out;
    PutLe16(out, tag);
    PutLe16(out, value.size());
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

/// A block: header with the right body length, then the elements as given.
inline Orvel::ByteArray BlockOf(std::uint16_t tag, std::initializer_list<Orvel::ByteArray> body) {
    Orvel::ByteArray bytes;
    PutLe16(bytes, tag);
    PutLe16(bytes, 0);
    for (const Orvel::ByteArray& part : body) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    bytes[2] = static_cast<std::uint8_t>((bytes.size() - 4) & 0xFF);
    bytes[3] = static_cast<std::uint8_t>((bytes.size() - 4) >> 8);
    return bytes;
}

/// Runs `action`, which must throw a CardException with code E_FAIL; returns its message.
template <typename Action>
std::u16string CardError(Action&& action) {
    try {
        action();
    } catch (const CardException& e) {
        EXPECT_EQ(e.Code(), Orvel::kE_FAIL);
        return e.Message();
    }
    ADD_FAILURE() << "no CardException was thrown";
    return {};
}

}  // namespace carvix::test
