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

VARIANT TextValue(std::u16string_view text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    return v;
}

VARIANT IntValue(std::int32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT UIntValue(std::uint32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = value;
    return v;
}

VARIANT BoolValue(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT ObjectValue(IDispatch* object) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    if (object != nullptr) {
        object->AddRef();
    }
    return v;
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
