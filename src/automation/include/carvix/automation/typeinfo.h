// Static type information of a dispatch interface, and the engine that serves IDispatch
// from it.
//
// Each interface has one `InterfaceDesc`: its name, IID, help string and a table of
// members. A member is built from the C++ member function that implements it, so the
// parameter types come from the signature and cannot drift from the code:
//
//     inline constexpr carvix::automation::MemberDesc kUtilitiesMembers[] = {
//         carvix::automation::Method<&IUtilitiesService::GetErrorMessage>(
//             1, u"GetErrorMessage", {u"ulErrorCode", u"bsMessage"},
//             u"Returns formated message string for the requested error code"),
//     };
//
// C++ parameter types map to automation types: std::int32_t I4, std::uint32_t UI4,
// std::uint16_t UI2, VARIANT_BOOL (std::int16_t) BOOL, DATE (double) DATE, BSTR BSTR,
// std::int64_t / std::uint64_t I8 / UI8, VARIANT* VARIANT (in, unless flagged out/retval),
// I* an interface (VT_DISPATCH when I derives from IDispatch; it needs kIid and kName).
// A pointer to any of these is an out parameter; the last out parameter is the retval.
// Interface classes must declare `static constexpr const IID& kIid` and `kName`.
#pragma once

#include "carvix/automation/interfaces.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <type_traits>

namespace carvix::automation {

inline constexpr std::size_t kMaxParams = 8;

enum class MemberKind : std::uint8_t { Method, PropertyGet, PropertyPut };

enum ParamFlag : std::uint8_t { kParamIn = 1, kParamOut = 2, kParamRetval = 4 };

/// Members that only in-process callers may use with a raw pointer (for example a `Load`
/// that takes a model object): Invoke refuses them with E_INVALIDARG.
enum MemberFlag : std::uint8_t { kMemberInProcessOnly = 1 };

struct ParamDesc {
    const char16_t* name = nullptr;
    VARTYPE vt = VT_EMPTY;               // without VT_BYREF; VT_VARIANT for VARIANT*
    std::uint8_t flags = 0;              // ParamFlag
    const IID* iid = nullptr;            // interface parameters
    const char16_t* typeName = nullptr;  // interface name for interface parameters
};

/// One name for a parameter, with an optional flag override (kParamOut | kParamRetval for
/// a VARIANT* result).
struct ParamName {
    constexpr ParamName(const char16_t* n, std::uint8_t f = 0) : name(n), flags(f) {}
    const char16_t* name;
    std::uint8_t flags;
};

/// Calls the implementing member function. args holds one VARIANT per parameter in
/// declaration order: in values already coerced to the parameter's type, out parameters
/// as references (byref) to storage of the parameter's type.
using InvokeThunk = HRESULT (*)(void* self, VARIANT* args);

struct MemberDesc {
    DISPID id = 0;
    MemberKind kind = MemberKind::Method;
    const char16_t* name = nullptr;
    const char16_t* help = nullptr;
    std::array<ParamDesc, kMaxParams> params{};
    std::uint8_t paramCount = 0;
    std::uint8_t flags = 0;  // MemberFlag
    InvokeThunk thunk = nullptr;

    constexpr MemberDesc InProcessOnly() const {
        MemberDesc copy = *this;
        copy.flags |= kMemberInProcessOnly;
        return copy;
    }
    /// Index of the retval parameter, or -1.
    constexpr int RetvalIndex() const {
        for (int i = 0; i < paramCount; ++i) {
            if ((params[static_cast<std::size_t>(i)].flags & kParamRetval) != 0) {
                return i;
            }
        }
        return -1;
    }
};

struct InterfaceDesc {
    const char16_t* name;
    IID iid;
    const char16_t* help;
    std::span<const MemberDesc> members;
};

// ---- the engine: dispatch.cpp, typeinfo_object.cpp and dump.cpp ----

/// IDispatch::GetIDsOfNames: names compare without regard to ASCII case; names after the
/// first are parameter names of that member and get their 0-based position.
CARVIX_COM_API HRESULT DispatchGetIDsOfNames(const InterfaceDesc& desc, REFIID riid,
                                             LPOLESTR* names, std::uint32_t count, DISPID* ids);

/// IDispatch::Invoke on `self` (the interface pointer the members are called on).
/// Arguments arrive in reverse order; a property put carries its value as the named argument
/// DISPID_PROPERTYPUT. Results: DISP_E_MEMBERNOTFOUND (no member for the DISPID and flags),
/// DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW with *puArgErr = the index
/// in rgvarg, DISP_E_PARAMNOTFOUND (put without DISPID_PROPERTYPUT), DISP_E_NONAMEDARGS;
/// a failure HRESULT of the member comes back as DISP_E_EXCEPTION with EXCEPINFO.scode
/// holding it (when pExcepInfo is given).
CARVIX_COM_API HRESULT DispatchInvoke(const InterfaceDesc& desc, void* self, DISPID id, REFIID riid,
                                      std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                                      EXCEPINFO* excepInfo, std::uint32_t* argErr);

/// IDispatch::GetTypeInfo: index 0 only (DISP_E_BADINDEX otherwise), E_POINTER for a null
/// out-pointer. The type information object lives as long as the process.
CARVIX_COM_API HRESULT DispatchGetTypeInfo(const InterfaceDesc& desc, std::uint32_t index,
                                           ITypeInfo** out);

/// The description as a JSON object (see docs in the module's dump).
CARVIX_COM_API std::string DescribeInterfaceJson(const InterfaceDesc& desc);

/// For clients: the JSON description (as DescribeInterfaceJson) behind type information that
/// an object's GetTypeInfo returned, as a new BSTR in *json. This is how a client learns an
/// object's members and their types. E_INVALIDARG for a null argument or an ITypeInfo this
/// runtime did not hand out.
CARVIX_COM_API HRESULT DescribeTypeInfoJson(ITypeInfo* info, BSTR* json);
/// A JSON string literal (with quotes) of UTF-16 text.
CARVIX_COM_API std::string JsonString(std::u16string_view text);

// ---- building members from member functions ----

namespace detail {

template <typename T>
struct InTraits;  // parameter types passed by value

template <>
struct InTraits<std::int32_t> {
    static constexpr VARTYPE vt = VT_I4;
};
template <>
struct InTraits<std::uint32_t> {
    static constexpr VARTYPE vt = VT_UI4;
};
template <>
struct InTraits<std::uint16_t> {
    static constexpr VARTYPE vt = VT_UI2;
};
template <>
struct InTraits<std::int16_t> {
    static constexpr VARTYPE vt = VT_BOOL;
};
template <>
struct InTraits<std::int64_t> {
    static constexpr VARTYPE vt = VT_I8;
};
template <>
struct InTraits<std::uint64_t> {
    static constexpr VARTYPE vt = VT_UI8;
};
template <>
struct InTraits<double> {
    static constexpr VARTYPE vt = VT_DATE;
};
template <>
struct InTraits<float> {
    static constexpr VARTYPE vt = VT_R4;
};
template <>
struct InTraits<BSTR> {
    static constexpr VARTYPE vt = VT_BSTR;
};

template <typename T>
concept Interface = std::is_base_of_v<IUnknown, T> && requires {
    T::kIid;
    T::kName;
};

template <typename T>
constexpr bool kIsIn = requires {
    InTraits<T>::vt;
}
|| std::is_same_v<T, VARIANT*> || (std::is_pointer_v<T> && Interface<std::remove_pointer_t<T>>);

template <typename T>
constexpr ParamDesc Describe(const char16_t* name) {
    ParamDesc p{name, VT_EMPTY, kParamIn, nullptr, nullptr};
    if constexpr (std::is_same_v<T, VARIANT*>) {
        p.vt = VT_VARIANT;
    } else if constexpr (requires { InTraits<T>::vt; }) {
        p.vt = InTraits<T>::vt;
    } else if constexpr (std::is_pointer_v<T> && Interface<std::remove_pointer_t<T>>) {
        using I = std::remove_pointer_t<T>;
        p.vt = std::is_base_of_v<IDispatch, I> ? VT_DISPATCH : VT_UNKNOWN;
        p.iid = &I::kIid;
        p.typeName = I::kName;
    } else {
        static_assert(std::is_pointer_v<T> && kIsIn<std::remove_pointer_t<T>>,
                      "parameter type has no automation equivalent");
        p = Describe<std::remove_pointer_t<T>>(name);
        p.flags = kParamOut;
    }
    return p;
}

template <typename T>
T ArgAs(VARIANT& v) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<T>(v.byref);  // out storage, VARIANT*, or an interface pointer
    } else if constexpr (std::is_same_v<T, BSTR>) {
        return v.bstrVal;
    } else {
        T value;
        static_assert(sizeof(T) <= 8);
        __builtin_memcpy(&value, &v.llVal, sizeof value);
        return value;
    }
}

template <auto F>
struct Thunk;

template <typename C, typename... A, HRESULT (C::*F)(A...)>
struct Thunk<F> {
    using Class = C;
    static constexpr std::size_t kArity = sizeof...(A);
    static HRESULT Call(void* self, VARIANT* args) {
        return Apply(static_cast<C*>(self), args, std::index_sequence_for<A...>{});
    }
    template <std::size_t... I>
    static HRESULT Apply(C* obj, [[maybe_unused]] VARIANT* args, std::index_sequence<I...>) {
        return (obj->*F)(ArgAs<A>(args[I])...);
    }
    static constexpr void Fill(MemberDesc& m, const ParamName* names) {
        const ParamDesc all[] = {Describe<A>(nullptr)..., ParamDesc{}};
        for (std::size_t i = 0; i < kArity; ++i) {
            m.params[i] = all[i];
            m.params[i].name = names[i].name;
            if (names[i].flags != 0) {
                m.params[i].flags = names[i].flags;
            }
        }
        // The last out parameter is the result.
        for (std::size_t i = kArity; i-- > 0;) {
            if ((m.params[i].flags & kParamOut) != 0) {
                m.params[i].flags |= kParamRetval;
                break;
            }
        }
        m.paramCount = static_cast<std::uint8_t>(kArity);
        m.thunk = &Call;
    }
};

template <auto F>
constexpr MemberDesc Build(DISPID id, MemberKind kind, const char16_t* name, const ParamName* names,
                           std::size_t count, const char16_t* help) {
    static_assert(Thunk<F>::kArity <= kMaxParams);
    if (count != Thunk<F>::kArity) {
        throw "parameter names do not match the member's arity";  // compile-time error
    }
    MemberDesc m;
    m.id = id;
    m.kind = kind;
    m.name = name;
    m.help = help;
    Thunk<F>::Fill(m, names);
    return m;
}

}  // namespace detail

template <auto F, std::size_t N>
constexpr MemberDesc Method(DISPID id, const char16_t* name, const ParamName (&params)[N],
                            const char16_t* help) {
    return detail::Build<F>(id, MemberKind::Method, name, params, N, help);
}

template <auto F>
constexpr MemberDesc Method(DISPID id, const char16_t* name, const char16_t* help) {
    return detail::Build<F>(id, MemberKind::Method, name, nullptr, 0, help);
}

/// A property getter: the member takes one out pointer (named pVal).
template <auto F>
constexpr MemberDesc PropGet(DISPID id, const char16_t* name, const char16_t* help) {
    const ParamName names[] = {u"pVal"};
    return detail::Build<F>(id, MemberKind::PropertyGet, name, names, 1, help);
}

/// A property setter: the member takes one in value (named newVal).
template <auto F>
constexpr MemberDesc PropPut(DISPID id, const char16_t* name, const char16_t* help) {
    const ParamName names[] = {u"newVal"};
    return detail::Build<F>(id, MemberKind::PropertyPut, name, names, 1, help);
}

}  // namespace carvix::automation
