// A small automation client: objects created by ProgID, members called by name through
// IDispatch. It uses only the runtime's Windows-named functions and layouts, as any outside
// client would.
#pragma once

#include "carvix/automation/oleauto.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace carvix::cli {

/// A failed automation call: the HRESULT (the member's own one when Invoke reports
/// DISP_E_EXCEPTION) and what was being done.
struct CallError {
    HRESULT hr;
    std::string what;
};

/// An owned VARIANT.
class Variant {
  public:
    Variant() noexcept { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() noexcept { return &v_; }
    const VARIANT& operator*() const noexcept { return v_; }
    const VARIANT* operator->() const noexcept { return &v_; }

  private:
    VARIANT v_;
};

/// An owned IDispatch reference.
class Dispatch {
  public:
    Dispatch() noexcept = default;
    explicit Dispatch(IDispatch* adopted) noexcept : p_(adopted) {}
    ~Dispatch() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Dispatch(Dispatch&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Dispatch& operator=(Dispatch&& other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;
    IDispatch* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    /// CLSIDFromProgID and CoCreateInstance (in-process), asking for IDispatch.
    static Dispatch Create(const std::u16string& progId);

    /// Property get by name; throws CallError.
    void Get(const std::u16string& name, Variant& out) const;
    /// Method call by name with arguments in their natural order; throws CallError.
    void Call(const std::u16string& name, std::vector<VARIANT> args, Variant& out) const;
    /// Property get by name that may fail: the HRESULT instead of an exception.
    HRESULT TryGet(const std::u16string& name, Variant& out) const;
    /// The object's type information as the runtime describes it (JSON text, see
    /// DescribeTypeInfoJson); throws CallError.
    std::string TypeDescription() const;

  private:
    DISPID IdOf(const std::u16string& name) const;
    HRESULT Invoke(DISPID id, std::uint16_t flags, std::vector<VARIANT>& args, Variant& out) const;
    IDispatch* p_ = nullptr;
};

/// A VT_BSTR argument; the caller frees it with VariantClear (Call does).
VARIANT BstrArg(const std::u16string& text);
/// A VT_I4 argument.
VARIANT IntArg(std::int32_t value);

std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(std::u16string_view text);
/// The BSTR's text (a null BSTR is empty).
std::string BstrText(BSTR text);

}  // namespace carvix::cli
