// Objects of the client library: creation by ProgID and calls by name through IDispatch.
#include "carvix/automation/client.h"

namespace carvix::automation {
namespace {

// Frees what Invoke put into the EXCEPINFO and gives the member's description.
std::string TakeDescription(EXCEPINFO& info) {
    std::string description = Utf8Of(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return description;
}

}  // namespace

Object Object::Share(IDispatch* object) {
    if (object != nullptr) {
        object->AddRef();
    }
    return Object(object);
}

Object Object::Create(std::u16string_view progId) {
    const std::u16string name(progId);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(hr)) {
        throw ClientError(hr, "finding " + Utf8(progId));
    }
    void* p = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p);
    if (FAILED(hr) || p == nullptr) {
        throw ClientError(FAILED(hr) ? hr : E_NOINTERFACE, "creating " + Utf8(progId));
    }
    return Object(static_cast<IDispatch*>(p));
}

DISPID Object::IdOf(std::u16string_view name) const {
    if (!p_) {
        throw ClientError(E_POINTER, "looking up " + Utf8(name));
    }
    std::u16string copy(name);
    LPOLESTR names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = p_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        throw ClientError(hr, "looking up " + Utf8(name));
    }
    return id;
}

namespace {

struct Outcome {
    HRESULT hr = S_OK;
    std::string description;  // the member's, for DISP_E_EXCEPTION
    std::size_t count = 0;    // arguments passed
    std::uint32_t argError = 0;
};

Outcome RawInvoke(IDispatch* object, DISPID id, std::uint16_t flags, const Arguments& args,
                  VARIANT* out) {
    Outcome outcome;
    VariantClear(out);
    if (object == nullptr) {
        outcome.hr = E_POINTER;
        return outcome;
    }
    std::vector<VARIANT> values = args.Reversed();  // still owned by args
    outcome.count = values.size();
    DISPID putId = DISPID_PROPERTYPUT;
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    DISPPARAMS params{values.empty() ? nullptr : values.data(), put ? &putId : nullptr,
                      static_cast<std::uint32_t>(values.size()), put ? 1u : 0u};
    EXCEPINFO info{};
    outcome.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                put ? nullptr : out, &info, &outcome.argError);
    std::string description = TakeDescription(info);
    if (outcome.hr == DISP_E_EXCEPTION) {
        if (info.scode != 0) {
            outcome.hr = info.scode;
        }
        outcome.description = std::move(description);
    }
    if (FAILED(outcome.hr)) {
        VariantClear(out);
    }
    return outcome;
}

}  // namespace

void Object::Invoke(DISPID id, std::uint16_t flags, const Arguments& args, ScopedVariant& out,
                    const std::string& doing, const std::string& member) const {
    Outcome outcome = RawInvoke(p_.Get(), id, flags, args, out.Get());
    if (SUCCEEDED(outcome.hr)) {
        return;
    }
    if (outcome.description.empty() &&
        (outcome.hr == DISP_E_TYPEMISMATCH || outcome.hr == DISP_E_OVERFLOW) &&
        outcome.argError < outcome.count) {
        // Invoke counts the arguments from the last one.
        const std::size_t position = outcome.count - outcome.argError;
        outcome.description = "Argument " + std::to_string(position) + " of " +
                              (member.empty() ? doing : member) +
                              " has a type or value the member does not take.";
    }
    throw ClientError(outcome.hr, doing, std::move(outcome.description));
}

void Object::InvokeByName(std::u16string_view name, std::uint16_t flags, const Arguments& args,
                          ScopedVariant& out) const {
    Invoke(IdOf(name), flags, args, out, Utf8(name));
}

void Object::Call(std::u16string_view name, Arguments args, ScopedVariant& out) const {
    InvokeByName(name, DISPATCH_METHOD, args, out);
}

void Object::Get(std::u16string_view name, ScopedVariant& out) const {
    const DISPID id = IdOf(name);
    Invoke(id, DISPATCH_PROPERTYGET, Arguments(), out, "reading " + Utf8(name), Utf8(name));
}

HRESULT Object::TryGet(std::u16string_view name, ScopedVariant& out) const {
    return RawInvoke(p_.Get(), IdOf(name), DISPATCH_PROPERTYGET, Arguments(), out.Get()).hr;
}

HRESULT Object::TryGet(DISPID id, ScopedVariant& out) const {
    return RawInvoke(p_.Get(), id, DISPATCH_PROPERTYGET, Arguments(), out.Get()).hr;
}

void Object::Put(std::u16string_view name, VARIANT value) const {
    Arguments args;
    args.Add(value);
    ScopedVariant none;
    Invoke(IdOf(name), DISPATCH_PROPERTYPUT, args, none, "setting " + Utf8(name), Utf8(name));
}

}  // namespace carvix::automation
