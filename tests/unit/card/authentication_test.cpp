// The authentication commands over the scripted channel: exact bytes of GET CHALLENGE,
// EXTERNAL AUTHENTICATE (short and extended) and logout, the role encodings, and that every
// command runs in one transaction after the application is selected.
#include "card_script.h"
#include "carvix/card/card_authentication.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/exceptions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace cardtest;
using carvix::test::CardScript;
using carvix::test::ChannelKind;
using carvix::test::ChannelOp;
using carvix::test::ToHex;
using Orvel::PCSC::kProtocolT1;

const std::string kSelectVl = "00 A4 04 00 0D F3 81 00 00 02 53 45 52 51 58 56 4C 01 00";
const std::string kSelectZk = "00 A4 04 00 0D F3 81 00 00 02 53 45 52 51 58 5A 4B 01 00";

// A card session on a borrowed handle, as the authentication object lends it.
class Authentication : public ::testing::Test {
  protected:
    Authentication() : script(kProtocolT1), connection(script.Channel(ChannelKind::Handle)) {}

    template <typename F>
    std::uint16_t StatusWordOf(F&& f) {
        try {
            f();
        } catch (const JavaCard::AppletException& e) {
            return e.StatusWord();
        }
        ADD_FAILURE() << "no AppletException";
        return 0;
    }

    CardScript script;
    SmartCardIO::CardConnection connection;
};

ByteArray Pattern(std::size_t n) {
    ByteArray bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return bytes;
}

TEST_F(Authentication, ChallengeIsWhatTheCardReturnsInOneTransaction) {
    script.Apdu(kSelectVl, "90 00").Apdu("00 84 00 00 08", "01 02 03 04 05 06 07 08 90 00");
    EXPECT_EQ(CardAuthentication::GetChallenge(connection, 2), (ByteArray{1, 2, 3, 4, 5, 6, 7, 8}));
    const std::vector<std::string> expected = {"begin", "transmit " + kSelectVl,
                                               "transmit 00 84 00 00 08", "end"};
    EXPECT_EQ(script.Events(), expected);

    // An answer of another length (cut short, or with bytes added) is no challenge: it fails
    // with a message and the transaction still ends.
    for (const char* answer : {"AA BB 90 00", "01 02 03 04 05 06 07 08 09 90 00", "90 00"}) {
        script.Apdu(kSelectZk, "90 00").Apdu("00 84 00 00 08", answer);
        EXPECT_THROW(CardAuthentication::GetChallenge(connection, 5), CardException) << answer;
        EXPECT_EQ(script.Events().back(), "end") << answer;
    }
}

TEST_F(Authentication, RoleIdsEncodeAsThePrivilegeByteAndTheLogoutMask) {
    struct Case {
        std::uint32_t role;
        const char* authenticateP2;
        const char* logoutP2;
    };
    const Case cases[] = {
        {0, "80", "01"},    {3, "83", "08"},          {7, "87", "80"},     {8, "88", "00"},
        {31, "9F", "00"},   {32, "A0", "01"},         {0x1FF, "FF", "00"}, {0x7F, "FF", "00"},
        {0x23, "A3", "08"}, {0xFFFFFFFF, "FF", "00"},
    };
    const ByteArray response = Pattern(16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.role);
        script.Apdu(kSelectVl, "90 00")
            .Apdu("00 82 00 " + std::string(c.authenticateP2) + " 10 " + ToHex(response), "90 00");
        CardAuthentication::ExternalAuthenticate(connection, 1, c.role, response);
        script.Apdu(kSelectVl, "90 00").Apdu("B0 22 00 " + std::string(c.logoutP2), "90 00");
        CardAuthentication::Logout(connection, 1, c.role);
        script.ExpectDone();
    }
}

TEST_F(Authentication, ResponsesOf256BytesOrMoreGoOutAsExtendedApdus) {
    const ByteArray longest = Pattern(255);
    script.Apdu(kSelectVl, "90 00").Apdu("00 82 00 81 FF " + ToHex(longest), "90 00", false);
    CardAuthentication::ExternalAuthenticate(connection, 1, 1, longest);

    for (std::size_t size : {256u, 300u}) {
        const ByteArray response = Pattern(size);
        char lc[16];
        std::snprintf(lc, sizeof lc, "00 %02X %02X ", static_cast<unsigned>(size >> 8),
                      static_cast<unsigned>(size & 0xFF));
        script.Apdu(kSelectVl, "90 00")
            .Apdu("00 82 00 81 " + std::string(lc) + ToHex(response), "90 00", true);
        CardAuthentication::ExternalAuthenticate(connection, 1, 1, response);
    }
    EXPECT_EQ(script.Sent().back().size(), 7u + 300u);
}

TEST_F(Authentication, StatusWordsOtherThan9000AreAppletExceptions) {
    const ByteArray response = Pattern(16);
    script.Apdu(kSelectVl, "90 00").Apdu("00 82 00 81 10 *", "63 00");
    EXPECT_EQ(
        StatusWordOf([&] { CardAuthentication::ExternalAuthenticate(connection, 1, 1, response); }),
        0x6300);
    EXPECT_EQ(script.Events().back(), "end");

    script.Apdu(kSelectVl, "90 00").Apdu("00 84 00 00 08", "69 85");
    EXPECT_EQ(StatusWordOf([&] { CardAuthentication::GetChallenge(connection, 1); }), 0x6985);

    script.Apdu(kSelectVl, "90 00").Apdu("B0 22 00 02", "6A 88");
    EXPECT_EQ(StatusWordOf([&] { CardAuthentication::Logout(connection, 1, 1); }), 0x6A88);

    // An application the card does not have: the command itself is never sent.
    script.Apdu(kSelectZk, "6A 82");
    EXPECT_EQ(StatusWordOf([&] { CardAuthentication::GetChallenge(connection, 5); }), 0x6A82);
    EXPECT_EQ(script.Events().back(), "end");
}

TEST_F(Authentication, FailuresBeforeTheCommandLeaveTheCardUntouched) {
    // No applet for the application ID: refused before any transaction.
    try {
        CardAuthentication::GetChallenge(connection, 7);
        ADD_FAILURE() << "no CardException";
    } catch (const CardException& e) {
        EXPECT_EQ(e.Message(), u"Number 7 is not valid value for card ID");
    }
    EXPECT_TRUE(script.Events().empty());

    // The card left the reader: the transaction does not start, nothing is sent.
    script.Fail(ChannelOp::BeginTransaction, 0x80100069u);
    try {
        CardAuthentication::Logout(connection, 1, 3);
        ADD_FAILURE() << "no PCSCWin32Exception";
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        EXPECT_EQ(e.Code(), 0x80100069u);
    }
    EXPECT_TRUE(script.Sent().empty());

    // Removal during the exchange ends the transaction all the same.
    script.Apdu(kSelectVl, "90 00").ApduFails("00 84 00 00 08", 0x80100069u);
    EXPECT_THROW(CardAuthentication::GetChallenge(connection, 1), Orvel::PCSC::PCSCWin32Exception);
    EXPECT_EQ(script.Events().back(), "end");
    EXPECT_FALSE(script.InTransaction());
}

TEST(AuthenticationOnAHandle, AHandleThatIsNotConnectedFailsWithThePcscCode) {
    // No resource manager knows this handle: attaching (the status read) fails.
    EXPECT_THROW(CardAuthentication::GetChallenge(SCARDHANDLE{0x7FFFFFF1}, 1),
                 Orvel::PCSC::PCSCWin32Exception);
    EXPECT_THROW(CardAuthentication::Logout(SCARDHANDLE{0x7FFFFFF1}, 9, 1), CardException);
}

}  // namespace
