// The C++ client library: calls by name against a scripted object (what reaches Invoke and how
// each failure becomes the one error value), and against the real module registered in a
// private profile (creation by ProgID, type information, the component's message text).
#include "carvix/automation/client.h"
#include "temp_hives.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace carvix::automation;

// What one Invoke received, copied out before the caller frees the arguments.
struct Received {
    DISPID id = DISPID_UNKNOWN;
    std::uint16_t flags = 0;
    std::vector<VARIANT> args;  // as given: last argument first (copies, owned by the test)
    std::vector<DISPID> named;
    bool result = false;  // a result VARIANT was passed
};

// An object whose members are looked up in a list and whose Invoke runs a scripted answer.
class ScriptedObject final : public IDispatch {
  public:
    using Answer = std::function<HRESULT(VARIANT* result, EXCEPINFO* info, std::uint32_t* arg)>;

    std::vector<std::u16string> names{u"Value", u"Fail", u"Join"};
    Answer answer = [](VARIANT*, EXCEPINFO*, std::uint32_t*) { return S_OK; };
    std::vector<Received> calls;
    std::uint32_t refs = 1;

    ~ScriptedObject() {
        for (Received& r : calls) {
            for (VARIANT& v : r.args) {
                VariantClear(&v);
            }
        }
    }
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    std::uint32_t AddRef() override { return ++refs; }
    std::uint32_t Release() override { return --refs; }
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* wanted, std::uint32_t, LCID, DISPID* id) override {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == wanted[0]) {
                *id = static_cast<DISPID>(i + 1);
                return S_OK;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, std::uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* info, std::uint32_t* arg) override {
        Received r;
        r.id = id;
        r.flags = flags;
        r.result = result != nullptr;
        for (std::uint32_t i = 0; i < params->cArgs; ++i) {
            VARIANT copy;
            VariantInit(&copy);
            VariantCopy(&copy, &params->rgvarg[i]);
            r.args.push_back(copy);
        }
        r.named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
        calls.push_back(std::move(r));
        return answer(result, info, arg);
    }
};

std::u16string Text(const VARIANT& v) {
    return v.vt == VT_BSTR ? BstrText(v.bstrVal) : u"(not text)";
}

TEST(ClientCalls, ArgumentsReachInvokeLastFirstAndTheResultComesBack) {
    ScriptedObject object;
    object.answer = [](VARIANT* result, EXCEPINFO*, std::uint32_t*) {
        *result = TextValue(u"joined");
        return S_OK;
    };
    const Object client = Object::Share(&object);
    ScopedVariant out;
    client.Call(u"Join", {TextValue(u"first"), IntValue(2), BoolValue(true)}, out);
    ASSERT_EQ(object.calls.size(), 1u);
    const Received& r = object.calls[0];
    EXPECT_EQ(r.id, 3);
    EXPECT_EQ(r.flags, DISPATCH_METHOD);
    ASSERT_EQ(r.args.size(), 3u);
    EXPECT_EQ(r.args[0].vt, VT_BOOL);
    EXPECT_EQ(r.args[0].boolVal, VARIANT_TRUE);
    EXPECT_EQ(r.args[1].vt, VT_I4);
    EXPECT_EQ(r.args[1].lVal, 2);
    EXPECT_EQ(Text(r.args[2]), u"first");
    EXPECT_TRUE(r.named.empty());
    EXPECT_EQ(Text(*out), u"joined");
}

TEST(ClientCalls, PutPassesTheValueAsTheNamedNewValueWithoutAResult) {
    ScriptedObject object;
    const Object client = Object::Share(&object);
    client.Put(u"Value", UIntValue(0x80000000u));
    ASSERT_EQ(object.calls.size(), 1u);
    const Received& r = object.calls[0];
    EXPECT_EQ(r.flags, DISPATCH_PROPERTYPUT);
    ASSERT_EQ(r.named.size(), 1u);
    EXPECT_EQ(r.named[0], DISPID_PROPERTYPUT);
    ASSERT_EQ(r.args.size(), 1u);
    EXPECT_EQ(r.args[0].vt, VT_UI4);
    EXPECT_EQ(r.args[0].ulVal, 0x80000000u);
    EXPECT_FALSE(r.result);
}

TEST(ClientCalls, ObjectValuesHoldTheirOwnReference) {
    ScriptedObject object;
    {
        Arguments args{ObjectValue(&object)};
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 1u);  // the argument list let go of its reference
    {
        const Object shared = Object::Share(&object);
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 1u);
}

TEST(ClientErrors, AMemberFailureCarriesItsOwnCodeAndDescription) {
    ScriptedObject object;
    object.answer = [](VARIANT* result, EXCEPINFO* info, std::uint32_t*) {
        *result = TextValue(u"half written");  // must not survive the failure
        info->scode = static_cast<SCODE>(0x80076A82u);
        info->bstrDescription = SysAllocString(u"Hash of block 3 does not match");
        info->bstrSource = SysAllocString(u"CARVIX.DocAdmin");
        return DISP_E_EXCEPTION;
    };
    const Object client = Object::Share(&object);
    ScopedVariant out;
    try {
        client.Call(u"Fail", {}, out);
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.hresult), 0x80076A82u);
        EXPECT_EQ(e.message, "Hash of block 3 does not match");
        EXPECT_EQ(e.doing, "Fail");
        EXPECT_STREQ(e.what(), "Fail: 0x80076A82 Hash of block 3 does not match");
    }
    EXPECT_EQ(out->vt, VT_EMPTY);
}

TEST(ClientErrors, ReadsAndLookupsSayWhatWasBeingDone) {
    ScriptedObject object;
    object.answer = [](VARIANT*, EXCEPINFO* info, std::uint32_t*) {
        info->scode = E_ACCESSDENIED;
        return DISP_E_EXCEPTION;
    };
    const Object client = Object::Share(&object);
    ScopedVariant out;
    try {
        client.Get(u"Value", out);
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_EQ(e.hresult, E_ACCESSDENIED);
        EXPECT_EQ(e.doing, "reading Value");
    }
    // A may-fail read gives the member's own code and throws nothing.
    EXPECT_EQ(client.TryGet(u"Value", out), E_ACCESSDENIED);
    EXPECT_EQ(client.TryGet(2, out), E_ACCESSDENIED);
    try {
        client.Call(u"Missing", {TextValue(u"freed with the list")}, out);
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_EQ(e.hresult, DISP_E_UNKNOWNNAME);
        EXPECT_EQ(e.doing, "looking up Missing");
    }
    EXPECT_EQ(object.calls.size(), 3u);  // the unknown name never reached Invoke
}

TEST(ClientErrors, ARefusedArgumentIsNamedByItsPosition) {
    ScriptedObject object;
    object.answer = [](VARIANT*, EXCEPINFO*, std::uint32_t* arg) {
        *arg = 0;  // counted from the last argument: the third
        return DISP_E_TYPEMISMATCH;
    };
    const Object client = Object::Share(&object);
    ScopedVariant out;
    try {
        client.Call(u"Join", {IntValue(1), IntValue(2), TextValue(u"x")}, out);
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_EQ(e.hresult, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(e.message, "Argument 3 of Join has a type or value the member does not take.");
    }
    // A put names the property, not what was being done.
    try {
        client.Put(u"Value", TextValue(u"not a number"));
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_EQ(e.doing, "setting Value");
        EXPECT_EQ(e.message, "Argument 1 of Value has a type or value the member does not take.");
    }
}

TEST(ClientErrors, AnEmptyObjectFailsInsteadOfCrashing) {
    const Object empty;
    ScopedVariant out;
    EXPECT_THROW(empty.Get(u"Value", out), ClientError);
    EXPECT_THROW(empty.Invoke(1, DISPATCH_METHOD, Arguments(), out, "x"), ClientError);
    EXPECT_EQ(empty.TryType(), nullptr);
}

TEST(ClientValues, TextSurvivesTheRoundTripAndOtherTypesReadAsEmpty) {
    const std::u16string text = u"Ђорђе Петровић";
    VARIANT v = TextValue(text);
    EXPECT_EQ(Utf16(TextOf(v)), text);
    VariantClear(&v);
    EXPECT_EQ(TextOf(IntValue(5)), "");
    EXPECT_EQ(Utf8Of(nullptr), "");
    EXPECT_EQ(Utf8(u"a\xD800"), "a\xEF\xBF\xBD");  // a lone surrogate
}

TEST(ClientValues, ArraysOfValuesAreWalkedInOrderAndAnythingElseIsRefused) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 1, 3);  // lower bound 1, as allowed
    ASSERT_NE(array, nullptr);
    for (std::int32_t i = 1; i <= 3; ++i) {
        VARIANT item = IntValue(i * 10);
        ASSERT_EQ(SafeArrayPutElement(array, &i, &item), S_OK);
    }
    ScopedVariant value;
    value->vt = VT_ARRAY | VT_VARIANT;
    value->parray = array;
    std::vector<std::pair<std::size_t, std::int32_t>> seen;
    EXPECT_EQ(
        ForEachElement(*value, "walking",
                       [&](std::size_t i, const VARIANT& e) { seen.emplace_back(i, e.lVal); }),
        3u);
    EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, std::int32_t>>{{0, 10}, {1, 20}, {2, 30}}));
    try {
        ForEachElement(IntValue(1), "walking", [](std::size_t, const VARIANT&) {});
        ADD_FAILURE() << "a number is not an array";
    } catch (const ClientError& e) {
        EXPECT_EQ(e.hresult, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(e.doing, "walking");
    }
    EXPECT_TRUE(SameName("ReadVLDocumentData", "readvldocumentdata"));
    EXPECT_FALSE(SameName("Init", "Init2"));
    EXPECT_FALSE(SameName("\xC4", "\xE4"));  // only ASCII letters fold
}

// ---- the real module -------------------------------------------------------------------------

class ClientWithModule : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = ::dlopen(CARVIX_QX_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << ::dlerror();
        void* entry = ::dlsym(module_, "DllInstall");
        ASSERT_NE(entry, nullptr);
        __builtin_memcpy(&install_, &entry, sizeof install_);
        ASSERT_EQ(install_(1, nullptr), S_OK);
    }
    void TearDown() override {
        if (install_ != nullptr) {
            install_(0, nullptr);
        }
        // The module stays loaded: the library keeps its message object for the process.
    }

    TempHives hives_;
    void* module_ = nullptr;
    HRESULT (*install_)(std::int32_t, const OLECHAR*) = nullptr;
};

TEST_F(ClientWithModule, CreatesByProgIdAndCallsByName) {
    const Object utilities = Object::Create(u"CARVIX.Utilities");
    ScopedVariant text;
    utilities.Call(u"GetErrorMessage", {IntValue(E_INVALIDARG)}, text);
    EXPECT_EQ(TextOf(*text), "A parameter is not valid.");
    try {
        Object::Create(u"CARVIX.NoSuchClass");
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_TRUE(FAILED(e.hresult));
        EXPECT_EQ(e.doing, "finding CARVIX.NoSuchClass");
    }
}

TEST_F(ClientWithModule, AFailureWithoutDescriptionGetsTheComponentsText) {
    EXPECT_EQ(MessageText(E_FAIL), "Unspecified failure.");
    const ClientError error(E_INVALIDARG, "setting CardID");
    EXPECT_EQ(error.message, "A parameter is not valid.");
    EXPECT_STREQ(error.what(), "setting CardID: 0x80070057 A parameter is not valid.");
    // The member's own text wins over the component's.
    EXPECT_EQ(ClientError(E_FAIL, "x", "No signing key").message, "No signing key");
}

TEST_F(ClientWithModule, TypeInformationGivesMembersAndIsReadOncePerInterface) {
    const Object utilities = Object::Create(u"CARVIX.Utilities");
    const auto type = utilities.Type();
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->name, "IUtilitiesService");
    const Member* member = type->Find("geterrormessage", Invocation::Method);
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->id, utilities.IdOf(u"GetErrorMessage"));
    ASSERT_EQ(member->params.size(), 2u);
    EXPECT_EQ(member->params[0].name, "ulErrorCode");
    EXPECT_EQ(member->params[0].vt, VT_I4);
    EXPECT_TRUE(member->params[0].in);
    EXPECT_TRUE(member->params[1].retval);
    EXPECT_FALSE(member->TakesNoArguments());
    EXPECT_EQ(type->Find("GetErrorMessage", Invocation::PropertyGet), nullptr);
    // A second object of the interface shares the description.
    EXPECT_EQ(Object::Create(u"CARVIX.Utilities").Type(), type);
}

TEST_F(ClientWithModule, PropertiesAreReadByTheirDispidsAndWrittenByName) {
    const Object block = Object::Create(u"CARVIX.VLVXPersoBlock");
    const auto type = block.Type();
    std::size_t getters = 0;
    const Member* textSetter = nullptr;
    for (const Member& m : type->members) {
        if (m.kind == Invocation::PropertyGet && m.TakesNoArguments()) {
            ++getters;
            ScopedVariant value;
            ScopedVariant byName;
            EXPECT_EQ(block.TryGet(m.id, value), block.TryGet(Utf16(m.name), byName)) << m.name;
        }
        if (m.kind == Invocation::PropertyPut && textSetter == nullptr && m.params.size() == 1 &&
            m.params[0].vt == VT_BSTR) {
            textSetter = &m;
        }
    }
    EXPECT_GT(getters, 3u);
    ASSERT_NE(textSetter, nullptr);
    const std::u16string name = Utf16(textSetter->name);
    block.Put(name, TextValue(u"Ниш"));
    ScopedVariant back;
    block.Get(name, back);
    EXPECT_EQ(TextOf(*back), "Ниш");
}

}  // namespace
