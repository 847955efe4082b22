// Expansions of the property lists (carvix/com/block_fields.h) into the parts of a block
// class: accessor overrides, slot indices, type information and model bindings.
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/block_fields.h"
#include "carvix/com/block_handover.h"
#include "carvix/com/object.h"
#include "field_store.h"

#include <array>
#include <new>
#include <span>

#define CARVIX_OPTIONAL_Optional true
#define CARVIX_OPTIONAL_Mandatory false

// ---- inside the class body ----

#define CARVIX_IMPLEMENT_GET(dispid, name, kind, presence)                        \
    HRESULT get_##name(CARVIX_OUT_##kind pVal) override {                         \
        return fields_.Get##kind(kField##name, CARVIX_OPTIONAL_##presence, pVal); \
    }                                                                             \
    CARVIX_IF_##presence(HRESULT get_##name##Specified(VARIANT_BOOL* pVal)        \
                             override { return fields_.GetFlag(kField##name, pVal); })

#define CARVIX_IMPLEMENT_GET_PUT(dispid, name, kind, presence)                      \
    HRESULT get_##name(CARVIX_OUT_##kind pVal) override {                           \
        return fields_.Get##kind(kField##name, CARVIX_OPTIONAL_##presence, pVal);   \
    }                                                                               \
    HRESULT put_##name(CARVIX_IN_##kind newVal) override {                          \
        return fields_.Put##kind(kField##name, CARVIX_OPTIONAL_##presence, newVal); \
    }                                                                               \
    CARVIX_IF_##presence(                                                           \
        HRESULT get_##name##Specified(VARIANT_BOOL* pVal) override {                \
            return fields_.GetFlag(kField##name, pVal);                             \
        } HRESULT put_##name##Specified(VARIANT_BOOL newVal)                        \
            override { return fields_.PutFlag(kField##name, newVal); })

#define CARVIX_FIELD_INDEX(dispid, name, kind, presence) kField##name,

/// The fields and slots of a class; the class declares Load (and Store) itself.
#define CARVIX_BLOCK_FIELDS(FIELDS, IMPL)                          \
  public:                                                          \
    FIELDS(IMPL)                                                   \
                                                                   \
  private:                                                         \
    enum : std::size_t { FIELDS(CARVIX_FIELD_INDEX) kFieldCount }; \
    FieldStore fields_{kFieldCount};

// ---- in the class's source file, with `Iface` and `Model` in scope ----

#define CARVIX_DESCRIBE_GET(dispid, name, kind, presence)                                     \
    ::carvix::automation::PropGet<&Iface::get_##name>(dispid, u"" #name, u"property " #name), \
        CARVIX_IF_##presence(                                                                 \
            ::carvix::automation::PropGet<&Iface::get_##name##Specified>(                     \
                dispid + 1, u"" #name "Specified", u"property " #name "Specified"), )

#define CARVIX_DESCRIBE_GET_PUT(dispid, name, kind, presence)                                     \
    ::carvix::automation::PropGet<&Iface::get_##name>(dispid, u"" #name, u"property " #name),     \
        ::carvix::automation::PropPut<&Iface::put_##name>(dispid, u"" #name, u"property " #name), \
        CARVIX_IF_##presence(                                                                     \
            ::carvix::automation::PropGet<&Iface::get_##name##Specified>(                         \
                dispid + 1, u"" #name "Specified", u"property " #name "Specified"),               \
            ::carvix::automation::PropPut<&Iface::put_##name##Specified>(                         \
                dispid + 1, u"" #name "Specified", u"property " #name "Specified"), )

#define CARVIX_BIND_FIELD(dispid, name, kind, presence) \
    ::carvix::com::Bind<&Model::name, ::carvix::com::FieldKind::kind, CARVIX_OPTIONAL_##presence>(),

namespace carvix::com {

inline constexpr const char16_t* kVLLoadHelp = u"Loads data from block";
inline constexpr const char16_t* kVLStoreHelp = u"Stores data into block";
inline constexpr const char16_t* kLoadHelp = u"method Load";
inline constexpr const char16_t* kStoreHelp = u"method Store";

/// DISPID 1: Load(pData), an in VARIANT pointer that only in-process callers can fill.
template <class Iface>
constexpr automation::MemberDesc LoadMember(const char16_t* help) {
    return automation::Method<&Iface::Load>(1, u"Load", {u"pData"}, help).InProcessOnly();
}

/// DISPID 2: Store(pData), an in-out VARIANT pointer that only in-process callers can fill.
template <class Iface>
constexpr automation::MemberDesc StoreMember(const char16_t* help) {
    automation::MemberDesc m =
        automation::Method<&Iface::Store>(2, u"Store", {u"pData"}, help).InProcessOnly();
    m.params[0].flags = automation::kParamIn | automation::kParamOut;
    return m;
}

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

/// Load of every class: the model handed over, copied field by field.
template <class Model>
HRESULT LoadFields(FieldStore& fields, std::span<const FieldBinding<Model>> table,
                   const VARIANT* arg) noexcept {
    const Model* model = ResolveModelForLoad<Model>(arg);
    if (model == nullptr) {
        return E_INVALIDARG;
    }
    try {
        fields.Load(*model, table);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;  // the models raise nothing here; never let it cross the interface
    }
}

/// Store of the writable classes: the fields copied into the model handed over.
template <class Model>
HRESULT StoreFields(const FieldStore& fields, std::span<const FieldBinding<Model>> table,
                    const VARIANT* arg) noexcept {
    Model* model = ResolveModelForStore<Model>(arg);
    if (model == nullptr) {
        return E_INVALIDARG;
    }
    try {
        fields.Store(*model, table);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace carvix::com

// ---- whole classes ----

/// Declares a get-only block class named Class for interface Iface; the remaining arguments
/// are the extra interfaces (ObjectSafety).
#define CARVIX_READ_ONLY_BLOCK_CLASS(Class, Iface, FIELDS, ...)                                   \
    extern const ::carvix::automation::InterfaceDesc k##Class##Desc;                              \
    class Class final : public CoClass<Class, Iface, k##Class##Desc __VA_OPT__(, ) __VA_ARGS__> { \
      public:                                                                                     \
        HRESULT Load(VARIANT* pData) override;                                                    \
        CARVIX_BLOCK_FIELDS(FIELDS, CARVIX_IMPLEMENT_GET)                                         \
    };

/// Declares a get-and-put block class with Load and Store.
#define CARVIX_WRITABLE_BLOCK_CLASS(Class, Iface, FIELDS, ...)                                    \
    extern const ::carvix::automation::InterfaceDesc k##Class##Desc;                              \
    class Class final : public CoClass<Class, Iface, k##Class##Desc __VA_OPT__(, ) __VA_ARGS__> { \
      public:                                                                                     \
        HRESULT Load(VARIANT* pData) override;                                                    \
        HRESULT Store(VARIANT* pData) override;                                                   \
        CARVIX_BLOCK_FIELDS(FIELDS, CARVIX_IMPLEMENT_GET_PUT)                                     \
    };

/// Defines the type information and Load of a class declared with
/// CARVIX_READ_ONLY_BLOCK_CLASS. Use inside namespace carvix::com.
#define CARVIX_DEFINE_READ_ONLY_BLOCK(Class, IfaceT, ModelT, FIELDS, loadHelp)                 \
    namespace Class##Parts {                                                                   \
        using Iface = IfaceT;                                                                  \
        using Model = ModelT;                                                                  \
        constexpr ::carvix::automation::MemberDesc kMembers[] = {LoadMember<Iface>(loadHelp),  \
                                                                 FIELDS(CARVIX_DESCRIBE_GET)}; \
        constexpr FieldBinding<Model> kBindings[] = {FIELDS(CARVIX_BIND_FIELD)};               \
    }                                                                                          \
    const ::carvix::automation::InterfaceDesc k##Class##Desc{                                  \
        u"" #IfaceT, kIid##IfaceT, u"" #IfaceT " Interface", Class##Parts::kMembers};          \
    HRESULT Class::Load(VARIANT* pData) {                                                      \
        return LoadFields<ModelT>(fields_, Class##Parts::kBindings, pData);                    \
    }

/// Defines the type information, Load and Store of a class declared with
/// CARVIX_WRITABLE_BLOCK_CLASS. Use inside namespace carvix::com.
#define CARVIX_DEFINE_WRITABLE_BLOCK(Class, IfaceT, ModelT, FIELDS, loadHelp, storeHelp)           \
    namespace Class##Parts {                                                                       \
        using Iface = IfaceT;                                                                      \
        using Model = ModelT;                                                                      \
        constexpr ::carvix::automation::MemberDesc kMembers[] = {LoadMember<Iface>(loadHelp),      \
                                                                 StoreMember<Iface>(storeHelp),    \
                                                                 FIELDS(CARVIX_DESCRIBE_GET_PUT)}; \
        constexpr FieldBinding<Model> kBindings[] = {FIELDS(CARVIX_BIND_FIELD)};                   \
    }                                                                                              \
    const ::carvix::automation::InterfaceDesc k##Class##Desc{                                      \
        u"" #IfaceT, kIid##IfaceT, u"" #IfaceT " Interface", Class##Parts::kMembers};              \
    HRESULT Class::Load(VARIANT* pData) {                                                          \
        return LoadFields<ModelT>(fields_, Class##Parts::kBindings, pData);                        \
    }                                                                                              \
    HRESULT Class::Store(VARIANT* pData) {                                                         \
        return StoreFields<ModelT>(fields_, Class##Parts::kBindings, pData);                       \
    }
