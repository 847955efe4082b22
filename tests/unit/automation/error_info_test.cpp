// Error objects: what one keeps, the one current object per thread and its references, and
// how Invoke hands a member's recorded failure text to the caller in EXCEPINFO.
#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/automation/typeinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

namespace ca = carvix::automation;

std::u16string Text(BSTR b) {
    return b == nullptr ? u"<null>" : std::u16string(b, SysStringLen(b));
}

// An error object of the caller's own that counts its references, to see the runtime take
// and drop them.
struct CountedErrorInfo final : IErrorInfo {
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        *ppv = (riid == IID_IUnknown || riid == IID_IErrorInfo) ? this : nullptr;
        return *ppv != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++refs); }
    std::uint32_t Release() override { return static_cast<std::uint32_t>(--refs); }
    HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
    HRESULT GetSource(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetDescription(BSTR* out) override {
        *out = SysAllocString(u"counted");
        return S_OK;
    }
    HRESULT GetHelpFile(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetHelpContext(std::uint32_t*) override { return E_NOTIMPL; }
    int refs = 1;  // the test's own
};

// A new error object with `description`, as a member records its failure.
void Record(const char16_t* description) {
    ca::ComPtr<ICreateErrorInfo> created;
    ASSERT_EQ(CreateErrorInfo(created.Put()), S_OK);
    std::u16string text(description);
    ASSERT_EQ(created->SetDescription(text.data()), S_OK);
    ca::ComPtr<IErrorInfo> info;
    ASSERT_EQ(created->QueryInterface(IID_IErrorInfo, info.PutVoid()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
}

class ErrorInfoTest : public ::testing::Test {
  protected:
    void SetUp() override { SetErrorInfo(0, nullptr); }
    void TearDown() override { SetErrorInfo(0, nullptr); }
};

TEST_F(ErrorInfoTest, AnErrorObjectGivesBackWhatWasSetThroughEitherInterface) {
    ca::ComPtr<ICreateErrorInfo> created;
    ASSERT_EQ(CreateErrorInfo(created.Put()), S_OK);
    const GUID where = {0x11223344, 5, 6, {7, 8, 9, 10, 11, 12, 13, 14}};
    std::u16string source = u"IDocAdminService", text = u"Hash of block with ID 0xD01 differs";
    EXPECT_EQ(created->SetGUID(where), S_OK);
    EXPECT_EQ(created->SetSource(source.data()), S_OK);
    EXPECT_EQ(created->SetDescription(text.data()), S_OK);
    EXPECT_EQ(created->SetHelpContext(42), S_OK);
    source = u"changed after the call";  // the object keeps its own copy

    ca::ComPtr<IErrorInfo> info;
    ASSERT_EQ(created->QueryInterface(IID_IErrorInfo, info.PutVoid()), S_OK);
    GUID got{};
    EXPECT_EQ(info->GetGUID(&got), S_OK);
    EXPECT_TRUE(got == where);
    ca::ScopedBstr s, d, h;
    EXPECT_EQ(info->GetSource(s.Put()), S_OK);
    EXPECT_EQ(info->GetDescription(d.Put()), S_OK);
    EXPECT_EQ(info->GetHelpFile(h.Put()), S_OK);
    EXPECT_EQ(Text(s.Get()), u"IDocAdminService");
    EXPECT_EQ(Text(d.Get()), u"Hash of block with ID 0xD01 differs");
    EXPECT_EQ(h.Get(), nullptr) << "a text never set is a null BSTR";
    std::uint32_t context = 0;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 42u);

    // Both interfaces are one object; a null text empties a field.
    ca::ComPtr<ICreateErrorInfo> again;
    ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, again.PutVoid()), S_OK);
    EXPECT_EQ(again->SetDescription(nullptr), S_OK);
    ca::ScopedBstr cleared;
    EXPECT_EQ(info->GetDescription(cleared.Put()), S_OK);
    EXPECT_EQ(cleared.Get(), nullptr);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(info->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
    EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST_F(ErrorInfoTest, TheThreadHoldsOneObjectUntilItIsTakenReplacedOrCleared) {
    IErrorInfo* out = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);
    EXPECT_EQ(out, nullptr);

    CountedErrorInfo first, second;
    ASSERT_EQ(SetErrorInfo(0, &first), S_OK);
    EXPECT_EQ(first.refs, 2) << "the thread keeps a reference";
    ASSERT_EQ(SetErrorInfo(0, &second), S_OK);
    EXPECT_EQ(first.refs, 1) << "a replaced object is released";
    ASSERT_EQ(GetErrorInfo(0, &out), S_OK);
    EXPECT_EQ(out, &second);
    EXPECT_EQ(second.refs, 2) << "the caller now owns the thread's reference";
    out->Release();
    EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE) << "taking the object clears it";

    ASSERT_EQ(SetErrorInfo(0, &first), S_OK);
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(first.refs, 1) << "clearing releases it";

    EXPECT_EQ(SetErrorInfo(1, &first), E_INVALIDARG);
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(GetErrorInfo(1, &out), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST_F(ErrorInfoTest, EachThreadHasItsOwnObjectAndDropsItWhenItEnds) {
    CountedErrorInfo mine, theirs;
    ASSERT_EQ(SetErrorInfo(0, &mine), S_OK);
    std::thread([&] {
        IErrorInfo* seen = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &seen), S_FALSE) << "another thread's object is not ours";
        EXPECT_EQ(SetErrorInfo(0, &theirs), S_OK);
    }).join();
    EXPECT_EQ(theirs.refs, 1) << "a thread that ends releases its object";
    IErrorInfo* out = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &out), S_OK);
    EXPECT_EQ(out, &mine);
    out->Release();
}

// An interface whose members fail as the components' members do: with a recorded text,
// without one, or succeed after an older failure left a text behind.
inline constexpr IID kIidFailing = {0x5E5E5E5E, 1, 2, {1, 2, 3, 4, 5, 6, 7, 9}};

struct IFailing : IDispatch {
    static constexpr const IID& kIid = kIidFailing;
    static constexpr const char16_t* kName = u"IFailing";
    virtual HRESULT WithText() = 0;
    virtual HRESULT WithoutText() = 0;
};

const ca::MemberDesc kFailingMembers[] = {
    ca::Method<&IFailing::WithText>(1, u"WithText", u"fails with a message"),
    ca::Method<&IFailing::WithoutText>(2, u"WithoutText", u"fails with a code only"),
};
const ca::InterfaceDesc kFailingDesc{u"IFailing", kIidFailing, u"IFailing Interface",
                                     kFailingMembers};

struct Failing final : IFailing {
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    HRESULT GetTypeInfoCount(std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, std::uint32_t, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, std::uint16_t flags, DISPPARAMS* p, VARIANT* r,
                   EXCEPINFO* e, std::uint32_t* a) override {
        return ca::DispatchInvoke(kFailingDesc, static_cast<IFailing*>(this), id, riid, flags, p, r,
                                  e, a);
    }
    HRESULT WithText() override {
        Record(u"Read document has ID 1, but ID 2 was requested.");
        return E_FAIL;
    }
    HRESULT WithoutText() override { return static_cast<HRESULT>(0x80100069u); }
};

class InvokeDescriptionTest : public ErrorInfoTest {
  protected:
    HRESULT Call(DISPID id, EXCEPINFO* excep) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        return failing.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, excep, nullptr);
    }
    static void Free(EXCEPINFO& e) {
        SysFreeString(e.bstrSource);
        SysFreeString(e.bstrDescription);
        SysFreeString(e.bstrHelpFile);
        e = EXCEPINFO{};
    }
    Failing failing;
};

TEST_F(InvokeDescriptionTest, TheMembersTextArrivesInExcepInfoAndIsTakenFromTheThread) {
    EXCEPINFO e{};
    ASSERT_EQ(Call(1, &e), DISP_E_EXCEPTION);
    EXPECT_EQ(e.scode, E_FAIL);
    EXPECT_EQ(Text(e.bstrSource), u"IFailing");
    EXPECT_EQ(Text(e.bstrDescription), u"Read document has ID 1, but ID 2 was requested.");
    Free(e);
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << "the text describes that one failure only";
}

TEST_F(InvokeDescriptionTest, AFailureWithoutTextNeverShowsAnOlderCallsText) {
    Record(u"left over from an earlier call");
    EXCEPINFO e{};
    ASSERT_EQ(Call(2, &e), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<std::uint32_t>(e.scode), 0x80100069u);
    EXPECT_EQ(e.bstrDescription, nullptr);
    Free(e);
}

TEST_F(InvokeDescriptionTest, WithoutExcepInfoTheCallerCanStillAskTheThread) {
    ASSERT_EQ(Call(1, nullptr), DISP_E_EXCEPTION);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    ca::ScopedBstr text;
    EXPECT_EQ(info->GetDescription(text.Put()), S_OK);
    EXPECT_EQ(Text(text.Get()), u"Read document has ID 1, but ID 2 was requested.");
    info->Release();
}

}  // namespace
