// Writing needs a role: UPDATE BINARY is refused until a correct response to a fresh
// challenge grants one, and the granted state lasts exactly as long as it should.
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bench_card.h"
#include "pcsc_client.h"

namespace carvix::bench {
namespace {

const std::string kSelectVl = "00A404000DF3810000025345525158564C01";
const std::string kSelectZk = "00A404000DF38100000253455251585A4B01";
const std::vector<std::uint8_t> kRole1Key = Unhex("000102030405060708090A0B0C0D0E0F");
const std::vector<std::uint8_t> kRole3Key = Unhex("404142434445464748494A4B4C4D4E4F");

std::string FileData(const std::filesystem::path& image, std::size_t app, const std::string& id) {
    std::ifstream in(image);
    const auto doc = nlohmann::json::parse(in);
    for (const auto& f : doc["applications"][app]["files"]) {
        if (f["id"] == id) {
            return f["data"].get<std::string>();
        }
    }
    return "?";
}

// A T=0 client with the VL application and one of its files selected.
class VlSession {
  public:
    explicit VlSession(const std::string& reader) : pcsc(reader) { SelectVl(); }
    void SelectVl() {
        EXPECT_EQ(pcsc.Send(kSelectVl), "6111");
        pcsc.Send("00C0000011");
    }
    void SelectFile(const std::string& fid) {
        EXPECT_EQ(pcsc.Send("00A4000002" + fid), "610A");
        pcsc.Send("00C000000A");
    }
    std::vector<std::uint8_t> Challenge() {
        const auto r = pcsc.Transmit(Unhex("0084000008"));
        EXPECT_EQ(r.size(), 10u);
        return {r.begin(), r.begin() + 8};
    }
    std::string Authenticate(int role, const std::vector<std::uint8_t>& response) {
        char p2[3];
        std::snprintf(p2, sizeof p2, "%02X", 0x80 | role);
        return pcsc.Send("008200" + std::string(p2) + "10" + Hex(response));
    }
    PcscCard pcsc;
};

TEST(Authentication, UpdateRefusedWithoutRoleAndAcceptedAfterChallengeResponse) {
    BenchCard card(SampleCard("sample-t0.json"));
    VlSession s(card.ReaderName());
    s.SelectFile("0D03");
    card.ClearApduLog();
    EXPECT_EQ(s.pcsc.Send("00D6000004030D0400"), "6982");

    const auto challenge = s.Challenge();
    const auto response = AuthResponse(kRole1Key, challenge);
    EXPECT_EQ(s.Authenticate(1, response), "9000");
    EXPECT_EQ(s.pcsc.Send("00D6000004030D0400"), "9000");
    EXPECT_EQ(s.pcsc.Send("00B0000004"), "030D04009000");

    const auto log = card.ApduLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0], (ApduExchange{"00D6000004030D0400", "6982"}));
    EXPECT_EQ(log[1].command, "0084000008");
    EXPECT_EQ(log[1].response, Hex(challenge) + "9000");
    EXPECT_EQ(log[2], (ApduExchange{"0082008110" + Hex(response), "9000"}));
    EXPECT_EQ(log[3], (ApduExchange{"00D6000004030D0400", "9000"}));

    // The write reached the private image, not the sample.
    EXPECT_EQ(FileData(card.ImagePath(), 0, "0D03").substr(0, 8), "030D0400");
    EXPECT_EQ(FileData(SampleCard("sample-t0.json"), 0, "0D03").substr(0, 8), "030D2200");
}

TEST(Authentication, WrittenBytesSurviveARestartOfTheCard) {
    std::filesystem::path saved = std::filesystem::temp_directory_path() /
                                  ("carvix-written-" + std::to_string(::getpid()) + ".json");
    {
        BenchCard card(SampleCard("sample-t1.json"));
        PcscCard pcsc(card.ReaderName());
        pcsc.Send(kSelectVl + "00");
        pcsc.Send("00A40000020D0300");
        const auto c = pcsc.Transmit(Unhex("0084000008"));
        const auto r = AuthResponse(kRole1Key, {c.begin(), c.begin() + 8});
        ASSERT_EQ(pcsc.Send("0082008110" + Hex(r)), "9000");
        ASSERT_EQ(pcsc.Send("00D601F002CAFE"), "9000");  // near the end of the 512 bytes
        std::filesystem::copy_file(card.ImagePath(), saved);
    }
    BenchCard again(saved);
    PcscCard pcsc(again.ReaderName());
    pcsc.Send(kSelectVl + "00");
    pcsc.Send("00A40000020D0300");
    EXPECT_EQ(pcsc.Send("00B001EE04"), "0000CAFE9000");
    std::filesystem::remove(saved);
}

TEST(Authentication, WrongResponseAndReusedChallengeAreRefused) {
    BenchCard card(SampleCard("sample-t0.json"));
    VlSession s(card.ReaderName());
    s.SelectFile("0D03");
    auto challenge = s.Challenge();
    auto wrong = AuthResponse(kRole3Key, challenge);  // another role's key
    EXPECT_EQ(s.Authenticate(1, wrong), "6300");
    // A challenge is good for one attempt, even when the next one would be right.
    EXPECT_EQ(s.Authenticate(1, AuthResponse(kRole1Key, challenge)), "6300");
    EXPECT_EQ(s.pcsc.Send("00D6000001AA"), "6982");
    // A role the application does not have.
    s.Challenge();
    EXPECT_EQ(s.Authenticate(5, wrong), "6A88");
}

TEST(Authentication, RoleWritesOnlyItsFilesAndLogoutWithdrawsIt) {
    BenchCard card(SampleCard("sample-t0.json"));
    VlSession s(card.ReaderName());
    ASSERT_EQ(s.Authenticate(1, AuthResponse(kRole1Key, s.Challenge())), "9000");
    s.SelectFile("0D05");  // role 3's file
    EXPECT_EQ(s.pcsc.Send("00D6000001AA"), "6982");
    s.SelectFile("0D06");
    EXPECT_EQ(s.pcsc.Send("00D6000001AA"), "9000");
    EXPECT_EQ(s.pcsc.Send("B0220008"), "9000");  // role 3's bit: role 1 stays
    EXPECT_EQ(s.pcsc.Send("00D6000001BB"), "9000");
    EXPECT_EQ(s.pcsc.Send("B0220002"), "9000");
    EXPECT_EQ(s.pcsc.Send("00D6000001CC"), "6982");
}

TEST(Authentication, StatusSurvivesReselectButNotOtherApplicationOrReset) {
    BenchCard card(SampleCard("sample-t0.json"));
    VlSession s(card.ReaderName());
    ASSERT_EQ(s.Authenticate(1, AuthResponse(kRole1Key, s.Challenge())), "9000");
    s.SelectVl();
    s.SelectFile("0D03");
    EXPECT_EQ(s.pcsc.Send("00D6000001AA"), "9000");

    EXPECT_EQ(s.pcsc.Send(kSelectZk), "6111");
    s.SelectVl();
    s.SelectFile("0D03");
    EXPECT_EQ(s.pcsc.Send("00D6000001AA"), "6982");

    ASSERT_EQ(s.Authenticate(1, AuthResponse(kRole1Key, s.Challenge())), "9000");
    s.pcsc.Reconnect(SCARD_RESET_CARD);
    s.SelectVl();
    s.SelectFile("0D03");
    EXPECT_EQ(s.pcsc.Send("00D6000001AA"), "6982");
}

TEST(Authentication, RespondCommandMatchesTheCardsRule) {
    const std::string cmd = VcardBinary().string() +
                            " respond --key 000102030405060708090A0B0C0D0E0F"
                            " --challenge 0102030405060708";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[128] = {};
    ASSERT_NE(std::fgets(buf, sizeof buf, p), nullptr);
    ::pclose(p);
    EXPECT_EQ(std::string(buf), Hex(AuthResponse(kRole1Key, Unhex("0102030405060708"))) + "\n");

    BenchCard card(SampleCard("sample-t0.json"));
    VlSession s(card.ReaderName());
    const auto c = s.Challenge();
    const std::string withCli = VcardBinary().string() +
                                " respond --key 000102030405060708090A0B0C0D0E0F --challenge " +
                                Hex(c);
    p = ::popen(withCli.c_str(), "r");
    ASSERT_NE(p, nullptr);
    ASSERT_NE(std::fgets(buf, sizeof buf, p), nullptr);
    ::pclose(p);
    EXPECT_EQ(s.pcsc.Send("0082008110" + std::string(buf, 32)), "9000");
}

}  // namespace
}  // namespace carvix::bench
