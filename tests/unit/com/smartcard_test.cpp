// ListReaders against a fake resource manager: names, order, the empty cases, and the
// result as a script sees it through IDispatch.
#include "carvix/automation/oleauto.h"
#include "fake_pcsc.h"
#include "smartcard/smartcard_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using carvix::com::ISmartCardService;

// A multi-string from a literal with its embedded NULs (the literal's own last NUL dropped).
template <std::size_t N>
std::string Multi(const char (&text)[N]) {
    return std::string(text, N - 1);
}

class ListReaders : public ::testing::Test {
  protected:
    void SetUp() override {
        void* p = nullptr;
        ASSERT_EQ(carvix::com::Create<carvix::com::SmartCardService>(nullptr,
                                                                     ISmartCardService::kIid, &p),
                  S_OK);
        service = static_cast<ISmartCardService*>(p);
    }
    void TearDown() override {
        service->Release();
        // Every context and reader buffer the call took was given back.
        EXPECT_EQ(pcsc.contextsOpen, 0);
        EXPECT_EQ(pcsc.buffersOut, 0);
    }

    // The names in the result; checks the array's shape on the way.
    std::vector<std::u16string> Names(VARIANT& result) {
        std::vector<std::u16string> names;
        EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
        if (result.vt != (VT_ARRAY | VT_VARIANT)) {
            return names;
        }
        SAFEARRAY* array = result.parray;
        EXPECT_EQ(SafeArrayGetDim(array), 1u);
        std::int32_t lower = -1;
        std::int32_t upper = -2;
        EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        for (std::int32_t i = lower; i <= upper; ++i) {
            VARIANT item;
            VariantInit(&item);
            EXPECT_EQ(SafeArrayGetElement(array, &i, &item), S_OK);
            EXPECT_EQ(item.vt, VT_BSTR);
            names.emplace_back(item.bstrVal, SysStringLen(item.bstrVal));
            VariantClear(&item);
        }
        return names;
    }

    std::vector<std::u16string> List() {
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(service->ListReaders(&result), S_OK);
        std::vector<std::u16string> names = Names(result);
        VariantClear(&result);
        return names;
    }

    fake::Pcsc pcsc;  // the resource manager of this test
    ISmartCardService* service = nullptr;
};

TEST_F(ListReaders, ReportsEveryReaderInTheResourceManagersOrder) {
    pcsc.readerList =
        Multi("Virtual PCD 00 01\0Virtual PCD 00 00\0Lecteur \xC3\xA9tendu 01 00\0\0");
    EXPECT_EQ(List(), (std::vector<std::u16string>{u"Virtual PCD 00 01", u"Virtual PCD 00 00",
                                                   u"Lecteur \u00e9tendu 01 00"}));
}

TEST_F(ListReaders, NoReaderOrNoServiceIsAnEmptyArrayNotAnError) {
    for (LONG rv : {SCARD_E_NO_READERS_AVAILABLE, SCARD_E_NO_SERVICE, SCARD_E_SERVICE_STOPPED,
                    SCARD_E_INVALID_HANDLE, SCARD_F_INTERNAL_ERROR}) {
        pcsc.Next("SCardListReaders", rv);
        EXPECT_TRUE(List().empty()) << std::hex << rv;
        EXPECT_EQ(pcsc.contextsOpen, 0);
    }
    pcsc.Next("SCardEstablishContext", SCARD_E_NO_SERVICE);
    EXPECT_TRUE(List().empty());
    pcsc.readerList = Multi("\0");
    EXPECT_TRUE(List().empty());
}

TEST_F(ListReaders, AFailedReleaseOfTheBufferGivesNoNamesButNoError) {
    pcsc.readerList = Multi("Reader A\0\0");
    pcsc.Next("SCardFreeMemory", SCARD_E_INVALID_HANDLE);
    EXPECT_TRUE(List().empty());
}

TEST_F(ListReaders, AListWithoutItsFinalTerminatorIsNotOverrun) {
    pcsc.readerList = Multi("Reader A\0Reader B");
    EXPECT_EQ(List(), (std::vector<std::u16string>{u"Reader A", u"Reader B"}));
}

TEST_F(ListReaders, ReplacesWhatTheCallersVariantHeld) {
    pcsc.readerList = Multi("R\0\0");
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocString(u"old value");
    ASSERT_EQ(service->ListReaders(&result), S_OK);
    EXPECT_EQ(Names(result), std::vector<std::u16string>{u"R"});
    VariantClear(&result);
}

TEST_F(ListReaders, ANullOutPointerIsInvalid) {
    EXPECT_EQ(service->ListReaders(nullptr), E_INVALIDARG);
}

TEST_F(ListReaders, AScriptCallsItByNameAndGetsTheArray) {
    pcsc.readerList = Multi("One\0Two\0\0");
    std::u16string memberName = u"listreaders";
    LPOLESTR names[] = {memberName.data()};
    DISPID id = 0;
    ASSERT_EQ(service->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 3);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(service->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(Names(result), (std::vector<std::u16string>{u"One", u"Two"}));
    VariantClear(&result);
}

}  // namespace
