#include "applet.h"

#include <algorithm>

namespace carvix::vcard {

namespace {
constexpr std::uint8_t kInsSelect = 0xA4;
constexpr std::uint8_t kInsReadBinary = 0xB0;
constexpr std::uint8_t kInsUpdateBinary = 0xD6;
constexpr std::uint8_t kInsGetChallenge = 0x84;
constexpr std::uint8_t kInsExternalAuth = 0x82;
constexpr std::uint8_t kInsLogout = 0x22;
constexpr std::uint8_t kClaLogout = 0xB0;

void PutU16(Bytes& out, std::size_t v) {
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

std::uint16_t Offset(const Command& cmd) {
    return static_cast<std::uint16_t>((cmd.p1 << 8) | cmd.p2);
}
}  // namespace

Bytes FileSelectResponse(const Application& app, const ElementaryFile& ef) {
    Bytes out;
    PutU16(out, ef.id);
    PutU16(out, ef.size);
    PutU16(out, ef.data.size());
    out.push_back(0x01);
    std::uint8_t writers = 0;
    for (const auto& [id, role] : app.roles) {
        if (id < 8 && role.updatable.contains(ef.id)) {
            writers |= static_cast<std::uint8_t>(1u << id);
        }
    }
    out.push_back(writers);
    PutU16(out, 0);
    return out;
}

Applet::Applet(CardImage& image, std::function<void()> persist)
    : image_(image), persist_(persist), contactless_(image, std::move(persist)) {}

void Applet::Reset() {
    application_ = nullptr;
    file_ = nullptr;
    security_.Clear();
    contactless_.Reset();
}

Response Applet::Process(const Command& cmd) {
    if (cmd.cla == kClaLogout) {
        return cmd.ins == kInsLogout ? Logout(cmd) : Response::Status(sw::kInsNotSupported);
    }
    if (cmd.cla == ContactlessApplet::kCla) {
        return contactless_.Process(cmd);
    }
    if (cmd.cla != 0x00) {
        return Response::Status(sw::kClaNotSupported);
    }
    switch (cmd.ins) {
        case kInsSelect:
            return Select(cmd);
        case kInsReadBinary:
            return ReadBinary(cmd);
        case kInsUpdateBinary:
            return UpdateBinary(cmd);
        case kInsGetChallenge:
            return GetChallenge(cmd);
        case kInsExternalAuth:
            return ExternalAuthenticate(cmd);
        default:
            return Response::Status(sw::kInsNotSupported);
    }
}

Response Applet::Select(const Command& cmd) {
    if (cmd.p1 == 0x04 && cmd.p2 == 0x00) {
        return SelectApplication(cmd);
    }
    if (cmd.p1 == 0x00 && cmd.p2 == 0x00) {
        return SelectFile(cmd);
    }
    return Response::Status(sw::kWrongP1P2);
}

Response Applet::SelectApplication(const Command& cmd) {
    auto it = std::find_if(image_.applications.begin(), image_.applications.end(),
                           [&](const Application& a) { return a.aid == cmd.data; });
    if (cmd.data.empty() || it == image_.applications.end()) {
        return Response::Status(sw::kNotFound);  // the current selection stays
    }
    if (&*it != application_) {
        // Roles belong to the application that granted them.
        security_.Clear();
        application_ = &*it;
    }
    file_ = nullptr;
    Bytes fci{0x6F, static_cast<std::uint8_t>(it->aid.size() + 2), 0x84,
              static_cast<std::uint8_t>(it->aid.size())};
    fci.insert(fci.end(), it->aid.begin(), it->aid.end());
    return Response{fci, sw::kOk};
}

Response Applet::SelectFile(const Command& cmd) {
    if (cmd.data.size() != 2) {
        return Response::Status(sw::kWrongLength);
    }
    const auto fid = static_cast<std::uint16_t>((cmd.data[0] << 8) | cmd.data[1]);
    if (application_ == nullptr || !application_->files.contains(fid)) {
        return Response::Status(sw::kNotFound);
    }
    file_ = &application_->files.at(fid);
    return Response{FileSelectResponse(*application_, *file_), sw::kOk};
}

Response Applet::ReadBinary(const Command& cmd) {
    if (file_ == nullptr) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    if (cmd.p1 & 0x80) {
        return Response::Status(sw::kWrongP1P2);  // short file identifiers are not supported
    }
    const std::size_t offset = Offset(cmd);
    if (offset >= file_->size) {
        return Response::Status(sw::kOffsetOutside);
    }
    const std::size_t available = file_->size - offset;
    const std::size_t wanted = cmd.le.value_or(256);
    if (!cmd.data.empty()) {
        return Response::Status(sw::kWrongLength);
    }
    if (wanted > available) {
        // 6C carries the exact count the host may ask for (00 stands for 256).
        return Response::Status(static_cast<std::uint16_t>(0x6C00 | (available & 0xFF)));
    }
    Bytes out(wanted, 0x00);
    const std::size_t stored = file_->data.size();
    for (std::size_t i = 0; i < wanted && offset + i < stored; ++i) {
        out[i] = file_->data[offset + i];
    }
    return Response{out, sw::kOk};
}

Response Applet::UpdateBinary(const Command& cmd) {
    if (file_ == nullptr) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    if (cmd.p1 & 0x80) {
        return Response::Status(sw::kWrongP1P2);
    }
    if (cmd.data.empty()) {
        return Response::Status(sw::kWrongLength);
    }
    if (!security_.MayUpdate(*application_, file_->id)) {
        return Response::Status(sw::kSecurityNotSatisfied);
    }
    const std::size_t offset = Offset(cmd);
    if (offset >= file_->size) {
        return Response::Status(sw::kOffsetOutside);
    }
    if (offset + cmd.data.size() > file_->size) {
        return Response::Status(sw::kFileFull);
    }
    const Bytes before = file_->data;
    if (file_->data.size() < offset + cmd.data.size()) {
        file_->data.resize(offset + cmd.data.size(), 0x00);
    }
    std::copy(cmd.data.begin(), cmd.data.end(),
              file_->data.begin() + static_cast<std::ptrdiff_t>(offset));
    try {
        persist_();
    } catch (...) {
        file_->data = before;  // the card keeps what the image holds
        return Response::Status(sw::kNoPreciseDiagnosis);
    }
    return Response::Status(sw::kOk);
}

Response Applet::GetChallenge(const Command& cmd) {
    if (cmd.p1 != 0 || cmd.p2 != 0) {
        return Response::Status(sw::kWrongP1P2);
    }
    if (!cmd.data.empty()) {
        return Response::Status(sw::kWrongLength);
    }
    if (cmd.le && *cmd.le != 8 && *cmd.le != 256) {
        return Response::Status(0x6C08);
    }
    const auto& c = security_.NewChallenge();
    return Response{Bytes(c.begin(), c.end()), sw::kOk};
}

Response Applet::ExternalAuthenticate(const Command& cmd) {
    if (application_ == nullptr) {
        return Response::Status(sw::kConditionsNotSatisfied);
    }
    if (cmd.p1 != 0x00 || (cmd.p2 & 0x80) == 0) {
        return Response::Status(sw::kWrongP1P2);
    }
    const auto roleId = static_cast<std::uint8_t>(cmd.p2 & 0x7F);
    auto it = application_->roles.find(roleId);
    if (it == application_->roles.end()) {
        return Response::Status(sw::kRefDataNotFound);
    }
    return Response::Status(security_.Authenticate(it->second, cmd.data));
}

Response Applet::Logout(const Command& cmd) {
    if (cmd.p1 != 0x00) {
        return Response::Status(sw::kWrongP1P2);
    }
    security_.Withdraw(cmd.p2);
    return Response::Status(sw::kOk);
}

}  // namespace carvix::vcard
