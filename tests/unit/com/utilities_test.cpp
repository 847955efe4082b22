// GetErrorMessage: the text for PC/SC, Win32 and HRESULT codes, directly and through Invoke.
#include "carvix/automation/oleauto.h"
#include "carvix/support/system_message.h"
#include "utilities/utilities_service.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using carvix::com::IUtilitiesService;

class Utilities : public ::testing::Test {
  protected:
    void SetUp() override {
        void* p = nullptr;
        ASSERT_EQ(carvix::com::Create<carvix::com::UtilitiesService>(nullptr,
                                                                     IUtilitiesService::kIid, &p),
                  S_OK);
        service = static_cast<IUtilitiesService*>(p);
    }
    void TearDown() override { service->Release(); }

    std::u16string Message(std::uint32_t code) {
        BSTR text = nullptr;
        EXPECT_EQ(service->GetErrorMessage(static_cast<std::int32_t>(code), &text), S_OK);
        std::u16string out(text, SysStringLen(text));
        SysFreeString(text);
        return out;
    }

    IUtilitiesService* service = nullptr;
};

TEST_F(Utilities, PcscCodesGiveThePcscText) {
    const std::u16string text = Message(0x8010001Du);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, u"An unrecognized Win32Exception was thrown.");
    EXPECT_EQ(text, Orvel::SystemMessageText(0x8010001Du));
}

TEST_F(Utilities, UnknownCodesAreNotAnError) {
    EXPECT_EQ(Message(0x1234ABCDu), u"An unrecognized Win32Exception was thrown.");
    EXPECT_EQ(Message(0xDEADBEEFu), u"An unrecognized Win32Exception was thrown.");
}

TEST_F(Utilities, TextsNeverHoldALineBreakPair) {
    for (std::uint32_t code : {0u, 0x80070057u, 0x80004005u, 0x800704C7u, 0x80076982u, 0x80046982u,
                               0x8007000Eu, 0x80100069u, 0x8010002Eu, 1223u}) {
        const std::u16string text = Message(code);
        EXPECT_FALSE(text.empty()) << std::hex << code;
        EXPECT_EQ(text.find(u"\r\n"), std::u16string::npos) << std::hex << code;
        EXPECT_EQ(text, Orvel::SystemMessageText(code)) << std::hex << code;
    }
}

TEST_F(Utilities, NullOutPointerIsAnInvalidArgument) {
    EXPECT_EQ(service->GetErrorMessage(0, nullptr), E_INVALIDARG);
}

TEST_F(Utilities, InvokeAcceptsNamesAndCoercibleArguments) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"geterrormessage"),
                        const_cast<LPOLESTR>(u"ULERRORCODE")};
    DISPID ids[2] = {};
    ASSERT_EQ(service->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 0);
    VARIANT arg, result;
    VariantInit(&arg);
    VariantInit(&result);
    arg.vt = VT_R8;              // a script number
    arg.dblVal = -2146435043.0;  // 0x8010001D as a signed value
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ASSERT_EQ(service->Invoke(1, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                              &result, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), Orvel::SystemMessageText(0x8010001Du));
    VariantClear(&result);
}

}  // namespace

#include "carvix/com/object.h"

namespace {

// A class whose start-up fails, as one that cannot acquire its resource must.
struct Failing final
    : carvix::com::CoClass<Failing, IUtilitiesService, carvix::com::kUtilitiesServiceDesc> {
    static inline int alive = 0;
    Failing() { ++alive; }
    ~Failing() { --alive; }
    HRESULT FinalConstruct() { return static_cast<HRESULT>(0x8010001Du); }
    HRESULT GetErrorMessage(std::int32_t, BSTR*) override { return E_NOTIMPL; }
};

TEST(CoClass, FailedStartUpFailsTheCreationAndFreesTheObject) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(carvix::com::Create<Failing>(nullptr, IID_IUnknown, &p),
              static_cast<HRESULT>(0x8010001Du));
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Failing::alive, 0);
    EXPECT_EQ(carvix::com::ModuleLockCount(), 0);
    EXPECT_EQ(carvix::com::Create<Failing>(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

}  // namespace
