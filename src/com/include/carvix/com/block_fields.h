// The fields of a block object and the bases every block interface starts from.
//
// A block object holds one FieldSlot per entry of its model's description (FieldsOf<Model>,
// beside the model in src/blocks), in description order. The interfaces (block_interfaces.h)
// name each accessor once and point it at its model member, for example
//     virtual HRESULT get_CardID(BSTR* pVal) { return Get<&VLDocumentModel::CardID>(pVal); }
// and the member is found in the description at compile time, so an accessor can only read
// the slot of its own field, with the field's own kind and presence.
#pragma once

#include "carvix/automation/interfaces.h"
#include "carvix/blocks/field_description.h"
#include "carvix/support/byte_array.h"
#include "carvix/support/datetime.h"

#include <cstddef>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace carvix::com {

/// One field's storage; only the member of the field's kind is used.
struct FieldSlot {
    std::u16string text;
    std::int32_t number = 0;
    Orvel::DateTime date;
    Orvel::ByteArray bytes;
    bool specified = false;  // optional fields only
};

namespace field_copy {

inline void Read(const StringElement& e, FieldSlot& s) {
    s.text = e.GetValue();
}
inline void Read(const CodeElement& e, FieldSlot& s) {
    s.number = e.GetValue();
}
inline void Read(const DateElement& e, FieldSlot& s) {
    s.date = e.GetValue();
}
inline void Read(const BytesElement& e, FieldSlot& s) {
    s.bytes = e.GetValue();
}
inline void Read(const std::u16string& v, FieldSlot& s) {
    s.text = v;
}
inline void Read(const Orvel::DateTime& v, FieldSlot& s) {
    s.date = v;
}
inline void Read(const InsuranceListElement&, FieldSlot&) {}  // the block class keeps the list

inline void Write(const FieldSlot& s, StringElement& e) {
    e.SetValue(s.text);
}
inline void Write(const FieldSlot& s, CodeElement& e) {
    e.SetValue(s.number);
}
inline void Write(const FieldSlot& s, DateElement& e) {
    e.SetValue(s.date);
}
inline void Write(const FieldSlot& s, BytesElement& e) {
    e.SetValue(s.bytes);
}
inline void Write(const FieldSlot& s, std::u16string& v) {
    v = s.text;
}
inline void Write(const FieldSlot& s, Orvel::DateTime& v) {
    v = s.date;
}
inline void Write(const FieldSlot&, InsuranceListElement&) {}

}  // namespace field_copy

/// The slots of one object, with the getter and setter rules shared by every class.
class FieldStore {
  public:
    explicit FieldStore(std::size_t count) : slots_(count) {}

    /// Copies every field from the model: mandatory fields always, optional fields when
    /// present; an optional field's flag becomes "present", and an absent field keeps its
    /// old value.
    template <class Owner>
    void Load(const Owner& owner, std::span<const FieldDesc<Owner>> fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            FieldSlot& slot = slots_[i];
            if (fields[i].kind == FieldKind::InsuranceList) {
                continue;
            }
            if (fields[i].Optional()) {
                slot.specified = !ElementOf(owner, fields[i])->IsNull();
                if (!slot.specified) {
                    continue;
                }
            }
            std::visit([&](auto member) { field_copy::Read(owner.*member, slot); },
                       fields[i].member);
        }
    }

    /// Writes every mandatory field and every optional field whose flag is set; optional
    /// fields without the flag are left as the model has them.
    template <class Owner>
    void Store(Owner& owner, std::span<const FieldDesc<Owner>> fields) const {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (!fields[i].Optional() || slots_[i].specified) {
                std::visit([&](auto member) { field_copy::Write(slots_[i], owner.*member); },
                           fields[i].member);
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

    /// Field `i` of the description, of kind K, read into or written from the automation
    /// value of that kind.
    template <FieldKind K, class Out>
    HRESULT Get(std::size_t i, bool optional, Out* out) const noexcept {
        if constexpr (K == FieldKind::Text) {
            return GetText(i, optional, out);
        } else if constexpr (K == FieldKind::Photo) {
            return GetPhoto(i, optional, out);
        } else if constexpr (K == FieldKind::Number) {
            return GetNumber(i, optional, out);
        } else {
            static_assert(K == FieldKind::Date, "the list has accessors of its own");
            return GetDate(i, optional, out);
        }
    }
    template <FieldKind K, class In>
    HRESULT Put(std::size_t i, bool optional, In value) noexcept {
        if constexpr (K == FieldKind::Text) {
            return PutText(i, optional, value);
        } else if constexpr (K == FieldKind::Number) {
            return PutNumber(i, optional, value);
        } else {
            static_assert(K == FieldKind::Date, "only texts, numbers and dates are written");
            return PutDate(i, optional, value);
        }
    }

  private:
    std::vector<FieldSlot> slots_;
};

/// The automation type of a field's value: BSTR, std::int32_t or DATE.
template <FieldKind K>
using FieldValue = std::conditional_t<
    K == FieldKind::Number, std::int32_t,
    std::conditional_t<K == FieldKind::Date, DATE,
                       std::conditional_t<K == FieldKind::InsuranceList, VARIANT*, BSTR>>>;

/// The index of Member in Owner's description (a compile-time error when it is not there).
template <class Owner, auto Member>
constexpr std::size_t FieldIndex() {
    constexpr std::span<const FieldDesc<Owner>> fields = FieldsOfOwner<Owner>();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        // holds_alternative and get rather than get_if: the sanitizer build cannot fold a
        // null test of an address into a constant expression.
        if (std::holds_alternative<decltype(Member)>(fields[i].member) &&
            std::get<decltype(Member)>(fields[i].member) == Member) {
            return i;
        }
    }
    throw "the member is not in its model's field description";
}

/// The first slots of every block interface: IDispatch, then Load (DISPID 1). Holds the
/// object's fields, which the accessors of the derived interface read and write.
///
/// Load and Store are what scripts see: they refuse every argument with E_INVALIDARG, as
/// nothing a script can pass is a model. Inside the process a model reaches the object
/// through IModelTransfer (model_transfer.h).
template <class ModelT>
struct BlockFields : IDispatch {
    using Model = ModelT;
    // The help strings of Load and Store; an interface may give its own.
    static constexpr const char16_t* kLoadHelp = u"method Load";
    static constexpr const char16_t* kStoreHelp = u"method Store";

    virtual HRESULT Load(VARIANT* pData) {
        (void)pData;
        return E_INVALIDARG;
    }

    FieldStore& Fields() noexcept { return fields_; }
    const FieldStore& Fields() const noexcept { return fields_; }

  protected:
    BlockFields() = default;
    ~BlockFields() = default;

    template <auto Member, class Out>
    HRESULT Get(Out* out) const noexcept {
        constexpr std::size_t i = FieldIndex<Model, Member>();
        constexpr FieldDesc<Model> f = FieldsOfOwner<Model>()[i];
        static_assert(std::is_same_v<Out, FieldValue<f.kind>>, "the accessor's type");
        return fields_.Get<f.kind>(i, f.Optional(), out);
    }
    template <auto Member, class In>
    HRESULT Put(In value) noexcept {
        constexpr std::size_t i = FieldIndex<Model, Member>();
        constexpr FieldDesc<Model> f = FieldsOfOwner<Model>()[i];
        static_assert(std::is_same_v<In, FieldValue<f.kind>>, "the accessor's type");
        return fields_.Put<f.kind>(i, f.Optional(), value);
    }
    template <auto Member>
    HRESULT GetFlag(VARIANT_BOOL* out) const noexcept {
        constexpr std::size_t i = FieldIndex<Model, Member>();
        static_assert(FieldsOfOwner<Model>()[i].Optional(), "only optional fields have flags");
        return fields_.GetFlag(i, out);
    }
    template <auto Member>
    HRESULT PutFlag(VARIANT_BOOL value) noexcept {
        constexpr std::size_t i = FieldIndex<Model, Member>();
        static_assert(FieldsOfOwner<Model>()[i].Optional(), "only optional fields have flags");
        return fields_.PutFlag(i, value);
    }

  private:
    FieldStore fields_{FieldsOfOwner<Model>().size()};
};

/// A block whose properties scripts only read.
template <class ModelT>
struct ReadOnlyBlock : BlockFields<ModelT> {
    static constexpr bool kWritable = false;

  protected:
    ~ReadOnlyBlock() = default;
};

/// A block whose properties scripts also write: Store (DISPID 2) follows Load.
template <class ModelT>
struct WritableBlock : BlockFields<ModelT> {
    static constexpr bool kWritable = true;

    virtual HRESULT Store(VARIANT* pData) {
        (void)pData;
        return E_INVALIDARG;
    }

  protected:
    ~WritableBlock() = default;
};

}  // namespace carvix::com
