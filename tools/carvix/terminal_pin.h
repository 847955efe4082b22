// The client's answer to the component's PIN question: the first line of the file named by
// --pin-file (for unattended use), else the terminal without echo; with neither, a cancel.
// The PIN is copied straight into the component's buffer and wiped here.
#pragma once

#include "carvix/automation/host_hooks.h"

#include <iosfwd>
#include <string>

namespace carvix::cli {

class TerminalPin {
  public:
    explicit TerminalPin(std::string pinFile) : pinFile_(std::move(pinFile)) {}
    /// Installs the prompt in the runtime for as long as the object lives.
    void Install();
    ~TerminalPin();
    /// With --pin-file: false, after saying why on `err`, when the file cannot be read or its
    /// first line is empty, so that a command stops before it does anything.
    bool CheckFile(std::ostream& err) const;
    /// With --pin-file: says on `err` that the file was not used when no PIN was asked.
    void ReportUnused(std::ostream& err) const;
    TerminalPin(const TerminalPin&) = delete;
    TerminalPin& operator=(const TerminalPin&) = delete;

    /// Told the PIN state: says on the terminal that the PIN was wrong, that this is the final
    /// try, or that the PIN is locked (and then asks nothing).
    static std::int32_t Ask(void* context, const char16_t* tokenLabel, std::int32_t triesLeft,
                            std::uint32_t state, char* pin, std::uint32_t capacity,
                            std::uint32_t* length);

  private:
    std::string pinFile_;
    bool installed_ = false;
    bool asked_ = false;
};

}  // namespace carvix::cli
