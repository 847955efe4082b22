#include "card_script.h"
#include "carvix/card/applet_command_set.h"
#include "carvix/card/card_applet.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"

#include <gtest/gtest.h>

namespace {

using namespace cardtest;
using carvix::test::CardScript;
using carvix::test::ChannelOp;
using Orvel::PCSC::kProtocolT1;

const std::vector<std::uint16_t> kDeclared = {0x0D01, 0x0D02, 0x0D03, 0x0D04, 0x0D05, 0x0D06};
const ByteArray kDocument = CardDocument("01", kDeclared);

std::unique_ptr<SmartCardIO::CardConnection> ConnectionOn(CardScript& script) {
    return std::make_unique<SmartCardIO::CardConnection>(script.Channel());
}

// Returns the CardException the call throws (or fails the test).
template <typename F>
CardException CardFailure(F&& f) {
    try {
        f();
    } catch (const CardException& e) {
        return e;
    }
    ADD_FAILURE() << "no CardException";
    return CardException(u"");
}

ByteArray Block(std::uint16_t id, std::size_t total) {
    ByteArray body(total - 4);
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    return Tlv(id, body);
}

class OpenedApplet : public ::testing::Test {
  protected:
    OpenedApplet() : script_(kProtocolT1) {
        ExpectRead(script_, kVlAid, 0x0D00, kDocument, 64);
        applet_ = CardApplet::Open(ConnectionOn(script_), 1);
    }
    CardScript script_;
    std::unique_ptr<CardApplet> applet_;
};

TEST(CardAppletOpen, ReadsAndChecksTheCardDocumentInOneTransaction) {
    CardScript script(kProtocolT1);
    ExpectRead(script, kVlAid, 0x0D00, kDocument, 64);
    auto applet = CardApplet::Open(ConnectionOn(script), 1);
    EXPECT_EQ(applet->ApplicationId(), 1);
    EXPECT_EQ(applet->CommandSet().Aid(), kVlAid);
    EXPECT_EQ(applet->CachedBlock(0x0D00), kDocument);
    const std::vector<std::string> expected = {
        "connect",
        "begin",
        "transmit 00 A4 04 00 0D F3 81 00 00 02 53 45 52 51 58 56 4C 01 00",
        "transmit 00 A4 00 00 02 0D 00 00",
        "transmit 00 B0 00 00 04",
        "transmit 00 B0 00 00 20",
        "end",
        "disconnect 0",
    };
    EXPECT_EQ(script.Events(), expected);
    CardApplet::Close(std::move(applet));
    CardApplet::Close(nullptr);
}

TEST(CardAppletOpen, UnknownApplicationIdFailsBeforeTheCardIsTouched) {
    CardScript script(kProtocolT1);
    CardException e = CardFailure([&] { CardApplet::Open(ConnectionOn(script), 7); });
    EXPECT_EQ(e.Message(), u"Number 7 is not valid value for card ID");
    EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005u));
    EXPECT_TRUE(script.Events().empty());
}

TEST(CardAppletOpen, DocumentIdMustMatchTheApplication) {
    CardScript script(kProtocolT1);
    ExpectRead(script, kVlAid, 0x0D00, CardDocument("02", kDeclared));
    CardException e = CardFailure([&] { CardApplet::Open(ConnectionOn(script), 1); });
    EXPECT_EQ(e.Message(), u"Read document has ID 2, but ID 1 was requested.");
}

TEST(CardAppletOpen, LinkFailuresLeaveAsCardExceptions) {
    {
        CardScript script(kProtocolT1);
        script.Apdu(SelectApplet(kZkAid), {0x6A, 0x82});
        CardException e = CardFailure([&] { CardApplet::Open(ConnectionOn(script), 5); });
        EXPECT_EQ(e.Message(), u"Applet exception: An unhandled exception was thrown.");
        EXPECT_EQ(e.Code(), 0x6A82);
    }
    {
        CardScript script(kProtocolT1);
        script.Fail(ChannelOp::BeginTransaction, 0x80100069u);
        CardException e = CardFailure([&] { CardApplet::Open(ConnectionOn(script), 1); });
        EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80100069u));
        EXPECT_EQ(e.Message().rfind(u"PCSC exception: ", 0), 0u);
    }
}

TEST_F(OpenedApplet, LongBlocksAreReadIn128BytePieces) {
    ByteArray block = Block(0x0D01, 300);
    ExpectRead(script_, kVlAid, 0x0D01, block, 512);
    EXPECT_EQ(applet_->ReadBlock(0x0D01), block);
    const auto& sent = script_.Sent();
    ASSERT_GE(sent.size(), 6u);
    std::vector<ByteArray> reads(sent.end() - 4, sent.end());
    EXPECT_EQ(reads, (std::vector<ByteArray>{ReadBinary(0, 4), ReadBinary(0, 128),
                                             ReadBinary(128, 128), ReadBinary(256, 44)}));
    // A second read comes from the cache; the script has no more steps.
    EXPECT_EQ(applet_->ReadBlock(0x0D01), block);
    EXPECT_EQ(script_.StepsLeft(), 0u);
}

TEST_F(OpenedApplet, BlocksOfExactPieceSizesAndTheLargestLength) {
    ByteArray block = Block(0x0D02, 256);
    ExpectRead(script_, kVlAid, 0x0D02, block);
    EXPECT_EQ(applet_->ReadBlock(0x0D02), block);
    EXPECT_EQ(script_.Sent().back(), ReadBinary(128, 128));

    // A header length of 65531 reads 65535 bytes; the last piece starts at 0xFF80.
    ByteArray largest = Block(0x0D04, 0xFFFF);
    ExpectRead(script_, kVlAid, 0x0D04, largest, 0xFFFF);
    EXPECT_EQ(applet_->ReadBlock(0x0D04).size(), 0xFFFFu);
    EXPECT_EQ(script_.Sent().back(), ReadBinary(0xFF80, 127));
}

TEST_F(OpenedApplet, UndeclaredBlocksSendNoCommand) {
    std::size_t before = script_.Events().size();
    CardException e = CardFailure([&] { applet_->ReadBlock(0x0D07); });
    EXPECT_EQ(e.Message(), u"Card block with ID 3335 is not declared as present in the card");
    std::vector<std::string> events(script_.Events().begin() + static_cast<long>(before),
                                    script_.Events().end());
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "begin", "end", "disconnect 0"}));
}

TEST_F(OpenedApplet, BadFilesCacheNothing) {
    // A header whose tag is another block's.
    ByteArray wrongTag = Block(0x0D02, 40);
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D01), SelectAnswer(40));
    script_.Apdu(ReadBinary(0, 4), Cat({ByteArray(wrongTag.begin(), wrongTag.begin() + 4), kOk}));
    EXPECT_EQ(CardFailure([&] { applet_->ReadBlock(0x0D01); }).Message(),
              u"Tag value 0xD02 in read data block is different from required value 0xD01");
    EXPECT_FALSE(applet_->CachedBlock(0x0D01));
    // A file too small for a header.
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D01), SelectAnswer(3));
    EXPECT_EQ(CardFailure([&] { applet_->ReadBlock(0x0D01); }).Message(),
              u"Card's elementary file with id 0xD01 has too small size");
    // A header length that a 16-bit read length cannot cover.
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D01), SelectAnswer(0xFFFF));
    script_.Apdu(ReadBinary(0, 4), {0x01, 0x0D, 0xFC, 0xFF, 0x90, 0x00});
    EXPECT_EQ(CardFailure([&] { applet_->ReadBlock(0x0D01); }).Message(),
              u"Block with ID 0xD01 declares a length of 65532 bytes; at most 65531 can be read");
    // A piece shorter than asked for.
    ByteArray block = Block(0x0D01, 200);
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D01), SelectAnswer(200));
    script_.Apdu(ReadBinary(0, 4), Cat({ByteArray(block.begin(), block.begin() + 4), kOk}));
    script_.Apdu(ReadBinary(0, 128), Cat({ByteArray(block.begin(), block.begin() + 100), kOk}));
    EXPECT_EQ(CardFailure([&] { applet_->ReadBlock(0x0D01); }).Message(),
              u"Card returned 100 bytes at offset 0 where 128 were requested");
    EXPECT_FALSE(applet_->CachedBlock(0x0D01));
    // The next read goes to the card again and succeeds.
    ExpectRead(script_, kVlAid, 0x0D01, block);
    EXPECT_EQ(applet_->ReadBlock(0x0D01), block);
    EXPECT_EQ(script_.StepsLeft(), 0u);
}

TEST_F(OpenedApplet, FailuresDuringReadsAreCardExceptions) {
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D03), {0x6A, 0x82});
    CardException applet = CardFailure([&] { applet_->ReadBlock(0x0D03); });
    EXPECT_EQ(applet.Code(), 0x6A82);
    EXPECT_EQ(applet.Message(), u"Applet exception: An unhandled exception was thrown.");

    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.ApduFails("00 A4 00 00 02 0D 03 00", 0x80100069u);
    CardException removed = CardFailure([&] { applet_->ReadBlock(0x0D03); });
    EXPECT_EQ(removed.Code(), static_cast<std::int32_t>(0x80100069u));
    EXPECT_EQ(removed.Message().rfind(u"PCSC exception: ", 0), 0u);
    EXPECT_FALSE(applet_->CachedBlock(0x0D03));
    EXPECT_FALSE(script_.InTransaction());
}

TEST(AppletCommandSet, TableOfApplications) {
    EXPECT_EQ(AppletCommandSet::For(0).Aid().size(), 12u);
    for (std::uint16_t id : {1, 2, 3, 4}) {
        EXPECT_EQ(AppletCommandSet::For(id).Aid(), kVlAid);
    }
    EXPECT_EQ(AppletCommandSet::For(5).Aid(), kZkAid);
    EXPECT_EQ(AppletCommandSet::For(6).Aid(),
              (ByteArray{0xF3, 0x81, 0x00, 0x00, 0x02, 0x53, 0x45, 0x52, 0x5A, 0x4B, 0x01}));
    EXPECT_EQ(&AppletCommandSet::For(2), &AppletCommandSet::For(2));
    EXPECT_EQ(CardFailure([] { AppletCommandSet::For(65535); }).Message(),
              u"Number 65535 is not valid value for card ID");
}

TEST(AppletCommandSet, SelectAnswersAndEmptyAids) {
    EXPECT_EQ(AppletCommandSet::FileSizeOf(ByteArray{0, 0, 0x12, 0x34, 0, 0, 0, 0, 0, 0}), 0x1234);
    try {
        AppletCommandSet::FileSizeOf(ByteArray(9));
        ADD_FAILURE() << "a 9-byte answer was accepted";
    } catch (const Orvel::FrameworkError& e) {
        EXPECT_EQ(e.HResult(), static_cast<std::int32_t>(0x80070057u));
    }
    CardScript script(kProtocolT1);
    script.Apdu("00 A4 04 00 00", "90 00");
    SmartCardIO::CardConnection connection(script.Channel());
    SmartCardIO::TransactionGuard guard(connection);
    AppletCommandSet(ByteArray{}).SelectApplet(guard);
    EXPECT_TRUE(AppletCommandSet(ByteArray{}).ReadBinary(guard, 0, 0).empty());
}

TEST(AppletCommandSet, WriteFileSendsUpdatePieces) {
    CardScript script(kProtocolT1);
    ByteArray data = Block(0x0D03, 300);
    script.Apdu(SelectFile(0x0D03), SelectAnswer(1024));
    for (std::size_t at = 0; at < data.size(); at += 128) {
        std::size_t piece = std::min<std::size_t>(128, data.size() - at);
        script.Apdu(Cat({{0x00, 0xD6, static_cast<std::uint8_t>(at >> 8),
                          static_cast<std::uint8_t>(at), static_cast<std::uint8_t>(piece)},
                         ByteArray(data.begin() + static_cast<long>(at),
                                   data.begin() + static_cast<long>(at + piece))}),
                    kOk);
    }
    SmartCardIO::CardConnection connection(script.Channel());
    SmartCardIO::TransactionGuard guard(connection);
    AppletCommandSet::For(1).WriteFile(guard, 0x0D03, data);
    EXPECT_EQ(script.StepsLeft(), 0u);

    script.Apdu(SelectFile(0x0D03), SelectAnswer(1024));
    script.Apdu("00 D6 00 00 01 AA", "6A 84");
    EXPECT_THROW(AppletCommandSet::For(1).WriteFile(guard, 0x0D03, ByteArray{0xAA}),
                 JavaCard::AppletException);
    script.Apdu(SelectFile(0x0D03), SelectAnswer(1024));
    AppletCommandSet::For(1).WriteFile(guard, 0x0D03, ByteArray{});
}

}  // namespace
