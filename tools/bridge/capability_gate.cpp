#include "capability_gate.h"

namespace carvix::bridge {
namespace {

const std::string* TextOf(const nlohmann::json& request, const char* field) {
    const auto found = request.find(field);
    return found != request.end() && found->is_string() ? &found->get_ref<const std::string&>()
                                                        : nullptr;
}

void Require(const std::string& origin, Capabilities granted, Capabilities needed) {
    if (auto refusal = CapabilityRefusal(origin, granted, needed); refusal) {
        throw BridgeError{E_ACCESSDENIED, *refusal};
    }
}

bool TypeHas(const automation::TypeDescription& type, const std::string& member) {
    using automation::Invocation;
    for (const Invocation kind :
         {Invocation::Method, Invocation::PropertyGet, Invocation::PropertyPut}) {
        if (type.Find(member, kind) != nullptr) {
            return true;
        }
    }
    return false;
}

}  // namespace

void RequireCapabilities(const std::string& op, const nlohmann::json& request,
                         const std::string& origin, Capabilities granted,
                         const ObjectTable& objects) {
    if (op == "create") {
        const std::string* progId = TextOf(request, "progId");
        if (progId == nullptr) {
            return;
        }
        const auto needed = NeededToCreate(*progId);
        if (!needed) {
            throw BridgeError{E_ACCESSDENIED, "The page " + origin + " may not create \"" +
                                                  *progId +
                                                  "\": a page can create carvix-qx's own "
                                                  "classes only."};
        }
        Require(origin, granted, *needed);
        return;
    }
    MemberKind kind;
    if (op == "call") {
        kind = MemberKind::Method;
    } else if (op == "get") {
        kind = MemberKind::Get;
    } else if (op == "put") {
        kind = MemberKind::Put;
    } else {
        return;  // hello, release: always allowed
    }
    const auto handle = request.find("handle");
    const std::string* member = TextOf(request, "name");
    IDispatch* object = handle != request.end() && handle->is_number_integer()
                            ? objects.Find(handle->get<std::int64_t>())
                            : nullptr;
    if (object == nullptr || member == nullptr) {
        return;
    }
    const auto type = automation::Object::Share(object).TryType();
    const auto needed = type ? NeededForMember(type->name, *member, kind) : std::nullopt;
    if (needed) {
        Require(origin, granted, *needed);
        return;
    }
    if (!type || TypeHas(*type, *member)) {
        throw BridgeError{E_ACCESSDENIED, "The page " + origin + " may not use \"" + *member +
                                              "\": no capability covers it."};
    }
}

}  // namespace carvix::bridge
