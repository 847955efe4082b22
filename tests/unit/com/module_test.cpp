// The module through its exported entry points, loaded the way a client loads it.
#include "carvix/automation/guid.h"
#include "carvix/automation/oleauto.h"
#include "carvix/automation/registry.h"
#include "carvix/com/guids.h"
#include "carvix/com/utilities_service.h"
#include "temp_hives.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

namespace {

namespace reg = carvix::automation::registry;
using carvix::automation::GuidToString;
using carvix::com::IUtilitiesService;

struct Module {
    Module() : handle(::dlopen(CARVIX_QX_PATH, RTLD_NOW | RTLD_LOCAL)) {
        EXPECT_NE(handle, nullptr) << ::dlerror();
        Bind(canUnload, "DllCanUnloadNow");
        Bind(getClassObject, "DllGetClassObject");
        Bind(install, "DllInstall");
        Bind(unregister, "DllUnregisterServer");
        Bind(describe, "DllDescribeTypeLibrary");
    }
    template <typename F>
    void Bind(F& f, const char* name) {
        void* p = ::dlsym(handle, name);
        ASSERT_NE(p, nullptr) << name;
        __builtin_memcpy(&f, &p, sizeof f);
    }
    void* handle;
    HRESULT (*canUnload)() = nullptr;
    HRESULT (*getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT (*install)(std::int32_t, const OLECHAR*) = nullptr;
    HRESULT (*unregister)() = nullptr;
    HRESULT (*describe)(BSTR*) = nullptr;
};

Module& Qx() {
    static Module module;  // stays loaded: the per-user switch lives as long as the module
    return module;
}

IUnknown* NewUtilities(REFIID riid = IID_IUnknown) {
    void* factory = nullptr;
    EXPECT_EQ(Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IClassFactory, &factory),
              S_OK);
    void* object = nullptr;
    EXPECT_EQ(static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, riid, &object), S_OK);
    static_cast<IClassFactory*>(factory)->Release();
    return static_cast<IUnknown*>(object);
}

// Every key of a hive as "path" and every value as "path|name=value", sorted.
void Flatten(const reg::Key& key, const std::u16string& path, std::set<std::u16string>& out) {
    if (!path.empty()) {
        out.insert(path);
    }
    for (const auto& [name, value] : key.values) {
        out.insert(path + u"|" + (name.empty() ? u"@" : name) + u"=" + value);
    }
    for (const auto& [name, sub] : key.subkeys) {
        Flatten(sub, path.empty() ? name : path + u"\\" + name, out);
    }
}

std::set<std::u16string> Contents(reg::Hive hive, const std::u16string& under = {}) {
    reg::Key root;
    EXPECT_EQ(reg::Load(hive, root), S_OK);
    std::set<std::u16string> out;
    if (const reg::Key* key = root.Find(under); key != nullptr) {
        Flatten(*key, {}, out);
    }
    return out;
}

/// The entries of one class and those every class shares (AppID, TypeLib, the roots): what
/// the other classes of the object map register is left out.
std::set<std::u16string> OfOneClass(const std::set<std::u16string>& all,
                                    const std::u16string& progId, const std::u16string& clsid,
                                    const std::u16string& iid) {
    std::set<std::u16string> out;
    for (const std::u16string& entry : all) {
        const std::u16string head = entry.substr(0, entry.find_first_of(u"\\|"));
        const bool otherProgId =
            head.starts_with(u"CARVIX.") && head != progId && head != progId + u".1";
        const bool otherClass =
            entry.starts_with(u"CLSID\\") && !entry.starts_with(u"CLSID\\" + clsid);
        const bool otherInterface =
            entry.starts_with(u"Interface\\") && !entry.starts_with(u"Interface\\" + iid);
        if (!otherProgId && !otherClass && !otherInterface) {
            out.insert(entry);
        }
    }
    return out;
}

TEST(ClassObjects, UnknownClassesAndTheCachedFactory) {
    void* ppv = reinterpret_cast<void*>(1);
    const CLSID unknown = {0x0BADC1A5, 0x5000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    EXPECT_EQ(Qx().getClassObject(unknown, IID_IClassFactory, &ppv),
              static_cast<HRESULT>(0x80040111u));
    EXPECT_EQ(ppv, nullptr);
    EXPECT_EQ(Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IClassFactory, nullptr),
              E_POINTER);
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IClassFactory, &a),
              S_OK);
    ASSERT_EQ(Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IUnknown, &b), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IDispatch, &ppv),
              E_NOINTERFACE);
    EXPECT_EQ(ppv, nullptr);
    static_cast<IUnknown*>(a)->Release();
    static_cast<IUnknown*>(b)->Release();
}

TEST(ClassObjects, UnloadOnlyWithoutObjectsLocksOrHeldFactories) {
    EXPECT_EQ(Qx().canUnload(), S_OK);
    IUnknown* object = NewUtilities();
    EXPECT_EQ(Qx().canUnload(), S_FALSE);
    object->Release();
    EXPECT_EQ(Qx().canUnload(), S_OK);

    void* factory = nullptr;
    Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IClassFactory, &factory);
    EXPECT_EQ(Qx().canUnload(), S_FALSE);  // a caller holds the factory
    auto* cf = static_cast<IClassFactory*>(factory);
    cf->LockServer(1);
    cf->Release();
    EXPECT_EQ(Qx().canUnload(), S_FALSE);  // the server lock remains
    Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IClassFactory, &factory);
    cf->LockServer(0);
    cf->Release();
    EXPECT_EQ(Qx().canUnload(), S_OK);
}

TEST(ClassObjects, InterfacesAndAggregation) {
    IUnknown* object = NewUtilities();
    void* p = nullptr;
    for (const IID* iid : {&IID_IDispatch, &IUtilitiesService::kIid, &IID_IObjectSafety}) {
        ASSERT_EQ(object->QueryInterface(*iid, &p), S_OK);
        static_cast<IUnknown*>(p)->Release();
    }
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    object->Release();

    // Aggregated: only IUnknown may be asked for; the inner object delegates to the outer.
    struct Outer final : IUnknown {
        int refs = 1;
        IUnknown* inner = nullptr;
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            if (riid == IID_IUnknown) {
                *ppv = this;
                ++refs;
                return S_OK;
            }
            return inner->QueryInterface(riid, ppv);
        }
        std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++refs); }
        std::uint32_t Release() override { return static_cast<std::uint32_t>(--refs); }
    } outer;
    void* factory = nullptr;
    Qx().getClassObject(carvix::com::kClsidUtilitiesService, IID_IClassFactory, &factory);
    auto* cf = static_cast<IClassFactory*>(factory);
    EXPECT_EQ(cf->CreateInstance(&outer, IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(cf->CreateInstance(&outer, IID_IUnknown, &p), S_OK);
    outer.inner = static_cast<IUnknown*>(p);
    void* util = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IUtilitiesService::kIid, &util), S_OK);
    EXPECT_EQ(outer.refs, 2);  // the interface's reference went to the outer object
    void* back = nullptr;
    ASSERT_EQ(static_cast<IUnknown*>(util)->QueryInterface(IID_IUnknown, &back), S_OK);
    EXPECT_EQ(back, &outer);
    static_cast<IUnknown*>(util)->Release();
    outer.Release();
    outer.inner->Release();
    cf->Release();
    EXPECT_EQ(Qx().canUnload(), S_OK);
}

TEST(ObjectSafety, OnlyTheUntrustedCallerOptionExists) {
    IUnknown* object = NewUtilities();
    void* p = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, &p), S_OK);
    auto* safety = static_cast<IObjectSafety*>(p);
    std::uint32_t supported = 9, enabled = 9;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IUtilitiesService::kIid, &supported, &enabled),
              S_OK);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);
    safety->Release();
    object->Release();
}

TEST(Dispatch, TypeInfoAndBadCalls) {
    auto* disp = static_cast<IDispatch*>(static_cast<void*>(NewUtilities(IID_IDispatch)));
    std::uint32_t count = 0;
    EXPECT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* ti = nullptr;
    EXPECT_EQ(disp->GetTypeInfo(1, 0, &ti), DISP_E_BADINDEX);
    EXPECT_EQ(disp->GetTypeInfo(0, 0, nullptr), E_POINTER);
    ASSERT_EQ(disp->GetTypeInfo(0, 0, &ti), S_OK);
    ti->Release();

    VARIANT arg, result;
    VariantInit(&arg);
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(u"not a number");
    DISPPARAMS one{&arg, nullptr, 1, 0};
    std::uint32_t argErr = 7;
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(disp->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    SysReAllocString(&arg.bstrVal, u"0x8010001D");  // hexadecimal text is not a number here
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr),
              DISP_E_TYPEMISMATCH);
    SysReAllocString(&arg.bstrVal, u"&H8010001D");
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr),
              DISP_E_OVERFLOW);  // above the I4 range
    VariantClear(&arg);
    arg.vt = VT_UI4;
    arg.ulVal = 0x8010001Du;  // also out of range for I4
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr),
              DISP_E_OVERFLOW);
    arg.vt = VT_I4;
    arg.lVal = static_cast<std::int32_t>(0x8010001Du);
    ASSERT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_GT(SysStringLen(result.bstrVal), 0u);
    VariantClear(&result);
    disp->Release();
}

TEST(Registration, PerUserSwitchNeedsTheWholeWordAndUnregisterLeavesTheRoots) {
    TempHives hives;
    // "users" is not the switch: the machine hive gets everything.
    ASSERT_EQ(Qx().install(1, u"users"), S_OK);
    const std::u16string c = GuidToString(carvix::com::kClsidUtilitiesService);
    const std::u16string lib = GuidToString(carvix::com::kLibId);
    const std::u16string app = GuidToString(carvix::com::kAppId);
    const std::u16string iid = GuidToString(IUtilitiesService::kIid);
    const std::u16string module =
        reg::ClassesValue(u"CLSID\\" + c + u"\\InprocServer32").value_or(u"?");
    EXPECT_EQ(module.front(), u'/');
    const std::u16string d = u"UtilitiesService Class";
    const std::set<std::u16string> expected = {
        u"AppID",
        u"AppID\\" + app,
        u"AppID\\" + app + u"|@=carvix-qx",
        u"AppID\\carvix-qx.DLL",
        u"AppID\\carvix-qx.DLL|AppID=" + app,
        u"CARVIX.Utilities",
        u"CARVIX.Utilities|@=" + d,
        u"CARVIX.Utilities\\CLSID",
        u"CARVIX.Utilities\\CLSID|@=" + c,
        u"CARVIX.Utilities\\CurVer",
        u"CARVIX.Utilities\\CurVer|@=CARVIX.Utilities.1",
        u"CARVIX.Utilities.1",
        u"CARVIX.Utilities.1|@=" + d,
        u"CARVIX.Utilities.1\\CLSID",
        u"CARVIX.Utilities.1\\CLSID|@=" + c,
        u"CLSID",
        u"CLSID\\" + c,
        u"CLSID\\" + c + u"|@=" + d,
        u"CLSID\\" + c + u"\\InprocServer32",
        u"CLSID\\" + c + u"\\InprocServer32|@=" + module,
        u"CLSID\\" + c + u"\\InprocServer32|ThreadingModel=Apartment",
        u"CLSID\\" + c + u"\\ProgID",
        u"CLSID\\" + c + u"\\ProgID|@=CARVIX.Utilities.1",
        u"CLSID\\" + c + u"\\Programmable",
        u"CLSID\\" + c + u"\\TypeLib",
        u"CLSID\\" + c + u"\\TypeLib|@=" + lib,
        u"CLSID\\" + c + u"\\VersionIndependentProgID",
        u"CLSID\\" + c + u"\\VersionIndependentProgID|@=CARVIX.Utilities",
        u"Interface",
        u"Interface\\" + iid,
        u"Interface\\" + iid + u"|@=IUtilitiesService",
        u"Interface\\" + iid + u"\\ProxyStubClsid",
        u"Interface\\" + iid + u"\\ProxyStubClsid|@={00020424-0000-0000-C000-000000000046}",
        u"Interface\\" + iid + u"\\ProxyStubClsid32",
        u"Interface\\" + iid + u"\\ProxyStubClsid32|@={00020424-0000-0000-C000-000000000046}",
        u"Interface\\" + iid + u"\\TypeLib",
        u"Interface\\" + iid + u"\\TypeLib|@=" + lib,
        u"Interface\\" + iid + u"\\TypeLib|Version=1.0",
        u"TypeLib",
        u"TypeLib\\" + lib,
        u"TypeLib\\" + lib + u"\\1.0",
        u"TypeLib\\" + lib + u"\\1.0|@=carvix-qx 1.0 Type Library",
        u"TypeLib\\" + lib + u"\\1.0\\0",
        u"TypeLib\\" + lib + u"\\1.0\\0\\win64",
        u"TypeLib\\" + lib + u"\\1.0\\0\\win64|@=" + module,
        u"TypeLib\\" + lib + u"\\1.0\\FLAGS",
        u"TypeLib\\" + lib + u"\\1.0\\FLAGS|@=0",
        u"TypeLib\\" + lib + u"\\1.0\\HELPDIR",
        u"TypeLib\\" + lib + u"\\1.0\\HELPDIR|@=" + module.substr(0, module.rfind(u'/'))};
    const auto utilities = [&](const std::set<std::u16string>& all) {
        return OfOneClass(all, u"CARVIX.Utilities", c, iid);
    };
    EXPECT_EQ(utilities(Contents(reg::Hive::Machine)), expected);
    EXPECT_TRUE(Contents(reg::Hive::User).empty());

    // Registering again replaces, never duplicates.
    ASSERT_EQ(Qx().install(1, nullptr), S_OK);
    EXPECT_EQ(utilities(Contents(reg::Hive::Machine)), expected);

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"CARVIX.Utilities", &clsid), S_OK);
    EXPECT_TRUE(clsid == carvix::com::kClsidUtilitiesService);
    void* p = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IUtilitiesService::kIid, &p),
              S_OK);
    static_cast<IUnknown*>(p)->Release();

    ASSERT_EQ(Qx().install(0, nullptr), S_OK);
    const std::set<std::u16string> roots = {u"AppID", u"CLSID", u"Interface", u"TypeLib"};
    EXPECT_EQ(Contents(reg::Hive::Machine), roots);

    // "USER" in capitals is the switch: the user's Software\Classes gets the same content.
    ASSERT_EQ(Qx().install(1, u"USER"), S_OK);
    EXPECT_EQ(Contents(reg::Hive::Machine), roots);
    EXPECT_EQ(utilities(Contents(reg::Hive::User, u"Software\\Classes")), expected);
    ASSERT_EQ(Qx().unregister(), S_OK);  // stays per-user
    EXPECT_EQ(Contents(reg::Hive::User, u"Software\\Classes"), roots);
}

TEST(Registration, BlockClassesAreCreatedByTheirProgIds) {
    TempHives hives;
    ASSERT_EQ(Qx().install(1, nullptr), S_OK);
    const std::pair<const char16_t*, const CLSID*> classes[] = {
        {u"CARVIX.VLDocBlock", &carvix::com::kClsidVLDocumentBlock},
        {u"CARVIX.VLVXPersoBlock.1", &carvix::com::kClsidVLVariablePersoBlock},
        {u"CARVIX.ZKVXAdminBlock", &carvix::com::kClsidZKVariableAdminBlock},
        {u"CARVIX.VoluntaryInsurance", &carvix::com::kClsidVoluntaryInsurance},
        {u"CARVIX.VLContactlessBlock", &carvix::com::kClsidVLContactlessBlock}};
    for (const auto& [progId, expected] : classes) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_TRUE(clsid == *expected);
        void* p = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p), S_OK);
        static_cast<IUnknown*>(p)->Release();
    }
    ASSERT_EQ(Qx().install(0, nullptr), S_OK);
}

TEST(Registration, TheAuthenticationClassIsFoundByBothProgIds) {
    TempHives hives;
    ASSERT_EQ(Qx().install(1, nullptr), S_OK);
    for (const char16_t* progId : {u"CARVIX.Auth", u"CARVIX.Auth.1"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_TRUE(clsid == carvix::com::kClsidAuthenticationService);
    }
    ASSERT_EQ(Qx().install(0, nullptr), S_OK);
}

TEST(Registration, FailedInstallReportsTheRegistryError) {
    TempHives hives;
    const auto path = reg::HivePath(reg::Hive::User);
    std::filesystem::create_directories(path.parent_path());
    { std::ofstream(path) << "not a hive\n"; }
    EXPECT_EQ(Qx().install(1, u"user"), REGDB_E_WRITEREGDB);
}

TEST(TypeLibrary, DescribesLibraryClassesAndMembers) {
    BSTR json = nullptr;
    ASSERT_EQ(Qx().describe(&json), S_OK);
    const std::u16string text(json, SysStringLen(json));
    SysFreeString(json);
    EXPECT_EQ(text.rfind(u"{\"name\":\"carvixQX\",\"version\":\"1.0\",\"help\":\"carvix-qx 1.0 "
                         u"Type Library\"",
                         0),
              0u);
    EXPECT_NE(
        text.find(u"\"name\":\"UtilitiesService\",\"clsid\":\"" +
                  GuidToString(carvix::com::kClsidUtilitiesService) +
                  u"\",\"help\":\"UtilitiesService Class\",\"progId\":\"CARVIX.Utilities.1\""),
        std::u16string::npos);
    EXPECT_NE(text.find(u"\"help\":\"IUtilitiesService Interface\""), std::u16string::npos);
    EXPECT_NE(text.find(u"\"help\":\"Returns formated message string for the requested error "
                        u"code\",\"params\":[{\"name\":\"ulErrorCode\",\"type\":\"I4\""),
              std::u16string::npos);
    EXPECT_EQ(Qx().describe(nullptr), E_POINTER);
}

}  // namespace
