// The client's answer to the component's questions (which certificate signs, which reader
// holds the card): on a terminal the user picks from a numbered list on standard error;
// elsewhere nobody can answer, which the client remembers so that it can say which option
// names the choice instead.
#pragma once

#include "carvix/automation/host_hooks.h"

#include <cstddef>
#include <istream>
#include <ostream>

namespace carvix::cli {

class TerminalChooser {
  public:
    /// Asks on `out` and reads the answer from `in` when `interactive`; otherwise every
    /// question is a cancel.
    TerminalChooser(std::istream& in, std::ostream& out, bool interactive)
        : in_(in), out_(out), interactive_(interactive) {}

    /// Installs this chooser in the runtime (certificates and readers) for as long as the
    /// object lives.
    void Install();
    ~TerminalChooser();
    TerminalChooser(const TerminalChooser&) = delete;
    TerminalChooser& operator=(const TerminalChooser&) = delete;

    /// True when a question came that could not be put (standard input not a terminal).
    bool UnansweredQuestion() const noexcept { return unanswered_; }
    /// After a failed signing call: tells on `err` when the failure was a signer question
    /// that could not be put, and how to name the signer instead.
    void ExplainUnansweredSigner(std::ostream& err) const;
    /// The reader question that could not be put: 0 none, otherwise how many readers were
    /// on offer (SIZE_MAX when none held a suitable card and the user could not be asked to
    /// insert one).
    std::size_t UnansweredReaders() const noexcept { return unansweredReaders_; }

    /// The hook itself (context: a TerminalChooser).
    static std::int32_t Choose(void* context, const char16_t* title, const char16_t* displayText,
                               const CarvixCertificateOffer* offers, std::uint32_t count,
                               std::uint32_t* chosen);

    /// The reader hook (context: a TerminalChooser).
    static std::int32_t ChooseReader(void* context, const char16_t* title,
                                     const CarvixReaderOffer* offers, std::uint32_t count,
                                     std::uint32_t* chosen);

  private:
    // Reads a number from 1 to `count`; false for an empty answer, end of input or three
    // wrong answers.
    bool AskNumber(const char* prompt, std::uint32_t count, std::uint32_t* chosen);

    std::istream& in_;
    std::ostream& out_;
    bool interactive_;
    bool installed_ = false;
    bool unanswered_ = false;
    std::size_t unansweredReaders_ = 0;
    bool toldToInsert_ = false;
};

}  // namespace carvix::cli
