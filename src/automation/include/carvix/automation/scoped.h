// Owners for the runtime's handles in C++ code: interface pointers, BSTRs, VARIANTs and
// SAFEARRAYs.
#pragma once

#include "carvix/automation/oleauto.h"

#include <string>
#include <string_view>
#include <utility>

namespace carvix::automation {

/// Holds one reference to an interface; Release on destruction.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    /// Takes over a reference the caller already owns.
    static ComPtr Adopt(T* p) noexcept {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
        if (p_ != nullptr) {
            p_->AddRef();
        }
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr); p != nullptr) {
            p->Release();
        }
    }
    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    /// For out-parameters: releases the current pointer first.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    T* Detach() noexcept { return std::exchange(p_, nullptr); }

    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (p_ == nullptr) {
            return E_POINTER;
        }
        return p_->QueryInterface(U::kIid, out.PutVoid());
    }

  private:
    T* p_ = nullptr;
};

/// Owns a BSTR (null for empty text).
class ScopedBstr {
  public:
    ScopedBstr() = default;
    explicit ScopedBstr(std::u16string_view text)
        : b_(text.empty()
                 ? nullptr
                 : SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()))) {}
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    ScopedBstr(ScopedBstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    ScopedBstr& operator=(ScopedBstr&& o) noexcept {
        std::swap(b_, o.b_);
        return *this;
    }
    ~ScopedBstr() { SysFreeString(b_); }

    BSTR Get() const noexcept { return b_; }
    BSTR* Put() noexcept {
        SysFreeString(std::exchange(b_, nullptr));
        return &b_;
    }
    BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
    std::u16string Text() const {
        return b_ == nullptr ? std::u16string{} : std::u16string(b_, SysStringLen(b_));
    }

  private:
    BSTR b_ = nullptr;
};

/// A VARIANT cleared on destruction.
class ScopedVariant {
  public:
    ScopedVariant() noexcept { VariantInit(&v_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    ~ScopedVariant() { VariantClear(&v_); }

    VARIANT* Get() noexcept { return &v_; }
    const VARIANT* Get() const noexcept { return &v_; }
    VARIANT* operator->() noexcept { return &v_; }
    const VARIANT* operator->() const noexcept { return &v_; }
    const VARIANT& operator*() const noexcept { return v_; }

  private:
    VARIANT v_;
};

/// Owns a SAFEARRAY (SafeArrayDestroy on destruction; null for none).
class ScopedSafeArray {
  public:
    ScopedSafeArray() = default;
    /// Takes over an array the caller owns.
    explicit ScopedSafeArray(SAFEARRAY* adopted) noexcept : a_(adopted) {}
    ScopedSafeArray(const ScopedSafeArray&) = delete;
    ScopedSafeArray& operator=(const ScopedSafeArray&) = delete;
    ScopedSafeArray(ScopedSafeArray&& o) noexcept : a_(std::exchange(o.a_, nullptr)) {}
    ScopedSafeArray& operator=(ScopedSafeArray&& o) noexcept {
        std::swap(a_, o.a_);
        return *this;
    }
    ~ScopedSafeArray() { Reset(); }

    void Reset(SAFEARRAY* adopted = nullptr) noexcept {
        if (SAFEARRAY* old = std::exchange(a_, adopted); old != nullptr) {
            SafeArrayDestroy(old);
        }
    }
    SAFEARRAY* Get() const noexcept { return a_; }
    explicit operator bool() const noexcept { return a_ != nullptr; }
    /// For out-parameters: destroys the current array first.
    SAFEARRAY** Put() noexcept {
        Reset();
        return &a_;
    }
    SAFEARRAY* Detach() noexcept { return std::exchange(a_, nullptr); }

  private:
    SAFEARRAY* a_ = nullptr;
};

/// The text of a BSTR argument: a null BSTR is empty text.
inline std::u16string BstrText(BSTR b) {
    return b == nullptr ? std::u16string{} : std::u16string(b, SysStringLen(b));
}

}  // namespace carvix::automation
