#include "failure_text.h"

#include "carvix/automation/failures.h"
#include "carvix/support/pcsc_service.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace carvix::cli {

std::string ExplainFailure(HRESULT hr, Addressed addressed) {
    namespace failures = carvix::automation::failures;
    if (hr == failures::NoService || hr == failures::ServiceStopped) {
        // What this machine lacks (socket activation, polkit, an exited pcscd), found out now.
        return Orvel::PCSC::ServiceFailureText() + "\n";
    }
    const carvix::automation::FailureExplanation failure = carvix::automation::ExplainFailure(hr);
    const auto code = static_cast<std::uint32_t>(hr);
    const bool statusWord =
        ((code >> 16) == 0x8007u || (code >> 16) == 0x8004u) && (code & 0xF000u) == 0x6000u;
    if (failure.nextStep.empty() && !statusWord) {
        return {};  // the component's message says all the table knows
    }
    std::string step(failure.nextStep);
    const std::string generic = "the right card";
    if (const auto at = step.find(generic);
        at != std::string::npos && addressed != Addressed::Unknown) {
        step.replace(at, generic.size(), addressed == Addressed::Zk ? "a ZK card" : "a VL card");
    }
    std::string text(failure.meaning);
    if (!step.empty()) {
        text += (statusWord ? "; " : ": ") + step;
    }
    return text + "\n";
}

std::string WithHexCodes(const std::string& message) {
    static constexpr std::string_view kLead = "Error code: ";
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = message.find(kLead); at != std::string::npos;
         at = message.find(kLead, from)) {
        std::size_t end = at + kLead.size();
        const std::size_t digits = end + (end < message.size() && message[end] == '-' ? 1 : 0);
        std::size_t last = digits;
        while (last < message.size() && message[last] >= '0' && message[last] <= '9') {
            ++last;
        }
        end = last;
        out.append(message, from, end - from);
        from = end;
        if (last == digits || last - digits > 10) {
            continue;  // no number, or none that fits 32 bits
        }
        const long long value =
            std::stoll(message.substr(at + kLead.size(), end - at - kLead.size()));
        if (value < INT32_MIN || value > static_cast<long long>(UINT32_MAX)) {
            continue;
        }
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X",
                      static_cast<unsigned>(static_cast<std::uint32_t>(value)));
        out += std::string(" (") + hex + ")";
    }
    out.append(message, from, std::string::npos);
    return out;
}

std::string PcscFailureText(const std::string& call, std::uint32_t code,
                            const std::string& message) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    std::string text = "carvix: " + call + ": " + hex;
    if (!message.empty()) {
        text += " " + message;
    }
    text += "\n";
    const std::string hint = ExplainFailure(static_cast<HRESULT>(code));
    // The service's message already is the explanation; do not print it twice.
    if (!hint.empty() && hint != message + "\n") {
        text += "carvix: " + hint;
    }
    return text;
}

}  // namespace carvix::cli
