#include "terminal_pin.h"

#include "client_names.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

namespace carvix::cli {
namespace {

void Wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) {
        p[i] = 0;
    }
    secret.clear();
}

// One line from the file, without its line end; false when it cannot be read.
bool ReadPinFile(const std::string& path, std::string& pin, std::ostream& err) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        err << "carvix: cannot read the PIN file " << path << "\n";
        return false;
    }
    for (int c; (c = std::fgetc(file)) != EOF && c != '\n' && c != '\r';) {
        pin.push_back(static_cast<char>(c));
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || pin.empty()) {
        err << "carvix: the PIN file " << path
            << (failed ? " cannot be read" : " has no PIN on its first line") << "\n";
        return false;
    }
    return true;
}

// A line from the terminal with echo off; false at end of input.
bool ReadPinFromTerminal(const std::u16string& label, std::string& pin) {
    std::cerr << "PIN for token \"" << Utf8(label) << "\": " << std::flush;
    termios saved{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool ok = false;
    for (char c; ::read(STDIN_FILENO, &c, 1) == 1;) {
        if (c == '\n' || c == '\r') {
            ok = true;
            break;
        }
        pin.push_back(c);
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
    std::cerr << "\n";
    return ok;
}

// What the user should know before typing: the previous PIN was wrong, tries are running out.
void SayPinState(const std::u16string& label, std::int32_t triesLeft, std::uint32_t state) {
    if ((state & CARVIX_PIN_WAS_WRONG) != 0) {
        std::cerr << "The PIN was wrong.\n";
    }
    if ((state & CARVIX_PIN_FINAL_TRY) != 0) {
        std::cerr << "Final try: one more wrong PIN locks token \"" << Utf8(label) << "\".\n";
    } else if (triesLeft >= 0) {
        std::cerr << triesLeft << " tries left.\n";
    } else if ((state & CARVIX_PIN_COUNT_LOW) != 0) {
        std::cerr << "A wrong PIN was entered since the last right one.\n";
    }
}

}  // namespace

bool TerminalPin::CheckFile(std::ostream& err) const {
    if (pinFile_.empty()) {
        return true;
    }
    std::string pin;
    const bool ok = ReadPinFile(pinFile_, pin, err);
    Wipe(pin);
    return ok;
}

void TerminalPin::ReportUnused(std::ostream& err) const {
    if (!pinFile_.empty() && !asked_) {
        err << "carvix: note: the PIN file " << pinFile_ << " was not used: no PIN was asked\n";
    }
}

void TerminalPin::Install() {
    CarvixSetPinPromptWithState(&TerminalPin::Ask, this);
    installed_ = true;
}

TerminalPin::~TerminalPin() {
    if (installed_) {
        CarvixSetPinPromptWithState(nullptr, nullptr);
    }
}

std::int32_t TerminalPin::Ask(void* context, const char16_t* tokenLabel, std::int32_t triesLeft,
                              std::uint32_t state, char* pin, std::uint32_t capacity,
                              std::uint32_t* length) {
    auto& self = *static_cast<TerminalPin*>(context);
    self.asked_ = true;
    if ((state & CARVIX_PIN_LOCKED) != 0) {
        std::cerr << "carvix: the PIN of token \"" << Utf8(tokenLabel) << "\" is locked\n";
        return 0;
    }
    std::string entered;
    bool ok = false;
    if (!self.pinFile_.empty()) {
        ok = ReadPinFile(self.pinFile_, entered, std::cerr);
    } else if (::isatty(STDIN_FILENO) == 1) {
        SayPinState(tokenLabel, triesLeft, state);
        ok = ReadPinFromTerminal(tokenLabel, entered);
    } else {
        std::cerr << "carvix: a PIN is needed and standard input is not a terminal; "
                     "give one with --pin-file\n";
    }
    if (!ok || entered.size() > capacity) {
        Wipe(entered);
        return 0;
    }
    std::memcpy(pin, entered.data(), entered.size());
    *length = static_cast<std::uint32_t>(entered.size());
    Wipe(entered);
    return 1;
}

}  // namespace carvix::cli
