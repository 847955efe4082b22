#include "block_reader.h"

#include <cstdio>
#include <set>

namespace carvix::cli {
namespace {

Json ObjectProperties(const Object& object);

// A list of objects, or null when the object holds none (the getter's E_INVALIDARG).
Json ObjectList(const Object& object, const Property& p) {
    ScopedVariant value;
    const HRESULT hr = object.TryGet(p.name, value);
    if (hr == E_INVALIDARG) {
        return nullptr;
    }
    if (FAILED(hr)) {
        throw ClientError{hr, "reading " + Utf8(p.name)};
    }
    const std::string doing = "reading " + Utf8(p.name);
    Json list = Json::array();
    ForEachElement(*value, doing, [&](std::size_t, const VARIANT& element) {
        if (element.vt != VT_DISPATCH || element.pdispVal == nullptr) {
            throw ClientError{E_INVALIDARG, doing + ": an element is not an object"};
        }
        list.push_back(ObjectProperties(Object::Share(element.pdispVal)));
    });
    return list;
}

bool Specified(const Object& object, const Property& p) {
    ScopedVariant flag;
    object.Get(p.name + u"Specified", flag);
    return flag->boolVal != VARIANT_FALSE;
}

Json ObjectProperties(const Object& object) {
    Json out = Json::object();
    for (const Property& p : PropertiesOf(object)) {
        const std::string key = Utf8(p.name);
        if (p.vt == VT_VARIANT) {
            Json list = ObjectList(object, p);
            if (!list.is_null()) {
                out[key] = std::move(list);
            }
            continue;
        }
        if (p.optional && !Specified(object, p)) {
            continue;
        }
        ScopedVariant value;
        object.Get(p.name, value);
        switch (value->vt) {
            case VT_BSTR:
                out[key] = Utf8Of(value->bstrVal);
                break;
            case VT_I4:
                out[key] = value->lVal;
                break;
            case VT_DATE:
                out[key] = IsoDay(value->date);
                break;
            case VT_BOOL:
                out[key] = value->boolVal != VARIANT_FALSE;
                break;
            default:
                throw ClientError{DISP_E_TYPEMISMATCH, "reading " + key};
        }
    }
    return out;
}

}  // namespace

std::vector<Property> PropertiesOf(const Object& object) {
    const auto type = object.Type();
    std::vector<Property> all;
    std::set<std::u16string> names;
    for (const automation::Member& member : type->members) {
        if (member.kind != automation::Invocation::PropertyGet || member.params.size() != 1) {
            continue;
        }
        const std::u16string name = Utf16(member.name);
        all.push_back({name, member.params[0].vt, false});
        names.insert(name);
    }
    std::vector<Property> properties;
    static constexpr std::u16string_view kFlag = u"Specified";
    for (const Property& p : all) {
        if (p.vt == VT_BOOL && p.name.size() > kFlag.size() && p.name.ends_with(kFlag) &&
            names.count(p.name.substr(0, p.name.size() - kFlag.size())) != 0) {
            continue;
        }
        const bool optional = names.count(p.name + std::u16string(kFlag)) != 0;
        properties.push_back({p.name, p.vt, optional});
    }
    return properties;
}

Json PropertiesJson(const Object& object) {
    return ObjectProperties(object);
}

std::string IsoDay(double date) {
    SYSTEMTIME st{};
    if (VariantTimeToSystemTime(date, &st) == 0) {
        throw ClientError{E_INVALIDARG, "converting a date"};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
    return text;
}

Json ReadBlock(const Object& docAdmin, const BlockInfo& block, const std::u16string& reader,
               std::uint16_t appId, Object* object) {
    ScopedVariant result;
    docAdmin.Call(block.method, {TextValue(reader), IntValue(appId)}, result);
    if (result->vt != VT_DISPATCH || result->pdispVal == nullptr) {
        throw ClientError{DISP_E_TYPEMISMATCH, Utf8(block.method)};
    }
    result->pdispVal->AddRef();
    Object read(result->pdispVal);
    Json values = ObjectProperties(read);
    if (object != nullptr) {
        *object = std::move(read);
    }
    return values;
}

}  // namespace carvix::cli
