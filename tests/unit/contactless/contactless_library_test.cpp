// Loading the vendor library and the arguments the component passes it, against test
// libraries: one that records its calls, one without Format_CL, a file that is no shared
// object, and none at all.
#include "carvix/blocks/vl_models.h"
#include "carvix/contactless/cl_card.h"
#include "carvix/support/exceptions.h"
#include "fake_pcsc.h"
#include "recording_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace cl = carvix::contactless;
namespace fs = std::filesystem;

const std::u16string kLoadFailure = u"Failed to load library for working with a contactless card.";

std::u16string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CardException& e) {
        EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005u));
        return e.Message();
    }
    return u"(no exception)";
}

/// The recording library, kept loaded by the test so its record survives the component's
/// own load and unload.
class RecordingLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = ::dlopen((fs::path(RECORDING_DIR) / cl::kLibraryFileName).c_str(), RTLD_NOW);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        auto get = reinterpret_cast<recording::State* (*)()>(::dlsym(handle_, "Recording_CL"));
        ASSERT_NE(get, nullptr);
        state_ = get();
        *state_ = recording::State{};
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
        }
    }
    std::unique_ptr<cl::CLCard> Card(std::u16string_view reader = u"CL Reader 00 01") {
        return cl::CLCard::Create(RECORDING_DIR, reader);
    }

    void* handle_ = nullptr;
    recording::State* state_ = nullptr;
};

TEST(ContactlessLoading, EveryUnusableLibraryIsRefusedBeforeAnyReaderIsTouched) {
    fake::Pcsc pcsc;  // anything that went to PC/SC would show up here
    const fs::path empty = fs::temp_directory_path() / ("cl-empty-" + std::to_string(::getpid()));
    const fs::path notElf = fs::temp_directory_path() / ("cl-text-" + std::to_string(::getpid()));
    fs::create_directories(empty);
    fs::create_directories(notElf);
    std::ofstream(notElf / cl::kLibraryFileName) << "this is not a shared object\n";

    for (const fs::path& dir : {empty, notElf, fs::path(FOUR_SYMBOLS_DIR)}) {
        SCOPED_TRACE(dir.string());
        EXPECT_EQ(MessageOf([&] { cl::CLCard::Create(dir.string(), u"CL Reader"); }), kLoadFailure);
        cl::ContactlessLibrary library(dir.string());
        EXPECT_FALSE(library.Loaded());
    }
    EXPECT_TRUE(pcsc.calls.empty());
    fs::remove_all(empty);
    fs::remove_all(notElf);
}

TEST(ContactlessLoading, ACardWithoutLibraryIsNotInitialized) {
    cl::CLCard card(nullptr);
    VLContactlessModel model;
    EXPECT_EQ(MessageOf([&] { card.Read(model, false); }), u"CLCard has not been initialized.");
    EXPECT_EQ(MessageOf([&] { card.Write(model, {}, {}); }), u"CLCard has not been initialized.");
    EXPECT_EQ(MessageOf([&] { card.GetCardInfo(); }), u"CLCard has not been initialized.");
}

TEST_F(RecordingLibrary, TheLibraryIsUnloadedWithItsCard) {
    const int before = state_->loads;
    {
        auto card = Card();
        EXPECT_TRUE(card->Library()->Loaded());
    }
    // Still loaded once, by the test itself: the card's own load is gone again.
    EXPECT_EQ(state_->loads, before);
    EXPECT_NE(
        ::dlopen((fs::path(RECORDING_DIR) / cl::kLibraryFileName).c_str(), RTLD_NOLOAD | RTLD_NOW),
        nullptr);
    ::dlclose(handle_);  // the RTLD_NOLOAD reference
}

TEST_F(RecordingLibrary, CardInfoGetsTheReaderTheAreasAndTheReadKey) {
    const std::u16string longest(254, u'r');
    EXPECT_EQ(Card(longest)->GetCardInfo(), 1);
    ASSERT_EQ(state_->calls.size(), 1u);
    const recording::Call& call = state_->calls[0];
    EXPECT_EQ(call.function, "GetCardInfo_CL");
    EXPECT_EQ(call.reader, longest);
    EXPECT_EQ(call.readerLength, 255u);
    EXPECT_EQ(call.lengths, (std::vector<std::uint32_t>{255, 255, 16}));
    EXPECT_EQ(call.key, std::vector<std::uint8_t>(cl::kContactlessReadKey.begin(),
                                                  cl::kContactlessReadKey.end()));
    for (std::uint8_t b : call.key) {
        EXPECT_TRUE(b >= 0x20 && b < 0x7F);
    }

    // A name that does not fit the text area is not passed at all.
    state_->calls.clear();
    state_->result = 7;  // neither success nor failure: still a yes, with the lengths cleared
    auto card = Card(std::u16string(300, u'r'));
    EXPECT_EQ(card->GetCardInfo(), 7);
    EXPECT_EQ(state_->calls.at(0).reader, u"");
    EXPECT_EQ(card->Library()->FirstInfoLength(), 0u);
    EXPECT_EQ(card->Library()->ReaderNameLength(), 0u);
}

TEST_F(RecordingLibrary, ReadOffersAThousandBytesAndTakesWhatTheLibraryReports) {
    VLContactlessModel written;
    written.CardID.SetValue(u"123456789");
    written.ChipSerialNumber.SetValue(u"CHIP0001");
    written.ContactlessSerialNumber.SetValue(u"CLSN0001");
    written.PersonalNumber.SetValue(u"1234567890123");
    written.LastName.SetValue(u"Lastname");
    written.FirstName.SetValue(u"First");
    written.ParentName.SetValue(u"Parent");
    written.Status.SetValue(1);
    written.OrgUnit.SetValue(u"Unit");
    written.ServiceSite.SetValue(u"Site");
    state_->files[1] = written.Encode();

    VLContactlessModel model;
    Card()->Read(model, false);
    EXPECT_EQ(model.ContactlessSerialNumber.GetValue(), u"CLSN0001");
    ASSERT_EQ(state_->calls.size(), 1u);  // no SOD asked for, none read
    const recording::Call& call = state_->calls[0];
    EXPECT_EQ(call.function, "ReadFile_CL");
    EXPECT_EQ(call.readerLength, 255u);
    EXPECT_EQ(call.fileNumber, 1u);
    EXPECT_EQ(call.lengths, std::vector<std::uint32_t>{16});
    EXPECT_EQ(call.sizeIn, 1024u);
    EXPECT_EQ(call.errorIn, 0);
}

TEST_F(RecordingLibrary, AFailedOrOverlongReadIsReportedWithTheLibrarysCode) {
    VLContactlessModel model;
    state_->result = 0;
    state_->errorCode = 27010;
    EXPECT_EQ(MessageOf([&] { Card()->Read(model, false); }),
              u"Failed to read data from a contactless card. Error code: 27010");

    // More than the buffer holds is no read at all, never bytes past the buffer.
    state_->result = 1;
    state_->errorCode = 5;
    state_->files[1].assign(1024, 0x0D);
    state_->reportedSize[1] = 1025;
    EXPECT_EQ(MessageOf([&] { Card()->Read(model, false); }),
              u"Failed to read data from a contactless card. Error code: 5");

    // With the SOD check, a failing second read has its own message.
    state_->reportedSize[1] = 0;
    VLContactlessModel written;
    written.CardID.SetValue(u"1");
    written.ChipSerialNumber.SetValue(u"2");
    written.ContactlessSerialNumber.SetValue(u"3");
    written.PersonalNumber.SetValue(u"4");
    written.LastName.SetValue(u"L");
    written.FirstName.SetValue(u"F");
    written.ParentName.SetValue(u"P");
    written.Status.SetValue(1);
    written.OrgUnit.SetValue(u"O");
    written.ServiceSite.SetValue(u"S");
    state_->files[1] = written.Encode();
    state_->reportedSize[2] = 2000;  // more than the library is offered
    state_->calls.clear();
    EXPECT_EQ(MessageOf([&] { Card()->Read(model, true); }),
              u"Failed to read data SOD from a contactless card. Error code: 5");
    ASSERT_EQ(state_->calls.size(), 2u);
    EXPECT_EQ(state_->calls[1].fileNumber, 2u);
    EXPECT_EQ(state_->calls[1].sizeIn, 1024u);
}

TEST_F(RecordingLibrary, NeverCallsTheTwoEntryPointsItOnlyRequires) {
    VLContactlessModel model;
    state_->result = 0;
    auto card = Card();
    card->GetCardInfo();
    EXPECT_ANY_THROW(card->Read(model, true));
    for (const recording::Call& call : state_->calls) {
        EXPECT_NE(call.function, "Format_CL");
        EXPECT_NE(call.function, "KeyInitAndPrePerso_CL");
    }
}

}  // namespace
