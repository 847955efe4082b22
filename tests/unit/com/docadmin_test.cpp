// DocAdminService over a fake backend: argument checks, the read table, the shared failure
// handling (notice, code mapping, no object on failure) and the dispatch surface.
#include "carvix/automation/oleauto.h"
#include "carvix/blocks/card_block.h"
#include "carvix/com/notifier.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "docadmin/docadmin_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using carvix::com::DocAdminService;
using carvix::com::IDocAdminService;

// An out-pointer for any of the read methods: each names its own block interface.
struct AnyOut {
    IDispatch* p = nullptr;
    template <class I>
    operator I**() {
        return reinterpret_cast<I**>(&p);
    }
};

// A block object stand-in that counts its references.
struct FakeBlock final : IDispatch {
    // Only the interfaces it has: a stand-in that answered every IID with itself would be
    // taken for the private signer interface of real block objects.
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!(riid == IID_IUnknown) && !(riid == IID_IDispatch)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
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
    std::uint32_t refs = 0;
    std::uint16_t loadedTag = 0;
};

struct FakeBackend final : carvix::com::DocAdminBackend {
    void ReadVerified(const std::u16string& reader, std::uint16_t appId,
                      CardBlock& model) override {
        reads.push_back({reader, appId, model.Tag()});
        if (fail) {
            fail();
        }
    }
    HRESULT CreateBlockObject(const CLSID& clsid, const IID& iid, void** ppv) override {
        created.push_back({clsid, iid});
        if (FAILED(createResult)) {
            *ppv = nullptr;
            return createResult;
        }
        block.AddRef();
        *ppv = static_cast<IDispatch*>(&block);
        return S_OK;
    }
    HRESULT LoadBlockObject(const carvix::com::ReadMethod&, IUnknown*, CardBlock& model) override {
        block.loadedTag = model.Tag();
        if (loadThrows) {
            throw CardException(u"model without values");
        }
        return loadResult;
    }
    // The write methods have tests of their own (docadmin_write_test.cpp).
    HRESULT StoreBlockObject(IUnknown*, CardBlock&) override { return E_NOTIMPL; }
    void WriteToCard(std::uintptr_t, std::uint16_t, const CardBlock&,
                     const Orvel::Security::Cryptography::X509::X509Certificate&) override {}

    struct Read {
        std::u16string reader;
        std::uint16_t appId;
        std::uint16_t tag;
    };
    struct Created {
        CLSID clsid;
        IID iid;
    };
    std::vector<Read> reads;
    std::vector<Created> created;
    std::function<void()> fail;
    HRESULT createResult = S_OK;
    HRESULT loadResult = S_OK;
    bool loadThrows = false;
    FakeBlock block;
};

struct Notice {
    std::u16string caption;
    std::u16string text;
    std::uint32_t style;
};

// The notices of the running test (the notifier is a plain function).
std::vector<Notice>* gNotices = nullptr;

void Record(const char16_t* caption, const char16_t* text, std::uint32_t style) {
    gNotices->push_back({caption, text, style});
}

class DocAdmin : public ::testing::Test {
  protected:
    void SetUp() override {
        service = new DocAdminService(backend);
        gNotices = &notices;
        previous = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
        reader = SysAllocString(u"Virtual PCD 00 00");
    }
    void TearDown() override {
        SysFreeString(reader);
        carvix::com::SetNotifier(previous);
        gNotices = nullptr;
        service->Release();
        EXPECT_EQ(backend.block.refs, 0u) << "a block object was leaked or over-released";
    }

    // ReadVLDocumentData failing the way `fail` makes the card fail.
    HRESULT FailingRead(std::function<void()> fail) {
        backend.fail = std::move(fail);
        AnyOut block{reinterpret_cast<IDispatch*>(1)};
        const HRESULT hr = service->ReadVLDocumentData(reader, 1, block);
        EXPECT_EQ(block.p, nullptr);
        EXPECT_TRUE(backend.created.empty()) << "no object is created after a failed read";
        return hr;
    }

    // A read method called by a script: arguments in reverse order, uwAppID, then the reader.
    HRESULT InvokeRead(DISPID id, std::int32_t appId, VARIANT* result, EXCEPINFO* info) {
        VARIANT args[2];
        VariantInit(&args[0]);
        VariantInit(&args[1]);
        args[0].vt = VT_I4;
        args[0].lVal = appId;
        args[1].vt = VT_BSTR;
        args[1].bstrVal = reader;
        DISPPARAMS params{args, nullptr, 2, 0};
        return service->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, info, nullptr);
    }

    FakeBackend backend;
    DocAdminService* service = nullptr;
    carvix::com::NotifierFn previous = nullptr;
    std::vector<Notice> notices;
    BSTR reader = nullptr;
};

TEST_F(DocAdmin, EveryReadMethodReadsItsOwnBlockIntoItsOwnObject) {
    using Fn = HRESULT (*)(IDocAdminService*, BSTR, std::uint16_t, AnyOut&);
#define CARVIX_READ(method) \
    [](IDocAdminService* s, BSTR r, std::uint16_t a, AnyOut& o) { return s->method(r, a, o); }
    struct Row {
        Fn fn;
        std::uint16_t tag;
        const CLSID& clsid;
        const IID& iid;
    };
    namespace c = carvix::com;
    const Row rows[] = {
        {CARVIX_READ(ReadVLDocumentData), 0x0D01, c::kClsidVLDocumentBlock,
         c::kIidIVLDocumentBlock},
        {CARVIX_READ(ReadVLFixedPersoData), 0x0D02, c::kClsidVLFixedPersoBlock,
         c::kIidIVLFixedPersoBlock},
        {CARVIX_READ(ReadVLPhotoData), 0x0D04, c::kClsidVLPhotoBlock, c::kIidIVLPhotoBlock},
        {CARVIX_READ(ReadVLVariablePersoData), 0x0D03, c::kClsidVLVariablePersoBlock,
         c::kIidIVLVariablePersoBlock},
        {CARVIX_READ(ReadZKDocumentData), 0x0D01, c::kClsidZKDocumentBlock,
         c::kIidIZKDocumentBlock},
        {CARVIX_READ(ReadZKFixedAdminData), 0x0E01, c::kClsidZKFixedAdminBlock,
         c::kIidIZKFixedAdminBlock},
        {CARVIX_READ(ReadZKFixedPersoData), 0x0D02, c::kClsidZKFixedPersoBlock,
         c::kIidIZKFixedPersoBlock},
        {CARVIX_READ(ReadZKVariableAdminData), 0x0E02, c::kClsidZKVariableAdminBlock,
         c::kIidIZKVariableAdminBlock},
        {CARVIX_READ(ReadZKVariablePersoData), 0x0D03, c::kClsidZKVariablePersoBlock,
         c::kIidIZKVariablePersoBlock},
    };
    IDocAdminService* api = service;
    std::uint16_t appId = 1;
    for (const Row& row : rows) {
        backend.reads.clear();
        backend.created.clear();
        AnyOut out;
        ASSERT_EQ(row.fn(api, reader, appId, out), S_OK);
        IDispatch* block = out.p;
        ASSERT_EQ(backend.reads.size(), 1u);
        EXPECT_EQ(backend.reads[0].reader, u"Virtual PCD 00 00");
        EXPECT_EQ(backend.reads[0].appId, appId);
        EXPECT_EQ(backend.reads[0].tag, row.tag);
        ASSERT_EQ(backend.created.size(), 1u);
        EXPECT_TRUE(backend.created[0].clsid == row.clsid);
        EXPECT_TRUE(backend.created[0].iid == row.iid);
        EXPECT_EQ(block, static_cast<IDispatch*>(&backend.block));
        EXPECT_EQ(backend.block.loadedTag, row.tag);
        EXPECT_EQ(backend.block.refs, 1u) << "the caller holds the only reference";
        block->Release();
        appId = appId == 1 ? 5 : 1;
    }
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdmin, EmptyReaderOrNullOutPointerIsAnInvalidArgumentAndTouchesNothing) {
    AnyOut block;
    BSTR empty = SysAllocString(u"");
    EXPECT_EQ(service->ReadVLDocumentData(nullptr, 1, block), E_INVALIDARG);
    EXPECT_EQ(service->ReadVLDocumentData(empty, 1, block), E_INVALIDARG);
    EXPECT_EQ(service->ReadZKFixedAdminData(reader, 5, nullptr), E_INVALIDARG);
    SysFreeString(empty);
    EXPECT_TRUE(backend.reads.empty());
    EXPECT_TRUE(backend.created.empty());
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdmin, AMessageOnlyFailureIsShownOnceAndReturnsEFail) {
    const std::u16string message =
        u"Hash of block with ID 0xD01 does not match the hash in corresponding SOD block";
    EXPECT_EQ(FailingRead([&] { throw CardException(message); }), E_FAIL);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].caption, u"Tessaro");
    EXPECT_EQ(notices[0].text, message);
    EXPECT_EQ(notices[0].style, 0x30u);
}

TEST_F(DocAdmin, AnEmptyMessageStillGivesTheNoticeWithoutText) {
    EXPECT_EQ(FailingRead([] { throw CardException(u""); }), E_FAIL);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].text.empty());
}

TEST_F(DocAdmin, CodedFailuresAreMappedWithoutANotice) {
    struct Case {
        std::int32_t code;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {0x6982, 0x80076982u},                                  // applet status word
        {0x6A82, 0x80076A82u},                                  //
        {static_cast<std::int32_t>(0x80100069u), 0x80100069u},  // card removed
        {static_cast<std::int32_t>(0x8010001Du), 0x8010001Du},  // no service
        {5, 0x80070005u},                                       // a Win32 code
        {0x12345, 0x80072345u},                                 // only the low 16 bits
    };
    for (const Case& c : cases) {
        backend.created.clear();
        EXPECT_EQ(
            static_cast<std::uint32_t>(FailingRead([&] { throw CardException(u"coded", c.code); })),
            c.expected)
            << std::hex << c.code;
    }
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdmin, FailuresTheCardLayerLetsThroughNeverEscapeAndNeverShowANotice) {
    EXPECT_EQ(static_cast<std::uint32_t>(FailingRead(
                  [] { throw Orvel::PCSC::PCSCWin32Exception("SCardTransmit", 0x80100069u); })),
              0x80100069u);
    EXPECT_EQ(
        static_cast<std::uint32_t>(FailingRead([] { throw JavaCard::AppletException(0x6982); })),
        0x80076982u);
    EXPECT_EQ(FailingRead([] { throw SmartCardIO::SCIOException(u"bad response"); }), E_FAIL);
    EXPECT_EQ(FailingRead([] { throw Orvel::FrameworkError(E_INVALIDARG); }), E_INVALIDARG);
    EXPECT_EQ(FailingRead([] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(FailingRead([] { throw 42; }), E_FAIL);
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdmin, ObjectCreationAndLoadFailuresLeaveTheCallerWithoutAnObject) {
    AnyOut block;
    backend.createResult = CLASS_E_CLASSNOTAVAILABLE;
    EXPECT_EQ(service->ReadVLPhotoData(reader, 1, block), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(block.p, nullptr);

    backend.createResult = S_OK;
    backend.loadResult = E_INVALIDARG;
    EXPECT_EQ(service->ReadVLPhotoData(reader, 1, block), E_INVALIDARG);
    EXPECT_EQ(block.p, nullptr);
    EXPECT_EQ(backend.block.refs, 0u) << "the object is released when Load fails";

    backend.loadResult = S_OK;
    backend.loadThrows = true;
    EXPECT_EQ(service->ReadVLPhotoData(reader, 1, block), E_FAIL);
    EXPECT_EQ(block.p, nullptr);
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdmin, ContactlessMethodsCheckTheirArgumentsAndReportAMissingLibrary) {
    BSTR none = nullptr;
    AnyOut block;
    EXPECT_EQ(service->ReadVLContactlessData(none, 1, block), E_INVALIDARG);
    EXPECT_EQ(service->ReadVLContactlessData(reader, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(service->UpdateVLContactlessData(none, 1, reader, 1, none, none), E_INVALIDARG);
    EXPECT_EQ(service->UpdateVLContactlessData(reader, 1, none, 1, none, none), E_INVALIDARG);
    EXPECT_TRUE(notices.empty());

    // The library is looked for beside the code that holds the service: this test program,
    // whose folder has none.
    EXPECT_EQ(service->ReadVLContactlessData(reader, 1, block), E_FAIL);
    EXPECT_EQ(block.p, nullptr);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, u"Failed to load library for working with a contactless card.");
    EXPECT_TRUE(backend.reads.empty());
}

TEST_F(DocAdmin, AScriptFindsTheFourteenMethodsInDispidOrder) {
    const char16_t* names[] = {
        u"ReadVLDocumentData",       u"ReadVLFixedPersoData",     u"ReadVLPhotoData",
        u"ReadVLVariablePersoData",  u"WriteVLVariablePersoData", u"ReadZKDocumentData",
        u"ReadZKFixedAdminData",     u"ReadZKFixedPersoData",     u"ReadZKVariableAdminData",
        u"WriteZKVariableAdminData", u"ReadZKVariablePersoData",  u"WriteZKVariablePersoData",
        u"ReadVLContactlessData",    u"UpdateVLContactlessData"};
    DISPID expected = 1;
    for (const char16_t* name : names) {
        std::u16string text = name;
        LPOLESTR one[] = {text.data()};
        DISPID id = 0;
        EXPECT_EQ(service->GetIDsOfNames(IID_NULL, one, 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected++) << std::string(text.begin(), text.end());
    }
}

TEST_F(DocAdmin, AScriptReadsABlockThroughInvokeAndSeesFailuresAsExceptions) {
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(InvokeRead(9, 5, &result, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_DISPATCH);
    EXPECT_EQ(result.pdispVal, static_cast<IDispatch*>(&backend.block));
    ASSERT_EQ(backend.reads.size(), 1u);
    EXPECT_EQ(backend.reads[0].appId, 5);
    EXPECT_EQ(backend.reads[0].tag, 0x0E02);
    VariantClear(&result);

    backend.fail = [] { throw CardException(u"Applet exception: x", 0x6982); };
    EXCEPINFO info{};
    EXPECT_EQ(InvokeRead(9, 5, &result, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x80076982u);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    EXPECT_TRUE(notices.empty());
}

TEST_F(DocAdmin, ACardFailureMessageReachesTheScriptBesideTheNotice) {
    const std::u16string message = u"Read document has ID 1, but ID 2 was requested.";
    backend.fail = [&] { throw CardException(message); };
    EXCEPINFO info{};
    ASSERT_EQ(InvokeRead(1, 2, nullptr, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_FAIL);
    ASSERT_NE(info.bstrDescription, nullptr);
    EXPECT_EQ(std::u16string(info.bstrDescription, SysStringLen(info.bstrDescription)), message);
    ASSERT_EQ(notices.size(), 1u) << "the notice is shown as before";
    EXPECT_EQ(notices[0].text, message);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);

    // A status word carries no text of its own: the description stays empty.
    backend.fail = [] { throw CardException(JavaCard::AppletException(0x6A82)); };
    info = EXCEPINFO{};
    ASSERT_EQ(InvokeRead(1, 2, nullptr, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<std::uint32_t>(info.scode), 0x80076A82u);
    EXPECT_EQ(info.bstrDescription, nullptr);
    SysFreeString(info.bstrSource);
}

}  // namespace
