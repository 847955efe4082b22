// The fields of one block object and the table that ties each field to its model element.
//
// A block object holds one FieldSlot per entry of its property list (block_fields.h), in list
// order. Accessors read and write slots by index; Load and Store walk a table of bindings,
// one per slot, generated from the same list, that copy between a slot and the model member
// of the same name.
#pragma once

#include "carvix/automation/types.h"
#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/string_element.h"
#include "carvix/support/byte_array.h"
#include "carvix/support/datetime.h"

#include <cstddef>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace carvix::com {

enum class FieldKind : std::uint8_t { Text, Number, Date, Photo };

/// One field's storage; only the member of the field's kind is used.
struct FieldSlot {
    std::u16string text;
    std::int32_t number = 0;
    Orvel::DateTime date;
    Orvel::ByteArray bytes;
    bool specified = false;  // optional fields only
};

/// Copies between one slot and one member of Owner (a block model or a record).
template <class Owner>
struct FieldBinding {
    bool optional;
    void (*load)(const Owner& owner, FieldSlot& slot);
    void (*store)(const FieldSlot& slot, Owner& owner);
    /// True when the member's element is absent (optional fields of models only).
    bool (*isNull)(const Owner& owner);
};

namespace binding {

template <class T>
struct MemberOf;
template <class C, class T>
struct MemberOf<T C::*> {
    using Owner = C;
    using Type = T;
};

// The value a field of each kind copies, for the element kinds and for plain record members.
inline std::u16string Read(const StringElement& e) {
    return e.GetValue();
}
inline std::int32_t Read(const CodeElement& e) {
    return e.GetValue();
}
inline Orvel::DateTime Read(const DateElement& e) {
    return e.GetValue();
}
inline Orvel::ByteArray Read(const BytesElement& e) {
    return e.GetValue();
}
inline const std::u16string& Read(const std::u16string& s) {
    return s;
}
inline const Orvel::DateTime& Read(const Orvel::DateTime& d) {
    return d;
}

inline void Write(StringElement& e, const std::u16string& v) {
    e.SetValue(v);
}
inline void Write(CodeElement& e, std::int32_t v) {
    e.SetValue(v);
}
inline void Write(DateElement& e, const Orvel::DateTime& v) {
    e.SetValue(v);
}
inline void Write(BytesElement& e, const Orvel::ByteArray& v) {
    e.SetValue(v);
}
inline void Write(std::u16string& s, const std::u16string& v) {
    s = v;
}
inline void Write(Orvel::DateTime& d, const Orvel::DateTime& v) {
    d = v;
}

template <FieldKind K>
auto& SlotValue(FieldSlot& s) {
    if constexpr (K == FieldKind::Text) {
        return s.text;
    } else if constexpr (K == FieldKind::Number) {
        return s.number;
    } else if constexpr (K == FieldKind::Date) {
        return s.date;
    } else {
        return s.bytes;
    }
}

template <FieldKind K>
const auto& SlotValue(const FieldSlot& s) {
    return SlotValue<K>(const_cast<FieldSlot&>(s));
}

template <class T>
constexpr bool kIsElement = std::is_base_of_v<TlvElement, T>;

}  // namespace binding

/// The binding of model (or record) member M, holding a field of kind K.
template <auto M, FieldKind K, bool Optional>
constexpr auto Bind() {
    using Info = binding::MemberOf<decltype(M)>;
    using Owner = typename Info::Owner;
    using Member = typename Info::Type;
    using Value = std::remove_cvref_t<decltype(binding::Read(std::declval<const Member&>()))>;
    using SlotType =
        std::remove_cvref_t<decltype(binding::SlotValue<K>(std::declval<FieldSlot&>()))>;
    static_assert(std::is_same_v<Value, SlotType>, "the field's kind does not match the member");
    static_assert(!Optional || binding::kIsElement<Member>, "only elements can be optional");
    FieldBinding<Owner> b{};
    b.optional = Optional;
    b.load = [](const Owner& owner, FieldSlot& slot) {
        binding::SlotValue<K>(slot) = binding::Read(owner.*M);
    };
    b.store = [](const FieldSlot& slot, Owner& owner) {
        binding::Write(owner.*M, binding::SlotValue<K>(slot));
    };
    b.isNull = [](const Owner& owner) {
        if constexpr (Optional) {
            return (owner.*M).IsNull();
        } else {
            (void)owner;
            return false;
        }
    };
    return b;
}

/// The slots of one object, with the getter and setter rules shared by every class.
class FieldStore {
  public:
    explicit FieldStore(std::size_t count) : slots_(count) {}

    /// Copies every field from the model: mandatory fields always, optional fields when
    /// present; an optional field's flag becomes "present", and an absent field keeps its
    /// old value.
    template <class Owner>
    void Load(const Owner& owner, std::span<const FieldBinding<Owner>> table) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const FieldBinding<Owner>& b = table[i];
            FieldSlot& slot = slots_[i];
            if (b.optional) {
                slot.specified = !b.isNull(owner);
                if (!slot.specified) {
                    continue;
                }
            }
            b.load(owner, slot);
        }
    }

    /// Writes every mandatory field and every optional field whose flag is set; optional
    /// fields without the flag are left as the model has them.
    template <class Owner>
    void Store(Owner& owner, std::span<const FieldBinding<Owner>> table) const {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const FieldBinding<Owner>& b = table[i];
            if (!b.optional || slots_[i].specified) {
                b.store(slots_[i], owner);
            }
        }
    }

    HRESULT GetText(std::size_t i, bool optional, BSTR* out) const noexcept;
    HRESULT GetNumber(std::size_t i, bool optional, std::int32_t* out) const noexcept;
    /// Shows "Invalid value for date/time." and fails when the date has no DATE.
    HRESULT GetDate(std::size_t i, bool optional, DATE* out) const noexcept;
    /// The bytes in Base64.
    HRESULT GetPhoto(std::size_t i, bool optional, BSTR* out) const noexcept;
    HRESULT GetFlag(std::size_t i, VARIANT_BOOL* out) const noexcept;

    HRESULT PutText(std::size_t i, bool optional, BSTR value) noexcept;
    HRESULT PutNumber(std::size_t i, bool optional, std::int32_t value) noexcept;
    HRESULT PutDate(std::size_t i, bool optional, DATE value) noexcept;
    HRESULT PutFlag(std::size_t i, VARIANT_BOOL value) noexcept;

  private:
    std::vector<FieldSlot> slots_;
};

}  // namespace carvix::com
