#include "card_script.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/hash.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/exceptions.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace cardtest;
using carvix::test::CardScript;
using Orvel::PCSC::kProtocolT1;
using Orvel::Security::Cryptography::X509::X509Certificate;

ByteArray Ascii(const char* text) {
    return ByteArray(text, text + std::strlen(text));
}

ByteArray Utf16(const char* text) {
    ByteArray out;
    for (const char* c = text; *c != 0; ++c) {
        out.push_back(static_cast<std::uint8_t>(*c));
        out.push_back(0);
    }
    return out;
}

ByteArray PhotoBlock(std::uint8_t seed) {
    ByteArray photo(700);
    for (std::size_t i = 0; i < photo.size(); ++i) {
        photo[i] = static_cast<std::uint8_t>(i * seed + 3);
    }
    return Tlv(0x0D04, Tlv(0x0640, photo));
}

const ByteArray kFixedAdmin = Tlv(
    0x0E01, Cat({Tlv(0x0751, Ascii("12345678901")), Tlv(0x0752, Ascii("1234567890")),
                 Tlv(0x0754, Ascii("1234")), Tlv(0x0755, Utf16("Basis")), Tlv(0x0756, Ascii("01")),
                 Tlv(0x0761, Ascii("01012020")), Tlv(0x0762, Ascii("XYZ")),
                 Tlv(0x0763, Utf16("Country")), Tlv(0x0764, Utf16("Country"))}));

// Hash slots of a SOD content: the given blocks at their positions, filler elsewhere.
ByteArray Content(std::size_t slots, std::map<std::size_t, ByteArray> blocks) {
    ByteArray content;
    for (std::size_t i = 0; i < slots; ++i) {
        ByteArray slot = blocks.contains(i) ? ComputeSha256(blocks[i]) : ByteArray(32, 0xEE);
        content.insert(content.end(), slot.begin(), slot.end());
    }
    return content;
}

ByteArray Sod(const ByteArray& message) {
    return Tlv(0x0D05, Tlv(0x0650, message));
}

template <typename F>
std::u16string CardMessageOf(F&& f) {
    try {
        f();
    } catch (const CardException& e) {
        return e.Message();
    }
    return u"(no CardException)";
}

class VerifiedReads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        signer_ = new carvix::testpki::Identity(carvix::testpki::MakeIdentity("Document signer"));
    }
    static void TearDownTestSuite() { delete signer_; }

    std::unique_ptr<CardApplet> Open(std::uint16_t applicationId,
                                     CardApplet::Hold hold = CardApplet::Hold::EachOperation) {
        const ByteArray& aid = applicationId == 5 ? kZkAid : kVlAid;
        std::string documentId = "0" + std::to_string(applicationId);
        ExpectRead(script_, aid, 0x0D00,
                   CardDocument(documentId.c_str(), {0x0D01, 0x0D02, 0x0D03, 0x0D04, 0x0D05, 0x0D06,
                                                     0x0D09, 0x0E01, 0x0E02}));
        return CardApplet::Open(std::make_unique<SmartCardIO::CardConnection>(script_.Channel()),
                                applicationId, hold);
    }
    ByteArray Signed(const ByteArray& content) {
        return carvix::testpki::SignMessage(content, *signer_);
    }

    static carvix::testpki::Identity* signer_;
    CardScript script_{kProtocolT1};
};
carvix::testpki::Identity* VerifiedReads::signer_ = nullptr;

TEST_F(VerifiedReads, BlocksNoSodCoversComeBackUnchecked) {
    auto applet = Open(1);  // registry A has no SOD for 0x0E01
    ExpectRead(script_, kVlAid, 0x0E01, kFixedAdmin);
    ZKFixedAdminModel model;
    X509Certificate signer;
    applet->ReadVerifiedBlock(model, signer);
    EXPECT_EQ(model.InsurantNumber.GetValue(), u"12345678901");
    EXPECT_TRUE(signer.IsEmpty());
}

TEST_F(VerifiedReads, CoveredBlocksAreCheckedAndTheSodIsReadOnce) {
    auto applet = Open(2);
    ByteArray photo = PhotoBlock(7);
    ExpectRead(script_, kVlAid, 0x0D04, photo);
    ExpectRead(script_, kVlAid, 0x0D05, Sod(Signed(Content(5, {{3, photo}}))));
    VLPhotoModel model;
    X509Certificate signer;
    applet->ReadVerifiedBlock(model, signer);
    EXPECT_EQ(model.Photo.GetValue().size(), 700u);
    ASSERT_FALSE(signer.IsEmpty());
    EXPECT_EQ(signer.RawData(), signer_->Der());
    // Both blocks are cached now: a second verification sends nothing.
    VLPhotoModel again;
    X509Certificate signer2;
    applet->ReadVerifiedBlock(again, signer2);
    EXPECT_EQ(script_.StepsLeft(), 0u);
    EXPECT_FALSE(signer2.IsEmpty());
}

TEST_F(VerifiedReads, TheBlockAndItsSodAreReadInOneTransaction) {
    auto applet = Open(1);
    const std::size_t opened = script_.Events().size();
    ByteArray photo = PhotoBlock(5);
    ExpectRead(script_, kVlAid, 0x0D04, photo);
    ExpectRead(script_, kVlAid, 0x0D05, Sod(Signed(Content(5, {{3, photo}}))));
    VLPhotoModel model;
    X509Certificate signer;
    applet->ReadVerifiedBlock(model, signer);
    std::vector<std::string> events(script_.Events().begin() + static_cast<long>(opened),
                                    script_.Events().end());
    // One connection and one transaction; both reads run inside it without starting
    // transactions of their own.
    EXPECT_EQ(std::count(events.begin(), events.end(), "connect"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "disconnect 0"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "begin"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
    EXPECT_EQ(events.front(), "connect");
    EXPECT_EQ(events.back(), "disconnect 0");
}

TEST_F(VerifiedReads, AWholeCallConnectsAndTakesTheCardOnce) {
    auto applet = Open(1, CardApplet::Hold::UntilClose);
    ByteArray photo = PhotoBlock(6);
    ExpectRead(script_, kVlAid, 0x0D04, photo);
    ExpectRead(script_, kVlAid, 0x0D05, Sod(Signed(Content(6, {{3, photo}}))));
    VLPhotoModel model;
    X509Certificate signer;
    applet->ReadVerifiedBlock(model, signer);
    // The card stays held until the call closes the applet.
    EXPECT_TRUE(script_.InTransaction());
    CardApplet::Close(std::move(applet));
    const std::vector<std::string>& events = script_.Events();
    EXPECT_EQ(events.front(), "connect");
    EXPECT_EQ(events[1], "begin");
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"end", "disconnect 0"}));
    EXPECT_EQ(std::count(events.begin(), events.end(), "connect"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "begin"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
    EXPECT_FALSE(script_.InTransaction());
}

TEST_F(VerifiedReads, AHeldOpenThatFailsLetsTheCardGo) {
    ExpectRead(script_, kVlAid, 0x0D00, CardDocument("05", {0x0D01}));
    EXPECT_THROW(CardApplet::Open(std::make_unique<SmartCardIO::CardConnection>(script_.Channel()),
                                  1, CardApplet::Hold::UntilClose),
                 CardException);
    EXPECT_FALSE(script_.InTransaction());
    const std::vector<std::string>& events = script_.Events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"end", "disconnect 0"}));
}

TEST_F(VerifiedReads, TamperedBlocksFailButHandOutTheSigner) {
    auto applet = Open(1);
    ByteArray photo = PhotoBlock(7);
    ByteArray tampered = photo;
    tampered[500] ^= 0x01;
    ExpectRead(script_, kVlAid, 0x0D04, tampered);
    ExpectRead(script_, kVlAid, 0x0D05, Sod(Signed(Content(5, {{3, photo}}))));
    VLPhotoModel model;
    X509Certificate signer;
    EXPECT_EQ(CardMessageOf([&] { applet->ReadVerifiedBlock(model, signer); }),
              u"Hash of block with ID 0xD04 does not match the hash in corresponding SOD block");
    EXPECT_FALSE(signer.IsEmpty());
}

TEST_F(VerifiedReads, BadSodMessagesFail) {
    ByteArray photo = PhotoBlock(7);
    {
        auto applet = Open(1);
        ByteArray message = Signed(Content(5, {{3, photo}}));
        message.back() ^= 0x40;
        ExpectRead(script_, kVlAid, 0x0D04, photo);
        ExpectRead(script_, kVlAid, 0x0D05, Sod(message));
        VLPhotoModel model;
        X509Certificate signer;
        EXPECT_EQ(CardMessageOf([&] { applet->ReadVerifiedBlock(model, signer); }),
                  u"PKCS7 structure has invalid signature");
        EXPECT_TRUE(signer.IsEmpty());
    }
    {
        auto applet = Open(1);
        ExpectRead(script_, kVlAid, 0x0D04, photo);
        ExpectRead(script_, kVlAid, 0x0D05, Sod(Cat({{0x04, 0x05}, Ascii("bytes")})));
        VLPhotoModel model;
        X509Certificate signer;
        EXPECT_EQ(CardMessageOf([&] { applet->ReadVerifiedBlock(model, signer); }),
                  u"Error parsing PKCS7 structure from SOD block, error code: -2146881269");
    }
}

TEST_F(VerifiedReads, HashPositionsFollowTheRegistry) {
    ByteArray photo = PhotoBlock(9);
    {
        // VL: the photo is the fourth hash of SOD 0x0D05.
        auto applet = Open(1);
        ExpectRead(script_, kVlAid, 0x0D04, photo);
        ExpectRead(script_, kVlAid, 0x0D05, Sod(Signed(Content(5, {{3, photo}}))));
        VLPhotoModel model;
        X509Certificate signer;
        EXPECT_NO_THROW(applet->ReadVerifiedBlock(model, signer));
    }
    {
        // ZK: block 0x0E01 takes that place.
        auto applet = Open(5);
        ExpectRead(script_, kZkAid, 0x0E01, kFixedAdmin);
        ExpectRead(script_, kZkAid, 0x0D05, Sod(Signed(Content(5, {{3, kFixedAdmin}}))));
        ZKFixedAdminModel model;
        X509Certificate signer;
        EXPECT_NO_THROW(applet->ReadVerifiedBlock(model, signer));
    }
    {
        auto applet = Open(5);
        ExpectRead(script_, kZkAid, 0x0E01, kFixedAdmin);
        ExpectRead(script_, kZkAid, 0x0D05, Sod(Signed(Content(5, {{4, kFixedAdmin}}))));
        ZKFixedAdminModel model;
        X509Certificate signer;
        EXPECT_EQ(
            CardMessageOf([&] { applet->ReadVerifiedBlock(model, signer); }),
            u"Hash of block with ID 0xE01 does not match the hash in corresponding SOD block");
    }
}

TEST_F(VerifiedReads, ContentTooShortForTheBlockFails) {
    auto applet = Open(1);
    ByteArray photo = PhotoBlock(7);
    ExpectRead(script_, kVlAid, 0x0D04, photo);
    ExpectRead(script_, kVlAid, 0x0D05, Sod(Signed(Content(3, {}))));
    VLPhotoModel model;
    X509Certificate signer;
    EXPECT_EQ(CardMessageOf([&] { applet->ReadVerifiedBlock(model, signer); }),
              u"Signed content of SOD block with ID 0xD05 has 96 bytes, too few for the hash of "
              u"block with ID 0xD04");
}

TEST_F(VerifiedReads, DecodingFailuresComeFirst) {
    auto applet = Open(1);
    // The file holds block 0x0D04, but its body is no photo element.
    ExpectRead(script_, kVlAid, 0x0D04, Tlv(0x0D04, Tlv(0x0641, {1, 2, 3})));
    VLPhotoModel model;
    X509Certificate signer;
    EXPECT_EQ(CardMessageOf([&] { applet->ReadVerifiedBlock(model, signer); }),
              u"Mandatory element with tag 0x0640 not found in block");
}

}  // namespace
