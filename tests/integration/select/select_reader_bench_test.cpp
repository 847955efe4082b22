// SelectReader against real PC/SC on a bench of two readers: which cards are offered, the
// single acceptable reader taken without asking, several offered in the resource manager's
// order, a card pulled out during its check, waiting for a card, and a cancel.
#include "bench_card.h"
#include "carvix/automation/host_hooks.h"
#include "carvix/automation/oleauto.h"
#include "smartcard/smartcard_service.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using carvix::bench::BenchCard;
namespace fs = std::filesystem;

fs::path Card(const std::string& name) {
    return fs::path(CARVIX_SAMPLE_CARDS) / name;
}

// A card that answers but carries neither application: the sample image without them.
fs::path CardWithNeither() {
    static const fs::path path = [] {
        nlohmann::json image;
        std::ifstream(carvix::bench::SampleCard("sample-t1.json")) >> image;
        image["applications"] = nlohmann::json::array();
        image["description"] = "a card without the VL and the ZK application";
        const fs::path out =
            fs::temp_directory_path() / ("carvix-neither-" + std::to_string(::getpid()) + ".json");
        std::ofstream(out) << image.dump(2);
        return out;
    }();
    return path;
}

std::string Utf8(const char16_t* text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(static_cast<char>(text[i]));  // bench names are ASCII
    }
    return out;
}

// The host: records the offers and answers as the test says.
struct Host {
    std::vector<std::vector<std::string>> offered;
    int waitQuestions = 0;
    std::int32_t answer = 1;
    std::uint32_t index = 0;
    std::function<bool()> onWait = [] { return false; };

    static std::int32_t Choose(void* context, const char16_t*, const CarvixReaderOffer* offers,
                               std::uint32_t count, std::uint32_t* chosen) {
        auto& self = *static_cast<Host*>(context);
        if (count == 0) {
            ++self.waitQuestions;
            return self.waitQuestions < 30 && self.onWait() ? 1 : 0;
        }
        std::vector<std::string> names;
        for (std::uint32_t i = 0; i < count; ++i) {
            names.push_back(
                Utf8(offers[i].reader, std::char_traits<char16_t>::length(offers[i].reader)));
        }
        self.offered.push_back(names);
        *chosen = self.index;
        return self.answer;
    }
};

class BenchSelect : public ::testing::Test {
  protected:
    void SetUp() override { CarvixSetReaderChooser(&Host::Choose, &host); }
    void TearDown() override { CarvixSetReaderChooser(nullptr, nullptr); }

    // The selected reader's name, or the HRESULT in hexadecimal.
    std::string Select() {
        void* p = nullptr;
        EXPECT_EQ(carvix::com::Create<carvix::com::SmartCardService>(
                      nullptr, carvix::com::ISmartCardService::kIid, &p),
                  S_OK);
        auto* service = static_cast<carvix::com::ISmartCardService*>(p);
        BSTR name = nullptr;
        const HRESULT hr = service->SelectReader(&name);
        service->Release();
        if (hr != S_OK) {
            EXPECT_EQ(name, nullptr) << "a failure leaves the out BSTR untouched";
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
            return text;
        }
        std::string out = Utf8(name, SysStringLen(name));
        SysFreeString(name);
        return out;
    }

    Host host;
};

TEST_F(BenchSelect, ACardWithOnlyTheZkApplicationIsTakenOneWithNeitherIsNot) {
    BenchCard neither(CardWithNeither());
    BenchCard zk(Card("zk-full-t1.json"));
    EXPECT_EQ(Select(), zk.ReaderName());
    EXPECT_TRUE(host.offered.empty()) << "one acceptable reader needs no question";
}

TEST_F(BenchSelect, SeveralAreOfferedInTheResourceManagersOrderAndTheChoiceIsReturned) {
    BenchCard vl(Card("vl-full-t0.json"));  // T=0
    BenchCard zk(Card("zk-full-t1.json"));  // T=1
    std::vector<std::string> expected;      // in the order the resource manager lists them
    for (const std::u16string& name : carvix::com::SystemReaderNames()) {
        const std::string reader = Utf8(name.data(), name.size());
        if (reader == vl.ReaderName() || reader == zk.ReaderName()) {
            expected.push_back(reader);
        }
    }
    ASSERT_EQ(expected.size(), 2u);
    host.index = 1;
    EXPECT_EQ(Select(), expected[1]);
    ASSERT_EQ(host.offered.size(), 1u);
    EXPECT_EQ(host.offered[0], expected);

    host.answer = 0;
    EXPECT_EQ(Select(), "0x800704C7");
}

TEST_F(BenchSelect, ACardPulledOutDuringItsCheckIsRejectedAndTheSearchGoesOn) {
    BenchCard pulled(Card("vl-full-t1.json"));
    BenchCard stays(Card("zk-full-t0.json"));
    pulled.Control("fault remove@1");
    EXPECT_EQ(Select(), stays.ReaderName());
    EXPECT_TRUE(host.offered.empty());
}

TEST_F(BenchSelect, WaitsUntilACardIsInserted) {
    BenchCard card(Card("vl-minimal-t1.json"));
    card.Remove();
    host.onWait = [&] {
        if (host.waitQuestions == 1) {
            card.Insert();
        }
        return true;
    };
    EXPECT_EQ(Select(), card.ReaderName());
    EXPECT_GE(host.waitQuestions, 1);

    // With nothing to wait for, the user's cancel ends it.
    card.Remove();
    host.waitQuestions = 0;
    host.onWait = [] { return false; };
    EXPECT_EQ(Select(), "0x800704C7");
    EXPECT_EQ(host.waitQuestions, 1);
    card.Insert();
}

}  // namespace
