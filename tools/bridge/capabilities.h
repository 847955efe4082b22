// What a web page may do through the host, by capability: the administrator grants each
// origin some of them on its allow-list line, and every class and member of the module
// needs some (the table generated from tools/bridge/capabilities.json and the type library).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::bridge {

/// A set of capabilities, one bit each.
using Capabilities = unsigned;
inline constexpr Capabilities kRead = 1u << 0;
inline constexpr Capabilities kWrite = 1u << 1;
inline constexpr Capabilities kPki = 1u << 2;
inline constexpr Capabilities kContactless = 1u << 3;
inline constexpr Capabilities kSelect = 1u << 4;

enum class MemberKind { Method, Get, Put };

struct CapabilityText {
    Capabilities bit;
    const char* name;     // the word on an allow-list line: "write"
    const char* refusal;  // what a page without it may not do: "change data on the card"
};
struct ClassNeed {
    const char* progId;
    Capabilities needs;
};
struct MemberNeed {
    const char* interfaceName;
    const char* member;
    MemberKind kind;
    Capabilities needs;
};

std::span<const CapabilityText> CapabilityTexts();
std::span<const ClassNeed> ClassNeeds();
std::span<const MemberNeed> MemberNeeds();

/// The capability an allow-list word names, or nothing for a word the host does not know.
std::optional<Capabilities> CapabilityNamed(std::string_view word);
/// The names of the capabilities in `set`, in the table's order.
std::vector<std::string> CapabilityNames(Capabilities set);

/// What creating the class of `progId` needs (ProgIDs compare without regard to case), or
/// nothing for a ProgID outside the table.
std::optional<Capabilities> NeededToCreate(std::string_view progId);
/// What using `member` of `interfaceName` as `kind` needs (names compare without regard to
/// case), or nothing when the table does not know the member. A method counts for every
/// kind and every kind counts for a method, since an object may resolve a name given with
/// one kind to a member of another.
std::optional<Capabilities> NeededForMember(std::string_view interfaceName, std::string_view member,
                                            MemberKind kind);

/// Nothing when `granted` holds all of `needed`; else the refusal's message, naming the first
/// capability missing: The page https://x.example is not allowed to change data on the card
/// (capability "write").
std::optional<std::string> CapabilityRefusal(std::string_view origin, Capabilities granted,
                                             Capabilities needed);

}  // namespace carvix::bridge
