// CARVIX.Auth through IDispatch against a fake resource manager: argument checks, the state
// before Init, the card exchanges and their failure codes, what the object owns and gives
// back, and that the document service's write methods take any IAuthenticationService.
#include "auth/authentication_service.h"
#include "carvix/automation/oleauto.h"
#include "docadmin/docadmin_service.h"
#include "fake_card_manager.h"
#include "utilities/utilities_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using carvix::com::AuthenticationService;
using carvix::com::IAuthenticationService;

const std::string kSelectVl =
    "00A404000DF3810000025345525158564C01"
    "00";
const std::string kSelectZk =
    "00A404000DF38100000253455251585A4B01"
    "00";

constexpr auto kNotInitialised = static_cast<HRESULT>(0x80100003u);

struct Outcome {
    HRESULT hr = S_OK;  // Invoke's result, or the method's own HRESULT behind DISP_E_EXCEPTION
    VARIANT result{};
};

class Auth : public ::testing::Test {
  protected:
    void SetUp() override {
        void* p = nullptr;
        ASSERT_EQ(
            carvix::com::Create<AuthenticationService>(nullptr, IAuthenticationService::kIid, &p),
            S_OK);
        auth = static_cast<IAuthenticationService*>(p);
        ASSERT_EQ(card.contextsOpen, 1);
    }
    void TearDown() override {
        if (auth != nullptr) {
            auth->Release();
        }
        // Everything the object held is given back, and no transaction is left open.
        EXPECT_EQ(card.contextsOpen, 0);
        EXPECT_EQ(card.cardsConnected, 0);
        EXPECT_EQ(card.transactionsOpen, 0);
        EXPECT_FALSE(card.surprise);
        EXPECT_TRUE(card.script.empty());
    }

    // Calls a member by name the way a script does; arguments in declaration order.
    Outcome Call(const char16_t* name, std::vector<VARIANT> args = {}) {
        std::u16string text = name;
        LPOLESTR names[] = {text.data()};
        DISPID id = 0;
        EXPECT_EQ(auth->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<std::uint32_t>(reversed.size()), 0};
        Outcome out;
        VariantInit(&out.result);
        EXCEPINFO info{};
        out.hr =
            auth->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &out.result, &info, nullptr);
        if (out.hr == DISP_E_EXCEPTION) {
            out.hr = info.scode;
            SysFreeString(info.bstrSource);
        }
        for (VARIANT& v : args) {
            VariantClear(&v);
        }
        return out;
    }

    static VARIANT Text(const char16_t* text) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        return v;
    }
    static VARIANT Number(std::int32_t value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    HRESULT Init(const char16_t* reader, std::int32_t appId) {
        return Call(u"Init", {Text(reader), Number(appId)}).hr;
    }
    void Expect(const std::string& command, const std::string& response) {
        card.Expect(command, response);
    }

    fake::CardManager card;  // installed for the whole test, the object's creation included
    IAuthenticationService* auth = nullptr;
};

TEST_F(Auth, BeforeInitNothingReachesTheCard) {
    Outcome app = Call(u"GetAppID");
    EXPECT_EQ(app.hr, S_OK);
    EXPECT_EQ(app.result.vt, VT_UI2);
    EXPECT_EQ(app.result.uiVal, 0xFFFF);
    Outcome connection = Call(u"GetConnection");
    EXPECT_EQ(connection.hr, S_OK);
    EXPECT_EQ(connection.result.vt, VT_UI8);
    EXPECT_EQ(connection.result.ullVal, 0u);

    EXPECT_EQ(Call(u"GetChallenge").hr, kNotInitialised);
    EXPECT_EQ(Call(u"ExternalAuthenticate", {Number(1), Text(u"AAECAw==")}).hr, kNotInitialised);
    EXPECT_EQ(Call(u"Logout", {Number(1)}).hr, kNotInitialised);
    EXPECT_TRUE(card.sent.empty());
    EXPECT_EQ(card.transactionsBegun, 0);
}

TEST_F(Auth, ArgumentsAreCheckedFirst) {
    EXPECT_EQ(Init(u"", 1), E_INVALIDARG);
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_BSTR;
    none.bstrVal = nullptr;
    EXPECT_EQ(Call(u"Init", {none, Number(1)}).hr, E_INVALIDARG);
    EXPECT_EQ(card.cardsConnected, 0);
    EXPECT_EQ(Call(u"GetAppID").result.uiVal, 0xFFFF);

    EXPECT_EQ(auth->GetChallenge(nullptr), E_INVALIDARG);
    EXPECT_EQ(auth->GetConnection(nullptr), E_INVALIDARG);
    EXPECT_EQ(auth->GetAppID(nullptr), E_INVALIDARG);

    // Responses that are empty or not Base64 never reach the card, connected or not.
    ASSERT_EQ(Init(u"Reader A", 1), S_OK);
    for (const char16_t* bad : {u"", u"!!", u"AAE", u"AA E=", u"===="}) {
        EXPECT_EQ(Call(u"ExternalAuthenticate", {Number(1), Text(bad)}).hr, E_INVALIDARG)
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    }
    EXPECT_TRUE(card.sent.empty());
    EXPECT_EQ(card.transactionsBegun, 0);
}

TEST_F(Auth, InitConnectsOnceAndKeepsTheFirstConnection) {
    ASSERT_EQ(Init(u"Reader \u00C4 00 00", 5), S_OK);
    EXPECT_EQ(card.connected, std::vector<std::string>{"Reader \xC3\x84 00 00"});
    EXPECT_EQ(card.shareMode, static_cast<DWORD>(SCARD_SHARE_SHARED));
    EXPECT_EQ(card.protocols, static_cast<DWORD>(SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
    EXPECT_TRUE(card.sent.empty());  // Init sends no card command

    EXPECT_EQ(static_cast<std::uint32_t>(Init(u"Reader B", 1)), 0x80100001u);
    EXPECT_EQ(card.cardsConnected, 1);
    EXPECT_EQ(Call(u"GetAppID").result.uiVal, 5);
    Outcome connection = Call(u"GetConnection");
    EXPECT_EQ(connection.result.ullVal, static_cast<std::uint64_t>(fake::CardManager::kHandle));

    // The vtable form hands the handle through the pointer-sized parameter.
    carvix::com::impd* handle = nullptr;
    EXPECT_EQ(auth->GetConnection(&handle), S_OK);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(handle),
              static_cast<std::uintptr_t>(fake::CardManager::kHandle));

    // Destruction leaves the card as it is and releases the context.
    auth->Release();
    auth = nullptr;
    EXPECT_EQ(card.disconnects, std::vector<DWORD>{SCARD_LEAVE_CARD});
}

TEST_F(Auth, AFailedConnectLeavesTheObjectUninitialised) {
    card.connectResult = SCARD_E_UNKNOWN_READER;
    EXPECT_EQ(static_cast<std::uint32_t>(Init(u"Nowhere", 1)), 0x80100009u);
    EXPECT_EQ(Call(u"GetAppID").result.uiVal, 0xFFFF);
    EXPECT_EQ(Call(u"GetChallenge").hr, kNotInitialised);
    card.connectResult = SCARD_S_SUCCESS;
    EXPECT_EQ(Init(u"Reader A", 1), S_OK);
}

TEST_F(Auth, ChallengeResponseAndLogoutEachRunInOneTransaction) {
    ASSERT_EQ(Init(u"Reader A", 5), S_OK);
    Expect(kSelectZk, "9000");
    Expect("0084000008",
           "0102030405060708"
           "9000");
    Outcome challenge = Call(u"GetChallenge");
    ASSERT_EQ(challenge.hr, S_OK);
    ASSERT_EQ(challenge.result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(challenge.result.bstrVal), u"AQIDBAUGBwg=");
    VariantClear(&challenge.result);

    Expect(kSelectZk, "9000");
    Expect(
        "0082008210"
        "000102030405060708090A0B0C0D0E0F",
        "9000");
    EXPECT_EQ(Call(u"ExternalAuthenticate", {Number(2), Text(u"AAECAwQFBgcICQoLDA0ODw==")}).hr,
              S_OK);
    Expect(kSelectZk, "9000");
    Expect("B0220008", "9000");
    EXPECT_EQ(Call(u"Logout", {Number(3)}).hr, S_OK);
    EXPECT_EQ(card.transactionsBegun, 3);
    // The connection stays open after the logout.
    EXPECT_EQ(card.cardsConnected, 1);
    EXPECT_TRUE(card.disconnects.empty());
}

TEST_F(Auth, CardFailuresComeBackAsStatusWordAndPcscCodes) {
    ASSERT_EQ(Init(u"Reader A", 1), S_OK);
    Expect(kSelectVl, "9000");
    Expect(
        "0082008104"
        "DEADBEEF",
        "6300");
    EXPECT_EQ(static_cast<std::uint32_t>(
                  Call(u"ExternalAuthenticate", {Number(1), Text(u"3q2+7w==")}).hr),
              0x80046300u);

    Expect(kSelectVl, "6A82");
    EXPECT_EQ(static_cast<std::uint32_t>(Call(u"GetChallenge").hr), 0x80046A82u);

    Expect(kSelectVl, "9000");
    card.Expect("B0220001", "", SCARD_W_REMOVED_CARD);
    EXPECT_EQ(static_cast<std::uint32_t>(Call(u"Logout", {Number(0)}).hr), 0x80100069u);
}

TEST_F(Auth, AResetByAnotherApplicationIsAcknowledgedOnceAndTheCallRuns) {
    ASSERT_EQ(Init(u"Reader A", 1), S_OK);
    card.resetPending = true;
    Expect(kSelectVl, "9000");
    Expect("B0220002", "9000");
    EXPECT_EQ(Call(u"Logout", {Number(1)}).hr, S_OK);
    EXPECT_EQ(card.reconnects, std::vector<DWORD>{SCARD_LEAVE_CARD});

    // A handle that cannot be reconnected gives the reconnection's code, and no retry.
    card.resetPending = true;
    card.reconnectResult = SCARD_E_NO_SMARTCARD;
    EXPECT_EQ(static_cast<std::uint32_t>(Call(u"GetChallenge").hr), 0x8010000Cu);
    EXPECT_EQ(card.reconnects.size(), 2u);
    EXPECT_EQ(card.sent.size(), 2u);
}

TEST_F(Auth, AnApplicationIdWithoutAnAppletFailsWithoutTouchingTheCard) {
    ASSERT_EQ(Init(u"Reader A", 7), S_OK);
    EXPECT_EQ(Call(u"GetChallenge").hr, E_FAIL);
    EXPECT_EQ(Call(u"Logout", {Number(1)}).hr, E_FAIL);
    EXPECT_EQ(card.transactionsBegun, 0);
}

TEST(AuthCreation, AContextThatCannotBeEstablishedFailsTheCreation) {
    fake::CardManager card;
    card.establishResult = SCARD_E_NO_SERVICE;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(static_cast<std::uint32_t>(carvix::com::Create<AuthenticationService>(
                  nullptr, IAuthenticationService::kIid, &p)),
              0x8010001Du);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(card.contextsOpen, 0);
}

TEST_F(Auth, TypeInformationListsTheSixMethodsInOrder) {
    const char16_t* names[] = {u"Init",   u"GetChallenge",  u"ExternalAuthenticate",
                               u"Logout", u"GetConnection", u"GetAppID"};
    DISPID expected = 1;
    for (const char16_t* name : names) {
        std::u16string text = name;
        LPOLESTR one[] = {text.data()};
        DISPID id = 0;
        EXPECT_EQ(auth->GetIDsOfNames(IID_NULL, one, 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected++);
    }
    const std::string json =
        carvix::automation::DescribeInterfaceJson(carvix::com::kAuthenticationServiceDesc);
    EXPECT_NE(json.find("\"name\":\"phConnection\",\"type\":\"UI8*\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\":\"ulRoleID\",\"type\":\"UI4\""), std::string::npos) << json;

    void* safety = nullptr;
    ASSERT_EQ(auth->QueryInterface(IID_IObjectSafety, &safety), S_OK);
    static_cast<IUnknown*>(safety)->Release();
}

// The write methods take the authentication object by its interface, so any object that
// implements it is accepted and any other is refused before the method runs.
TEST_F(Auth, WriteMethodsTakeAnyAuthenticationObject) {
    void* p = nullptr;
    ASSERT_EQ(carvix::com::Create<carvix::com::DocAdminService>(
                  nullptr, carvix::com::kIidIDocAdminService, &p),
              S_OK);
    auto* docAdmin = static_cast<carvix::com::IDocAdminService*>(p);
    ASSERT_EQ(carvix::com::Create<carvix::com::UtilitiesService>(
                  nullptr, carvix::com::kIidIUtilitiesService, &p),
              S_OK);
    auto* other = static_cast<IDispatch*>(p);

    for (auto [candidate, expected] :
         {std::pair<IDispatch*, HRESULT>{auth, DISP_E_EXCEPTION}, {other, DISP_E_TYPEMISMATCH}}) {
        VARIANT args[3];  // reverse order: signer, block, authentication object
        for (VARIANT& v : args) {
            VariantInit(&v);
        }
        args[0].vt = VT_BSTR;
        args[0].bstrVal = nullptr;
        args[1].vt = VT_DISPATCH;
        args[1].pdispVal = nullptr;
        args[2].vt = VT_DISPATCH;
        args[2].pdispVal = candidate;
        DISPPARAMS params{args, nullptr, 3, 0};
        EXCEPINFO info{};
        std::uint32_t argErr = 99;
        EXPECT_EQ(
            docAdmin->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &info, &argErr),
            expected);
        if (expected == DISP_E_EXCEPTION) {
            EXPECT_EQ(info.scode, E_INVALIDARG);  // accepted as the auth argument; no block
            SysFreeString(info.bstrSource);
        } else {
            EXPECT_EQ(argErr, 2u);
        }
    }
    other->Release();
    docAdmin->Release();
}

}  // namespace
