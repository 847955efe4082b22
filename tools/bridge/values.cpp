#include "values.h"

#include "base64_text.h"
#include "carvix/automation/client.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace carvix::bridge {
namespace {

using automation::ScopedVariant;

constexpr std::int64_t kExactLimit = std::int64_t{1} << 53;

Json Int64Json(std::int64_t v) {
    if (v >= -kExactLimit && v <= kExactLimit) {
        return v;
    }
    return Json{{"$int64", std::to_string(v)}};
}

Json UInt64Json(std::uint64_t v) {
    if (v <= static_cast<std::uint64_t>(kExactLimit)) {
        return v;
    }
    return Json{{"$int64", std::to_string(v)}};
}

Json DispatchJson(IDispatch* dispatch, ObjectBroker& objects) {
    return dispatch == nullptr ? Json(nullptr) : objects.Export(dispatch);
}

Json UnknownJson(IUnknown* unknown, ObjectBroker& objects) {
    if (unknown == nullptr) {
        return nullptr;
    }
    void* p = nullptr;
    if (FAILED(unknown->QueryInterface(IID_IDispatch, &p)) || p == nullptr) {
        throw BridgeError{E_NOINTERFACE, "The module returned an object the page cannot use."};
    }
    auto* dispatch = static_cast<IDispatch*>(p);
    Json out = objects.Export(dispatch);
    dispatch->Release();
    return out;
}

// Element types whose value fits the VARIANT's value field (SafeArrayGetElement writes it
// there); VT_VARIANT elements are whole VARIANTs.
bool ScalarElement(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_BOOL:
        case VT_ERROR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_VARIANT:
            return true;
        default:
            return false;
    }
}

// The elements of a one-dimensional array; bytes as one Base64 text.
Json ArrayJson(SAFEARRAY* array, VARTYPE elementType, ObjectBroker& objects, int depth) {
    if (array == nullptr) {
        return nullptr;
    }
    if (SafeArrayGetDim(array) != 1) {
        throw BridgeError{DISP_E_TYPEMISMATCH,
                          "The module returned a multi-dimensional array, which the page cannot "
                          "receive."};
    }
    if (depth >= kMaxNesting) {
        throw BridgeError{DISP_E_TYPEMISMATCH, "The module returned arrays nested too deeply."};
    }
    std::int32_t lower = 0;
    std::int32_t upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    VARTYPE vt = elementType;
    if (SafeArrayGetVartype(array, &vt) != S_OK) {
        vt = elementType;
    }
    if (!ScalarElement(vt)) {
        throw BridgeError{DISP_E_BADVARTYPE, "The module returned an array of type " +
                                                 std::to_string(vt) +
                                                 ", which the page cannot receive."};
    }
    if (vt == VT_UI1 || vt == VT_I1) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            throw BridgeError{E_UNEXPECTED,
                              "The module returned a byte array that cannot be read."};
        }
        const auto count = static_cast<std::size_t>(std::max(0, upper - lower + 1));
        Json out{{"$bytes", EncodeBase64({static_cast<const std::uint8_t*>(data), count})}};
        SafeArrayUnaccessData(array);
        return out;
    }
    Json out = Json::array();
    for (std::int32_t i = lower; i <= upper; ++i) {
        ScopedVariant element;
        HRESULT hr = S_OK;
        if (vt == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &i, element.Get());
        } else {
            // The element lands in the VARIANT's value field; its type is the array's.
            hr = SafeArrayGetElement(array, &i, &element.Get()->llVal);
            if (SUCCEEDED(hr)) {
                element.Get()->vt = vt;
            }
        }
        if (FAILED(hr)) {
            throw BridgeError{hr, ""};
        }
        out.push_back(VariantToJson(*element, objects, depth + 1));
    }
    return out;
}

void Fail(const std::string& text) {
    throw BridgeError{E_INVALIDARG, text};
}

void FillArray(const Json& value, const ObjectBroker& objects, VARIANT* out, int depth) {
    if (depth >= kMaxNesting) {
        Fail("The arguments nest arrays too deeply.");
    }
    SAFEARRAY* array =
        SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(value.size()));
    if (array == nullptr) {
        throw BridgeError{E_OUTOFMEMORY, ""};
    }
    try {
        std::int32_t index = 0;
        for (const Json& item : value) {
            ScopedVariant element;
            JsonToVariant(item, objects, element.Get(), depth + 1);
            const HRESULT hr = SafeArrayPutElement(array, &index, element.Get());
            if (FAILED(hr)) {
                throw BridgeError{hr, ""};
            }
            ++index;
        }
    } catch (...) {
        SafeArrayDestroy(array);
        throw;
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
}

void FillBytes(const std::string& text, VARIANT* out) {
    const auto bytes = DecodeBase64(text);
    if (!bytes) {
        Fail("A $bytes value is not Base64 text.");
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<std::uint32_t>(bytes->size()));
    if (array == nullptr) {
        throw BridgeError{E_OUTOFMEMORY, ""};
    }
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
        if (!bytes->empty()) {
            std::memcpy(data, bytes->data(), bytes->size());
        }
        SafeArrayUnaccessData(array);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
}

// The one "$..." member of a tagged value, or nullptr for a plain object.
const Json* Tagged(const Json& value, const char* tag) {
    if (value.size() != 1) {
        return nullptr;
    }
    auto found = value.find(tag);
    return found == value.end() ? nullptr : &*found;
}

void FillTagged(const Json& value, const ObjectBroker& objects, VARIANT* out) {
    if (const Json* date = Tagged(value, "$date"); date != nullptr) {
        const auto parsed =
            date->is_string() ? ParseDateText(date->get_ref<const std::string&>()) : std::nullopt;
        if (!parsed) {
            Fail("A $date value is not a date \"YYYY-MM-DDTHH:MM:SS\".");
        }
        out->vt = VT_DATE;
        out->date = *parsed;
    } else if (const Json* bytes = Tagged(value, "$bytes"); bytes != nullptr) {
        if (!bytes->is_string()) {
            Fail("A $bytes value is not Base64 text.");
        }
        FillBytes(bytes->get_ref<const std::string&>(), out);
    } else if (const Json* handle = Tagged(value, "$object"); handle != nullptr) {
        IDispatch* object =
            handle->is_number_integer() ? objects.Find(handle->get<std::int64_t>()) : nullptr;
        if (object == nullptr) {
            throw BridgeError{E_HANDLE,
                              "No object of this page has the handle " + handle->dump() + "."};
        }
        object->AddRef();
        out->vt = VT_DISPATCH;
        out->pdispVal = object;
    } else if (const Json* big = Tagged(value, "$int64"); big != nullptr) {
        std::int64_t v = 0;
        const std::string* text = big->is_string() ? &big->get_ref<const std::string&>() : nullptr;
        if (text == nullptr ||
            std::from_chars(text->data(), text->data() + text->size(), v).ptr !=
                text->data() + text->size() ||
            text->empty()) {
            Fail("A $int64 value is not a decimal 64-bit integer.");
        }
        out->vt = VT_I8;
        out->llVal = v;
    } else {
        Fail(
            "An object argument must be {\"$object\": handle}, {\"$date\": ...}, "
            "{\"$bytes\": ...} or {\"$int64\": ...}.");
    }
}

}  // namespace

Json VariantToJson(const VARIANT& value, ObjectBroker& objects, int depth) {
    if ((value.vt & VT_BYREF) != 0) {
        ScopedVariant plain;
        const HRESULT hr = VariantCopyInd(plain.Get(), &value);
        if (FAILED(hr)) {
            throw BridgeError{hr, ""};
        }
        return VariantToJson(*plain, objects, depth);
    }
    if ((value.vt & VT_ARRAY) != 0) {
        return ArrayJson(value.parray, value.vt & VT_TYPEMASK, objects, depth);
    }
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return nullptr;
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE;
        case VT_I1:
            return static_cast<int>(value.cVal);
        case VT_UI1:
            return value.bVal;
        case VT_I2:
            return value.iVal;
        case VT_UI2:
            return value.uiVal;
        case VT_I4:
        case VT_INT:
            return value.lVal;
        case VT_UI4:
        case VT_UINT:
            return value.ulVal;
        case VT_I8:
            return Int64Json(value.llVal);
        case VT_UI8:
            return UInt64Json(value.ullVal);
        case VT_R4:
            return std::isfinite(value.fltVal) ? Json(value.fltVal) : Json(nullptr);
        case VT_R8:
            return std::isfinite(value.dblVal) ? Json(value.dblVal) : Json(nullptr);
        case VT_CY:
            return static_cast<double>(value.cyVal.int64) / 10000.0;
        case VT_DECIMAL: {
            ScopedVariant number;
            if (FAILED(VariantChangeType(number.Get(), &value, 0, VT_R8))) {
                throw BridgeError{DISP_E_OVERFLOW, ""};
            }
            return number->dblVal;
        }
        case VT_BSTR:
            return automation::Utf8Of(value.bstrVal);
        case VT_DATE: {
            const auto text = DateText(value.date);
            if (!text) {
                throw BridgeError{DISP_E_OVERFLOW, "The module returned a date out of range."};
            }
            return Json{{"$date", *text}};
        }
        case VT_ERROR:
            return Json{{"$error", static_cast<std::uint32_t>(value.scode)}};
        case VT_DISPATCH:
            return DispatchJson(value.pdispVal, objects);
        case VT_UNKNOWN:
            return UnknownJson(value.punkVal, objects);
        default:
            throw BridgeError{DISP_E_BADVARTYPE, "The module returned a value of type " +
                                                     std::to_string(value.vt) +
                                                     ", which the page cannot receive."};
    }
}

void JsonToVariant(const Json& value, const ObjectBroker& objects, VARIANT* out, int depth) {
    switch (value.type()) {
        case Json::value_t::null:
            out->vt = VT_NULL;
            return;
        case Json::value_t::boolean:
            out->vt = VT_BOOL;
            out->boolVal = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
            return;
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned: {
            if (value.is_number_integer() && !value.is_number_unsigned()) {
                const auto v = value.get<std::int64_t>();
                if (v >= std::numeric_limits<std::int32_t>::min() &&
                    v <= std::numeric_limits<std::int32_t>::max()) {
                    out->vt = VT_I4;
                    out->lVal = static_cast<std::int32_t>(v);
                    return;
                }
            } else if (value.get<std::uint64_t>() <=
                       static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
                out->vt = VT_I4;
                out->lVal = static_cast<std::int32_t>(value.get<std::uint64_t>());
                return;
            }
            out->vt = VT_R8;
            out->dblVal = value.get<double>();
            return;
        }
        case Json::value_t::number_float:
            out->vt = VT_R8;
            out->dblVal = value.get<double>();
            return;
        case Json::value_t::string: {
            const std::u16string text = automation::Utf16(value.get_ref<const std::string&>());
            out->bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
            if (out->bstrVal == nullptr) {
                throw BridgeError{E_OUTOFMEMORY, ""};
            }
            out->vt = VT_BSTR;
            return;
        }
        case Json::value_t::array:
            FillArray(value, objects, out, depth);
            return;
        case Json::value_t::object:
            FillTagged(value, objects, out);
            return;
        default:
            Fail("The value cannot be passed to the module.");
    }
}

std::optional<std::string> DateText(double date) {
    SYSTEMTIME st{};
    if (VariantTimeToSystemTime(date, &st) == 0) {
        return std::nullopt;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return std::string(text);
}

std::optional<double> ParseDateText(std::string_view text) {
    // Fixed positions: YYYY-MM-DD, then optionally THH:MM:SS.
    const bool withTime = text.size() == 19;
    if (text.size() != 10 && !withTime) {
        return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t width, std::uint16_t& field) {
        unsigned v = 0;
        const char* begin = text.data() + at;
        const auto r = std::from_chars(begin, begin + width, v);
        field = static_cast<std::uint16_t>(v);
        return r.ec == std::errc() && r.ptr == begin + width;
    };
    SYSTEMTIME st{};
    bool ok = number(0, 4, st.wYear) && text[4] == '-' && number(5, 2, st.wMonth) &&
              text[7] == '-' && number(8, 2, st.wDay);
    if (ok && withTime) {
        ok = text[10] == 'T' && number(11, 2, st.wHour) && text[13] == ':' &&
             number(14, 2, st.wMinute) && text[16] == ':' && number(17, 2, st.wSecond);
    }
    // The runtime checks ranges; it also accepts a day past the month's end, which the page
    // must not get away with ("2024-02-30").
    static constexpr std::uint16_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (!ok || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > kDays[st.wMonth - 1] ||
        st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59) {
        return std::nullopt;
    }
    const bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
    if (st.wMonth == 2 && st.wDay == 29 && !leap) {
        return std::nullopt;
    }
    double date = 0;
    if (SystemTimeToVariantTime(&st, &date) == 0) {
        return std::nullopt;
    }
    return date;
}

}  // namespace carvix::bridge
