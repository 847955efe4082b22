// The back-end that answers the card's challenge: a command the user names, run through
// /bin/sh with the Base64 challenge as its last argument; its standard output is the Base64
// response.
#pragma once

#include <stdexcept>
#include <string>

namespace carvix::cli {

/// The command failed, printed nothing, or printed something that cannot be a response.
struct ResponderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Runs `command` with the challenge appended (quoted for the shell) and returns what it
/// printed, without surrounding white space. Throws ResponderError.
std::string RunResponder(const std::string& command, const std::string& challenge);

/// `text` quoted for /bin/sh.
std::string ShellQuote(const std::string& text);

}  // namespace carvix::cli
