#include "cli_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace carvix::bench {
namespace fs = std::filesystem;

namespace {

fs::path& Root() {
    static fs::path root;
    return root;
}

}  // namespace

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const fs::path& ProfileRoot() {
    return Root();
}

void RemoveProfile() {
    std::error_code ec;
    fs::remove_all(Root(), ec);
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

void UseFreshProfile() {
    char tmpl[] = "/tmp/carvix-cli-test.XXXXXX";
    Root() = ::mkdtemp(tmpl);
    ::setenv("HOME", Root().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Root() / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (Root() / "system").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (Root() / "data").c_str(), 1);
    const CliResult r = RunCli(std::string("register --module ") + Quote(CARVIX_QX_MODULE));
    if (r.status != 0) {
        throw std::runtime_error("carvix register failed: " + r.err);
    }
}

CliResult RunCli(const std::string& args, const std::string& env) {
    const fs::path err = Root() / "stderr.txt";
    const std::string cmd =
        env + " " + Quote(CARVIX_CLI) + " " + args + " </dev/null 2>" + Quote(err.string());
    CliResult r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        r.out.append(buffer, n);
    }
    const int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ReadFile(err);
    return r;
}

RunningCli::RunningCli(const std::string& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> words{CARVIX_CLI};
    std::istringstream split(args);
    for (std::string w; split >> w;) {
        words.push_back(w);
    }
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, CARVIX_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start carvix");
    }
}

RunningCli::~RunningCli() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) {
        ::close(out_);
    }
}

std::string RunningCli::WaitForLine(const std::string& text, double seconds) {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    for (;;) {
        for (auto nl = buffer_.find('\n'); nl != std::string::npos; nl = buffer_.find('\n')) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            if (line.find(text) != std::string::npos) {
                return line;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return {};
        }
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return {};
        }
        char chunk[1024];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            return {};
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

int RunningCli::Interrupt() {
    ::kill(pid_, SIGINT);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace carvix::bench
