// The client's answer to the component's certificate question: on a terminal the user picks
// from a numbered list; elsewhere nobody can answer, which the client remembers so that it
// can say how to name the certificate instead.
#pragma once

#include "carvix/automation/host_hooks.h"

#include <istream>
#include <ostream>

namespace carvix::cli {

class TerminalChooser {
  public:
    /// Asks on `out` and reads the answer from `in` when `interactive`; otherwise every
    /// question is a cancel.
    TerminalChooser(std::istream& in, std::ostream& out, bool interactive)
        : in_(in), out_(out), interactive_(interactive) {}

    /// Installs this chooser in the runtime for as long as the object lives.
    void Install();
    ~TerminalChooser();
    TerminalChooser(const TerminalChooser&) = delete;
    TerminalChooser& operator=(const TerminalChooser&) = delete;

    /// True when a question came that could not be put (standard input not a terminal).
    bool UnansweredQuestion() const noexcept { return unanswered_; }

    /// The hook itself (context: a TerminalChooser).
    static std::int32_t Choose(void* context, const char16_t* title, const char16_t* displayText,
                               const CarvixCertificateOffer* offers, std::uint32_t count,
                               std::uint32_t* chosen);

  private:
    std::istream& in_;
    std::ostream& out_;
    bool interactive_;
    bool installed_ = false;
    bool unanswered_ = false;
};

}  // namespace carvix::cli
