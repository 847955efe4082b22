#include "registration.h"

#include "carvix/automation/guid.h"
#include "carvix/automation/registry.h"
#include "carvix/com/guids.h"
#include "carvix/com/module.h"
#include "carvix/support/text.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace carvix::com {
namespace {

namespace reg = automation::registry;
using automation::GuidToString;

// The standard proxy/stub class of dual interfaces.
constexpr GUID kPSDispatch = {0x00020424, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct Target {
    reg::Hive hive;
    std::u16string root;  // "" or "Software\Classes\"
};

Target TargetFor(bool perUser) {
    return perUser ? Target{reg::Hive::User, u"Software\\Classes\\"}
                   : Target{reg::Hive::Machine, u""};
}

// Runs one script against the classes root of the target hive.
// Unregistering never creates a key: an absent key has nothing to remove.
template <typename F>
HRESULT RunScript(const Target& t, bool install, F&& script) {
    return reg::Edit(t.hive, [&](reg::Key& hiveRoot) {
        reg::Key* classes = install ? &hiveRoot.Create(t.root) : hiveRoot.Find(t.root);
        if (classes != nullptr) {
            script(*classes);
        }
        return S_OK;
    });
}

void RemoveUnder(reg::Key& classes, std::u16string_view parent, std::u16string_view name) {
    if (reg::Key* key = classes.Find(parent); key != nullptr) {
        key->Remove(name);
    }
}

// Script 101.
void AppIdScript(reg::Key& classes, bool install) {
    const std::u16string appId = GuidToString(kAppId);
    if (!install) {  // the AppID key itself stays
        RemoveUnder(classes, u"AppID", appId);
        RemoveUnder(classes, u"AppID", u"carvix-qx.DLL");
        return;
    }
    reg::Key& appIdKey = classes.Create(u"AppID");
    appIdKey.Create(appId).values[u""] = u"carvix-qx";
    appIdKey.Create(u"carvix-qx.DLL").values[u"AppID"] = appId;
}

void ClassScript(reg::Key& classes, const ClassEntry& c, const std::u16string& module,
                 bool install) {
    const std::u16string stem = c.progIdStem;
    const std::u16string versioned = stem + u".1";
    const std::u16string clsid = GuidToString(c.clsid);
    if (!install) {  // the CLSID key itself stays
        classes.Remove(versioned);
        classes.Remove(stem);
        RemoveUnder(classes, u"CLSID", clsid);
        return;
    }
    reg::Key& clsidRoot = classes.Create(u"CLSID");
    const std::u16string description = std::u16string(c.className) + u" Class";
    reg::Key& v = classes.Create(versioned);
    v.values[u""] = description;
    v.Create(u"CLSID").values[u""] = clsid;
    reg::Key& p = classes.Create(stem);
    p.values[u""] = description;
    p.Create(u"CLSID").values[u""] = clsid;
    p.Create(u"CurVer").values[u""] = versioned;
    clsidRoot.Remove(clsid);  // replaced whole
    reg::Key& k = clsidRoot.Create(clsid);
    k.values[u""] = description;
    k.Create(u"ProgID").values[u""] = versioned;
    k.Create(u"VersionIndependentProgID").values[u""] = stem;
    k.Create(u"Programmable");
    reg::Key& server = k.Create(u"InprocServer32");
    server.values[u""] = module;
    server.values[u"ThreadingModel"] = u"Apartment";
    k.Create(u"TypeLib").values[u""] = GuidToString(kLibId);
}

// The entries of a registered type library and of its dual interfaces.
void TypeLibScript(reg::Key& classes, const std::u16string& module, bool install) {
    const std::u16string libId = GuidToString(kLibId);
    if (!install) {  // TypeLib and Interface stay, as does the library key of other versions
        if (reg::Key* lib = classes.Find(u"TypeLib\\" + libId); lib != nullptr) {
            lib->Remove(kTypeLibVersion);
            if (lib->subkeys.empty()) {
                RemoveUnder(classes, u"TypeLib", libId);
            }
        }
        for (const ClassEntry& c : ObjectMap()) {
            RemoveUnder(classes, u"Interface", GuidToString(c.primary.iid));
        }
        return;
    }
    reg::Key& typeLibs = classes.Create(u"TypeLib");
    reg::Key& interfaces = classes.Create(u"Interface");
    reg::Key& version = typeLibs.Create(libId + u"\\" + kTypeLibVersion);
    version.values[u""] = kTypeLibHelp;
    version.Create(u"FLAGS").values[u""] = u"0";
    version.Create(u"0\\win64").values[u""] = module;
    const auto slash = module.rfind(u'/');
    version.Create(u"HELPDIR").values[u""] =
        slash == std::u16string::npos ? std::u16string{} : module.substr(0, slash);
    for (const ClassEntry& c : ObjectMap()) {
        reg::Key& i = interfaces.Create(GuidToString(c.primary.iid));
        i.values[u""] = c.primary.name;
        i.Create(u"ProxyStubClsid").values[u""] = GuidToString(kPSDispatch);
        i.Create(u"ProxyStubClsid32").values[u""] = GuidToString(kPSDispatch);
        reg::Key& lib = i.Create(u"TypeLib");
        lib.values[u""] = libId;
        lib.values[u"Version"] = kTypeLibVersion;
    }
}

}  // namespace

HRESULT RegisterServer(bool perUser, const std::u16string& modulePath) {
    // Nothing here depends on the thread locale, so no locale switch is needed.
    const Target t = TargetFor(perUser);
    HRESULT hr = RunScript(t, true, [](reg::Key& classes) { AppIdScript(classes, true); });
    for (const ClassEntry& c : ObjectMap()) {
        if (FAILED(hr)) {
            return hr;
        }
        hr = RunScript(t, true,
                       [&](reg::Key& classes) { ClassScript(classes, c, modulePath, true); });
    }
    if (FAILED(hr)) {
        return hr;
    }
    return RunScript(t, true, [&](reg::Key& classes) { TypeLibScript(classes, modulePath, true); });
}

HRESULT UnregisterServer(bool perUser) {
    const Target t = TargetFor(perUser);
    HRESULT first = S_OK;
    auto note = [&](HRESULT hr) {
        if (SUCCEEDED(first) && FAILED(hr)) {
            first = hr;
        }
    };
    for (const ClassEntry& c : ObjectMap()) {
        note(RunScript(t, false, [&](reg::Key& classes) { ClassScript(classes, c, {}, false); }));
    }
    note(RunScript(t, false, [](reg::Key& classes) { TypeLibScript(classes, {}, false); }));
    note(RunScript(t, false, [](reg::Key& classes) { AppIdScript(classes, false); }));
    return first;
}

std::u16string ModulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    const char* path = ::realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    return Orvel::Utf8ToUtf16(path);
}

}  // namespace carvix::com
