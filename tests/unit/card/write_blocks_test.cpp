// Block writes over the scripted card: the exact APDUs, the rebuilt and re-signed SOD, the
// one transaction around it all, and the failures that must leave the card untouched.
#include "card_script.h"
#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/exceptions.h"
#include "user_store_fixture.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace cardtest;
using carvix::test::CardScript;
using carvix::testpki::Identity;
using Orvel::PCSC::kProtocolT1;

// A block with one byte element of exactly the given size; the block is 8 bytes longer.
class RawBlock final : public CardBlock {
  public:
    RawBlock(std::uint16_t id, std::size_t size, std::uint8_t seed = 1) : CardBlock(id) {
        ByteArray value(size);
        for (std::size_t i = 0; i < size; ++i) {
            value[i] = static_cast<std::uint8_t>(i * 7 + seed);
        }
        data.SetValue(value);
    }
    BytesElement data{*this, 0x0630, 8000, kMandatory};
};

const std::vector<std::uint16_t> kDeclared = {0x0D01, 0x0D02, 0x0D03, 0x0D04, 0x0D05,
                                              0x0D06, 0x0D07, 0x0D09, 0x0E01, 0x0E02};

ByteArray UpdateBinary(std::size_t offset, const ByteArray& piece) {
    return Cat({{0x00, 0xD6, static_cast<std::uint8_t>(offset >> 8),
                 static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(piece.size())},
                piece});
}

using Session = std::vector<std::pair<ByteArray, ByteArray>>;

// The session of one block write: applet and file selection, then 128-byte pieces.
Session WriteSession(const ByteArray& aid, std::uint16_t id, const ByteArray& bytes) {
    Session session = {{SelectApplet(aid), kOk}, {SelectFile(id), SelectAnswer(bytes.size())}};
    for (std::size_t at = 0; at < bytes.size(); at += 128) {
        const std::size_t n = std::min<std::size_t>(128, bytes.size() - at);
        session.emplace_back(UpdateBinary(at, ByteArray(bytes.begin() + static_cast<long>(at),
                                                        bytes.begin() + static_cast<long>(at + n))),
                             kOk);
    }
    return session;
}

void ExpectWrite(CardScript& script, const ByteArray& aid, std::uint16_t id,
                 const ByteArray& bytes) {
    for (const auto& [command, response] : WriteSession(aid, id, bytes)) {
        script.Apdu(command, response);
    }
}

template <typename F>
CardException CardFailure(F&& f) {
    try {
        f();
    } catch (const CardException& e) {
        return e;
    }
    ADD_FAILURE() << "no CardException";
    return CardException(u"(none)", 0);
}

class BlockWrites : public UserStoreTest {
  protected:
    static void SetUpTestSuite() {
        signer_ = new Identity(carvix::testpki::MakeIdentity("Card holder", 21));
    }
    static void TearDownTestSuite() { delete signer_; }

    void SetUp() override { signerCertificate_ = Install(*signer_); }

    std::unique_ptr<CardApplet> Open(std::uint16_t applicationId) {
        const std::string documentId = "0" + std::to_string(applicationId);
        ExpectRead(script_, AidOf(applicationId), 0x0D00,
                   CardDocument(documentId.c_str(), kDeclared));
        auto applet = CardApplet::Open(
            std::make_unique<SmartCardIO::CardConnection>(script_.Channel()), applicationId);
        opened_ = script_.Events().size();
        return applet;
    }
    static const ByteArray& AidOf(std::uint16_t applicationId) {
        return applicationId == 5 ? kZkAid : kVlAid;
    }
    // The SOD block the write must produce: the hashes signed by the user's key.
    static ByteArray ExpectedSod(std::uint16_t sodId, std::uint16_t element,
                                 const ByteArray& hashes) {
        return Tlv(sodId, Tlv(element, carvix::testpki::SignMessage(hashes, *signer_)));
    }
    std::vector<std::string> EventsSinceOpen() const {
        return {script_.Events().begin() + static_cast<long>(opened_), script_.Events().end()};
    }
    std::size_t SentSinceOpen() const { return script_.Sent().size(); }

    static Identity* signer_;
    x509::X509Certificate signerCertificate_;
    CardScript script_{kProtocolT1};
    std::size_t opened_ = 0;
};
Identity* BlockWrites::signer_ = nullptr;

TEST_F(BlockWrites, VlVariableBlockRebuildsItsSodFromOneDigestInOneTransaction) {
    auto applet = Open(1);
    RawBlock block(0x0D03, 200);
    const ByteArray bytes = block.Encode();
    const ByteArray sod = ExpectedSod(0x0D06, 0x0660, ComputeSha256(bytes));
    ExpectWrite(script_, kVlAid, 0x0D06, sod);
    ExpectWrite(script_, kVlAid, 0x0D03, bytes);

    applet->WriteBlocks({&block}, x509::X509Certificate(signer_->Der()));

    // The card is held from the first command of the SOD to the last piece of the block.
    std::vector<std::string> events = EventsSinceOpen();
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 2),
              (std::vector<std::string>{"connect", "begin"}));
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"end", "disconnect 0"}));
    // Each block's own guard nests without a begin or end of its own.
    EXPECT_EQ(std::count(events.begin(), events.end(), "connect"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "begin"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
    // The cache holds what was written.
    EXPECT_EQ(applet->CachedBlock(0x0D06), sod);
    EXPECT_EQ(applet->CachedBlock(0x0D03), bytes);
    // And the written SOD verifies and vouches for the new block.
    VerifiedMessage verified = VerifySignedMessage(ByteArray(sod.begin() + 8, sod.end()));
    EXPECT_EQ(verified.content, ComputeSha256(bytes));
}

TEST_F(BlockWrites, AWriteCallOnAnAdoptedHandleTakesTheCardOnce) {
    ExpectRead(script_, kVlAid, 0x0D00, CardDocument("01", kDeclared));
    auto applet = CardApplet::Open(std::make_unique<SmartCardIO::CardConnection>(
                                       script_.Channel(carvix::test::ChannelKind::Handle)),
                                   1, CardApplet::Hold::UntilClose);
    RawBlock block(0x0D03, 200);
    const ByteArray bytes = block.Encode();
    ExpectWrite(script_, kVlAid, 0x0D06, ExpectedSod(0x0D06, 0x0660, ComputeSha256(bytes)));
    ExpectWrite(script_, kVlAid, 0x0D03, bytes);
    applet->WriteBlocks({&block}, x509::X509Certificate(signer_->Der()));
    EXPECT_TRUE(script_.InTransaction());
    CardApplet::Close(std::move(applet));
    // The open's document read and the write share one begin and one end; the handle is
    // neither connected nor disconnected.
    const std::vector<std::string>& events = script_.Events();
    EXPECT_EQ(events.front(), "begin");
    EXPECT_EQ(events.back(), "end");
    EXPECT_EQ(std::count(events.begin(), events.end(), "begin"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "connect"), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "disconnect 0"), 0);
}

TEST_F(BlockWrites, ZkVariableAdminBlockRebuildsSod0D09) {
    auto applet = Open(5);
    RawBlock block(0x0E02, 50);
    const ByteArray bytes = block.Encode();
    ExpectWrite(script_, kZkAid, 0x0D09, ExpectedSod(0x0D09, 0x0690, ComputeSha256(bytes)));
    ExpectWrite(script_, kZkAid, 0x0E02, bytes);
    applet->WriteBlocks({&block}, {});  // the one certificate with a key signs
}

TEST_F(BlockWrites, ASodFilledFromTheOldOneKeepsTheHashesOfBlocksNotWritten) {
    // 0x0D05 covers 0x0D00, 0x0D01, 0x0D02, 0x0D04 and 0x0D07; only 0x0D00 (read by the
    // open) and the new 0x0D04 are known, the others come from the SOD on the card.
    auto applet = Open(2);
    RawBlock photo(0x0D04, 300);
    ByteArray old;
    for (int slot = 0; slot < 5; ++slot) {
        old.insert(old.end(), 32, static_cast<std::uint8_t>(0xA0 + slot));
    }
    const ByteArray oldSod = Tlv(0x0D05, Tlv(0x0650, carvix::testpki::SignMessage(old, *signer_)));
    ExpectRead(script_, kVlAid, 0x0D05, oldSod);
    ByteArray hashes = ComputeSha256(CardDocument("02", kDeclared));
    hashes.insert(hashes.end(), old.begin() + 32, old.begin() + 96);
    const ByteArray digest = ComputeSha256(photo.Encode());
    hashes.insert(hashes.end(), digest.begin(), digest.end());
    hashes.insert(hashes.end(), old.begin() + 128, old.end());
    ExpectWrite(script_, kVlAid, 0x0D05, ExpectedSod(0x0D05, 0x0650, hashes));
    ExpectWrite(script_, kVlAid, 0x0D04, photo.Encode());
    applet->WriteBlocks({&photo}, {});
}

TEST_F(BlockWrites, AnOldSodTooShortForItsListWritesNothing) {
    auto applet = Open(2);
    RawBlock photo(0x0D04, 300);
    const ByteArray shortContent(64, 0xAB);  // two hashes where five are needed
    ExpectRead(script_, kVlAid, 0x0D05,
               Tlv(0x0D05, Tlv(0x0650, carvix::testpki::SignMessage(shortContent, *signer_))));
    CardException e = CardFailure([&] { applet->WriteBlocks({&photo}, {}); });
    EXPECT_EQ(e.Message(),
              u"Signed content of SOD block with ID 0xD05 has 64 bytes, too few for the hashes "
              u"of its 5 blocks");
    EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005));
    EXPECT_FALSE(applet->CachedBlock(0x0D00).has_value());
    EXPECT_FALSE(script_.InTransaction());
}

TEST_F(BlockWrites, ListsNoSingleSodCoversAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::uint16_t application;
        std::vector<std::uint16_t> ids;
        std::u16string message;
    };
    const std::vector<Case> cases = {
        {1, {0x0D06}, u"Tried to write to SOD block with ID 0xD06, which is not allowed."},
        {1, {0x0D03, 0x0D05}, u"Tried to write to SOD block with ID 0xD05, which is not allowed."},
        {5, {0x0D09}, u"Tried to write to SOD block with ID 0xD09, which is not allowed."},
        {5,
         {0x0D03, 0x0E02},
         u"Card block with ID 0xE02 is registered to SOD block with ID 0xD09, but previous "
         u"blocks are registered to SOD with ID 0xD06."},
        // Application 1's registry has no SOD for the ZK administrative block.
        {1,
         {0x0E02},
         u"Card block with ID 0xE02 is not registered to any SOD block of this card "
         u"application, so it cannot be written."},
    };
    for (const Case& c : cases) {
        auto applet = Open(c.application);
        const std::size_t sent = SentSinceOpen();
        std::vector<std::unique_ptr<RawBlock>> blocks;
        std::vector<const CardBlock*> list;
        for (auto id : c.ids) {
            blocks.push_back(std::make_unique<RawBlock>(id, 10));
            list.push_back(blocks.back().get());
        }
        CardException e = CardFailure([&] { applet->WriteBlocks(list, signerCertificate_); });
        EXPECT_EQ(e.Message(), c.message);
        EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005));
        EXPECT_EQ(SentSinceOpen(), sent);
        EXPECT_FALSE(applet->CachedBlock(0x0D00).has_value()) << "the cache is emptied";
        EXPECT_EQ(EventsSinceOpen(), std::vector<std::string>{});
    }
}

TEST_F(BlockWrites, NoSignerInMyWritesNothing) {
    auto applet = Open(1);
    std::filesystem::remove_all(stores_.StoreFolder("My"));
    RawBlock block(0x0D03, 20);
    EXPECT_EQ(CardFailure([&] { applet->WriteBlocks({&block}, {}); }).Message(),
              u"There is no suitable certificate that can be used for signing");
    EXPECT_EQ(EventsSinceOpen(), std::vector<std::string>{});
}

TEST_F(BlockWrites, ASignedSodTooBigForItsElementFailsBeforeAnythingIsSent) {
    // The certificate travels in the SOD; a bulky one makes the message exceed 2400 bytes.
    Identity bulky = carvix::testpki::MakeIdentity("Bulky", 22, nullptr, 1800);
    auto applet = Open(1);
    RawBlock block(0x0D03, 20);
    CardException e = CardFailure(
        [&] { applet->WriteBlocks({&block}, x509::X509Certificate(Install(bulky).RawData())); });
    EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005));
    EXPECT_NE(e.Message().find(u"660"), std::u16string::npos)
        << std::string(e.Message().begin(), e.Message().end());
    for (const auto& event : EventsSinceOpen()) {
        EXPECT_EQ(event.rfind("transmit", 0), std::string::npos) << event;
    }
    EXPECT_FALSE(applet->CachedBlock(0x0D03).has_value());
}

TEST_F(BlockWrites, ABrokenOffWriteFailsAndWritingAgainRepairsTheCard) {
    auto applet = Open(1);
    RawBlock block(0x0D03, 200);
    const ByteArray bytes = block.Encode();
    const ByteArray sod = ExpectedSod(0x0D06, 0x0660, ComputeSha256(bytes));
    // The SOD is written; the card refuses the block (a status word).
    ExpectWrite(script_, kVlAid, 0x0D06, sod);
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D03), SelectAnswer(bytes.size()));
    script_.Apdu(UpdateBinary(0, ByteArray(bytes.begin(), bytes.begin() + 128)), {0x69, 0x82});
    CardException e = CardFailure([&] { applet->WriteBlocks({&block}, {}); });
    EXPECT_EQ(e.Code(), 0x6982);
    EXPECT_NE(e.Message().find(u"the card is now inconsistent"), std::u16string::npos);
    EXPECT_NE(e.Message().find(u"Repeat the same write"), std::u16string::npos);
    EXPECT_FALSE(applet->CachedBlock(0x0D06).has_value());
    EXPECT_FALSE(script_.InTransaction());

    // The card is pulled in the middle of the SOD: a torn SOD on the card.
    script_.Apdu(SelectApplet(kVlAid), kOk);
    script_.Apdu(SelectFile(0x0D06), SelectAnswer(sod.size()));
    script_.Apdu(UpdateBinary(0, ByteArray(sod.begin(), sod.begin() + 128)), kOk);
    script_.ApduFails(
        carvix::test::ToHex(UpdateBinary(128, ByteArray(sod.begin() + 128, sod.begin() + 256))),
        0x80100069u);
    e = CardFailure([&] { applet->WriteBlocks({&block}, {}); });
    EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), 0x80100069u);
    EXPECT_NE(e.Message().find(u"may now be inconsistent"), std::u16string::npos);

    // Writing the same block again neither reads nor checks what is on the card: it writes
    // the whole SOD and block again, leaving a card whose block verifies.
    ExpectWrite(script_, kVlAid, 0x0D06, sod);
    ExpectWrite(script_, kVlAid, 0x0D03, bytes);
    applet->WriteBlocks({&block}, {});
}

TEST_F(BlockWrites, AFailureAtAnyCommandIsReportedAndWritingAgainRepairs) {
    auto applet = Open(1);
    RawBlock block(0x0D03, 300);
    const ByteArray bytes = block.Encode();
    const ByteArray sod = ExpectedSod(0x0D06, 0x0660, ComputeSha256(bytes));
    Session whole = WriteSession(kVlAid, 0x0D06, sod);
    for (auto& step : WriteSession(kVlAid, 0x0D03, bytes)) {
        whole.push_back(step);
    }
    struct Fault {
        std::uint32_t pcsc;  // 0: the card answers a status word instead
        std::int32_t code;
    };
    const Fault faults[] = {{0x80100069u, static_cast<std::int32_t>(0x80100069u)},  // removed
                            {0x80100068u, static_cast<std::int32_t>(0x80100068u)},  // reset
                            {0, 0x6A82}};
    for (std::size_t at = 0; at < whole.size(); ++at) {
        const Fault& fault = faults[at % 3];
        for (std::size_t i = 0; i < at; ++i) {
            script_.Apdu(whole[i].first, whole[i].second);
        }
        if (fault.pcsc != 0) {
            script_.ApduFails(carvix::test::ToHex(whole[at].first), fault.pcsc);
        } else {
            script_.Apdu(whole[at].first, {0x6A, 0x82});
        }
        CardException e = CardFailure([&] { applet->WriteBlocks({&block}, {}); });
        EXPECT_EQ(e.Code(), fault.code) << "command " << at;
        EXPECT_FALSE(applet->CachedBlock(0x0D06).has_value());
        EXPECT_FALSE(script_.InTransaction());
        EXPECT_EQ(script_.StepsLeft(), 0u);
    }
    // After any of them, the same write puts the whole SOD and block on the card.
    ExpectWrite(script_, kVlAid, 0x0D06, sod);
    ExpectWrite(script_, kVlAid, 0x0D03, bytes);
    applet->WriteBlocks({&block}, {});
    EXPECT_EQ(applet->CachedBlock(0x0D03), bytes);
}

TEST_F(BlockWrites, BlocksAreWrittenIn128BytePiecesWithTheOffsetInP1P2) {
    auto applet = Open(1);
    ByteArray bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    script_.Apdu("00 A4 04 00 0D F3 81 00 00 02 53 45 52 51 58 56 4C 01 00", "90 00");
    script_.Apdu("00 A4 00 00 02 0D 03 00", "62 0A 01 2C 01 02 03 04 05 06 90 00");
    script_.Apdu("00 D6 00 00 80 00 01 02 *", "90 00");
    script_.Apdu("00 D6 00 80 80 80 81 82 *", "90 00");
    script_.Apdu("00 D6 01 00 2C 00 01 02 *", "90 00");
    applet->WriteBlock(0x0D03, bytes);
    EXPECT_EQ(script_.Sent().back().size(), 5u + 44u);
    EXPECT_EQ(script_.Sent()[script_.Sent().size() - 2].size(), 5u + 128u);
    // A block the card document does not declare is refused before anything is sent.
    const std::size_t sent = SentSinceOpen();
    EXPECT_EQ(CardFailure([&] { applet->WriteBlock(0x0D08, bytes); }).Message(),
              u"Card block with ID 3336 is not declared as present in the card");
    EXPECT_EQ(SentSinceOpen(), sent);
}

}  // namespace
