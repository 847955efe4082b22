// The diagnostic log that a user or an administrator switches on: one setting, read by every
// program that loads the component, at a level, to a file or to the system journal.
//
// Where the setting comes from, the first that names a level wins:
//   - the environment: CARVIX_LOG=off|errors|calls|commands, CARVIX_LOG_FILE=PATH;
//   - the user's file $XDG_CONFIG_HOME/carvix-qx/log.conf (~/.config/carvix-qx/log.conf);
//   - the system's file /etc/carvix-qx/log.conf.
// A file holds "level = ..." and optionally "file = PATH" lines ('#' starts a comment).
// Without a file the lines go to syslog (the journal on systemd machines). Off by default:
// then no sink is installed and nothing is formatted.
//
// What reaches the log never holds a secret or a personal value: commands are logged by
// header, length, status word and time only (never their data), and PINs, keys, challenge
// responses and block contents are never given to the trace sink.
#pragma once

#include <string>

namespace Orvel {

enum class LogLevel { Off, Errors, Calls, Commands };

struct LogSettings {
    LogLevel level = LogLevel::Off;
    std::string file;    // empty: the system journal
    std::string source;  // where the level came from, for `carvix support`
};

/// The level named by `text` (off, errors, calls, commands; also 0 to 3); false when none.
bool ParseLogLevel(const std::string& text, LogLevel& level);
const char* LogLevelName(LogLevel level);

/// The settings in force for this process (see above).
LogSettings ReadLogSettings();

/// Installs the trace sink the settings ask for (none when the level is Off). `program`
/// names the process in each line. A log file that cannot be opened falls back to the journal.
void InstallLog(const LogSettings& settings, const std::string& program);

}  // namespace Orvel
