// DocAdminService against the bench's sample cards when things go wrong: bad arguments,
// changed blocks, applet status words, a card leaving the reader, the wrong application, and
// that nothing of one call is kept for the next.
#include "bench_card.h"
#include "carvix/automation/oleauto.h"
#include "carvix/com/notifier.h"
#include "docadmin/docadmin_service.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using carvix::bench::BenchCard;
using carvix::com::DocAdminService;

std::filesystem::path Image(const std::string& card) {
    return std::filesystem::path(CARVIX_SAMPLE_CARDS) / (card + "-t1.json");
}

// A private copy of an image with the last data byte of one file changed.
std::filesystem::path TamperedCopy(const std::string& card, const std::string& id) {
    std::ifstream in(Image(card));
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    const std::size_t entry = json.find("\"id\": \"" + id + "\"");
    const std::size_t begin = json.rfind('{', entry);
    const std::size_t close = json.find('}', entry);
    const std::size_t data = json.find("\"data\": \"", begin);
    if (entry == std::string::npos || data == std::string::npos || data > close) {
        throw std::runtime_error("file " + id + " not found in " + card);
    }
    char& last = json[json.find('"', data + 9) - 1];
    last = last == '7' ? '6' : '7';
    const auto target = std::filesystem::temp_directory_path() /
                        ("carvix-docadmin-tampered-" + std::to_string(::getpid()) + ".json");
    std::ofstream(target) << json;
    return target;
}

// An out-pointer for any of the read methods: each names its own block interface.
struct AnyOut {
    IDispatch* p = nullptr;
    template <class I>
    operator I**() {
        return reinterpret_cast<I**>(&p);
    }
};

struct Notice {
    std::u16string caption;
    std::u16string text;
    std::uint32_t style;
};
std::vector<Notice>* gNotices = nullptr;

void Record(const char16_t* caption, const char16_t* text, std::uint32_t style) {
    gNotices->push_back({caption, text, style});
}

class DocAdminOnBench : public ::testing::Test {
  protected:
    void SetUp() override {
        void* p = nullptr;
        ASSERT_EQ(
            carvix::com::Create<DocAdminService>(nullptr, carvix::com::kIidIDocAdminService, &p),
            S_OK);
        service = static_cast<carvix::com::IDocAdminService*>(p);
        gNotices = &notices;
        previous = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
    }
    void TearDown() override {
        carvix::com::SetNotifier(previous);
        gNotices = nullptr;
        service->Release();
        SysFreeString(name);
    }
    BSTR Reader(const BenchCard& card) {
        SysFreeString(name);
        const std::string& r = card.ReaderName();
        name = SysAllocStringLen(nullptr, static_cast<std::uint32_t>(r.size()));
        for (std::size_t i = 0; i < r.size(); ++i) {
            name[i] = static_cast<char16_t>(r[i]);  // bench reader names are ASCII
        }
        return name;
    }
    // ReadVLFixedPersoData (or ReadZKDocumentData for application 5); no object on failure.
    HRESULT Read(const BenchCard& card, std::uint16_t appId) {
        AnyOut block{reinterpret_cast<IDispatch*>(1)};
        const HRESULT hr = appId == 5 ? service->ReadZKDocumentData(Reader(card), appId, block)
                                      : service->ReadVLFixedPersoData(Reader(card), appId, block);
        if (FAILED(hr)) {
            EXPECT_EQ(block.p, nullptr);
        } else if (block.p != nullptr) {
            block.p->Release();
        }
        return hr;
    }

    carvix::com::IDocAdminService* service = nullptr;
    carvix::com::NotifierFn previous = nullptr;
    std::vector<Notice> notices;
    BSTR name = nullptr;
};

TEST_F(DocAdminOnBench, AnEmptyReaderNameNeverReachesPcsc) {
    BenchCard card(Image("vl-full"));
    card.ClearApduLog();
    AnyOut block;
    BSTR empty = SysAllocString(u"");
    EXPECT_EQ(service->ReadVLDocumentData(empty, 1, block), E_INVALIDARG);
    EXPECT_EQ(service->ReadVLDocumentData(nullptr, 1, block), E_INVALIDARG);
    SysFreeString(empty);
    EXPECT_TRUE(card.ApduLog().empty());
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdminOnBench, AChangedBlockIsShownWithItsMessageAndGivesNoObject) {
    const auto copy = TamperedCopy("vl-full", "0D02");
    BenchCard card(copy);
    std::filesystem::remove(copy);
    EXPECT_EQ(Read(card, 1), E_FAIL);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].caption, u"Tessaro");
    EXPECT_EQ(notices[0].text,
              u"Hash of block with ID 0xD02 does not match the hash in corresponding SOD block");
    EXPECT_EQ(notices[0].style, 0x30u);
}

TEST_F(DocAdminOnBench, AnAppletStatusWordComesBackAs8007WithoutANotice) {
    BenchCard card(Image("vl-full"));
    card.Control("fault sw:6982@1");  // selecting the applet while opening
    EXPECT_EQ(static_cast<std::uint32_t>(Read(card, 1)), 0x80076982u);
    // T=1: four commands read block 0x0D00; the sixth selects the block's file.
    card.Control("fault sw:6A82@6");
    EXPECT_EQ(static_cast<std::uint32_t>(Read(card, 1)), 0x80076A82u);
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdminOnBench, ACardThatLeavesTheReaderGivesThePcscCode) {
    BenchCard card(Image("vl-full"));
    card.Control("fault remove@6");
    // The link drops while the block is read: a failure, never an object or a notice.
    EXPECT_TRUE(FAILED(Read(card, 1)));
    card.Remove();
    EXPECT_EQ(static_cast<std::uint32_t>(Read(card, 1)), 0x8010000Cu);  // SCARD_E_NO_SMARTCARD
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdminOnBench, TheWrongApplicationFailsWhileOpening) {
    BenchCard card(Image("vl-full"));
    EXPECT_EQ(static_cast<std::uint32_t>(Read(card, 5)), 0x80076A82u);  // no ZK applet
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(Read(card, 2), E_FAIL);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, u"Read document has ID 1, but ID 2 was requested.");
    card.ClearApduLog();
    EXPECT_EQ(Read(card, 7), E_FAIL);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].text, u"Number 7 is not valid value for card ID");
    EXPECT_TRUE(card.ApduLog().empty()) << "an unknown application ID never reaches the card";
}

TEST_F(DocAdminOnBench, AScriptGetsTheCardsMessageInExcepInfoAndTheNoticeStays) {
    BenchCard card(Image("vl-full"));
    // ReadVLFixedPersoData(reader, appId) by dispatch: arguments last first.
    auto invokeRead = [&](std::int32_t appId, EXCEPINFO& info) {
        VARIANT args[2];
        VariantInit(&args[0]);
        VariantInit(&args[1]);
        args[0].vt = VT_I4;
        args[0].lVal = appId;
        args[1].vt = VT_BSTR;
        args[1].bstrVal = Reader(card);
        DISPPARAMS params{args, nullptr, 2, 0};
        info = EXCEPINFO{};
        return service->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
    };
    auto text = [](BSTR b) {
        return b == nullptr ? std::u16string(u"<null>") : std::u16string(b, SysStringLen(b));
    };
    EXCEPINFO info{};
    ASSERT_EQ(invokeRead(2, info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_FAIL);
    EXPECT_EQ(text(info.bstrDescription), u"Read document has ID 1, but ID 2 was requested.");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, u"Read document has ID 1, but ID 2 was requested.");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);

    // A status word has no text of its own: clients explain the code.
    ASSERT_EQ(invokeRead(5, info), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x80076A82u);
    EXPECT_EQ(info.bstrDescription, nullptr);
    SysFreeString(info.bstrSource);
    EXPECT_EQ(notices.size(), 1u);
}

TEST_F(DocAdminOnBench, EveryCallReadsTheCardAgain) {
    BenchCard card(Image("zk-full"));
    card.ClearApduLog();
    const HRESULT first = Read(card, 5);
    const std::size_t once = card.ApduLog().size();
    EXPECT_GE(once, 8u) << "the card document block and the block itself";
    card.ClearApduLog();
    EXPECT_EQ(Read(card, 5), first);
    EXPECT_EQ(card.ApduLog().size(), once);
}

}  // namespace
