#include "responder.h"

#include <sys/wait.h>

#include <cstdio>
#include <memory>

namespace carvix::cli {
namespace {

// Far more than any response; a command that prints more is not a responder.
constexpr std::size_t kMaxOutput = 64 * 1024;

bool IsBase64Text(const std::string& text) {
    return !text.empty() && text.size() % 4 == 0 &&
           text.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
               std::string::npos;
}

}  // namespace

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::string RunResponder(const std::string& command, const std::string& challenge) {
    const std::string line = command + " " + ShellQuote(challenge);
    std::fflush(nullptr);
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) {
        throw ResponderError("cannot run the response command: " + command);
    }
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (out.size() < kMaxOutput) {
            out.append(buffer, n);
        }
    }
    const int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw ResponderError("the response command failed" +
                             (status != -1 && WIFEXITED(status)
                                  ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                  : std::string()) +
                             ": " + command);
    }
    const auto first = out.find_first_not_of(" \t\r\n");
    out = first == std::string::npos
              ? std::string()
              : out.substr(first, out.find_last_not_of(" \t\r\n") - first + 1);
    if (!IsBase64Text(out)) {
        throw ResponderError(out.empty()
                                 ? "the response command printed nothing: " + command
                                 : "the response command printed no Base64 response: " + command);
    }
    return out;
}

}  // namespace carvix::cli
