#include "carvix/com/block_fields.h"

#include "carvix/automation/oleauto.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/support/base64.h"
#include "date_convert.h"

namespace carvix::com {
namespace {

/// A new BSTR with the text; an empty text is a null BSTR.
HRESULT AllocText(std::u16string_view text, BSTR* out) noexcept {
    if (text.empty()) {
        *out = nullptr;
        return S_OK;
    }
    BSTR copy = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    *out = copy;
    return S_OK;
}

}  // namespace

HRESULT FieldStore::GetText(std::size_t i, bool optional, BSTR* out) const noexcept {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (optional && !slots_[i].specified) {
        return E_FAIL;
    }
    return AllocText(slots_[i].text, out);
}

HRESULT FieldStore::GetNumber(std::size_t i, bool optional, std::int32_t* out) const noexcept {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (optional && !slots_[i].specified) {
        return E_FAIL;
    }
    *out = slots_[i].number;
    return S_OK;
}

HRESULT FieldStore::GetDate(std::size_t i, bool optional, DATE* out) const noexcept {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (optional && !slots_[i].specified) {
        return E_FAIL;
    }
    const std::optional<DATE> date = DateTimeToOleDate(slots_[i].date, BlockTimeZone());
    if (!date) {
        return Fail(E_FAIL, u"Invalid value for date/time.", Notice::Warning);
    }
    *out = *date;
    return S_OK;
}

HRESULT FieldStore::GetPhoto(std::size_t i, bool optional, BSTR* out) const noexcept {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (optional && !slots_[i].specified) {
        return E_FAIL;
    }
    return Guarded(FailurePolicy::Plain,
                   [&] { return AllocText(Orvel::ToBase64(slots_[i].bytes), out); });
}

HRESULT FieldStore::GetFlag(std::size_t i, VARIANT_BOOL* out) const noexcept {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    *out = slots_[i].specified ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT FieldStore::PutText(std::size_t i, bool optional, BSTR value) noexcept {
    return Guarded(FailurePolicy::Plain, [&] {
        slots_[i].text.assign(value != nullptr ? value : u"", SysStringLen(value));
        if (optional) {
            slots_[i].specified = true;
        }
        return S_OK;
    });
}

HRESULT FieldStore::PutNumber(std::size_t i, bool optional, std::int32_t value) noexcept {
    slots_[i].number = value;
    if (optional) {
        slots_[i].specified = true;
    }
    return S_OK;
}

HRESULT FieldStore::PutDate(std::size_t i, bool optional, DATE value) noexcept {
    const std::optional<Orvel::DateTime> date = OleDateToDateTime(value, BlockTimeZone());
    if (!date) {
        return E_FAIL;
    }
    slots_[i].date = *date;
    if (optional) {
        slots_[i].specified = true;
    }
    return S_OK;
}

HRESULT FieldStore::PutFlag(std::size_t i, VARIANT_BOOL value) noexcept {
    slots_[i].specified = value != 0;
    return S_OK;
}

}  // namespace carvix::com
