#include "capabilities.h"

#include "carvix/automation/client.h"

#include <iterator>

namespace carvix::bridge {
namespace {

#include "capability_table.inc"

}  // namespace

std::span<const CapabilityText> CapabilityTexts() {
    return kCapabilityTexts;
}
std::span<const ClassNeed> ClassNeeds() {
    return kClassNeeds;
}
std::span<const MemberNeed> MemberNeeds() {
    return kMemberNeeds;
}

std::optional<Capabilities> CapabilityNamed(std::string_view word) {
    for (const CapabilityText& c : kCapabilityTexts) {
        if (word == c.name) {
            return c.bit;
        }
    }
    return std::nullopt;
}

std::vector<std::string> CapabilityNames(Capabilities set) {
    std::vector<std::string> names;
    for (const CapabilityText& c : kCapabilityTexts) {
        if ((set & c.bit) != 0) {
            names.emplace_back(c.name);
        }
    }
    return names;
}

std::optional<Capabilities> NeededToCreate(std::string_view progId) {
    for (const ClassNeed& c : kClassNeeds) {
        if (automation::SameName(progId, c.progId)) {
            return c.needs;
        }
    }
    return std::nullopt;
}

std::optional<Capabilities> NeededForMember(std::string_view interfaceName, std::string_view member,
                                            MemberKind kind) {
    std::optional<Capabilities> needs;
    for (const MemberNeed& m : kMemberNeeds) {
        const bool kindCounts =
            m.kind == kind || m.kind == MemberKind::Method || kind == MemberKind::Method;
        if (kindCounts && automation::SameName(member, m.member) &&
            automation::SameName(interfaceName, m.interfaceName)) {
            needs = needs.value_or(0) | m.needs;
        }
    }
    return needs;
}

std::optional<std::string> CapabilityRefusal(std::string_view origin, Capabilities granted,
                                             Capabilities needed) {
    for (const CapabilityText& c : kCapabilityTexts) {
        if ((needed & c.bit) != 0 && (granted & c.bit) == 0) {
            return "The page " + std::string(origin) + " is not allowed to " + c.refusal +
                   " (capability \"" + c.name + "\").";
        }
    }
    return std::nullopt;
}

}  // namespace carvix::bridge
