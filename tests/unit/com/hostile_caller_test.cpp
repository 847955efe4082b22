// Every member of every class the module serves, called through IDispatch the way a careless
// or hostile script would: null, empty, huge (1 MiB) and malformed arguments, wrong VARIANT
// types, wrong argument counts and calls in the wrong order. Each call must come back with a
// defined HRESULT, never crash, and never reach a card: the PC/SC calls are a tripwire that
// fails the test on any transmit. HOME and the XDG folders point at a temporary folder so
// nothing reads or writes the user's stores.
#include "carvix/automation/oleauto.h"
#include "carvix/com/module.h"
#include "fake_resource_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace {

namespace ca = carvix::automation;
namespace fs = std::filesystem;

// One reader and never a card in it: connecting fails, any transmit is a test failure.
class Tripwire final : public fake::ResourceManager {
  public:
    Tripwire() : ResourceManager(0x5151) {}

    int calls = 0;
    int transmits = 0;

    LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context) override {
        ++calls;
        return ResourceManager::EstablishContext(scope, context);
    }
    LONG ListReaders(SCARDCONTEXT, LPCSTR, LPSTR readers, LPDWORD length) override {
        ++calls;
        return HandOut(fake::OneReader("Tripwire Reader 0"), readers, length);
    }
    LONG Connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE, LPDWORD) override {
        ++calls;
        return SCARD_E_NO_SMARTCARD;
    }
    LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE,
                  LPDWORD) override {
        ++transmits;
        ADD_FAILURE() << "an APDU was transmitted";
        return SCARD_E_NO_SMARTCARD;
    }
    LONG Control(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID, DWORD, LPDWORD) override {
        ADD_FAILURE() << "a reader control code was sent";
        return SCARD_E_NO_SMARTCARD;
    }
    LONG GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD) override {
        ++calls;
        return SCARD_E_TIMEOUT;  // nothing ever changes: no card arrives
    }

  private:
    // No card is ever there: anything else on one fails as without a card.
    LONG Unsupported() override { return SCARD_E_NO_SMARTCARD; }
};

// A private HOME, XDG folders and token configuration for the whole binary.
class PrivateHome : public ::testing::Environment {
  public:
    void SetUp() override {
        char pattern[] = "/tmp/carvix-hostile-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(root_ / "tokens");
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root_ / "system").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        const fs::path conf = root_ / "softhsm2.conf";
        FILE* f = std::fopen(conf.c_str(), "w");
        if (f != nullptr) {
            std::fprintf(f, "directories.tokendir = %s\n", (root_ / "tokens").c_str());
            std::fclose(f);
        }
        ::setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

  private:
    fs::path root_;
};

[[maybe_unused]] const auto* const kHome = ::testing::AddGlobalTestEnvironment(new PrivateHome);

// An object from outside the module: it answers IUnknown and IDispatch and nothing else,
// and every call on it fails. Code that takes it for one of the module's own objects
// without asking (QueryInterface) would crash on it.
class Stranger final : public IDispatch {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++refs); }
    std::uint32_t Release() override { return static_cast<std::uint32_t>(--refs); }
    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (count != nullptr) {
            *count = 0;
        }
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, std::uint32_t, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID, REFIID, LCID, std::uint16_t, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                   std::uint32_t*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    long refs = 1;  // the test's own reference; never freed (static)
};

Stranger g_stranger;

// The hostile values one argument takes in turn. Each is built fresh and cleared after use.
enum class Hostile {
    Empty,
    Null,
    NullBstr,
    EmptyBstr,
    HugeBstr,
    LoneSurrogate,
    EmbeddedNul,
    Digits,
    NegativeI4,
    MaxUI4,
    NaN,
    NullDispatch,
    ForeignDispatch,
    NullArray,
    EmptyByteArray,
    HugeByteArray,
    StringArray,
    Error,
    Count
};

BSTR Bstr(const std::u16string& text) {
    return SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
}

VARIANT Make(Hostile kind) {
    VARIANT v;
    VariantInit(&v);
    switch (kind) {
        case Hostile::Empty:
            break;
        case Hostile::Null:
            v.vt = VT_NULL;
            break;
        case Hostile::NullBstr:
            v.vt = VT_BSTR;
            v.bstrVal = nullptr;
            break;
        case Hostile::EmptyBstr:
            v.vt = VT_BSTR;
            v.bstrVal = Bstr(u"");
            break;
        case Hostile::HugeBstr:
            v.vt = VT_BSTR;
            v.bstrVal = Bstr(std::u16string(512 * 1024, u'A'));  // 1 MiB of UTF-16
            break;
        case Hostile::LoneSurrogate:
            v.vt = VT_BSTR;
            v.bstrVal = Bstr(std::u16string(u"\\\\.\\R\xD800x", 7));
            break;
        case Hostile::EmbeddedNul:
            v.vt = VT_BSTR;
            v.bstrVal =
                Bstr(std::u16string(u"12\0"
                                    u"34",
                                    5));
            break;
        case Hostile::Digits:
            v.vt = VT_BSTR;
            v.bstrVal = Bstr(u"99999999999999999999999");
            break;
        case Hostile::NegativeI4:
            v.vt = VT_I4;
            v.lVal = -1;
            break;
        case Hostile::MaxUI4:
            v.vt = VT_UI4;
            v.ulVal = 0xFFFFFFFFu;
            break;
        case Hostile::NaN:
            v.vt = VT_R8;
            v.dblVal = std::numeric_limits<double>::quiet_NaN();
            break;
        case Hostile::NullDispatch:
            v.vt = VT_DISPATCH;
            v.pdispVal = nullptr;
            break;
        case Hostile::ForeignDispatch:
            v.vt = VT_DISPATCH;
            v.pdispVal = &g_stranger;
            g_stranger.AddRef();  // VariantClear releases it
            break;
        case Hostile::NullArray:
            v.vt = VT_ARRAY | VT_UI1;
            v.parray = nullptr;
            break;
        case Hostile::EmptyByteArray:
            v.vt = VT_ARRAY | VT_UI1;
            v.parray = SafeArrayCreateVector(VT_UI1, 0, 0);
            break;
        case Hostile::HugeByteArray:
            v.vt = VT_ARRAY | VT_UI1;
            v.parray = SafeArrayCreateVector(VT_UI1, 0, 1024 * 1024);
            break;
        case Hostile::StringArray:
            v.vt = VT_ARRAY | VT_BSTR;
            v.parray = SafeArrayCreateVector(VT_BSTR, 0, 3);
            break;
        case Hostile::Error:
            v.vt = VT_ERROR;
            v.scode = static_cast<SCODE>(DISP_E_PARAMNOTFOUND);  // a missing optional argument
            break;
        case Hostile::Count:
            break;
    }
    return v;
}

// Storage for an out parameter passed by reference with its own type.
struct OutSlot {
    VARIANT value;  // value.vt is the parameter's type, the union its storage
    VARIANT ref;
};

struct Outcome {
    HRESULT hr;
    EXCEPINFO excep;
};

std::uint16_t FlagsOf(const ca::MemberDesc& m) {
    switch (m.kind) {
        case ca::MemberKind::PropertyGet:
            return DISPATCH_PROPERTYGET;
        case ca::MemberKind::PropertyPut:
            return DISPATCH_PROPERTYPUT;
        case ca::MemberKind::Method:
            break;
    }
    return DISPATCH_METHOD;
}

// Invokes `m` with `in` for each in parameter (cycled) and typed references for the out
// parameters (or plain values there too when `outByValue`), `extra` arguments appended.
Outcome Call(IDispatch* disp, const ca::MemberDesc& m, const std::vector<Hostile>& in,
             bool outByValue, int extra) {
    std::vector<VARIANT> args;  // declaration order; reversed below
    std::vector<OutSlot> outs(m.paramCount);
    std::size_t next = 0;
    for (int i = 0; i < m.paramCount; ++i) {
        const ca::ParamDesc& p = m.params[static_cast<std::size_t>(i)];
        if ((p.flags & ca::kParamRetval) != 0) {
            continue;
        }
        if ((p.flags & ca::kParamOut) != 0 && !outByValue) {
            OutSlot& slot = outs[static_cast<std::size_t>(i)];
            VariantInit(&slot.value);
            VariantInit(&slot.ref);
            slot.value.vt = p.vt;
            if (p.vt == VT_VARIANT) {
                slot.ref.vt = VT_VARIANT | VT_BYREF;
                slot.value.vt = VT_EMPTY;
                slot.ref.pvarVal = &slot.value;
            } else {
                slot.ref.vt = static_cast<VARTYPE>(p.vt | VT_BYREF);
                slot.ref.byref = &slot.value.llVal;
            }
            args.push_back(slot.ref);
            continue;
        }
        args.push_back(Make(in.empty() ? Hostile::Empty : in[next++ % in.size()]));
    }
    for (int i = 0; i < extra; ++i) {
        args.push_back(Make(Hostile::HugeBstr));
    }
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    const bool put = m.kind == ca::MemberKind::PropertyPut;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), put ? &putId : nullptr,
                      static_cast<std::uint32_t>(reversed.size()), put ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    Outcome out{};
    std::uint32_t argErr = 0;
    out.hr = disp->Invoke(m.id, IID_NULL, 0, FlagsOf(m), &params, &result, &out.excep, &argErr);
    VariantClear(&result);
    for (VARIANT& v : reversed) {
        if ((v.vt & VT_BYREF) == 0) {
            VariantClear(&v);
        }
    }
    for (int i = 0; i < m.paramCount; ++i) {
        const ca::ParamDesc& p = m.params[static_cast<std::size_t>(i)];
        if ((p.flags & ca::kParamOut) != 0 && (p.flags & ca::kParamRetval) == 0 && !outByValue) {
            VariantClear(&outs[static_cast<std::size_t>(i)].value);  // whatever was stored
        }
    }
    SysFreeString(out.excep.bstrSource);
    SysFreeString(out.excep.bstrDescription);
    SysFreeString(out.excep.bstrHelpFile);
    return out;
}

// A defined result: success, or a failure whose code says what went wrong (an exception
// carries its own failure code).
::testing::AssertionResult Defined(const Outcome& o) {
    if (SUCCEEDED(o.hr)) {
        return ::testing::AssertionSuccess();
    }
    if (o.hr == DISP_E_EXCEPTION && !FAILED(o.excep.scode)) {
        return ::testing::AssertionFailure()
               << "DISP_E_EXCEPTION with a success scode " << std::hex << o.excep.scode;
    }
    if (o.hr == E_FAIL && o.excep.scode == 0) {
        return ::testing::AssertionFailure() << "a bare E_FAIL";
    }
    return ::testing::AssertionSuccess();
}

std::string Utf8(const char16_t* s) {
    std::string out;
    for (; s != nullptr && *s != 0; ++s) {
        out += static_cast<char>(*s < 0x80 ? *s : '?');
    }
    return out;
}

IDispatch* CreateDispatch(const carvix::com::ClassEntry& entry) {
    void* p = nullptr;
    const HRESULT hr = entry.create(nullptr, IID_IDispatch, &p);
    EXPECT_EQ(hr, S_OK) << Utf8(entry.className);
    return static_cast<IDispatch*>(p);
}

const ca::MemberDesc* Find(const carvix::com::ClassEntry& entry, std::u16string_view name) {
    for (const ca::MemberDesc& m : entry.primary.members) {
        if (m.name == name) {
            return &m;
        }
    }
    return nullptr;
}

const carvix::com::ClassEntry* Class(std::u16string_view name) {
    for (const auto& entry : carvix::com::ObjectMap()) {
        if (entry.className == name) {
            return &entry;
        }
    }
    return nullptr;
}

TEST(HostileCaller, EveryMemberOfEveryClassWithEveryHostileArgument) {
    Tripwire pcsc;
    int invocations = 0;
    for (const auto& entry : carvix::com::ObjectMap()) {
        for (const ca::MemberDesc& m : entry.primary.members) {
            // A fresh object per member: earlier calls leave no state that hides a fault.
            IDispatch* disp = CreateDispatch(entry);
            ASSERT_NE(disp, nullptr);
            for (int k = 0; k < static_cast<int>(Hostile::Count); ++k) {
                for (const bool outByValue : {false, true}) {
                    const Outcome o =
                        Call(disp, m, {static_cast<Hostile>(k)}, outByValue, /*extra=*/0);
                    ++invocations;
                    EXPECT_TRUE(Defined(o)) << Utf8(entry.className) << "." << Utf8(m.name)
                                            << " with hostile value " << k;
                }
            }
            // Mixed values in one call, then too few and too many arguments.
            const std::vector<Hostile> mixed{Hostile::HugeBstr, Hostile::NaN, Hostile::NullArray,
                                             Hostile::LoneSurrogate};
            EXPECT_TRUE(Defined(Call(disp, m, mixed, false, 0))) << Utf8(m.name);
            EXPECT_TRUE(Defined(Call(disp, m, mixed, false, 3))) << Utf8(m.name);
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            VARIANT result;
            VariantInit(&result);
            Outcome bare{};
            bare.hr =
                disp->Invoke(m.id, IID_NULL, 0, FlagsOf(m), &none, &result, &bare.excep, nullptr);
            EXPECT_TRUE(Defined(bare)) << Utf8(m.name) << " without arguments";
            SysFreeString(bare.excep.bstrSource);
            SysFreeString(bare.excep.bstrDescription);
            VariantClear(&result);
            invocations += 3;
            disp->Release();
        }
    }
    EXPECT_GT(invocations, 1000);
    EXPECT_GT(pcsc.calls, 0);  // the calls did reach the (card-less) PC/SC layer
    EXPECT_EQ(pcsc.transmits, 0);
    EXPECT_EQ(g_stranger.refs, 1);  // every reference the module took on it is given back
}

TEST(HostileCaller, MalformedDispatchCallsAreRefused) {
    Tripwire pcsc;
    for (const auto& entry : carvix::com::ObjectMap()) {
        IDispatch* disp = CreateDispatch(entry);
        ASSERT_NE(disp, nullptr);
        VARIANT result;
        VariantInit(&result);
        // A null DISPPARAMS, an unknown DISPID, no flags, a non-null riid.
        EXPECT_TRUE(FAILED(
            disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr)))
            << Utf8(entry.className);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXPECT_EQ(
            disp->Invoke(0x7FFF, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
        EXPECT_TRUE(FAILED(disp->Invoke(1, IID_NULL, 0, 0, &none, &result, nullptr, nullptr)));
        EXPECT_TRUE(FAILED(
            disp->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr)));
        // Named arguments that are not there, and counts that lie.
        DISPID named = 77;
        VARIANT arg = Make(Hostile::Digits);
        DISPPARAMS lying{&arg, &named, 1, 1};
        EXPECT_TRUE(FAILED(
            disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &lying, &result, nullptr, nullptr)));
        DISPPARAMS countWithoutArgs{nullptr, nullptr, 2, 0};
        EXPECT_TRUE(FAILED(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &countWithoutArgs, &result,
                                        nullptr, nullptr)));
        VariantClear(&arg);
        VariantClear(&result);
        // Name lookups with null and huge names.
        DISPID id = 0;
        EXPECT_TRUE(FAILED(disp->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id)));
        std::u16string huge(1024 * 1024, u'x');
        LPOLESTR names[] = {huge.data()};
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
        EXPECT_TRUE(FAILED(disp->GetTypeInfo(1, 0, nullptr)));
        disp->Release();
    }
    EXPECT_EQ(pcsc.transmits, 0);
}

// Calls in an order no correct client makes: commands before Init, twice in a row, and
// writes with no session at all. Each fails with a code and sends nothing.
TEST(HostileCaller, CallsInTheWrongOrderFailCleanly) {
    Tripwire pcsc;

    const auto* auth = Class(u"AuthenticationService");
    ASSERT_NE(auth, nullptr);
    IDispatch* disp = CreateDispatch(*auth);
    ASSERT_NE(disp, nullptr);
    for (const char16_t* name : {u"GetChallenge", u"ExternalAuthenticate", u"ExternalAuthenticate",
                                 u"Logout", u"GetConnection", u"Init", u"ExternalAuthenticate",
                                 u"ExternalAuthenticate", u"Logout", u"Logout"}) {
        const ca::MemberDesc* m = Find(*auth, name);
        ASSERT_NE(m, nullptr) << Utf8(name);
        const Outcome o = Call(disp, *m, {Hostile::Digits}, false, 0);
        // GetConnection reports the (null) handle of no session; every card command fails.
        if (std::u16string_view(name) != u"GetConnection") {
            EXPECT_TRUE(FAILED(o.hr)) << Utf8(name);
        }
        EXPECT_TRUE(Defined(o)) << Utf8(name);
    }
    disp->Release();

    const auto* docadmin = Class(u"DocAdminService");
    ASSERT_NE(docadmin, nullptr);
    disp = CreateDispatch(*docadmin);
    ASSERT_NE(disp, nullptr);
    int writes = 0;
    for (const ca::MemberDesc& m : docadmin->primary.members) {
        const std::u16string name = m.name;
        if (name.starts_with(u"Write") || name.starts_with(u"Update")) {
            ++writes;
            for (const Hostile h : {Hostile::NullDispatch, Hostile::ForeignDispatch, Hostile::Empty,
                                    Hostile::Digits}) {
                const Outcome o = Call(disp, m, {h}, false, 0);
                EXPECT_TRUE(FAILED(o.hr)) << Utf8(m.name);
                EXPECT_TRUE(Defined(o)) << Utf8(m.name);
            }
        }
    }
    EXPECT_GE(writes, 4);
    disp->Release();

    // Store and Load on a never-loaded block object are in-process only: refused over
    // IDispatch whatever the argument.
    for (const auto& entry : carvix::com::ObjectMap()) {
        const ca::MemberDesc* store = Find(entry, u"Store");
        if (store == nullptr) {
            continue;
        }
        disp = CreateDispatch(entry);
        ASSERT_NE(disp, nullptr);
        const Outcome o = Call(disp, *store, {Hostile::NullDispatch}, false, 0);
        EXPECT_TRUE(FAILED(o.hr)) << Utf8(entry.className);
        disp->Release();
    }
    EXPECT_EQ(pcsc.transmits, 0);
}

}  // namespace
