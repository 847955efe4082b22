#include "terminal_chooser.h"

#include "dispatch_client.h"

#include <string>

namespace carvix::cli {
namespace {

// At most this many wrong answers before the question counts as cancelled.
constexpr int kAttempts = 3;

std::string Trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

void TerminalChooser::Install() {
    CarvixSetCertificateChooser(&TerminalChooser::Choose, this);
    installed_ = true;
}

TerminalChooser::~TerminalChooser() {
    if (installed_) {
        CarvixSetCertificateChooser(nullptr, nullptr);
    }
}

std::int32_t TerminalChooser::Choose(void* context, const char16_t* title, const char16_t*,
                                     const CarvixCertificateOffer* offers, std::uint32_t count,
                                     std::uint32_t* chosen) {
    auto& self = *static_cast<TerminalChooser*>(context);
    if (!self.interactive_) {
        self.unanswered_ = true;
        return 0;
    }
    const std::string heading = ToUtf8(title);
    self.out_ << (heading.empty() ? "Several certificates can sign; choose one:" : heading) << "\n";
    for (std::uint32_t i = 0; i < count; ++i) {
        self.out_ << "  " << i + 1 << ". " << ToUtf8(offers[i].subject) << "\n"
                  << "     issued by " << ToUtf8(offers[i].issuer) << ", valid until "
                  << ToUtf8(offers[i].notAfter) << "\n"
                  << "     " << ToUtf8(offers[i].thumbprint) << "\n";
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        self.out_ << "Certificate [1-" << count << ", empty to cancel]: " << std::flush;
        std::string line;
        if (!std::getline(self.in_, line)) {
            self.out_ << "\n";
            return 0;
        }
        const std::string answer = Trimmed(line);
        if (answer.empty()) {
            return 0;
        }
        if (answer.find_first_not_of("0123456789") == std::string::npos && answer.size() < 10) {
            const unsigned long n = std::stoul(answer);
            if (n >= 1 && n <= count) {
                *chosen = static_cast<std::uint32_t>(n - 1);
                return 1;
            }
        }
        self.out_ << "Not a number from 1 to " << count << ".\n";
    }
    return 0;
}

}  // namespace carvix::cli
