// CARVIX.DocAdmin's write methods on the bench, T=0 and T=1: authenticated through
// CARVIX.Auth, each writable block is read, changed, written and read back, and every SOD of
// the card is then checked by the openssl command; without authentication, with a wrong
// response, or with an authentication object never initialised, the card stays as it was.
#include "bench_card.h"
#include "carvix/com/notifier.h"
#include "write_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <tuple>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;

std::mutex gNoticeMutex;
std::vector<std::u16string> gNotices;
void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    std::lock_guard lock(gNoticeMutex);
    gNotices.push_back(text == nullptr ? u"" : text);
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

using Param = std::tuple<const WritableBlock*, int>;

class WriteOnBench : public ::testing::TestWithParam<Param> {
  protected:
    void SetUp() override {
        gNotices.clear();
        previous_ = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
        card = std::make_unique<BenchCard>(SampleImage(Block().card, std::get<1>(GetParam())));
        service = NewDocAdmin();
        auth = NewAuth();
        ASSERT_NE(service, nullptr);
        ASSERT_NE(auth, nullptr);
    }
    void TearDown() override {
        auth.reset();
        service.reset();
        card.reset();
        carvix::com::SetNotifier(previous_);
    }
    const WritableBlock& Block() const { return *std::get<0>(GetParam()); }
    const std::string& Reader() const { return card->ReaderName(); }

    // The card's stored block and its SOD, from the image.
    std::vector<std::vector<std::uint8_t>> Stored() const {
        return {ImageFile(card->ImagePath(), Block().blockId),
                ImageFile(card->ImagePath(), Block().sodId)};
    }
    std::u16string Current() {
        const auto object = ReadBlock(*service, Block(), Reader());
        return object == nullptr ? u"<unreadable>" : GetText(*object, Block().property);
    }

    InstalledSigner signer;
    std::unique_ptr<BenchCard> card;
    Ref<IDocAdminService> service;
    Ref<IAuthenticationService> auth;

  private:
    carvix::com::NotifierFn previous_ = nullptr;
};

TEST_P(WriteOnBench, AnAuthenticatedWriteReadsBackAndEverySodVerifiesWithOpenssl) {
    ASSERT_EQ(Authenticate(*auth, Reader(), Block().appId, WriterKey()), S_OK);
    // With the signer named, and again with it left to the one certificate of "My".
    const std::u16string first = u"Written by name " + std::u16string(1, u'Ж');
    ASSERT_EQ(WriteText(*service, Block(), Reader(), auth.get(), first, signer.Base64()), S_OK);
    EXPECT_EQ(Current(), first);
    const std::u16string second = u"Written by the only candidate";
    ASSERT_EQ(WriteText(*service, Block(), Reader(), auth.get(), second), S_OK);
    EXPECT_EQ(Current(), second);
    EXPECT_TRUE(gNotices.empty()) << Narrow(gNotices.front());

    const std::string check = CheckSodsWithOpenssl(card->ImagePath());
    EXPECT_EQ(check, "") << check;
    // The rebuilt SOD carries the installed signer's certificate.
    const auto sod = ImageFile(card->ImagePath(), Block().sodId);
    EXPECT_NE(std::search(sod.begin(), sod.end(), signer.Der().begin(), signer.Der().end()),
              sod.end());
}

TEST_P(WriteOnBench, WithoutAuthenticationTheCardRefusesAndNothingChanges) {
    Bstr name(Reader());
    ASSERT_EQ(auth->Init(name.get(), Block().appId), S_OK);
    const auto before = Stored();
    const std::u16string old = Current();
    EXPECT_EQ(static_cast<std::uint32_t>(
                  WriteText(*service, Block(), Reader(), auth.get(), u"never written")),
              0x80076982u);
    EXPECT_TRUE(gNotices.empty()) << "a status word is a code, not a notice";
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Current(), old);
    const std::string check = CheckSodsWithOpenssl(card->ImagePath());
    EXPECT_EQ(check, "") << check;
}

TEST_P(WriteOnBench, AWrongResponseIsRefusedAndTheWriteAfterItToo) {
    auto wrongKey = WriterKey();
    wrongKey[0] ^= 0x01;
    EXPECT_EQ(static_cast<std::uint32_t>(
                  Authenticate(*auth, Reader(), Block().appId, wrongKey, kWriterRole)),
              0x80046300u);
    const auto before = Stored();
    EXPECT_EQ(static_cast<std::uint32_t>(
                  WriteText(*service, Block(), Reader(), auth.get(), u"never written")),
              0x80076982u);
    EXPECT_EQ(Stored(), before);
}

TEST_P(WriteOnBench, AnAuthenticationObjectNeverInitialisedReachesNoCard) {
    const auto object = ReadBlock(*service, Block(), Reader());
    ASSERT_NE(object, nullptr);
    card->ClearApduLog();
    Bstr none(std::string{});
    EXPECT_EQ(
        static_cast<std::uint32_t>(Block().write(*service, auth.get(), object.get(), none.get())),
        0x80100003u);
    EXPECT_TRUE(card->ApduLog().empty());
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
    return std::string(std::get<0>(info.param)->name) + "_T" +
           std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(ThreeBlocksTwoProtocols, WriteOnBench,
                         ::testing::Combine(::testing::ValuesIn(WritableBlocks()),
                                            ::testing::Values(0, 1)),
                         ParamName);

}  // namespace
