#include "faults.h"

#include <charconv>
#include <stdexcept>

namespace carvix::vcard {

namespace {
std::uint64_t Number(std::string_view text, int base, const std::string& fault) {
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        throw std::invalid_argument("bad number in fault \"" + fault + "\"");
    }
    return v;
}
}  // namespace

Fault ParseFault(const std::string& fault) {
    const auto atPos = fault.rfind('@');
    if (atPos == std::string::npos) {
        throw std::invalid_argument("fault \"" + fault + "\" lacks @N");
    }
    Fault f;
    f.at = Number(std::string_view(fault).substr(atPos + 1), 10, fault);
    if (f.at == 0) {
        throw std::invalid_argument("fault \"" + fault + "\": commands count from 1");
    }
    const std::string head = fault.substr(0, atPos);
    const auto colon = head.find(':');
    const std::string kind = head.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : head.substr(colon + 1);
    if (kind == "remove" && colon == std::string::npos) {
        f.kind = Fault::Kind::Remove;
    } else if (kind == "sw" && arg.size() == 4) {
        f.kind = Fault::Kind::StatusWord;
        f.sw = static_cast<std::uint16_t>(Number(arg, 16, fault));
    } else if ((kind == "short" || kind == "long") && !arg.empty()) {
        f.kind = kind == "short" ? Fault::Kind::Short : Fault::Kind::Long;
        f.bytes = Number(arg, 10, fault);
        if (f.bytes == 0 || f.bytes > 256) {
            throw std::invalid_argument("fault \"" + fault + "\": 1 to 256 bytes");
        }
    } else {
        throw std::invalid_argument("unknown fault \"" + fault +
                                    "\" (sw:XXXX@N, remove@N, short:K@N, long:K@N)");
    }
    return f;
}

void FaultPlan::Arm(Fault fault, std::uint64_t commandsSoFar) {
    fault.at += commandsSoFar;
    pending_.push_back(fault);
}

std::vector<Fault> FaultPlan::Due(std::uint64_t commandNumber) {
    std::vector<Fault> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->at == commandNumber) {
            due.push_back(*it);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

}  // namespace carvix::vcard

namespace carvix::vcard {

bool FaultPlan::TakeRemoval(std::uint64_t commandNumber) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->kind == Fault::Kind::Remove && it->at == commandNumber) {
            pending_.erase(it);
            return true;
        }
    }
    return false;
}

}  // namespace carvix::vcard
