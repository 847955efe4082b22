// The type information of a block interface, derived from its model's field description:
// Load (DISPID 1), Store (DISPID 2, writable blocks), any members the class adds by hand,
// then per field its property (get, and put on writable blocks) and for an optional field
// its BOOL flag NameSpecified with the next DISPID. Help strings are "property <name>".
//
// IDispatch calls reach the fields directly through these members' thunks; C++ and C
// callers use the accessors the interface declares for the same slots.
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/block_fields.h"

#include <array>
#include <cstddef>
#include <utility>

namespace carvix::com::block_members {

namespace ca = automation;

constexpr std::size_t Length(const char16_t* s) {
    std::size_t n = 0;
    while (s[n] != u'\0') {
        ++n;
    }
    return n;
}

enum class Text : std::uint8_t { Help, FlagName, FlagHelp };

/// "property Name", "NameSpecified" or "property NameSpecified" of field I, as static text.
template <class Model, std::size_t I, Text T>
struct FieldText {
    static constexpr const char16_t* kPrefix = T == Text::FlagName ? u"" : u"property ";
    static constexpr const char16_t* kName = FieldsOfOwner<Model>()[I].name;
    static constexpr const char16_t* kSuffix = T == Text::Help ? u"" : u"Specified";
    static constexpr std::size_t kSize = Length(kPrefix) + Length(kName) + Length(kSuffix) + 1;
    static constexpr std::array<char16_t, kSize> kValue = [] {
        std::array<char16_t, kSize> out{};
        std::size_t n = 0;
        for (const char16_t* part : {kPrefix, kName, kSuffix}) {
            for (std::size_t i = 0; part[i] != u'\0'; ++i) {
                out[n++] = part[i];
            }
        }
        return out;
    }();
};

/// "IName Interface".
template <class Iface>
struct InterfaceHelp {
    static constexpr std::size_t kSize = Length(Iface::kName) + Length(u" Interface") + 1;
    static constexpr std::array<char16_t, kSize> kValue = [] {
        std::array<char16_t, kSize> out{};
        std::size_t n = 0;
        for (const char16_t* part : {Iface::kName, u" Interface"}) {
            for (std::size_t i = 0; part[i] != u'\0'; ++i) {
                out[n++] = part[i];
            }
        }
        return out;
    }();
};

template <class Iface, std::size_t I>
constexpr FieldDesc<typename Iface::Model> kField = FieldsOfOwner<typename Iface::Model>()[I];

// The thunks IDispatch::Invoke calls: args[0] is the out storage (get) or the value (put).
template <class Iface, std::size_t I>
HRESULT GetThunk(void* self, VARIANT* args) {
    constexpr auto f = kField<Iface, I>;
    using Out = FieldValue<f.kind>;
    return static_cast<Iface*>(self)->Fields().template Get<f.kind>(
        I, f.Optional(), static_cast<Out*>(args[0].byref));
}
template <class Iface, std::size_t I>
HRESULT PutThunk(void* self, VARIANT* args) {
    constexpr auto f = kField<Iface, I>;
    return static_cast<Iface*>(self)->Fields().template Put<f.kind>(
        I, f.Optional(), ca::detail::ArgAs<FieldValue<f.kind>>(args[0]));
}
template <class Iface, std::size_t I>
HRESULT GetFlagThunk(void* self, VARIANT* args) {
    return static_cast<Iface*>(self)->Fields().GetFlag(I,
                                                       static_cast<VARIANT_BOOL*>(args[0].byref));
}
template <class Iface, std::size_t I>
HRESULT PutFlagThunk(void* self, VARIANT* args) {
    return static_cast<Iface*>(self)->Fields().PutFlag(I, ca::detail::ArgAs<VARIANT_BOOL>(args[0]));
}

template <class T>
constexpr ca::MemberDesc Property(DISPID id, ca::MemberKind kind, const char16_t* name,
                                  const char16_t* help, ca::InvokeThunk thunk) {
    ca::MemberDesc m;
    m.id = id;
    m.kind = kind;
    m.name = name;
    m.help = help;
    if (kind == ca::MemberKind::PropertyGet) {
        m.params[0] = ca::detail::Describe<T*>(u"pVal");
        m.params[0].flags |= ca::kParamRetval;
    } else {
        m.params[0] = ca::detail::Describe<T>(u"newVal");
    }
    m.paramCount = 1;
    m.thunk = thunk;
    return m;
}

/// The number of members the fields add.
template <class Iface>
constexpr std::size_t FieldMemberCount() {
    std::size_t n = 0;
    for (const auto& f : FieldsOfOwner<typename Iface::Model>()) {
        if (f.kind != FieldKind::InsuranceList) {
            n += (f.Optional() ? 2 : 1) * (Iface::kWritable ? 2 : 1);
        }
    }
    return n;
}

template <class Iface, std::size_t I, std::size_t N>
constexpr void AddField(std::array<ca::MemberDesc, N>& out, std::size_t& n, DISPID& id) {
    constexpr auto f = kField<Iface, I>;
    if constexpr (f.kind == FieldKind::InsuranceList) {
        ++id;  // the class describes the list's accessors itself
    } else {
        using Value = FieldValue<f.kind>;
        using Help = FieldText<typename Iface::Model, I, Text::Help>;
        out[n++] = Property<Value>(id, ca::MemberKind::PropertyGet, f.name, Help::kValue.data(),
                                   &GetThunk<Iface, I>);
        if constexpr (Iface::kWritable) {
            out[n++] = Property<Value>(id, ca::MemberKind::PropertyPut, f.name, Help::kValue.data(),
                                       &PutThunk<Iface, I>);
        }
        ++id;
        if constexpr (f.Optional()) {
            using Name = FieldText<typename Iface::Model, I, Text::FlagName>;
            using FlagHelp = FieldText<typename Iface::Model, I, Text::FlagHelp>;
            out[n++] = Property<VARIANT_BOOL>(id, ca::MemberKind::PropertyGet, Name::kValue.data(),
                                              FlagHelp::kValue.data(), &GetFlagThunk<Iface, I>);
            if constexpr (Iface::kWritable) {
                out[n++] =
                    Property<VARIANT_BOOL>(id, ca::MemberKind::PropertyPut, Name::kValue.data(),
                                           FlagHelp::kValue.data(), &PutFlagThunk<Iface, I>);
            }
            ++id;
        }
    }
}

template <class Iface, std::size_t Extra, std::size_t... I>
constexpr auto Build(const char16_t* loadHelp, const char16_t* storeHelp,
                     std::array<ca::MemberDesc, Extra> extra, std::index_sequence<I...>) {
    constexpr std::size_t kMethods = Iface::kWritable ? 2 : 1;
    std::array<ca::MemberDesc, kMethods + Extra + FieldMemberCount<Iface>()> out{};
    std::size_t n = 0;
    out[n++] = ca::Method<&Iface::Load>(1, u"Load", {u"pData"}, loadHelp).InProcessOnly();
    if constexpr (Iface::kWritable) {
        ca::MemberDesc store =
            ca::Method<&Iface::Store>(2, u"Store", {u"pData"}, storeHelp).InProcessOnly();
        store.params[0].flags = ca::kParamIn | ca::kParamOut;
        out[n++] = store;
    }
    for (const ca::MemberDesc& m : extra) {
        out[n++] = m;
    }
    DISPID id = static_cast<DISPID>(kMethods) + 1;
    (AddField<Iface, I>(out, n, id), ...);
    return out;
}

}  // namespace carvix::com::block_members

namespace carvix::com {

/// The members of block interface Iface; `extra` (members the class writes by hand) follow
/// Load and Store.
template <class Iface, std::size_t Extra = 0>
constexpr auto BlockMembers(std::array<automation::MemberDesc, Extra> extra = {}) {
    return block_members::Build<Iface>(
        Iface::kLoadHelp, Iface::kStoreHelp, extra,
        std::make_index_sequence<FieldsOfOwner<typename Iface::Model>().size()>{});
}

/// The description of block interface Iface with the given members.
template <class Iface>
constexpr automation::InterfaceDesc BlockInterfaceDesc(
    std::span<const automation::MemberDesc> members) {
    return {Iface::kName, Iface::kIid, block_members::InterfaceHelp<Iface>::kValue.data(), members};
}

/// The type information of a block interface whose members are all derived.
template <class Iface>
inline constexpr auto kBlockMembers = BlockMembers<Iface>();
template <class Iface>
inline constexpr automation::InterfaceDesc kBlockDesc =
    BlockInterfaceDesc<Iface>(kBlockMembers<Iface>);

/// The members with every entry of DISPID `id` given the help string `help`.
template <std::size_t N>
constexpr std::array<automation::MemberDesc, N> WithHelp(std::array<automation::MemberDesc, N> m,
                                                         DISPID id, const char16_t* help) {
    for (automation::MemberDesc& member : m) {
        if (member.id == id) {
            member.help = help;
        }
    }
    return m;
}

}  // namespace carvix::com
