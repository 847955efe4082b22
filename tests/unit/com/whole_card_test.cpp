// A whole application read on one applet over the scripted card channel: the sample cards'
// files, each read exactly once, inside one card transaction; a block that fails alone.
#include "card_script.h"
#include "carvix/automation/oleauto.h"
#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/com/notifier.h"
#include "carvix/com/signer_trust_service.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/pcsc_constants.h"
#include "wholecard/read_application.h"
#include "wholecard/whole_card_service.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace cardtest;
using carvix::com::ApplicationBlock;
using carvix::com::BlocksOfApplication;
using carvix::com::IWholeCardService;
using carvix::com::ReadApplicationBlocks;
using carvix::test::CardScript;

constexpr std::uint32_t kRemoved = 0x80100069u;  // SCARD_W_REMOVED_CARD

// A sample card as carvix-perso made it: the application's AID and each file's block bytes
// (header and body) and allocated size.
struct SampleCard {
    ByteArray aid;
    std::map<std::uint16_t, ByteArray> blocks;
    std::map<std::uint16_t, std::size_t> sizes;
};

SampleCard LoadSample(const std::string& name) {
    std::ifstream in(std::string(CARVIX_SAMPLE_CARDS) + "/" + name);
    const nlohmann::json image = nlohmann::json::parse(in);
    const nlohmann::json& app = image.at("applications").at(0);
    SampleCard card;
    card.aid = carvix::test::FromHex(app.at("aid").get<std::string>());
    for (const nlohmann::json& file : app.at("files")) {
        const auto id =
            static_cast<std::uint16_t>(std::stoul(file.at("id").get<std::string>(), nullptr, 16));
        ByteArray data = carvix::test::FromHex(file.at("data").get<std::string>());
        const std::size_t length = data.at(2) | data.at(3) << 8;
        data.resize(length + 4);
        card.blocks[id] = data;
        card.sizes[id] = file.at("size").get<std::size_t>();
    }
    return card;
}

struct Notice {
    std::u16string text;
};
std::vector<Notice>* gNotices = nullptr;
void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    gNotices->push_back({text});
}

class WholeCard : public ::testing::Test {
  protected:
    void SetUp() override {
        gNotices = &notices_;
        previous_ = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
    }
    void TearDown() override {
        carvix::com::SetNotifier(previous_);
        gNotices = nullptr;
    }

    // Scripts the reads of `order` (each file once, as the card holds it) and counts their
    // commands.
    std::size_t Expect(const SampleCard& card, std::initializer_list<std::uint16_t> order) {
        const std::size_t before = expected_;
        for (const std::uint16_t id : order) {
            const ByteArray& block = card.blocks.at(id);
            ExpectRead(script_, card.aid, id, block, card.sizes.at(id));
            expected_ += 3 + (block.size() + 127) / 128;
        }
        return expected_ - before;
    }

    std::vector<ApplicationBlock> ReadAll(std::uint16_t appId) {
        std::unique_ptr<CardApplet> applet =
            CardApplet::Open(std::make_unique<SmartCardIO::CardConnection>(script_.Channel()),
                             appId, CardApplet::Hold::UntilClose);
        std::vector<ApplicationBlock> blocks =
            ReadApplicationBlocks(*applet, BlocksOfApplication(appId));
        CardApplet::Close(std::move(applet));
        return blocks;
    }

    // Whether every command went out while the card was held by one and the same
    // transaction (no end of the outermost one between the first and the last command).
    bool OneTransaction() const {
        int depth = 0;
        int heldSpans = 0;
        bool inSpan = false;
        for (const std::string& event : script_.Events()) {
            if (event == "begin" && depth++ == 0) {
                inSpan = false;
            } else if (event == "end" && depth > 0) {
                --depth;
            } else if (event.rfind("transmit", 0) == 0 && !inSpan) {
                if (depth == 0) {
                    return false;
                }
                inSpan = true;
                ++heldSpans;
            }
        }
        return heldSpans == 1;
    }

    CardScript script_{Orvel::PCSC::kProtocolT1};
    std::size_t expected_ = 0;
    std::vector<Notice> notices_;
    carvix::com::NotifierFn previous_ = nullptr;
};

TEST_F(WholeCard, AVlCardIsEveryFileReadOnceInOneTransaction) {
    const SampleCard card = LoadSample("vl-full-t1.json");
    // The document check, then each block and, before its first block is verified, its SOD.
    Expect(card, {0x0D00, 0x0D01, 0x0D05, 0x0D02, 0x0D04, 0x0D03, 0x0D06});
    const std::vector<ApplicationBlock> blocks = ReadAll(1);

    ASSERT_EQ(blocks.size(), 4u);
    const std::uint16_t tags[] = {0x0D01, 0x0D02, 0x0D04, 0x0D03};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].result, S_OK) << i;
        EXPECT_EQ(blocks[i].model->Tag(), tags[i]);
        ASSERT_NE(blocks[i].signer, nullptr) << "every VL block is covered by a SOD";
        EXPECT_FALSE(blocks[i].signer->certificate.empty());
    }
    EXPECT_EQ(script_.Sent().size(), expected_);
    EXPECT_TRUE(OneTransaction());
    EXPECT_TRUE(notices_.empty());
}

TEST_F(WholeCard, AZkCardReadsItsThreeSodsOnce) {
    const SampleCard card = LoadSample("zk-full-t1.json");
    Expect(card, {0x0D00, 0x0D01, 0x0D05, 0x0E01, 0x0D02, 0x0E02, 0x0D09, 0x0D03, 0x0D06});
    const std::vector<ApplicationBlock> blocks = ReadAll(5);

    ASSERT_EQ(blocks.size(), 5u);
    for (const ApplicationBlock& block : blocks) {
        EXPECT_EQ(block.result, S_OK) << std::hex << block.model->Tag();
    }
    EXPECT_EQ(script_.Sent().size(), expected_);
    EXPECT_TRUE(OneTransaction());
}

TEST_F(WholeCard, ADamagedBlockFailsAloneAndItsSodIsNotReadAgain) {
    SampleCard card = LoadSample("vl-full-t1.json");
    card.blocks[0x0D02].back() ^= 0x01;  // the hash in the SOD no longer matches
    Expect(card, {0x0D00, 0x0D01, 0x0D05, 0x0D02, 0x0D04, 0x0D03, 0x0D06});
    const std::vector<ApplicationBlock> blocks = ReadAll(1);

    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].result, S_OK);
    EXPECT_EQ(blocks[1].result, E_FAIL);
    EXPECT_EQ(blocks[1].signer, nullptr) << "no signer for a block that did not verify";
    EXPECT_EQ(blocks[2].result, S_OK);
    EXPECT_EQ(blocks[3].result, S_OK);
    ASSERT_EQ(notices_.size(), 1u) << "the failure is shown once, as a read method shows it";
    EXPECT_NE(notices_[0].text.find(u"does not match"), std::u16string::npos);
    EXPECT_EQ(script_.Sent().size(), expected_);
}

TEST_F(WholeCard, ACardPulledOutMidwayFailsTheBlocksNotYetReadWithTheLinkCode) {
    const SampleCard card = LoadSample("vl-full-t1.json");
    Expect(card, {0x0D00, 0x0D01, 0x0D05, 0x0D02});
    // The photo's first command finds the card gone, and so does the next block's.
    script_.ApduFails(carvix::test::ToHex(SelectApplet(card.aid)), kRemoved);
    script_.ApduFails(carvix::test::ToHex(SelectApplet(card.aid)), kRemoved);
    const std::vector<ApplicationBlock> blocks = ReadAll(1);

    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].result, S_OK);
    EXPECT_EQ(blocks[1].result, S_OK);
    EXPECT_EQ(blocks[2].result, static_cast<HRESULT>(kRemoved));
    EXPECT_EQ(blocks[3].result, static_cast<HRESULT>(kRemoved));
    EXPECT_TRUE(notices_.empty()) << "a coded failure shows no notice";
}

TEST(WholeCardService, BadArgumentsAreRefusedBeforeAnythingIsOpenedAndLeaveTheResult) {
    IWholeCardService* service = nullptr;
    ASSERT_EQ(carvix::com::Create<carvix::com::WholeCardService>(
                  nullptr, carvix::com::kIidIWholeCardService, reinterpret_cast<void**>(&service)),
              S_OK);
    BSTR reader = SysAllocString(u"No Such Reader 00 00");
    BSTR empty = SysAllocString(u"");
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_I4;
    result.lVal = 7;
    for (const std::uint16_t app : {0, 6, 0xFFFF}) {
        EXPECT_EQ(service->ReadApplication(reader, app, &result), E_INVALIDARG) << app;
    }
    EXPECT_EQ(service->ReadApplication(empty, 1, &result), E_INVALIDARG);
    EXPECT_EQ(service->ReadApplication(nullptr, 1, &result), E_INVALIDARG);
    EXPECT_EQ(service->ReadApplication(reader, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);
    SysFreeString(reader);
    SysFreeString(empty);
    service->Release();
}

TEST(WholeCardBlocks, OnlyTheVlAndZkApplicationsHaveBlocks) {
    EXPECT_EQ(BlocksOfApplication(1).size(), 4u);
    EXPECT_EQ(BlocksOfApplication(4).size(), 4u);
    EXPECT_EQ(BlocksOfApplication(5).size(), 5u);
    EXPECT_TRUE(BlocksOfApplication(0).empty());
    EXPECT_TRUE(BlocksOfApplication(6).empty());
}

}  // namespace
