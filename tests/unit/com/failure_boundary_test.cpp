// The failure boundary of the scripting members: the HRESULT each class's policy gives, the
// warning notice only where the document service shows it, and which failure texts are left
// for the caller as the thread's error object.
#include "carvix/com/failure_boundary.h"
#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/com/notifier.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "utilities/utilities_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using carvix::com::FailurePolicy;
using carvix::com::Guarded;

std::vector<std::u16string>* gNotices = nullptr;

void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    gNotices->push_back(text);
}

// The thread's error object's description, taken; "<none>" when there is no object.
std::u16string TakeDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) {
        return u"<none>";
    }
    carvix::automation::ScopedBstr text;
    info->GetDescription(text.Put());
    info->Release();
    return text.Get() == nullptr ? u"" : std::u16string(text.Get(), SysStringLen(text.Get()));
}

constexpr std::uint32_t kRemoved = 0x80100069u;    // SCARD_W_REMOVED_CARD
constexpr std::uint32_t kSharing = 0x8010000Bu;    // SCARD_E_SHARING_VIOLATION
constexpr std::uint32_t kBadKey = 0x80090003u;     // NTE_BAD_KEY
constexpr std::uint32_t kNoService = 0x8010001Du;  // SCARD_E_NO_SERVICE

class Boundary : public ::testing::Test {
  protected:
    void SetUp() override {
        gNotices = &notices;
        previous = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override {
        carvix::com::SetNotifier(previous);
        gNotices = nullptr;
        SetErrorInfo(0, nullptr);
    }

    static std::uint32_t Run(FailurePolicy policy, const std::function<void()>& fail) {
        return static_cast<std::uint32_t>(Guarded(policy, [&] {
            fail();
            return S_OK;
        }));
    }

    std::vector<std::u16string> notices;
    carvix::com::NotifierFn previous = nullptr;
};

TEST_F(Boundary, EachPolicyKeepsItsOwnCodesForTheSameFailure) {
    struct Case {
        const char* what;
        std::function<void()> fail;
        std::uint32_t document, authentication, plain;
    };
    const Case cases[] = {
        {"status word", [] { throw JavaCard::AppletException(0x6982); }, 0x80076982u, 0x80046982u,
         0x80076982u},
        {"status word from the card layer",
         [] { throw CardException(JavaCard::AppletException(0x6A82)); }, 0x80076A82u, 0x80076A82u,
         0x80076A82u},
        {"PC/SC", [] { throw Orvel::PCSC::PCSCWin32Exception("SCardTransmit", kRemoved); },
         kRemoved, kRemoved, kRemoved},
        {"system failure", [] { throw Orvel::Win32Exception("CertOpenStore", 5); }, 0x80004005u,
         0x80070005u, 0x80004005u},
        {"framework", [] { throw Orvel::FrameworkError(E_INVALIDARG); }, 0x80070057u, 0x80070057u,
         0x80070057u},
        {"no memory", [] { throw std::bad_alloc(); }, 0x8007000Eu, 0x8007000Eu, 0x8007000Eu},
        {"foreign", [] { throw 42; }, 0x80004005u, 0x80004005u, 0x80004005u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(FailurePolicy::Document, c.fail), c.document) << c.what;
        EXPECT_EQ(Run(FailurePolicy::Authentication, c.fail), c.authentication) << c.what;
        EXPECT_EQ(Run(FailurePolicy::Plain, c.fail), c.plain) << c.what;
    }
    EXPECT_TRUE(notices.empty()) << "coded failures are never shown";
}

TEST_F(Boundary, OnlyTheDocumentServiceShowsAMessageOnlyFailure) {
    const std::u16string message = u"Read document has ID 1, but ID 2 was requested.";
    EXPECT_EQ(Run(FailurePolicy::Document, [&] { throw CardException(message); }), 0x80004005u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], message);
    EXPECT_EQ(TakeDescription(), message);

    for (FailurePolicy quiet : {FailurePolicy::Authentication, FailurePolicy::Plain}) {
        EXPECT_EQ(Run(quiet, [&] { throw CardException(message); }), 0x80004005u);
        EXPECT_EQ(TakeDescription(), message) << "the caller still gets the text";
    }
    EXPECT_EQ(notices.size(), 1u);
}

TEST_F(Boundary, TextsThatSayMoreThanTheCodeAreLeftForTheCaller) {
    const std::u16string inUse =
        u"The card in reader \"R 00 00\" is in use by another program, which did not let it "
        u"go within 5 s.";
    struct Case {
        const char* what;
        std::function<void()> fail;
        std::u16string description;
    };
    const Case cases[] = {
        {"PC/SC failure with its own explanation",
         [&] {
             throw CardException(Orvel::PCSC::PCSCWin32Exception("SCardConnect", kSharing, inUse));
         },
         u"PCSC exception: " + inUse},
        {"card failure with a system code",
         [] { throw CardException(u"Unable to decrypt data", static_cast<std::int32_t>(kBadKey)); },
         u"Unable to decrypt data"},
        {"transport failure", [] { throw SmartCardIO::SCIOException(u"Response too short"); },
         u"Response too short"},
        {"PC/SC failure with only the system's text",
         [] { throw CardException(Orvel::PCSC::PCSCWin32Exception("SCardTransmit", kRemoved)); },
         u"<none>"},
        {"the same, not converted",
         [] { throw Orvel::PCSC::PCSCWin32Exception("SCardEstablishContext", kNoService); },
         u"<none>"},
        {"status word", [] { throw CardException(JavaCard::AppletException(0x6982)); }, u"<none>"},
        {"exception without a message", [] { throw Orvel::Exception(); }, u"<none>"},
        {"no memory", [] { throw std::bad_alloc(); }, u"<none>"},
    };
    for (const Case& c : cases) {
        Run(FailurePolicy::Authentication, c.fail);
        EXPECT_EQ(TakeDescription(), c.description) << c.what;
    }
}

TEST_F(Boundary, AFailureWithoutTextClearsAnOlderText) {
    Run(FailurePolicy::Document, [] { throw CardException(u"Unsupported card."); });
    Run(FailurePolicy::Document, [] { throw JavaCard::AppletException(0x6982); });
    EXPECT_EQ(TakeDescription(), u"<none>");
}

TEST_F(Boundary, FailuresThatAreNotExceptionsAreShownAndRecordedAlike) {
    EXPECT_EQ(
        carvix::com::Fail(E_FAIL, u"Invalid value for date/time.", carvix::com::Notice::Warning),
        E_FAIL);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], u"Invalid value for date/time.");
    EXPECT_EQ(TakeDescription(), u"Invalid value for date/time.");

    EXPECT_EQ(carvix::com::Fail(E_ACCESSDENIED, u""), E_ACCESSDENIED);
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_EQ(TakeDescription(), u"<none>");
}

TEST_F(Boundary, TheProviderPolicyLetsTheTokenProviderReadTheFailure) {
    EXPECT_EQ(Run(FailurePolicy::Provider, [] { throw carvix::pki::ProviderError(0x80100066u); }),
              0x80100066u);
    EXPECT_EQ(Run(FailurePolicy::Provider, [] { throw Orvel::ArgumentException(u"bad name"); }),
              0x80070057u);
    EXPECT_EQ(Run(FailurePolicy::Provider, [] { throw 42; }), 0x80090020u);  // NTE_FAIL
    EXPECT_TRUE(notices.empty());
}

TEST_F(Boundary, EveryClassSaysThatItsInterfaceLeavesErrorObjects) {
    carvix::automation::ComPtr<IUnknown> object;
    ASSERT_EQ(
        carvix::com::UtilitiesService::CreateInstance(nullptr, IID_IUnknown, object.PutVoid()),
        S_OK);
    carvix::automation::ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(carvix::com::IUtilitiesService::kIid), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IObjectSafety), S_FALSE);
}

}  // namespace
