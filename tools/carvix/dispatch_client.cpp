#include "dispatch_client.h"

#include "carvix/automation/scoped.h"
#include "carvix/automation/typeinfo.h"

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

std::string Dispatch::TypeDescription() const {
    ITypeInfo* info = nullptr;  // the runtime's own: lives as long as the process
    HRESULT hr = p_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr)) {
        throw CallError{hr, "reading the type information"};
    }
    automation::ScopedBstr json;
    hr = automation::DescribeTypeInfoJson(info, json.Put());
    info->Release();
    if (FAILED(hr)) {
        throw CallError{hr, "reading the type information"};
    }
    return BstrText(json.Get());
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
    std::u16string out;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = byte(i);
        // Length and payload bits of the lead byte; a bad sequence is one U+FFFD per byte.
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1Fu) : n == 3 ? (c & 0x0Fu) : (c & 0x07u);
        bool good = n != 0 && i + n <= text.size();
        for (std::size_t k = 1; good && k < n; ++k) {
            good = (byte(i + k) & 0xC0u) == 0x80u;
            cp = (cp << 6) | (byte(i + k) & 0x3Fu);
        }
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!good || cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return out;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string BstrText(BSTR text) {
    return ToUtf8(std::u16string_view(text == nullptr ? u"" : text, SysStringLen(text)));
}

}  // namespace carvix::cli
