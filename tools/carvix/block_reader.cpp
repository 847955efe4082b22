#include "block_reader.h"

#include <cstdio>

namespace carvix::cli {
namespace {

std::u16string Name(const Property& p) {
    return p.name;
}

Json InsuranceEntry(const VARIANT& element) {
    if (element.vt != VT_DISPATCH || element.pdispVal == nullptr) {
        throw CallError{E_INVALIDARG, "reading VoluntaryInsurances: an element is not an object"};
    }
    element.pdispVal->AddRef();
    const Dispatch entry(element.pdispVal);
    Json out = Json::object();
    for (const Property& p : InsuranceProperties()) {
        Variant value;
        entry.Get(Name(p), value);
        if (p.kind == Kind::Date) {
            out[ToUtf8(p.name)] = IsoDay(value->date);
        } else {
            out[ToUtf8(p.name)] = BstrText(value->bstrVal);
        }
    }
    return out;
}

// The list, or null when the object holds none (the getter's E_INVALIDARG).
Json Insurances(const Dispatch& object, const Property& p) {
    Variant value;
    const HRESULT hr = object.TryGet(Name(p), value);
    if (hr == E_INVALIDARG) {
        return nullptr;
    }
    if (FAILED(hr)) {
        throw CallError{hr, "reading " + ToUtf8(p.name)};
    }
    if (value->vt != (VT_ARRAY | VT_VARIANT) || value->parray == nullptr) {
        throw CallError{DISP_E_TYPEMISMATCH, "reading " + ToUtf8(p.name)};
    }
    SAFEARRAY* array = value->parray;
    std::int32_t lower = 0;
    std::int32_t upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    Json list = Json::array();
    for (std::int32_t i = lower; i <= upper; ++i) {
        Variant element;
        const HRESULT got = SafeArrayGetElement(array, &i, element.get());
        if (FAILED(got)) {
            throw CallError{got, "reading " + ToUtf8(p.name)};
        }
        list.push_back(InsuranceEntry(*element));
    }
    return list;
}

bool Specified(const Dispatch& object, const Property& p) {
    Variant flag;
    object.Get(Name(p) + u"Specified", flag);
    return flag->boolVal != VARIANT_FALSE;
}

}  // namespace

std::string IsoDay(double date) {
    SYSTEMTIME st{};
    if (VariantTimeToSystemTime(date, &st) == 0) {
        throw CallError{E_INVALIDARG, "converting a date"};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
    return text;
}

Json ReadBlock(const Dispatch& docAdmin, const BlockInfo& block, const std::u16string& reader,
               std::uint16_t appId) {
    Variant result;
    docAdmin.Call(block.method, {BstrArg(reader), IntArg(appId)}, result);
    if (result->vt != VT_DISPATCH || result->pdispVal == nullptr) {
        throw CallError{DISP_E_TYPEMISMATCH, ToUtf8(block.method)};
    }
    result->pdispVal->AddRef();
    const Dispatch object(result->pdispVal);

    Json out = Json::object();
    for (const Property& p : block.properties) {
        const std::string key = ToUtf8(p.name);
        if (p.kind == Kind::Insurances) {
            Json list = Insurances(object, p);
            if (!list.is_null()) {
                out[key] = std::move(list);
            }
            continue;
        }
        if (p.optional && !Specified(object, p)) {
            continue;
        }
        Variant value;
        object.Get(Name(p), value);
        switch (p.kind) {
            case Kind::Text:
            case Kind::Photo:
                out[key] = BstrText(value->bstrVal);
                break;
            case Kind::Number:
                out[key] = value->lVal;
                break;
            case Kind::Date:
                out[key] = IsoDay(value->date);
                break;
            case Kind::Insurances:
                break;
        }
    }
    return out;
}

}  // namespace carvix::cli
