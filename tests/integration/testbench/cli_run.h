// Running the carvix client from a test: a throw-away profile with the module registered,
// a command's status and output, and a client left running whose lines are read as they
// come.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace carvix::bench {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

/// Points HOME, the class stores and the certificate stores at a fresh folder and registers
/// the module there. Throws when the registration fails.
void UseFreshProfile();
/// The folder of the current profile (empty before UseFreshProfile).
const std::filesystem::path& ProfileRoot();
/// Removes the current profile's folder.
void RemoveProfile();

/// The whole content of a file (empty when it cannot be read).
std::string ReadFile(const std::filesystem::path& path);

/// Runs `carvix ARGS` (a shell command line after the program) with standard input from
/// /dev/null, and with `env` (NAME=VALUE ...) put before it.
CliResult RunCli(const std::string& args, const std::string& env = {});

std::string Quote(const std::string& s);

/// `carvix ARGS` left running, its standard output read line by line.
class RunningCli {
  public:
    explicit RunningCli(const std::string& args);
    ~RunningCli();
    RunningCli(const RunningCli&) = delete;
    RunningCli& operator=(const RunningCli&) = delete;

    /// The next line that contains `text`, skipping others; empty after `seconds`.
    std::string WaitForLine(const std::string& text, double seconds = 15);
    /// Sends SIGINT and returns the exit status.
    int Interrupt();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

}  // namespace carvix::bench
