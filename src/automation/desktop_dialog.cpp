#include "desktop_dialog.h"

#include "carvix/automation/dialog_line.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace carvix::automation {
namespace {

std::atomic<bool> gEnabled{true};

// How long a closing program gets to end on its own before it is killed.
constexpr auto kExitGrace = std::chrono::milliseconds(500);

bool EnvironmentSaysOff() {
    const char* value = std::getenv("CARVIX_DIALOG");
    if (value == nullptr) {
        return false;
    }
    const std::string v(value);
    return v == "off" || v == "0" || v == "no" || v == "false";
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

void SetDesktopDialogsEnabled(bool enabled) noexcept {
    gEnabled.store(enabled);
}

std::string DesktopDialogProgram() {
    if (!gEnabled.load() || EnvironmentSaysOff() || (!Set("WAYLAND_DISPLAY") && !Set("DISPLAY"))) {
        return {};
    }
    const char* named = std::getenv("CARVIX_DIALOG_PROGRAM");
    std::string program = named != nullptr && named[0] != '\0' ? named : CARVIX_DIALOG_INSTALLED;
    if (::access(program.c_str(), X_OK) != 0) {
        return {};
    }
    return program;
}

std::unique_ptr<DialogProcess> DialogProcess::StartWanted() {
    const std::string program = DesktopDialogProgram();
    return program.empty() ? nullptr : Start(program);
}

std::unique_ptr<DialogProcess> DialogProcess::Start(const std::string& program) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return nullptr;
    }
    // The program's standard input and output are its end of the pair; standard error is
    // the host's.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        return nullptr;
    }
    std::unique_ptr<DialogProcess> process(new DialogProcess(pid, pair[0]));
    // The greeting: "OK carvix-dialog 1". A program that does not greet within a while
    // (no display after all, a broken installation) is not used.
    constexpr int kGreetingMs = 15000;
    std::vector<std::string> greeting;
    if (process->Read(kGreetingMs, greeting) != Got::kLine || greeting.size() < 3 ||
        greeting[0] != "OK" || greeting[1] != "carvix-dialog" || greeting[2] != "1") {
        return nullptr;
    }
    return process;
}

DialogProcess::~DialogProcess() {
    if (!gone_) {
        static constexpr char kBye[] = "BYE\n";
        ::send(fd_, kBye, sizeof kBye - 1, MSG_NOSIGNAL);
    }
    ::close(fd_);  // end of input: the program closes its dialog and ends
    WipeInput();
    const auto deadline = std::chrono::steady_clock::now() + kExitGrace;
    for (;;) {
        const pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool DialogProcess::Send(const std::vector<std::string>& fields) {
    if (gone_) {
        return false;
    }
    std::string line = dialog::Join(fields);
    line.push_back('\n');
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            gone_ = true;
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    dialog::Wipe(line);
    return !gone_;
}

DialogProcess::Got DialogProcess::Read(int timeoutMs, std::vector<std::string>& fields) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string_view line(pending_.data(), end);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            auto split = dialog::Split(line);
            // The consumed bytes are overwritten before they are dropped.
            std::memset(pending_.data(), 0, end + 1);
            pending_.erase(0, end + 1);
            if (!split) {
                gone_ = true;
                return Got::kGone;
            }
            fields = std::move(*split);
            return Got::kLine;
        }
        if (gone_ || pending_.size() > dialog::kMaxLine) {
            gone_ = true;
            return Got::kGone;
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 && timeoutMs > 0) {
                return Got::kTimeout;
            }
            wait = static_cast<int>(left.count() < 0 ? 0 : left.count());
        }
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            return Got::kTimeout;
        }
        char chunk[4096];
        const ssize_t n = ready < 0 ? -1 : ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            gone_ = true;
            return Got::kGone;
        }
        pending_.append(chunk, static_cast<std::size_t>(n));
        std::memset(chunk, 0, sizeof chunk);
    }
}

std::optional<std::vector<std::string>> DialogProcess::Ask(const std::vector<std::string>& fields) {
    if (!Send(fields)) {
        return std::nullopt;
    }
    std::vector<std::string> reply;
    if (Read(-1, reply) != Got::kLine) {
        return std::nullopt;
    }
    return reply;
}

void DialogProcess::WipeInput() noexcept {
    dialog::Wipe(pending_);
}

}  // namespace carvix::automation
