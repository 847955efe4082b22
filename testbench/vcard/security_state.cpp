#include "security_state.h"

#include "auth_rule.h"

namespace carvix::vcard {

const std::array<std::uint8_t, 8>& SecurityState::NewChallenge() {
    std::array<std::uint8_t, 8> c{};
    RandomBytes(c);
    challenge_ = c;
    return *challenge_;
}

std::uint16_t SecurityState::Authenticate(const Role& role,
                                          std::span<const std::uint8_t> response) {
    if (!challenge_) {
        return sw::kVerifyFailed;  // no challenge, or already used: nothing can match
    }
    const auto challenge = *challenge_;
    challenge_.reset();
    if (!SameBytes(ComputeAuthResponse(role.key, challenge), response)) {
        granted_.reset(role.id);
        return sw::kVerifyFailed;
    }
    granted_.set(role.id);
    return sw::kOk;
}

bool SecurityState::MayUpdate(const Application& app, std::uint16_t fileId) const {
    for (const auto& [id, role] : app.roles) {
        if (granted_.test(id) && role.updatable.contains(fileId)) {
            return true;
        }
    }
    return false;
}

void SecurityState::Withdraw(std::uint8_t mask) {
    for (int bit = 0; bit < 8; ++bit) {
        if (mask & (1u << bit)) {
            granted_.reset(static_cast<std::size_t>(bit));
        }
    }
}

void SecurityState::Clear() {
    challenge_.reset();
    granted_.reset();
}

}  // namespace carvix::vcard
