#include "carvix/support/log.h"

#include "carvix/support/trace.h"
#include "carvix/support/unicode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>

namespace Orvel {
namespace {

std::string Trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Reads "level" and "file" from a log.conf; false when the file names no level.
bool ReadFile(const std::string& path, LogSettings& settings) {
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    bool named = false;
    for (std::string line; std::getline(in, line);) {
        line = Trimmed(line.substr(0, line.find('#')));
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = Trimmed(line.substr(0, equals));
        const std::string value = Trimmed(line.substr(equals + 1));
        if (key == "level") {
            named = ParseLogLevel(value, settings.level);
        } else if (key == "file") {
            settings.file = value;
        }
    }
    if (named) {
        settings.source = path;
    }
    return named;
}

// Which trace levels a log level lets through.
bool Passes(LogLevel level, TraceLevel trace) {
    switch (trace) {
        case TraceLevel::Error:
        case TraceLevel::Warning:
            return level >= LogLevel::Errors;
        case TraceLevel::Info:
            return level >= LogLevel::Calls;
        case TraceLevel::Trace:
            return level >= LogLevel::Commands;
    }
    return false;
}

std::string Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
        1000000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long long>(micros));
    return text;
}

const char* LevelWord(TraceLevel level) {
    switch (level) {
        case TraceLevel::Error:
            return "error";
        case TraceLevel::Warning:
            return "warning";
        case TraceLevel::Info:
            return "info";
        case TraceLevel::Trace:
            return "card";
    }
    return "";
}

// Appends whole lines to a file that only its owner may read (the log names readers and
// certificates); the descriptor is shared by every copy of the sink.
class FileLog {
  public:
    explicit FileLog(int fd) : fd_(fd) {}
    ~FileLog() { ::close(fd_); }
    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;
    void Write(const std::string& line) {
        std::lock_guard guard(lock_);
        const ssize_t written = ::write(fd_, line.data(), line.size());
        (void)written;  // a log that cannot be written loses the line, nothing else
    }

  private:
    int fd_;
    std::mutex lock_;
};

}  // namespace

bool ParseLogLevel(const std::string& text, LogLevel& level) {
    if (text == "off" || text == "0") {
        level = LogLevel::Off;
    } else if (text == "errors" || text == "1") {
        level = LogLevel::Errors;
    } else if (text == "calls" || text == "2") {
        level = LogLevel::Calls;
    } else if (text == "commands" || text == "3") {
        level = LogLevel::Commands;
    } else {
        return false;
    }
    return true;
}

const char* LogLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Off:
            return "off";
        case LogLevel::Errors:
            return "errors";
        case LogLevel::Calls:
            return "calls";
        case LogLevel::Commands:
            return "commands";
    }
    return "off";
}

LogSettings ReadLogSettings() {
    LogSettings settings;
    const char* level = std::getenv("CARVIX_LOG");
    if (level != nullptr && ParseLogLevel(level, settings.level)) {
        settings.source = "CARVIX_LOG";
        if (const char* file = std::getenv("CARVIX_LOG_FILE"); file != nullptr) {
            settings.file = file;
        }
        return settings;
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string user;
    if (config != nullptr && *config == '/') {
        user = std::string(config) + "/carvix-qx/log.conf";
    } else if (home != nullptr) {
        user = std::string(home) + "/.config/carvix-qx/log.conf";
    }
    LogSettings fromFile;
    if ((!user.empty() && ReadFile(user, fromFile)) ||
        ReadFile("/etc/carvix-qx/log.conf", fromFile = LogSettings{})) {
        if (const char* file = std::getenv("CARVIX_LOG_FILE"); file != nullptr) {
            fromFile.file = file;
        }
        return fromFile;
    }
    return settings;
}

void InstallLog(const LogSettings& settings, const std::string& program) {
    if (settings.level == LogLevel::Off) {
        return;
    }
    const LogLevel level = settings.level;
    const std::string pid = std::to_string(::getpid());
    std::shared_ptr<FileLog> file;
    if (!settings.file.empty()) {
        const int fd =
            ::open(settings.file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            file = std::make_shared<FileLog>(fd);
        }
    }
    if (file != nullptr) {
        const std::string prefix = " " + program + "[" + pid + "] ";
        SetTraceSink([file, level, prefix](TraceLevel trace, std::u16string_view text) {
            if (Passes(level, trace)) {
                file->Write(Timestamp() + prefix + LevelWord(trace) + ": " + Utf16ToUtf8(text) +
                            "\n");
            }
        });
        return;
    }
    // One identifier for every program, so that `journalctl -t carvix-qx` shows them all;
    // the program is named in the line.
    ::openlog("carvix-qx", LOG_PID, LOG_USER);
    SetTraceSink([level, program](TraceLevel trace, std::u16string_view text) {
        if (Passes(level, trace)) {
            const int priority = trace == TraceLevel::Error     ? LOG_ERR
                                 : trace == TraceLevel::Warning ? LOG_WARNING
                                 : trace == TraceLevel::Info    ? LOG_INFO
                                                                : LOG_DEBUG;
            ::syslog(priority, "%s %s: %s", program.c_str(), LevelWord(trace),
                     Utf16ToUtf8(text).c_str());
        }
    });
}

}  // namespace Orvel
