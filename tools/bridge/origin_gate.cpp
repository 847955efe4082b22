#include "origin_gate.h"

namespace carvix::bridge {

std::optional<std::string> OriginGate::Refusal(const std::string& origin) {
    const std::string refused = "The page " + origin + " is not allowed to use carvix-qx.";
    if (!list_.Allows(origin)) {
        return refused;
    }
    const std::string canonical = *AllowableOrigin(origin);
    const std::lock_guard hold(lock_);
    if (!bound_) {
        bound_ = canonical;
    }
    if (*bound_ != canonical) {
        return refused;
    }
    return std::nullopt;
}

}  // namespace carvix::bridge
