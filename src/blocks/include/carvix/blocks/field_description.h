// The one description of a block's fields: for each field its property name, what it holds,
// whether it may be absent, and the model member that holds it.
//
// Each model has a FieldsOf<Model> beside it (vl_models.h, zk_models.h) listing its fields in
// property order. Everything that shows or fills a model field by field - the block objects,
// their type information, Load and Store, the personalisation tool - walks this list, so a
// new field is added here and nowhere else (plus its accessors in the block's interface).
#pragma once

#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/insurance_list_element.h"
#include "carvix/blocks/string_element.h"
#include "carvix/support/datetime.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <variant>

/// What a field holds as scripts see it: Text (a string), Number (a code), Date, Photo
/// (bytes shown as Base64 text) or InsuranceList (the voluntary insurances).
enum class FieldKind : std::uint8_t { Text, Number, Date, Photo, InsuranceList };

/// The member of Owner (a model, or a plain record) that holds a field.
template <class Owner>
using FieldMember = std::variant<StringElement Owner::*, CodeElement Owner::*, DateElement Owner::*,
                                 BytesElement Owner::*, InsuranceListElement Owner::*,
                                 std::u16string Owner::*, Orvel::DateTime Owner::*>;

template <class Owner>
struct FieldDesc {
    const char16_t* name;  // the property name
    FieldKind kind;
    Requirement requirement;  // an optional field has a <name>Specified flag
    FieldMember<Owner> member;

    constexpr bool Optional() const { return requirement == Requirement::Optional; }
};

namespace field_detail {

template <class M>
constexpr FieldKind KindOf() {
    if constexpr (std::is_same_v<M, StringElement> || std::is_same_v<M, std::u16string>) {
        return FieldKind::Text;
    } else if constexpr (std::is_same_v<M, CodeElement>) {
        return FieldKind::Number;
    } else if constexpr (std::is_same_v<M, DateElement> || std::is_same_v<M, Orvel::DateTime>) {
        return FieldKind::Date;
    } else if constexpr (std::is_same_v<M, BytesElement>) {
        return FieldKind::Photo;
    } else {
        static_assert(std::is_same_v<M, InsuranceListElement>, "no field kind for this member");
        return FieldKind::InsuranceList;
    }
}

}  // namespace field_detail

/// One row of a description; the kind follows from the member's type.
template <class Owner, class M>
constexpr FieldDesc<Owner> Field(const char16_t* name, M Owner::*member,
                                 Requirement requirement = Requirement::Mandatory) {
    return {name, field_detail::KindOf<M>(), requirement, member};
}

/// The description of Owner's fields, specialised beside each model: `static constexpr
/// FieldDesc<Owner> kAll[]`.
template <class Owner>
struct FieldsOf;

template <class Owner>
constexpr std::span<const FieldDesc<Owner>> FieldsOfOwner() {
    return FieldsOf<Owner>::kAll;
}

namespace field_detail {

template <class OwnerRef, class Owner>
auto ElementIn(OwnerRef& owner, const FieldDesc<Owner>& field) {
    using Result = std::conditional_t<std::is_const_v<OwnerRef>, const TlvElement*, TlvElement*>;
    return std::visit(
        [&](auto member) -> Result {
            using M = std::remove_cvref_t<decltype(owner.*member)>;
            if constexpr (std::is_base_of_v<TlvElement, M>) {
                return &(owner.*member);
            } else {
                return nullptr;
            }
        },
        field.member);
}

}  // namespace field_detail

/// The element of an element field of `owner`, or nullptr for a plain record member.
template <class Owner>
TlvElement* ElementOf(Owner& owner, const FieldDesc<Owner>& field) {
    return field_detail::ElementIn(owner, field);
}
template <class Owner>
const TlvElement* ElementOf(const Owner& owner, const FieldDesc<Owner>& field) {
    return field_detail::ElementIn(owner, field);
}
