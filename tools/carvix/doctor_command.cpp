#include "doctor_command.h"

#include "allow_list.h"
#include "browser_folders.h"
#include "browser_host.h"
#include "client_names.h"

#include "carvix/automation/registry.h"
#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/pcsc_constants.h"

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <tuple>

namespace carvix::cli {
namespace fs = std::filesystem;
namespace pcsc = Orvel::PCSC;
namespace reg = carvix::automation::registry;
using Status = DoctorCheck::Status;

namespace {

constexpr const char16_t* kProbeProgId = u"CARVIX.DocAdmin";

std::string Hex(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// --- PC/SC ---------------------------------------------------------------------------------

std::string PcscSocket() {
    const char* named = std::getenv("PCSCLITE_CSOCK_NAME");
    return named != nullptr && *named != '\0' ? named : "/run/pcscd/pcscd.comm";
}

// One context for the PC/SC checks, released on every path.
class Context {
  public:
    Context()
        : code_(pcsc::detail::Code(pcsc::Api().EstablishContext(pcsc::kScopeUser, &handle_))) {}
    ~Context() {
        if (code_ == pcsc::kSuccess) {
            pcsc::Api().ReleaseContext(handle_);
        }
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    std::uint32_t Code() const { return code_; }
    SCARDCONTEXT Handle() const { return handle_; }

  private:
    SCARDCONTEXT handle_ = 0;
    std::uint32_t code_;
};

void CheckPcsc(std::vector<DoctorCheck>& out) {
    const std::string socket = PcscSocket();
    Context context;
    if (context.Code() != pcsc::kSuccess) {
        DoctorCheck c{"pcsc", "PC/SC service", Status::Failure, "", ""};
        std::error_code ec;
        if (!fs::exists(socket, ec)) {
            c.detail = "pcscd is not running and nothing listens at " + socket + " (" +
                       Hex(context.Code()) + ")";
            c.fix =
                "install pcscd and let systemd start it on demand: systemctl enable --now "
                "pcscd.socket (a pcscd started by hand with --auto-exit ends when idle and "
                "only socket activation brings it back)";
        } else {
            c.detail = "pcscd does not answer at " + socket + " (" + Hex(context.Code()) + ")";
            c.fix =
                "if `journalctl -u pcscd` says the process \"is NOT authorized\", polkit "
                "refuses this user: use a local active session or allow the user with a "
                "polkit rule for org.debian.pcsc-lite.access_pcsc and access_card; "
                "otherwise restart it: systemctl restart pcscd.socket pcscd";
        }
        out.push_back(std::move(c));
        return;
    }
    out.push_back({"pcsc", "PC/SC service", Status::Ok, "pcscd answers at " + socket, ""});

    // Readers and the cards in them.
    DWORD size = 0;
    std::uint32_t code =
        pcsc::detail::Code(pcsc::Api().ListReaders(context.Handle(), nullptr, nullptr, &size));
    std::string names;
    if (code == pcsc::kSuccess && size > 0) {
        names.resize(size);
        code = pcsc::detail::Code(
            pcsc::Api().ListReaders(context.Handle(), nullptr, names.data(), &size));
    }
    std::vector<std::string> readers;
    if (code == pcsc::kSuccess) {
        for (std::size_t at = 0; at < names.size() && names[at] != '\0';) {
            const std::size_t end = names.find('\0', at);
            readers.push_back(names.substr(at, end - at));
            at = end + 1;
        }
    }
    if (readers.empty()) {
        out.push_back({"readers", "Readers", Status::Failure,
                       code == pcsc::kSuccess || code == pcsc::kNoReadersAvailable
                           ? "no reader is connected"
                           : "the readers cannot be listed (" + Hex(code) + ")",
                       "connect a reader; a USB reader needs its driver (libccid for CCID "
                       "readers) and shows in `lsusb`; then run carvix doctor again"});
        return;
    }
    int cards = 0;
    for (const std::string& reader : readers) {
        SCARD_READERSTATE state{};
        state.szReader = reader.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        const std::uint32_t sc =
            pcsc::detail::Code(pcsc::Api().GetStatusChange(context.Handle(), 0, &state, 1));
        DoctorCheck c{"readers", reader, Status::Info, "", ""};
        if (sc != pcsc::kSuccess && sc != pcsc::kTimeout) {
            c.status = Status::Warning;
            c.detail = "its state cannot be read (" + Hex(sc) + ")";
        } else if ((state.dwEventState & SCARD_STATE_PRESENT) != 0) {
            ++cards;
            std::string atr;
            for (DWORD i = 0; i < state.cbAtr; ++i) {
                char byte[3];
                std::snprintf(byte, sizeof byte, "%02X", state.rgbAtr[i]);
                atr += byte;
            }
            c.status = Status::Ok;
            c.detail = "a card is in it (ATR " + atr + ")";
            if ((state.dwEventState & SCARD_STATE_MUTE) != 0) {
                c.status = Status::Warning;
                c.detail = "the card in it does not answer";
                c.fix = "take the card out and insert it again, chip first and face up";
            }
        } else {
            c.detail = "empty";
        }
        out.push_back(std::move(c));
    }
    if (cards == 0) {
        out.push_back({"readers", "Cards", Status::Warning, "no reader holds a card",
                       "insert the identity card into one of the readers above"});
    }
}

// --- the module's registration --------------------------------------------------------------

// The module the hive's registration of kProbeProgId names, or nothing.
std::optional<std::string> RegisteredModule(reg::Hive hive) {
    reg::Key root;
    if (FAILED(reg::Load(hive, root))) {
        return std::nullopt;
    }
    const std::u16string prefix = hive == reg::Hive::User ? u"Software\\Classes\\" : u"";
    const std::u16string progId = kProbeProgId;
    const auto clsid = root.Value(prefix + progId + u"\\CLSID");
    if (!clsid) {
        return std::nullopt;
    }
    const auto module = root.Value(prefix + u"CLSID\\" + *clsid + u"\\InprocServer32");
    return module ? std::optional<std::string>(Utf8(*module)) : std::optional<std::string>("");
}

void CheckRegistration(std::vector<DoctorCheck>& out) {
    bool usable = false;
    for (const auto& [hive, name, fix] :
         {std::tuple{reg::Hive::User, "for this user", "carvix register"},
          std::tuple{reg::Hive::Machine, "machine-wide",
                     "as root: carvix register --system (the package does it)"}}) {
        const std::string where = reg::HivePath(hive).string();
        const auto module = RegisteredModule(hive);
        DoctorCheck c{"registration", std::string("Component ") + name, Status::Info, "", ""};
        if (!module) {
            c.detail = "not registered (" + where + ")";
            c.fix = fix;
        } else if (module->empty() || ::access(module->c_str(), R_OK) != 0) {
            c.status = Status::Failure;
            c.detail = "registered, but its module " + *module + " is missing";
            c.fix = std::string(fix) + " (again, naming the module with --module PATH)";
        } else {
            c.status = Status::Ok;
            c.detail = "registered: " + *module;
            usable = true;
        }
        out.push_back(std::move(c));
    }
    if (!usable) {
        out.push_back({"registration", "Component", Status::Failure,
                       "scripts, the client and web pages cannot create the card objects",
                       "carvix register (for you) or, as root, carvix register --system"});
    }
}

// --- browsers --------------------------------------------------------------------------------

// What is wrong with the manifest in `file`, or empty when it lets our extension start an
// existing, executable host.
std::string ManifestProblem(const fs::path& file, const BrowserInfo& browser, std::string& host) {
    nlohmann::json m = nlohmann::json::parse(ReadText(file), nullptr, false);
    if (!m.is_object()) {
        return "it is not valid JSON";
    }
    if (m.value("name", "") != kBrowserHostName) {
        return std::string("its name is not ") + kBrowserHostName;
    }
    host = m.value("path", "");
    if (host.empty() || host.front() != '/') {
        return "it names no absolute host path";
    }
    std::error_code ec;
    if (!fs::exists(host, ec)) {
        return "its host " + host + " does not exist";
    }
    if (::access(host.c_str(), X_OK) != 0) {
        return "its host " + host + " cannot be run";
    }
    const bool firefox = browser.kind == BrowserKind::Firefox;
    const std::string key = firefox ? "allowed_extensions" : "allowed_origins";
    const std::string wanted =
        firefox ? DefaultAddonId() : "chrome-extension://" + DefaultExtensionId() + "/";
    const auto list = m.find(key);
    if (list == m.end() || !list->is_array() ||
        std::find(list->begin(), list->end(), wanted) == list->end()) {
        return "it does not allow the carvix-qx extension (" + wanted + " in " + key + ")";
    }
    return "";
}

// Profiles of `browser` in which the extension can be seen installed (store, policy or
// signed add-on; an unpacked or temporary one leaves no trace there).
std::vector<std::string> ProfilesWithExtension(const BrowserInfo& browser) {
    std::vector<std::string> found;
    std::error_code ec;
    const bool firefox = browser.kind == BrowserKind::Firefox;
    const fs::path base = firefox ? UserHome() / ".mozilla" / "firefox"
                                  : UserConfigHome() / fs::path(browser.userFolder).parent_path();
    if (!fs::is_directory(base, ec)) {
        return found;
    }
    for (const auto& entry : fs::directory_iterator(base, ec)) {
        const fs::path item = firefox ? entry.path() / "extensions" / (DefaultAddonId() + ".xpi")
                                      : entry.path() / "Extensions" / DefaultExtensionId();
        if (fs::exists(item, ec)) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

void CheckBrowsers(std::vector<DoctorCheck>& out, const fs::path& root) {
    const std::string file = std::string(kBrowserHostName) + ".json";
    for (const BrowserInfo& browser : KnownBrowsers()) {
        const fs::path program = FindBrowserProgram(browser);
        std::vector<std::string> good;
        std::vector<std::string> bad;
        for (bool system : {false, true}) {
            for (const fs::path& folder : ManifestFolders(browser, system, root)) {
                const fs::path manifest = folder / file;
                std::error_code ec;
                if (!fs::exists(manifest, ec)) {
                    continue;
                }
                std::string host;
                const std::string problem = ManifestProblem(manifest, browser, host);
                (problem.empty() ? good : bad)
                    .push_back(manifest.string() +
                               (problem.empty() ? " starts " + host : ": " + problem));
            }
        }
        DoctorCheck c{"browser", browser.name, Status::Ok, "", ""};
        const std::string installed =
            program.empty() ? "not installed" : "installed (" + program.string() + ")";
        if (!bad.empty()) {
            c.status = program.empty() ? Status::Warning : Status::Failure;
            c.detail = installed + "; the host manifest " + bad.front();
            c.fix =
                "write it again: carvix register --browser (for you) or, as root, "
                "carvix register --browser --system";
        } else if (good.empty()) {
            c.status = program.empty() ? Status::Info : Status::Failure;
            c.detail = installed + "; no host manifest for carvix-bridge";
            c.fix = program.empty() ? ""
                                    : "carvix register --browser (for you) or, as root, carvix "
                                      "register --browser --system";
        } else {
            c.detail = installed + "; host manifest " + good.front();
            const auto profiles = ProfilesWithExtension(browser);
            if (!profiles.empty()) {
                c.detail += "; the extension is in " + profiles.front();
            }
        }
        out.push_back(std::move(c));
    }
    // Sandboxed browsers, which reach the host only through a portal or a proxy.
    std::error_code ec;
    if (fs::exists("/snap/bin/firefox", ec)) {
        out.push_back({"browser", "Firefox (snap)", Status::Info,
                       "the snap reaches native hosts through the WebExtensions portal",
                       "see the README, \"Sandboxed browsers\": xdg-desktop-portal 1.17 or "
                       "later must run in the session"});
    }
    for (const fs::path& flatpak :
         {fs::path("/var/lib/flatpak/app"), UserHome() / ".local/share/flatpak/app"}) {
        for (const char* app : {"org.mozilla.firefox", "org.chromium.Chromium", "com.google.Chrome",
                                "com.brave.Browser", "com.microsoft.Edge"}) {
            if (fs::exists(flatpak / app, ec)) {
                out.push_back({"browser", std::string(app) + " (Flatpak)", Status::Warning,
                               "a Flatpak browser cannot start host programs by itself",
                               "see the README, \"Sandboxed browsers\" "
                               "(xdg-native-messaging-proxy)"});
            }
        }
    }
}

// --- the allow-list --------------------------------------------------------------------------

void CheckAllowList(std::vector<DoctorCheck>& out) {
    const char* chosen = std::getenv(bridge::kOriginsVariable);
    const std::string path =
        chosen != nullptr && *chosen != '\0' ? chosen : bridge::kSystemOriginsFile;
    DoctorCheck c{"allow-list", "Allowed origins", Status::Failure, "", ""};
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        c.detail = path + " does not exist: no web page may use the card";
        c.fix = "as root, write the origins of your web applications into " + path +
                ", one a line with what each may do (https://app.example.org read write), and "
                "chmod 644 it";
        out.push_back(std::move(c));
        return;
    }
    if (const auto why = bridge::UnsafeListFile(status); why) {
        c.detail = path + " is not used: " + *why;
        c.fix = "as root: chown root:root " + path + "; chmod 644 " + path;
        out.push_back(std::move(c));
        return;
    }
    std::ostringstream warnings;
    const bridge::AllowList list = bridge::AllowList::Parse(ReadText(path), warnings);
    nlohmann::json origins = list.Origins();
    if (list.Origins().empty()) {
        c.status = Status::Warning;
        c.detail = path + " allows no origin";
        c.fix = "as root, add the origins of your web applications to " + path;
    } else {
        c.status = Status::Ok;
        std::string names;
        for (const bridge::AllowList::Entry& e : list.Entries()) {
            std::string words;
            for (const std::string& w : bridge::CapabilityNames(e.capabilities)) {
                words += (words.empty() ? "" : " ") + w;
            }
            names += (names.empty() ? "" : ", ") + e.origin + " (" +
                     (words.empty() ? "no capability" : words) + ")";
        }
        c.detail = path + " allows " + names;
    }
    if (!warnings.str().empty()) {
        c.status = Status::Warning;
        std::string text = warnings.str();
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        c.detail += "; ignored: " + text;
        c.fix =
            "only https origins and http://localhost or http://127.0.0.1 may be allowed, each "
            "followed by its capabilities (read write pki contactless select)";
    }
    out.push_back(std::move(c));
}

// --- PKCS#11 modules -------------------------------------------------------------------------

// The modules p11-kit's configuration lists, read from its files: nothing is loaded.
void CheckPkcs11(std::vector<DoctorCheck>& out) {
    std::vector<fs::path> folders{"/usr/share/p11-kit/modules", "/etc/pkcs11/modules",
                                  UserConfigHome() / "pkcs11" / "modules"};
    int listed = 0;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().extension() != ".module") {
                continue;
            }
            std::istringstream lines(ReadText(entry.path()));
            std::string line;
            std::string module;
            while (std::getline(lines, line)) {
                if (line.rfind("module:", 0) == 0) {
                    module = line.substr(7);
                    module.erase(0, module.find_first_not_of(" \t"));
                    module.erase(module.find_last_not_of(" \t\r") + 1);
                }
            }
            if (module.empty()) {
                continue;
            }
            ++listed;
            const fs::path file = module.front() == '/' ? fs::path(module)
                                                        : fs::path(CARVIX_P11_MODULE_PATH) / module;
            const bool present = fs::exists(file, ec);
            out.push_back({"pkcs11", entry.path().stem().string(),
                           present ? Status::Info : Status::Warning,
                           file.string() + (present ? "" : " is missing") + " (" +
                               entry.path().string() + ")",
                           present ? ""
                                   : "reinstall the package that owns " + entry.path().string() +
                                         ", or remove that file"});
        }
    }
    if (listed == 0) {
        out.push_back({"pkcs11", "PKCS#11 modules", Status::Warning,
                       "p11-kit lists no module: certificates and keys on tokens cannot be used",
                       "install the module of your token (opensc-pkcs11 for most cards)"});
    }
}

const char* StatusName(Status s) {
    switch (s) {
        case Status::Ok:
            return "ok";
        case Status::Info:
            return "info";
        case Status::Warning:
            return "warning";
        case Status::Failure:
            return "failure";
    }
    return "failure";
}

const char* StatusMark(Status s) {
    switch (s) {
        case Status::Ok:
            return "[ ok ]";
        case Status::Info:
            return "[info]";
        case Status::Warning:
            return "[warn]";
        case Status::Failure:
            return "[FAIL]";
    }
    return "[FAIL]";
}

}  // namespace

std::vector<DoctorCheck> RunDoctorChecks(const DoctorOptions& options) {
    std::vector<DoctorCheck> checks;
    CheckPcsc(checks);
    CheckRegistration(checks);
    CheckBrowsers(checks, options.root);
    CheckAllowList(checks);
    CheckPkcs11(checks);
    return checks;
}

int Doctor(const DoctorOptions& options) {
    const std::vector<DoctorCheck> checks = RunDoctorChecks(options);
    bool failed = false;
    for (const DoctorCheck& c : checks) {
        failed = failed || c.status == Status::Failure;
    }
    if (options.json) {
        nlohmann::ordered_json out{{"ok", !failed}, {"checks", nlohmann::json::array()}};
        for (const DoctorCheck& c : checks) {
            nlohmann::ordered_json item{{"area", c.area},
                                        {"name", c.name},
                                        {"status", StatusName(c.status)},
                                        {"detail", c.detail}};
            if (!c.fix.empty()) {
                item["fix"] = c.fix;
            }
            out["checks"].push_back(std::move(item));
        }
        std::cout << out.dump(2) << "\n";
    } else {
        for (const DoctorCheck& c : checks) {
            std::cout << StatusMark(c.status) << " " << c.name << ": " << c.detail << "\n";
            if (!c.fix.empty() && c.status != Status::Ok) {
                std::cout << "       fix: " << c.fix << "\n";
            }
        }
        std::cout << (failed ? "Some pieces are missing: see the fixes above.\n"
                             : "Everything carvix-qx needs is in place.\n");
    }
    return failed ? 1 : 0;
}

DoctorCheck AllowListCheck() {
    std::vector<DoctorCheck> checks;
    CheckAllowList(checks);
    return checks.front();
}

std::optional<std::string> RegisteredModulePath() {
    for (const reg::Hive hive : {reg::Hive::User, reg::Hive::Machine}) {
        if (auto module = RegisteredModule(hive); module && !module->empty()) {
            return module;
        }
    }
    return std::nullopt;
}

}  // namespace carvix::cli
