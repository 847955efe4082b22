// The write methods of DocAdminService over a backend that records what reaches the card: the
// argument checks, the signer certificate's text, the caller's block object stored through
// the real model hand-over, the handle and application taken from any object implementing
// IAuthenticationService, and the shared failure handling.
#include "carvix/automation/oleauto.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"
#include "carvix/com/notifier.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/x509_certificate.h"
#include "docadmin/docadmin_service.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using carvix::com::DocAdminService;
using carvix::com::IAuthenticationService;
using carvix::com::impd;
namespace x509 = Orvel::Security::Cryptography::X509;

// An authentication object written here, the way a script's own object from another module
// would implement the interface: only GetConnection and GetAppID may be used.
struct ForeignAuth final : IAuthenticationService {
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIid) {
            *ppv = static_cast<IAuthenticationService*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    HRESULT GetTypeInfoCount(std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, std::uint32_t, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT Invoke(DISPID, REFIID, LCID, std::uint16_t, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                   std::uint32_t*) override {
        return E_NOTIMPL;
    }
    HRESULT Init(BSTR, std::uint16_t) override { return Unexpected(); }
    HRESULT GetChallenge(BSTR*) override { return Unexpected(); }
    HRESULT ExternalAuthenticate(std::uint32_t, BSTR) override { return Unexpected(); }
    HRESULT Logout(std::uint32_t) override { return Unexpected(); }
    HRESULT GetConnection(impd** phConnection) override {
        ++asked;
        *phConnection = reinterpret_cast<impd*>(handle);
        return connectionResult;
    }
    HRESULT GetAppID(std::uint16_t* puwAppID) override {
        ++asked;
        *puwAppID = appId;
        return appIdResult;
    }
    HRESULT Unexpected() {
        ADD_FAILURE() << "the write method used more of the interface than it needs";
        return E_UNEXPECTED;
    }

    std::uint32_t refs = 0;
    int asked = 0;
    std::uintptr_t handle = 0x1234'5678'9ABC'DEF0;  // 64-bit handles pass whole
    std::uint16_t appId = 1;
    HRESULT connectionResult = S_OK;
    HRESULT appIdResult = S_OK;
};

struct Written {
    std::uintptr_t handle;
    std::uint16_t appId;
    std::uint16_t tag;
    Orvel::ByteArray bytes;   // the model as it would be stored on the card
    Orvel::ByteArray signer;  // DER, empty for no certificate
};

// The real Store path, and a card that records the write or fails it.
struct RecordingBackend final : carvix::com::DocAdminBackend {
    void ReadVerified(const std::u16string&, std::uint16_t, CardBlock&) override {
        ADD_FAILURE() << "a write read the card";
    }
    HRESULT CreateBlockObject(const CLSID&, const IID&, void**) override { return E_NOTIMPL; }
    HRESULT LoadBlockObject(const carvix::com::ReadMethod&, IUnknown*, CardBlock&) override {
        return E_NOTIMPL;
    }
    HRESULT StoreBlockObject(IUnknown* object, CardBlock& model) override {
        ++stores;
        return carvix::com::StoreBlock(object, model);
    }
    void WriteToCard(std::uintptr_t handle, std::uint16_t appId, const CardBlock& model,
                     const x509::X509Certificate& signer) override {
        writes.push_back({handle, appId, model.Tag(), model.Encode(),
                          signer.IsEmpty() ? Orvel::ByteArray{} : signer.RawData()});
        if (fail) {
            fail();
        }
    }
    int stores = 0;
    std::vector<Written> writes;
    std::function<void()> fail;
};

std::vector<std::u16string>* gNotices = nullptr;
void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    gNotices->push_back(text == nullptr ? u"" : text);
}

// A BSTR that frees itself.
struct Text {
    explicit Text(std::u16string_view s)
        : value(SysAllocStringLen(s.data(), static_cast<std::uint32_t>(s.size()))) {}
    ~Text() { SysFreeString(value); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR value;
};

template <class I>
I* NewBlock(const CLSID& clsid) {
    void* p = nullptr;
    EXPECT_EQ(carvix::com::CreateObject(clsid, I::kIid, &p), S_OK);
    return static_cast<I*>(p);
}

class DocAdminWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        service = new DocAdminService(backend);
        gNotices = &notices;
        previous = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
        perso =
            NewBlock<carvix::com::IVLVariablePersoBlock>(carvix::com::kClsidVLVariablePersoBlock);
        ASSERT_NE(perso, nullptr);
        Text org(u"Signal Training Centre");
        Text site(u"Northern Barracks");
        ASSERT_EQ(perso->put_OrgUnit(org.value), S_OK);
        ASSERT_EQ(perso->put_ServiceSite(site.value), S_OK);
        ASSERT_EQ(perso->put_ServiceStartDate(42000.0), S_OK);
    }
    void TearDown() override {
        perso->Release();
        carvix::com::SetNotifier(previous);
        gNotices = nullptr;
        service->Release();
        EXPECT_EQ(auth.refs, 0u) << "the authentication object was leaked or over-released";
    }

    HRESULT WriteVL(BSTR signer = nullptr) {
        return service->WriteVLVariablePersoData(&auth, perso, signer);
    }

    RecordingBackend backend;
    ForeignAuth auth;
    DocAdminService* service = nullptr;
    carvix::com::NotifierFn previous = nullptr;
    std::vector<std::u16string> notices;
    carvix::com::IVLVariablePersoBlock* perso = nullptr;
};

TEST_F(DocAdminWrite, TheCallersValuesAreWrittenOnTheHandleAndApplicationOfTheAuthentication) {
    auth.appId = 3;
    ASSERT_EQ(WriteVL(), S_OK);
    ASSERT_EQ(backend.writes.size(), 1u);
    const Written& w = backend.writes[0];
    EXPECT_EQ(w.handle, 0x1234'5678'9ABC'DEF0u);
    EXPECT_EQ(w.appId, 3);
    EXPECT_EQ(w.tag, 0x0D03);
    EXPECT_TRUE(w.signer.empty()) << "no signer text leaves the choice to the user";
    VLVariablePersoModel expected;
    expected.OrgUnit.SetValue(u"Signal Training Centre");
    expected.ServiceSite.SetValue(u"Northern Barracks");
    ASSERT_EQ(carvix::com::StoreBlock(perso, expected), S_OK);
    EXPECT_EQ(w.bytes, expected.Encode());
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdminWrite, EachZkMethodStoresIntoTheModelOfItsOwnBlockAndAFailingStoreEndsTheCall) {
    auto* admin =
        NewBlock<carvix::com::IZKVariableAdminBlock>(carvix::com::kClsidZKVariableAdminBlock);
    auto* address =
        NewBlock<carvix::com::IZKVariablePersoBlock>(carvix::com::kClsidZKVariablePersoBlock);
    auth.appId = 5;
    Text street(u"Булевар ослобођења");
    ASSERT_EQ(address->put_Street(street.value), S_OK);
    ASSERT_EQ(service->WriteZKVariablePersoData(&auth, address, nullptr), S_OK);
    ASSERT_EQ(backend.writes.size(), 1u);
    EXPECT_EQ(backend.writes[0].tag, 0x0D03);
    EXPECT_EQ(backend.writes[0].appId, 5);
    ZKVariablePersoModel expected;
    ASSERT_EQ(carvix::com::StoreBlock(address, expected), S_OK);
    EXPECT_EQ(backend.writes[0].bytes, expected.Encode());

    // An administrative block that never had its insurance list refuses to store: the call
    // ends with Store's code before the authentication object is asked.
    const int asked = auth.asked;
    EXPECT_EQ(service->WriteZKVariableAdminData(&auth, admin, nullptr), E_INVALIDARG);
    EXPECT_EQ(auth.asked, asked);
    EXPECT_EQ(backend.writes.size(), 1u);
    admin->Release();
    address->Release();
}

TEST_F(DocAdminWrite, NullArgumentsAreInvalidAndNothingIsAskedOrWritten) {
    EXPECT_EQ(service->WriteVLVariablePersoData(nullptr, perso, nullptr), E_INVALIDARG);
    EXPECT_EQ(service->WriteVLVariablePersoData(&auth, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(service->WriteZKVariableAdminData(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(service->WriteZKVariablePersoData(&auth, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(backend.stores, 0);
    EXPECT_EQ(auth.asked, 0);
    EXPECT_TRUE(backend.writes.empty());
}

TEST_F(DocAdminWrite, TheSignerTextMustBeBase64OfACertificate) {
    for (const char16_t* bad : {u"abc", u"QUJD RA==", u"====", u"QU=JD==="}) {
        Text text(bad);
        EXPECT_EQ(WriteVL(text.value), E_INVALIDARG) << std::string(bad, bad + 3);
    }
    Text noCertificate(u"AAECAwQFBgc=");  // valid Base64 of eight bytes that are no certificate
    EXPECT_EQ(static_cast<std::uint32_t>(WriteVL(noCertificate.value)), 0x8009310Bu);
    EXPECT_EQ(backend.stores, 0);
    EXPECT_EQ(auth.asked, 0);
    EXPECT_TRUE(backend.writes.empty());

    const auto identity = carvix::testpki::MakeIdentity("Writer", 7);
    const auto der = identity.Der();
    Text certificate(Orvel::ToBase64(der));
    ASSERT_EQ(WriteVL(certificate.value), S_OK);
    ASSERT_EQ(backend.writes.size(), 1u);
    EXPECT_EQ(backend.writes[0].signer, Orvel::ByteArray(der.begin(), der.end()));
}

TEST_F(DocAdminWrite, FailuresBeforeTheCardEndTheCallWithTheirOwnCode) {
    // A block object of another block: the hand-over refuses it before the card is asked.
    EXPECT_EQ(service->WriteZKVariablePersoData(
                  &auth, reinterpret_cast<carvix::com::IZKVariablePersoBlock*>(perso), nullptr),
              E_INVALIDARG);
    EXPECT_EQ(auth.asked, 0);

    auth.connectionResult = static_cast<HRESULT>(0x80100017u);
    EXPECT_EQ(static_cast<std::uint32_t>(WriteVL()), 0x80100017u);
    auth.connectionResult = S_OK;
    auth.appIdResult = E_POINTER;
    EXPECT_EQ(WriteVL(), E_POINTER);
    auth.appIdResult = S_OK;

    // An authentication object that was never initialised: no handle, application 0xFFFF.
    auth.handle = 0;
    auth.appId = 0xFFFF;
    EXPECT_EQ(static_cast<std::uint32_t>(WriteVL()), 0x80100003u);
    EXPECT_TRUE(backend.writes.empty());
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdminWrite, CardFailuresGoThroughTheSharedHandler) {
    backend.fail = [] { throw CardException(u"Signing certificate is missing"); };
    EXPECT_EQ(WriteVL(), E_FAIL);
    EXPECT_EQ(notices, std::vector<std::u16string>{u"Signing certificate is missing"});

    backend.fail = [] { throw CardException(u"Applet exception: 6982", 0x6982); };
    EXPECT_EQ(static_cast<std::uint32_t>(WriteVL()), 0x80076982u);
    backend.fail = [] {
        throw CardException(u"PCSC exception: removed", static_cast<std::int32_t>(0x80100069u));
    };
    EXPECT_EQ(static_cast<std::uint32_t>(WriteVL()), 0x80100069u);
    backend.fail = [] { throw std::runtime_error("not from the card layer"); };
    EXPECT_EQ(WriteVL(), E_FAIL);
    EXPECT_EQ(notices.size(), 1u) << "only a message-only card failure shows a notice";
}

TEST_F(DocAdminWrite, AScriptPassesItsOwnAuthenticationObjectThroughInvoke) {
    // Arguments in reverse order: signer text, block, authentication object.
    VARIANT args[3];
    for (VARIANT& a : args) {
        VariantInit(&a);
    }
    args[0].vt = VT_BSTR;
    args[0].bstrVal = nullptr;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = perso;
    args[2].vt = VT_DISPATCH;
    args[2].pdispVal = &auth;
    DISPPARAMS params{args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(service->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(backend.writes.size(), 1u);
    EXPECT_EQ(backend.writes[0].tag, 0x0D03);

    backend.fail = [] { throw CardException(u"Applet exception: 6982", 0x6982); };
    EXCEPINFO info{};
    EXPECT_EQ(service->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &info, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x80076982u);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
}

}  // namespace
