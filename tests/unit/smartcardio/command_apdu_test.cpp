#include "carvix/smartcardio/command_apdu.h"
#include "carvix/smartcardio/response_apdu.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "carvix/support/hresult.h"
#include "scripted_channel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using carvix::test::FromHex;
using carvix::test::ToHex;
using Orvel::ByteArray;
using SmartCardIO::CommandAPDU;
using SmartCardIO::ResponseAPDU;

ByteArray Filled(std::size_t size) {
    ByteArray data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    return data;
}

// The bytes after the data, and the bytes before it, for the long forms.
std::string Head(const ByteArray& bytes, std::size_t n) {
    return ToHex(std::span(bytes).first(std::min(n, bytes.size())));
}
std::string Tail(const ByteArray& bytes, std::size_t n) {
    return ToHex(std::span(bytes).last(std::min(n, bytes.size())));
}

std::u16string ScioMessage(auto&& build) {
    try {
        build();
    } catch (const SmartCardIO::SCIOException& e) {
        return e.Message();
    }
    return u"(no exception)";
}

TEST(CommandApduForms, ShortFormsCarryOneLengthByte) {
    EXPECT_EQ(ToHex(CommandAPDU(0x80, 0xCA, 0x01, 0x02).Bytes()), "80 CA 01 02");
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xB0, 0x00, 0x80, 0x80, false).Bytes()), "00 B0 00 80 80");
    // Le 0 and Le 256 are both written as 00.
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xB0, 0, 0, 0, false).Bytes()), "00 B0 00 00 00");
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xB0, 0, 0, 256, false).Bytes()), "00 B0 00 00 00");
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xA4, 0x02, 0x0C, FromHex("0D 00"), false).Bytes()),
              "00 A4 02 0C 02 0D 00");
    const CommandAPDU case4(0xD6, 0x00, 0x10, FromHex("AA BB"), false);
    EXPECT_EQ(ToHex(case4.Bytes()), "00 D6 00 10 02 AA BB 00");
    EXPECT_EQ(case4.Case(), SmartCardIO::kCase4Short);
}

TEST(CommandApduForms, ExtendedFormsCarryThreeByteLcAndTwoByteLe) {
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xB0, 0, 0, 257, true).Bytes()), "00 B0 00 00 00 01 01");
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xB0, 0, 0, 0, true).Bytes()), "00 B0 00 00 00 00 00");
    EXPECT_EQ(ToHex(CommandAPDU(0x00, 0xB0, 0, 0, 65536, true).Bytes()), "00 B0 00 00 00 00 00");

    const ByteArray case3 = CommandAPDU(0x00, 0xD6, 0, 0, Filled(256), true).Bytes();
    EXPECT_EQ(case3.size(), 4u + 3u + 256u);
    EXPECT_EQ(Head(case3, 7), "00 D6 00 00 00 01 00");

    const ByteArray largest = CommandAPDU(0x00, 0xD6, 0, 0, Filled(65535), true).Bytes();
    EXPECT_EQ(largest.size(), 4u + 3u + 65535u);
    EXPECT_EQ(Head(largest, 7), "00 D6 00 00 00 FF FF");

    const ByteArray case4 = CommandAPDU(0x2A, 0x9E, 0x9A, Filled(300), true).Bytes();
    EXPECT_EQ(case4.size(), 4u + 3u + 300u + 2u);
    EXPECT_EQ(Head(case4, 7), "00 2A 9E 9A 00 01 2C");
    EXPECT_EQ(Tail(case4, 3), "2B 00 00");  // last data byte (299 & 0xFF), then Le 00 00
}

TEST(CommandApduForms, LengthLimitsAreRefusedWithTheirMessages) {
    const std::u16string le = u"LE cannot be greater than 256 if extended APDU is not used.";
    const std::u16string data = u"Command data has invalid length.";
    EXPECT_EQ(ScioMessage([] { CommandAPDU(0, 0xB0, 0, 0, 257, false); }), le);
    EXPECT_EQ(ScioMessage([] { CommandAPDU(0, 0xD6, 0, 0, ByteArray{}, false); }), data);
    EXPECT_EQ(ScioMessage([] { CommandAPDU(0, 0xD6, 0, 0, Filled(256), false); }), data);
    EXPECT_EQ(ScioMessage([] { CommandAPDU(0, 0xD6, 0, 0, Filled(65536), true); }), data);
    EXPECT_EQ(ScioMessage([] { CommandAPDU(0xD6, 0, 0, ByteArray{}, true); }), data);
    EXPECT_EQ(ScioMessage([] { CommandAPDU(0xD6, 0, 0, Filled(256), false); }), data);
    // An extended Le beyond 65536 cannot be written in two bytes.
    EXPECT_THROW(CommandAPDU(0, 0xB0, 0, 0, 65537, true), SmartCardIO::SCIOException);
    EXPECT_NO_THROW(CommandAPDU(0, 0xD6, 0, 0, Filled(255), false));
}

TEST(CommandApduForms, WithLeCopyRaisesTheCase) {
    const CommandAPDU header(0x00, 0xC0, 0, 0);
    EXPECT_EQ(CommandAPDU(header, 0x10).Case(), SmartCardIO::kCase2Short);
    EXPECT_EQ(ToHex(CommandAPDU(header, 0x10).Bytes()), "00 C0 00 00 10");

    const CommandAPDU data(0x00, 0xA4, 0x04, 0x00, FromHex("A0 00"), false);
    const CommandAPDU withLe(data, 0x20);
    EXPECT_EQ(withLe.Case(), SmartCardIO::kCase4Short);
    EXPECT_EQ(ToHex(withLe.Bytes()), "00 A4 04 00 02 A0 00 20");

    const CommandAPDU extended(0x00, 0xD6, 0, 0, Filled(300), true);
    EXPECT_EQ(CommandAPDU(extended, 5).Case(), SmartCardIO::kCase4Extended);

    // Cases that already carry Le keep their case and take the new length.
    const CommandAPDU le(0x00, 0xB0, 0, 0, 0x80, false);
    EXPECT_EQ(CommandAPDU(le, 0x08).Case(), SmartCardIO::kCase2Short);
    EXPECT_EQ(ToHex(CommandAPDU(le, 0x08).Bytes()), "00 B0 00 00 08");
    const CommandAPDU case4(0xD6, 0, 0, FromHex("01"), false);
    EXPECT_EQ(CommandAPDU(case4, 0x08).Case(), SmartCardIO::kCase4Short);
    EXPECT_EQ(CommandAPDU(case4, 0x08).Cla(), 0x00);
}

TEST(ResponseApdu, SplitsStatusFromData) {
    const ResponseAPDU r(FromHex("01 02 03 6A 82"));
    EXPECT_EQ(ToHex(r.Data()), "01 02 03");
    EXPECT_EQ(r.SW1(), 0x6A);
    EXPECT_EQ(r.SW2(), 0x82);
    EXPECT_EQ(r.SW(), 0x6A82);
    EXPECT_TRUE(ResponseAPDU(FromHex("90 00")).Data().empty());
}

TEST(ResponseApdu, FewerThanTwoBytesIsAnInvalidArgumentOutsideTheCardErrors) {
    for (const char* hex : {"", "90"}) {
        try {
            ResponseAPDU r(FromHex(hex));
            ADD_FAILURE() << "parsed [" << hex << "]";
        } catch (const Orvel::Exception&) {
            ADD_FAILURE() << "a framework failure must not be an Orvel exception";
        } catch (const Orvel::FrameworkError& e) {
            EXPECT_EQ(e.HResult(), Orvel::kE_INVALIDARG);
        }
    }
}

}  // namespace
