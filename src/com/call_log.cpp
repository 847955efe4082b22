#include "carvix/com/call_log.h"

#include "carvix/support/text.h"
#include "carvix/support/trace.h"

#include <string>

namespace carvix::com {
namespace {

Orvel::TraceLevel LevelOf(const automation::MemberDesc* member) {
    return member != nullptr && member->kind == automation::MemberKind::Method
               ? Orvel::TraceLevel::Info
               : Orvel::TraceLevel::Trace;
}

std::u16string NameOf(const automation::InterfaceDesc& desc, const automation::MemberDesc* member,
                      DISPID id) {
    std::u16string name = desc.name != nullptr ? desc.name : u"?";
    name += u".";
    if (member != nullptr && member->name != nullptr) {
        name += member->name;
    } else {
        name += Orvel::Utf8ToUtf16(std::to_string(id));
    }
    return name;
}

}  // namespace

CallLog::CallLog(const automation::InterfaceDesc& desc, DISPID id, std::uint16_t flags) noexcept
    : desc_(desc), started_(std::chrono::steady_clock::now()) {
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    for (const automation::MemberDesc& m : desc.members) {
        if (m.id == id && (m.kind == automation::MemberKind::PropertyPut) == put) {
            member_ = &m;
            break;
        }
    }
    try {
        Orvel::Trace(LevelOf(member_), u"call " + NameOf(desc_, member_, id));
    } catch (...) {
    }
}

HRESULT CallLog::Ended(HRESULT hr) const noexcept {
    try {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_)
                .count();
        Orvel::Trace(
            LevelOf(member_),
            NameOf(desc_, member_, member_ != nullptr ? member_->id : 0) +
                Orvel::Format(" returned 0x%08X in %.1f ms", static_cast<unsigned>(hr), ms));
    } catch (...) {
    }
    return hr;
}

}  // namespace carvix::com
