#include "support_command.h"

#include "module_location.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/log.h"
#include "carvix/support/pcsc_context.h"
#include "carvix/support/pcsc_service.h"
#include "carvix/support/unicode.h"

#include <p11-kit/p11-kit.h>
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

void Readers(std::ostream& out) {
    try {
        Orvel::PCSC::PCSCContext context;
        const auto readers = context.ListReaders();
        if (readers.empty()) {
            out << "no reader\n";
        }
        for (const auto& reader : readers) {
            out << Orvel::Utf16ToUtf8(reader) << "\n";
        }
    } catch (const Orvel::Exception& e) {
        out << "cannot reach pcscd: " << Orvel::Utf16ToUtf8(e.Message()) << "\n";
    }
}

// The registered modules by name and file, opened but never initialised (initialising one
// runs its code, which may touch every card).
void Pkcs11Modules(std::ostream& out) {
    CK_FUNCTION_LIST** modules = p11_kit_modules_load(nullptr, 0);
    if (modules == nullptr) {
        out << "p11-kit could not load its module list\n";
        return;
    }
    for (CK_FUNCTION_LIST** m = modules; *m != nullptr; ++m) {
        char* name = p11_kit_module_get_name(*m);
        char* file = p11_kit_module_get_filename(*m);
        out << (name != nullptr ? name : "?") << ": " << (file != nullptr ? file : "?") << "\n";
        free(name);
        free(file);
    }
    p11_kit_modules_release(modules);
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
    Section(out, "PC/SC");
    out << "socket: " << Orvel::PCSC::ServiceSocketPath() << "\n";
    Readers(out);
    Section(out, "PKCS#11 modules registered with p11-kit (not initialised)");
    Pkcs11Modules(out);
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
