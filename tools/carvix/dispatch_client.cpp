#include "dispatch_client.h"

#include "carvix/automation/scoped.h"
#include "carvix/automation/typeinfo.h"
#include "carvix/support/unicode.h"

#include <map>
#include <mutex>

namespace carvix::cli {

Dispatch Dispatch::Create(const std::u16string& progId) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) {
        throw CallError{hr, "finding " + ToUtf8(progId)};
    }
    void* p = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p);
    if (FAILED(hr)) {
        throw CallError{hr, "creating " + ToUtf8(progId)};
    }
    return Dispatch(static_cast<IDispatch*>(p));
}

DISPID Dispatch::IdOf(const std::u16string& name) const {
    std::u16string copy = name;
    LPOLESTR names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = p_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        throw CallError{hr, "looking up " + ToUtf8(name)};
    }
    return id;
}

HRESULT Dispatch::Invoke(DISPID id, std::uint16_t flags, std::vector<VARIANT>& args,
                         Variant& out) const {
    // IDispatch takes the arguments last first.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<std::uint32_t>(reversed.size()), 0};
    EXCEPINFO info{};
    VariantClear(out.get());
    HRESULT hr =
        p_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, out.get(), &info, nullptr);
    if (hr == DISP_E_EXCEPTION && info.scode != 0) {
        hr = info.scode;
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    for (VARIANT& a : args) {
        VariantClear(&a);
    }
    return hr;
}

void Dispatch::Get(const std::u16string& name, Variant& out) const {
    const HRESULT hr = TryGet(name, out);
    if (FAILED(hr)) {
        throw CallError{hr, "reading " + ToUtf8(name)};
    }
}

HRESULT Dispatch::TryGet(const std::u16string& name, Variant& out) const {
    std::vector<VARIANT> none;
    return Invoke(IdOf(name), DISPATCH_PROPERTYGET, none, out);
}

namespace {

// The interface's name, the key of the description cache ("" when the runtime gives none).
std::u16string InterfaceName(ITypeInfo* info) {
    automation::ScopedBstr name;
    // -1 names the type itself rather than one of its members.
    if (FAILED(info->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr)) ||
        name.Get() == nullptr) {
        return {};
    }
    return std::u16string(name.Get(), SysStringLen(name.Get()));
}

}  // namespace

std::string Dispatch::TypeDescription() const {
    ITypeInfo* info = nullptr;  // the runtime's own: lives as long as the process
    HRESULT hr = p_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr)) {
        throw CallError{hr, "reading the type information"};
    }
    // An interface's description never changes while the process runs, and a command that
    // walks many blocks asks for the same few interfaces over and over: describe each once.
    static std::mutex cacheLock;
    static std::map<std::u16string, std::string> cache;
    const std::u16string name = InterfaceName(info);
    if (!name.empty()) {
        const std::lock_guard lock(cacheLock);
        auto found = cache.find(name);
        if (found != cache.end()) {
            info->Release();
            return found->second;
        }
    }
    automation::ScopedBstr json;
    hr = automation::DescribeTypeInfoJson(info, json.Put());
    info->Release();
    if (FAILED(hr)) {
        throw CallError{hr, "reading the type information"};
    }
    std::string text = BstrText(json.Get());
    if (!name.empty()) {
        const std::lock_guard lock(cacheLock);
        cache.emplace(name, text);
    }
    return text;
}

void Dispatch::Call(const std::u16string& name, std::vector<VARIANT> args, Variant& out) const {
    DISPID id = DISPID_UNKNOWN;
    try {
        id = IdOf(name);
    } catch (...) {
        for (VARIANT& a : args) {
            VariantClear(&a);
        }
        throw;
    }
    const HRESULT hr = Invoke(id, DISPATCH_METHOD, args, out);
    if (FAILED(hr)) {
        throw CallError{hr, ToUtf8(name)};
    }
}

VARIANT BstrArg(const std::u16string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    return v;
}

VARIANT IntArg(std::int32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

std::u16string ToUtf16(const std::string& text) {
    return Orvel::Utf8ToUtf16(text);
}

std::string ToUtf8(std::u16string_view text) {
    return Orvel::Utf16ToUtf8(text);
}

std::string BstrText(BSTR text) {
    return ToUtf8(std::u16string_view(text == nullptr ? u"" : text, SysStringLen(text)));
}

}  // namespace carvix::cli
