// Argument values and text for the client library.
#include "carvix/automation/client.h"
#include "carvix/support/unicode.h"

#include <utility>

namespace carvix::automation {

std::u16string Utf16(std::string_view text) {
    return Orvel::Utf8ToUtf16(text);
}

std::string Utf8(std::u16string_view text) {
    return Orvel::Utf16ToUtf8(text);
}

std::string Utf8Of(BSTR text) {
    return text == nullptr ? std::string() : Utf8(std::u16string_view(text, SysStringLen(text)));
}

std::string TextOf(const VARIANT& value) {
    return value.vt == VT_BSTR ? Utf8Of(value.bstrVal) : std::string();
}

std::size_t ForEachElement(
    const VARIANT& array, const std::string& doing,
    const std::function<void(std::size_t index, const VARIANT& element)>& each) {
    if (array.vt != (VT_ARRAY | VT_VARIANT) || array.parray == nullptr ||
        SafeArrayGetDim(array.parray) != 1) {
        throw ClientError(DISP_E_TYPEMISMATCH, doing);
    }
    std::int32_t lower = 0;
    std::int32_t upper = -1;
    SafeArrayGetLBound(array.parray, 1, &lower);
    SafeArrayGetUBound(array.parray, 1, &upper);
    std::size_t count = 0;
    for (std::int32_t i = lower; i <= upper; ++i, ++count) {
        ScopedVariant element;
        const HRESULT got = SafeArrayGetElement(array.parray, &i, element.Get());
        if (FAILED(got)) {
            throw ClientError(got, doing);
        }
        each(count, *element);
    }
    return count;
}

namespace {

// A new VARIANT of type `vt` whose value `fill` sets.
template <typename Fill>
VARIANT Made(VARTYPE vt, Fill fill) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    fill(v);
    return v;
}

}  // namespace

VARIANT TextValue(std::u16string_view text) {
    return Made(VT_BSTR, [&](VARIANT& v) {
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    });
}

VARIANT IntValue(std::int32_t value) {
    return Made(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}

VARIANT UIntValue(std::uint32_t value) {
    return Made(VT_UI4, [&](VARIANT& v) { v.ulVal = value; });
}

VARIANT BoolValue(bool value) {
    return Made(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}

VARIANT ObjectValue(IDispatch* object) {
    if (object != nullptr) {
        object->AddRef();
    }
    return Made(VT_DISPATCH, [&](VARIANT& v) { v.pdispVal = object; });
}

Arguments::Arguments(std::initializer_list<VARIANT> adopted) : values_(adopted) {}

Arguments::Arguments(Arguments&& other) noexcept : values_(std::move(other.values_)) {
    other.values_.clear();
}

Arguments& Arguments::operator=(Arguments&& other) noexcept {
    if (this != &other) {
        Clear();
        values_ = std::move(other.values_);
        other.values_.clear();
    }
    return *this;
}

Arguments::~Arguments() {
    Clear();
}

void Arguments::Clear() noexcept {
    for (VARIANT& v : values_) {
        VariantClear(&v);
    }
    values_.clear();
}

VARIANT* Arguments::Add() {
    VARIANT empty;
    VariantInit(&empty);
    values_.push_back(empty);
    return &values_.back();
}

void Arguments::Add(VARIANT adopted) {
    try {
        values_.push_back(adopted);
    } catch (...) {
        VariantClear(&adopted);
        throw;
    }
}

std::vector<VARIANT> Arguments::Reversed() const {
    return std::vector<VARIANT>(values_.rbegin(), values_.rend());
}

}  // namespace carvix::automation
