// Commands and helpers shared by the card-link bench tests.
#pragma once

#include "bench_card.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/command_apdu.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace carvix::linktest {

using Orvel::ByteArray;
using SmartCardIO::CommandAPDU;

inline const ByteArray kVlAid{0xF3, 0x81, 0x00, 0x00, 0x02, 0x53, 0x45,
                              0x52, 0x51, 0x58, 0x56, 0x4C, 0x01};
inline const std::string kVlFci = "6F0F840DF3810000025345525158564C01";

inline std::u16string Reader(const bench::BenchCard& card) {
    return Orvel::Utf8ToUtf16(card.ReaderName());
}

inline CommandAPDU SelectVl() {
    return CommandAPDU(0xA4, 0x04, 0x00, kVlAid, false);
}
inline CommandAPDU SelectFile(std::uint16_t id) {
    return CommandAPDU(
        0xA4, 0x00, 0x00,
        ByteArray{static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF)}, false);
}
inline CommandAPDU ReadBinary(std::uint16_t offset, std::uint32_t le, bool extended = false) {
    return CommandAPDU(0x00, 0xB0, static_cast<std::uint8_t>(offset >> 8),
                       static_cast<std::uint8_t>(offset & 0xFF), le, extended);
}

inline std::string Hex(const ByteArray& bytes) {
    return bench::Hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// Select the VL application and file 0D01 (300 bytes); checks every status on the way.
inline void OpenFile0D01(const SmartCardIO::TransactionGuard& guard) {
    const auto fci = guard.Transmit(SelectVl());
    ASSERT_EQ(fci.SW(), 0x9000);
    ASSERT_EQ(Hex(fci.Data()), kVlFci);
    const auto fcp = guard.Transmit(SelectFile(0x0D01));
    ASSERT_EQ(fcp.SW(), 0x9000);
    ASSERT_EQ(fcp.Data().size(), 10u);
    EXPECT_EQ(fcp.Data()[2] << 8 | fcp.Data()[3], 300);
}

}  // namespace carvix::linktest
