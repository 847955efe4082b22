// CARVIX.Auth on the bench: a challenge from the card, the response computed by the card's
// rule, and the role it grants held by the object's own card handle until Logout; wrong
// responses, another client's reset and a pulled card come back as failure codes.
#include "auth/authentication_service.h"
#include "bench_card.h"
#include "carvix/automation/oleauto.h"
#include "carvix/card/applet_command_set.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/unicode.h"
#include "pcsc_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::SampleCard;
using carvix::com::AuthenticationService;
using carvix::com::IAuthenticationService;

const std::vector<std::uint8_t> kVlRole1Key =
    carvix::bench::Unhex("000102030405060708090A0B0C0D0E0F");
const std::vector<std::uint8_t> kVlRole3Key =
    carvix::bench::Unhex("404142434445464748494A4B4C4D4E4F");
const std::string kZkRole2Key = "202122232425262728292A2B2C2D2E2F";

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());  // bench names and Base64 are ASCII
}
std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// A BSTR that frees itself.
struct Text {
    explicit Text(const std::string& s) : value(SysAllocString(Wide(s).c_str())) {}
    ~Text() { SysFreeString(value); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR value;
};

class AuthOnBench : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        card = std::make_unique<BenchCard>(SampleCard(GetParam()));
        void* p = nullptr;
        ASSERT_EQ(
            carvix::com::Create<AuthenticationService>(nullptr, IAuthenticationService::kIid, &p),
            S_OK);
        auth = static_cast<IAuthenticationService*>(p);
    }
    void TearDown() override {
        if (auth != nullptr) {
            auth->Release();
        }
        card.reset();
    }

    HRESULT Init(std::uint16_t appId) {
        Text reader(card->ReaderName());
        return auth->Init(reader.value, appId);
    }
    // The card's challenge; checks its Base64 form on the way.
    std::vector<std::uint8_t> Challenge() {
        BSTR text = nullptr;
        EXPECT_EQ(auth->GetChallenge(&text), S_OK);
        const std::u16string challenge(text, SysStringLen(text));
        SysFreeString(text);
        EXPECT_EQ(challenge.size(), 12u);
        EXPECT_EQ(challenge.back(), u'=');
        const Orvel::ByteArray bytes = Orvel::FromBase64(challenge);
        return {bytes.begin(), bytes.end()};
    }
    HRESULT Respond(std::uint32_t role, const std::vector<std::uint8_t>& response) {
        Text text(Narrow(Orvel::ToBase64(response)));
        return auth->ExternalAuthenticate(role, text.value);
    }
    // Rewrites the first bytes of a file with what they hold, on the object's card handle:
    // succeeds only while a role that may update the file is granted on that handle.
    void RewriteFileStart(std::uint16_t appId, std::uint16_t fileId) {
        carvix::com::impd* handle = nullptr;
        ASSERT_EQ(auth->GetConnection(&handle), S_OK);
        ASSERT_NE(handle, nullptr);
        SmartCardIO::CardConnection connection(
            static_cast<SCARDHANDLE>(reinterpret_cast<std::uintptr_t>(handle)),
            Orvel::PCSC::kShareShared, Orvel::PCSC::kProtocolT0OrT1);
        SmartCardIO::TransactionGuard guard(connection);
        const AppletCommandSet& commands = AppletCommandSet::For(appId);
        commands.SelectApplet(guard);
        (void)commands.SelectFile(guard, fileId);
        const Orvel::ByteArray start = commands.ReadBinary(guard, 0, 4);
        commands.WriteFile(guard, fileId, start);
    }
    std::uint16_t RewriteStatusWord(std::uint16_t appId, std::uint16_t fileId) {
        try {
            RewriteFileStart(appId, fileId);
        } catch (const JavaCard::AppletException& e) {
            return e.StatusWord();
        } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
            ADD_FAILURE() << Narrow(e.Message()) << std::hex << e.Code();
            return 0;
        }
        return 0x9000;
    }
    bool Logged(const std::string& commandStart, const std::string& response) {
        for (const auto& e : card->ApduLog()) {
            if (e.command.starts_with(commandStart) && e.response == response) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<BenchCard> card;
    IAuthenticationService* auth = nullptr;
};

TEST_P(AuthOnBench, TheRightResponseGrantsTheRoleOnTheObjectsHandleUntilLogout) {
    ASSERT_EQ(Init(1), S_OK);
    std::uint16_t appId = 0;
    EXPECT_EQ(auth->GetAppID(&appId), S_OK);
    EXPECT_EQ(appId, 1);
    EXPECT_EQ(RewriteStatusWord(1, 0x0D03), 0x6982);

    const auto challenge = Challenge();
    const auto response = carvix::bench::AuthResponse(kVlRole1Key, challenge);
    EXPECT_EQ(Respond(1, response), S_OK);
    EXPECT_TRUE(Logged("0082008110" + carvix::bench::Hex(response), "9000"));
    EXPECT_EQ(RewriteStatusWord(1, 0x0D03), 0x9000);

    EXPECT_EQ(auth->Logout(1), S_OK);
    EXPECT_TRUE(Logged("B0220002", "9000"));
    EXPECT_EQ(RewriteStatusWord(1, 0x0D03), 0x6982);
}

TEST_P(AuthOnBench, WrongResponsesAndUnknownRolesGiveTheStatusWord) {
    ASSERT_EQ(Init(1), S_OK);
    auto challenge = Challenge();
    // Another role's key: the card refuses with 6300.
    EXPECT_EQ(
        static_cast<std::uint32_t>(Respond(1, carvix::bench::AuthResponse(kVlRole3Key, challenge))),
        0x80046300u);
    // The challenge is spent: even the right response is refused now.
    EXPECT_EQ(
        static_cast<std::uint32_t>(Respond(1, carvix::bench::AuthResponse(kVlRole1Key, challenge))),
        0x80046300u);
    challenge = Challenge();
    EXPECT_EQ(
        static_cast<std::uint32_t>(Respond(5, carvix::bench::AuthResponse(kVlRole1Key, challenge))),
        0x80046A88u);
    EXPECT_EQ(RewriteStatusWord(1, 0x0D03), 0x6982);
}

// The back-end is a command, as in the client: carvix-vcard respond (challenge and response
// in Base64).
TEST_P(AuthOnBench, AResponseFromTheBackEndCommandAuthenticatesTheZkApplication) {
    ASSERT_EQ(Init(5), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(auth->GetChallenge(&text), S_OK);
    const std::string challenge = Orvel::Utf16ToUtf8(std::u16string(text, SysStringLen(text)));
    SysFreeString(text);

    const std::string command = carvix::bench::VcardBinary().string() + " respond --key " +
                                kZkRole2Key + " --base64 --challenge " + challenge;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe.get()), nullptr);
    std::string response(line);
    while (!response.empty() && (response.back() == '\n' || response.back() == '\r')) {
        response.pop_back();
    }
    Text responseText(response);
    EXPECT_EQ(auth->ExternalAuthenticate(2, responseText.value), S_OK);
    EXPECT_EQ(RewriteStatusWord(5, 0x0E02), 0x9000);
    EXPECT_EQ(auth->Logout(2), S_OK);
}

// Another client's reset costs the granted role, as any reset does, but not the object: its
// next call acknowledges the reset on its handle and runs, and a fresh authentication grants
// the role again.
TEST_P(AuthOnBench, AnotherClientsResetWithdrawsTheRoleButNotTheObject) {
    ASSERT_EQ(Init(1), S_OK);
    ASSERT_EQ(Respond(1, carvix::bench::AuthResponse(kVlRole1Key, Challenge())), S_OK);
    {
        carvix::bench::PcscCard other(card->ReaderName());
        other.Reconnect(SCARD_RESET_CARD);
    }
    const auto challenge = Challenge();
    EXPECT_EQ(RewriteStatusWord(1, 0x0D03), 0x6982);
    ASSERT_EQ(Respond(1, carvix::bench::AuthResponse(kVlRole1Key, challenge)), S_OK);
    EXPECT_EQ(RewriteStatusWord(1, 0x0D03), 0x9000);
    EXPECT_EQ(auth->Logout(1), S_OK);
}

TEST_P(AuthOnBench, APulledCardIsAFailureAndTheObjectStillClosesCleanly) {
    ASSERT_EQ(Init(1), S_OK);
    card->Remove();
    BSTR text = nullptr;
    const auto hr = static_cast<std::uint32_t>(auth->GetChallenge(&text));
    EXPECT_EQ(hr & 0xFFFF0000u, 0x80100000u) << std::hex << hr;
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(auth->Logout(1)) & 0xFFFF0000u, 0x80100000u);
    card->Insert();
}

INSTANTIATE_TEST_SUITE_P(SampleCards, AuthOnBench,
                         ::testing::Values("sample-t0.json", "sample-t1.json"));

}  // namespace
