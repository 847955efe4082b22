#include "transport.h"

#include <algorithm>

namespace carvix::vcard {

namespace {
constexpr std::uint8_t kInsGetResponse = 0xC0;
}

void Transport::Reset() {
    pending_.clear();
    applet_.Reset();
}

Transport::Outcome Transport::Exchange(std::span<const std::uint8_t> raw) {
    ++commands_;
    const auto due = faults_.Due(commands_);
    Outcome out;
    std::optional<Response> forced;
    for (const auto& f : due) {
        if (f.kind == Fault::Kind::Remove) {
            out.dropLink = true;
            return out;
        }
        if (f.kind == Fault::Kind::StatusWord) {
            forced = Response::Status(f.sw);
        }
    }
    Response r;
    if (forced) {
        pending_.clear();
        r = *forced;
    } else {
        r = Run(raw);
    }
    for (const auto& f : due) {
        if (f.kind == Fault::Kind::Short) {
            r.data.resize(r.data.size() - std::min(f.bytes, r.data.size()));
        } else if (f.kind == Fault::Kind::Long) {
            r.data.insert(r.data.end(), f.bytes, 0xA5);
        }
    }
    out.response = r.Serialize();
    out.dropAfter = faults_.TakeRemoval(commands_ + 1);
    return out;
}

Response Transport::Run(std::span<const std::uint8_t> raw) {
    const auto cmd = ParseCommand(raw);
    if (!cmd) {
        pending_.clear();
        return Response::Status(sw::kWrongLength);
    }
    if (cmd->cla == 0x00 && cmd->ins == kInsGetResponse) {
        if (cmd->p1 != 0 || cmd->p2 != 0) {
            return Response::Status(sw::kWrongP1P2);
        }
        if (pending_.empty()) {
            return Response::Status(sw::kConditionsNotSatisfied);
        }
        return Serve(cmd->le.value_or(256));
    }
    pending_.clear();
    return Deliver(*cmd, applet_.Process(*cmd));
}

Response Transport::Deliver(const Command& cmd, Response r) {
    if (r.data.empty()) {
        return r;
    }
    pending_ = std::move(r.data);
    if (protocol_ == Protocol::T0) {
        if (!cmd.data.empty()) {
            return Response::Status(MoreAvailable());  // case 4 arrives as case 3
        }
        return Serve(cmd.le.value_or(256));
    }
    if (t1GetResponse_) {
        return Response::Status(MoreAvailable());
    }
    if (!cmd.le) {
        pending_.clear();  // the host asked for no data
        return Response::Status(r.sw);
    }
    return Serve(*cmd.le);
}

Response Transport::Serve(std::size_t le) {
    const std::size_t n = pending_.size();
    if (le > n) {
        if (protocol_ == Protocol::T0) {
            return Response::Status(static_cast<std::uint16_t>(0x6C00 | (n & 0xFF)));
        }
        le = n;
    }
    Response r{Bytes(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(le)),
               sw::kOk};
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(le));
    if (!pending_.empty()) {
        r.sw = MoreAvailable();
    }
    return r;
}

std::uint16_t Transport::MoreAvailable() const {
    return static_cast<std::uint16_t>(0x6100 |
                                      (std::min<std::size_t>(pending_.size(), 256) & 0xFF));
}

}  // namespace carvix::vcard
