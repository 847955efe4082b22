#include "support_command.h"

#include "doctor_command.h"
#include "module_location.h"

#include "carvix/support/log.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace carvix::cli {
namespace {

constexpr std::size_t kLogLines = 300;

std::string Now(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

void Section(std::ostream& out, const std::string& title) {
    out << "\n== " << title << "\n";
}

const char* StatusWord(DoctorCheck::Status status) {
    switch (status) {
        case DoctorCheck::Status::Ok:
            return "ok";
        case DoctorCheck::Status::Info:
            return "info";
        case DoctorCheck::Status::Warning:
            return "warning";
        case DoctorCheck::Status::Failure:
            return "FAILED";
    }
    return "";
}

// The same checks as `carvix doctor`, one line each with the fix under it.
void Diagnosis(std::ostream& out) {
    for (const DoctorCheck& check : RunDoctorChecks({})) {
        out << "[" << StatusWord(check.status) << "] " << check.area << ": " << check.name;
        if (!check.detail.empty()) {
            out << ": " << check.detail;
        }
        out << "\n";
        if (!check.fix.empty()) {
            out << "    fix: " << check.fix << "\n";
        }
    }
}

void LogTail(std::ostream& out, const Orvel::LogSettings& settings) {
    out << "level " << Orvel::LogLevelName(settings.level);
    if (!settings.source.empty()) {
        out << " (from " << settings.source << ")";
    }
    out << ", to " << (settings.file.empty() ? "the system journal" : settings.file) << "\n";
    if (settings.level == Orvel::LogLevel::Off) {
        out << "the log is off: switch it on with CARVIX_LOG=commands (or carvix -vv --log "
               "FILE), repeat what failed, and run carvix support again\n";
        return;
    }
    if (settings.file.empty() || settings.file == "/dev/stderr") {
        out << "(see journalctl -t carvix-qx for the lines)\n";
        return;
    }
    std::ifstream in(settings.file);
    std::deque<std::string> last;
    for (std::string line; std::getline(in, line);) {
        last.push_back(line);
        if (last.size() > kLogLines) {
            last.pop_front();
        }
    }
    out << "the last " << last.size() << " lines:\n";
    for (const auto& line : last) {
        out << line << "\n";
    }
}

}  // namespace

int SupportBundle(const std::string& outPath) {
    const std::string path =
        outPath.empty() ? "carvix-support-" + Now("%Y%m%d-%H%M%S") + ".txt" : outPath;
    std::ostringstream out;
    out << "carvix-qx support bundle, " << Now("%Y-%m-%dT%H:%M:%SZ") << "\n";
    utsname system{};
    if (uname(&system) == 0) {
        out << system.sysname << " " << system.release << " " << system.machine << "\n";
    }
    Section(out, "component");
    out << "module beside this client: " << DefaultModulePath() << "\n";
    Section(out, "diagnosis (carvix doctor)");
    Diagnosis(out);
    Section(out, "log");
    LogTail(out, Orvel::ReadLogSettings());

    std::ofstream file(path, std::ios::out | std::ios::trunc);
    file << out.str();
    if (!file) {
        std::cerr << "carvix: cannot write " << path << "\n";
        return 1;
    }
    std::cout << "wrote " << path << " (no secrets or card contents: safe to send)\n";
    return 0;
}

}  // namespace carvix::cli
