#include "invoker.h"

#include <algorithm>
#include <cstdio>

namespace carvix::bridge {

std::string HexCode(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

ArgumentList::~ArgumentList() {
    for (VARIANT& v : values_) {
        VariantClear(&v);
    }
}

VARIANT* ArgumentList::Add() {
    values_.emplace_back();
    VariantInit(&values_.back());
    return &values_.back();
}

std::vector<VARIANT>& ArgumentList::Reversed() {
    if (!reversed_) {
        std::reverse(values_.begin(), values_.end());
        reversed_ = true;
    }
    return values_;
}

void InvokeByName(IDispatch* object, const std::string& name, std::uint16_t flags,
                  ArgumentList& args, VARIANT* result) {
    std::u16string wide = cli::ToUtf16(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        throw BridgeError{hr, "The object has no member " + name + "."};
    }
    std::vector<VARIANT>& values = args.Reversed();
    DISPID putId = DISPID_PROPERTYPUT;
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    DISPPARAMS params{values.empty() ? nullptr : values.data(), put ? &putId : nullptr,
                      static_cast<std::uint32_t>(values.size()), put ? 1u : 0u};
    EXCEPINFO info{};
    std::uint32_t argError = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, put ? nullptr : result,
                        &info, &argError);
    std::string description;
    if (hr == DISP_E_EXCEPTION) {
        if (info.scode != 0) {
            hr = info.scode;
        }
        description = cli::BstrText(info.bstrDescription);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (FAILED(hr)) {
        if (description.empty() && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) &&
            argError < values.size()) {
            // Invoke counts arguments from the last one.
            const std::size_t position = values.size() - argError;
            description = "Argument " + std::to_string(position) + " of " + name +
                          " has a type or value the member does not take.";
        }
        throw BridgeError{hr, description};
    }
}

std::string MessageTexts::TextOf(HRESULT hr) {
    if (!tried_) {
        tried_ = true;
        try {
            utilities_ = cli::Dispatch::Create(u"CARVIX.Utilities");
        } catch (const cli::CallError&) {
            // Not registered: the plain text below is all there is.
        }
    }
    std::string text;
    if (utilities_) {
        cli::Variant message;
        try {
            utilities_.Call(u"GetErrorMessage", {cli::IntArg(hr)}, message);
            if (message->vt == VT_BSTR) {
                text = cli::BstrText(message->bstrVal);
            }
        } catch (const cli::CallError&) {
            text.clear();
        }
    }
    return text.empty() ? "The operation failed with " + HexCode(hr) + "." : text;
}

}  // namespace carvix::bridge
