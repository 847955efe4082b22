// The client's checks around `pki keygen` on a private SoftHSM2 token: what is refused before
// anything is generated, and what the user is told about the pair afterwards; and the checks
// of a --pin-file.
#include "pki_keygen.h"
#include "terminal_pin.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/pki/key_container.h"

#include "test_token.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace carvix::cli {
namespace {

constexpr std::uint16_t kSign = 2;
constexpr std::uint16_t kExchange = 1;
const std::u16string kAlice = u"\\\\.\\Card A\\alice";

// The client answers the module's PIN question through the runtime's hook.
std::int32_t AnswerPin(void*, const char16_t*, std::int32_t, std::uint32_t, char* pin,
                       std::uint32_t capacity, std::uint32_t* length) {
    if (capacity < 4) {
        return 0;
    }
    std::memcpy(pin, "1234", 4);
    *length = 4;
    return 1;
}

class KeygenChecks : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_.AddToken("Card A");
        CarvixSetPinPromptWithState(&AnswerPin, nullptr);
    }
    void TearDown() override { CarvixSetPinPromptWithState(nullptr, nullptr); }

    static PkiOptions Options(unsigned bits = 0, bool replace = false) {
        PkiOptions o;
        o.action = "keygen";
        o.reader = "Card A";
        o.container = "alice";
        o.bits = bits;
        o.replace = replace;
        return o;
    }
    std::optional<KeygenTarget> Check(const PkiOptions& o, std::uint16_t keySpec,
                                      const std::u16string& name = kAlice) {
        err_.str({});
        status_ = 0;
        return CheckKeygen(o, keySpec, name, err_, status_);
    }
    static void Generate(std::uint16_t keySpec) {
        auto container = pki::KeyContainer::Acquire(kAlice, 0, true);
        container.GenerateKeyPair(keySpec, 2048u << 16);
    }

    testpki::TestTokens tokens_;
    std::ostringstream err_;
    int status_ = 0;
};

TEST_F(KeygenChecks, ShortKeysAndUnknownTokensAreRefusedWithTheirReason) {
    EXPECT_FALSE(Check(Options(1024), kSign));
    EXPECT_EQ(status_, 2);
    EXPECT_NE(err_.str().find("2048"), std::string::npos) << err_.str();

    PkiOptions elsewhere = Options();
    elsewhere.reader = "Card B";
    EXPECT_FALSE(Check(elsewhere, kSign, u"\\\\.\\Card B\\alice"));
    EXPECT_EQ(status_, 1);
    EXPECT_NE(err_.str().find("no token named Card B"), std::string::npos) << err_.str();

    // The default and longer lengths go ahead on a container without a pair.
    const auto target = Check(Options(), kSign);
    ASSERT_TRUE(target) << err_.str();
    EXPECT_EQ(target->token, "Card A");
    EXPECT_EQ(target->container, "alice");
    EXPECT_TRUE(Check(Options(4096), kSign));
}

TEST_F(KeygenChecks, AnExistingPairIsReplacedOnlyOnRequest) {
    Generate(kSign);
    EXPECT_FALSE(Check(Options(), kSign));
    EXPECT_EQ(status_, 1);
    EXPECT_NE(err_.str().find("\"alice\""), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("--replace"), std::string::npos) << err_.str();
    EXPECT_TRUE(Check(Options(0, true), kSign)) << err_.str();
    // The other usage of the same container is still free, then taken as well.
    EXPECT_TRUE(Check(Options(), kExchange)) << err_.str();
    Generate(kExchange);
    EXPECT_FALSE(Check(Options(), kExchange));
    EXPECT_FALSE(Check(Options(), kSign));
}

TEST_F(KeygenChecks, TheReportNamesThePairNowInTheContainer) {
    Generate(kSign);
    Generate(kExchange);
    const KeygenTarget target{"Card A", "alice"};
    std::ostringstream sign;
    std::ostringstream exchange;
    ReportKeygen(kSign, kAlice, target, sign);
    ReportKeygen(kExchange, kAlice, target, exchange);
    const std::regex id("ID: +([0-9a-f]{40})\n");
    std::smatch signId;
    std::smatch exchangeId;
    const std::string signText = sign.str();
    const std::string exchangeText = exchange.str();
    ASSERT_TRUE(std::regex_search(signText, signId, id)) << signText;
    ASSERT_TRUE(std::regex_search(exchangeText, exchangeId, id)) << exchangeText;
    EXPECT_NE(signId[1].str(), exchangeId[1].str());
    for (const std::string& text : {signText, exchangeText}) {
        EXPECT_NE(text.find("token:     Card A\n"), std::string::npos) << text;
        EXPECT_NE(text.find("container: alice\n"), std::string::npos) << text;
        EXPECT_NE(text.find("size:      2048 bits\n"), std::string::npos) << text;
    }
    EXPECT_NE(signText.find("usage:     sign\n"), std::string::npos);
    EXPECT_NE(exchangeText.find("usage:     exchange\n"), std::string::npos);
}

}  // namespace
}  // namespace carvix::cli

namespace carvix::cli {
namespace {

// The PIN file is checked before a command starts, and a file nobody asked for is mentioned.
TEST(PinFile, AnUnreadableOrEmptyFileStopsTheCommandAndAnUnusedOneIsMentioned) {
    testpki::TempFolder folder;
    const std::string missing = (folder.Path() / "missing").string();
    const std::string empty = (folder.Path() / "empty").string();
    const std::string good = (folder.Path() / "pin").string();
    std::ofstream(empty) << "\n1234\n";
    std::ofstream(good) << "1234\n";

    std::ostringstream err;
    EXPECT_FALSE(TerminalPin(missing).CheckFile(err));
    EXPECT_NE(err.str().find("cannot read the PIN file " + missing), std::string::npos);
    err.str({});
    EXPECT_FALSE(TerminalPin(empty).CheckFile(err));
    EXPECT_NE(err.str().find("no PIN on its first line"), std::string::npos) << err.str();
    err.str({});
    EXPECT_TRUE(TerminalPin(good).CheckFile(err));
    EXPECT_TRUE(TerminalPin("").CheckFile(err));
    EXPECT_EQ(err.str(), "");

    TerminalPin unused(good);
    unused.ReportUnused(err);
    EXPECT_NE(err.str().find("was not used"), std::string::npos);

    // Once the PIN was asked for, nothing is said.
    err.str({});
    TerminalPin used(good);
    used.Install();
    char pin[16];
    std::uint32_t length = 0;
    ASSERT_EQ(CarvixAskPinWithState(u"Card A", -1, 0, pin, sizeof pin, &length), 1);
    EXPECT_EQ(std::string(pin, length), "1234");
    used.ReportUnused(err);
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace carvix::cli
