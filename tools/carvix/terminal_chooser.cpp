#include "terminal_chooser.h"

#include "client_names.h"

#include <cstdint>
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
    CarvixSetReaderChooser(&TerminalChooser::ChooseReader, this);
    installed_ = true;
}

TerminalChooser::~TerminalChooser() {
    if (installed_) {
        CarvixSetCertificateChooser(nullptr, nullptr);
        CarvixSetReaderChooser(nullptr, nullptr);
    }
}

bool TerminalChooser::AskNumber(const char* prompt, std::uint32_t count, std::uint32_t* chosen) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        out_ << prompt << " [1-" << count << ", empty to cancel]: " << std::flush;
        std::string line;
        if (!std::getline(in_, line)) {
            out_ << "\n";
            return false;
        }
        const std::string answer = Trimmed(line);
        if (answer.empty()) {
            return false;
        }
        if (answer.find_first_not_of("0123456789") == std::string::npos && answer.size() < 10) {
            const unsigned long n = std::stoul(answer);
            if (n >= 1 && n <= count) {
                *chosen = static_cast<std::uint32_t>(n - 1);
                return true;
            }
        }
        out_ << "Not a number from 1 to " << count << ".\n";
    }
    return false;
}

std::int32_t TerminalChooser::ChooseReader(void* context, const char16_t* title,
                                           const CarvixReaderOffer* offers, std::uint32_t count,
                                           std::uint32_t* chosen) {
    auto& self = *static_cast<TerminalChooser*>(context);
    if (!self.interactive_) {
        self.unansweredReaders_ = count == 0 ? SIZE_MAX : count;
        return 0;
    }
    if (count == 0) {
        // Said once; the component asks again about once a second while it waits.
        if (!self.toldToInsert_) {
            self.out_ << "No reader holds a suitable card. Insert one (Ctrl+C to stop)...\n"
                      << std::flush;
            self.toldToInsert_ = true;
        }
        return 1;
    }
    const std::string heading = Utf8(title);
    self.out_ << (heading.empty() ? "Several readers hold a suitable card; choose one:" : heading)
              << "\n";
    for (std::uint32_t i = 0; i < count; ++i) {
        self.out_ << "  " << i + 1 << ". " << Utf8(offers[i].reader) << "\n";
    }
    return self.AskNumber("Reader", count, chosen) ? 1 : 0;
}

std::int32_t TerminalChooser::Choose(void* context, const char16_t* title, const char16_t*,
                                     const CarvixCertificateOffer* offers, std::uint32_t count,
                                     std::uint32_t* chosen) {
    auto& self = *static_cast<TerminalChooser*>(context);
    if (!self.interactive_) {
        self.unanswered_ = true;
        return 0;
    }
    const std::string heading = Utf8(title);
    self.out_ << (heading.empty() ? "Several certificates can sign; choose one:" : heading) << "\n";
    for (std::uint32_t i = 0; i < count; ++i) {
        self.out_ << "  " << i + 1 << ". " << Utf8(offers[i].subject) << "\n"
                  << "     issued by " << Utf8(offers[i].issuer) << ", valid until "
                  << Utf8(offers[i].notAfter) << "\n"
                  << "     " << Utf8(offers[i].thumbprint) << "\n";
    }
    return self.AskNumber("Certificate", count, chosen) ? 1 : 0;
}

void TerminalChooser::ExplainUnansweredSigner(std::ostream& err) const {
    if (unanswered_) {
        err << "carvix: several certificates of the store \"My\" can sign and standard input is "
               "not a terminal to ask which; name one with --signer CERT_FILE\n";
    }
}

}  // namespace carvix::cli
