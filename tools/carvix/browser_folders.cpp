#include "browser_folders.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <regex>
#include <sstream>

namespace carvix::cli {
namespace fs = std::filesystem;

const std::vector<BrowserInfo>& KnownBrowsers() {
    // Brave and Vivaldi have no machine folder of their own: they read the one their build
    // inherits (Brave Google Chrome's, Vivaldi Chromium's).
    static const std::vector<BrowserInfo> browsers{
        {"Chromium",
         BrowserKind::Chromium,
         "chromium/NativeMessagingHosts",
         {"/etc/chromium/native-messaging-hosts"},
         {"chromium", "chromium-browser"}},
        {"Google Chrome",
         BrowserKind::Chromium,
         "google-chrome/NativeMessagingHosts",
         {"/etc/opt/chrome/native-messaging-hosts"},
         {"google-chrome", "google-chrome-stable"}},
        {"Microsoft Edge",
         BrowserKind::Chromium,
         "microsoft-edge/NativeMessagingHosts",
         {"/etc/opt/edge/native-messaging-hosts"},
         {"microsoft-edge", "microsoft-edge-stable"}},
        {"Brave",
         BrowserKind::Chromium,
         "BraveSoftware/Brave-Browser/NativeMessagingHosts",
         {"/etc/opt/chrome/native-messaging-hosts"},
         {"brave-browser", "brave"}},
        {"Vivaldi",
         BrowserKind::Chromium,
         "vivaldi/NativeMessagingHosts",
         {"/etc/chromium/native-messaging-hosts"},
         {"vivaldi", "vivaldi-stable"}},
        {"Firefox",
         BrowserKind::Firefox,
         ".mozilla/native-messaging-hosts",
         {"/usr/lib/mozilla/native-messaging-hosts"},
         {"firefox", "firefox-esr"}},
    };
    return browsers;
}

fs::path UserHome() {
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr && *home != '\0' ? home : "/");
}

fs::path UserConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return xdg;
    }
    return UserHome() / ".config";
}

std::vector<fs::path> ManifestFolders(const BrowserInfo& browser, bool system,
                                      const fs::path& root) {
    if (!system) {
        const fs::path base = browser.kind == BrowserKind::Firefox ? UserHome() : UserConfigHome();
        return {base / browser.userFolder};
    }
    std::vector<fs::path> folders;
    for (const char* folder : browser.systemFolders) {
        folders.push_back(root / fs::path(folder).relative_path());
    }
    std::error_code ec;
    if (browser.kind == BrowserKind::Firefox && fs::is_directory(root / "usr/lib64", ec)) {
        folders.push_back(root / "usr/lib64/mozilla/native-messaging-hosts");
    }
    return folders;
}

fs::path FindBrowserProgram(const BrowserInfo& browser) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) {
            continue;
        }
        for (const char* program : browser.programs) {
            const fs::path candidate = fs::path(dir) / program;
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
    }
    return {};
}

std::string HostManifestText(BrowserKind kind, const std::string& hostName,
                             const std::string& hostPath, const std::string& chromiumId,
                             const std::string& firefoxId) {
    nlohmann::ordered_json manifest{{"name", hostName},
                                    {"description", "carvix-qx: the identity card for web pages"},
                                    {"path", hostPath},
                                    {"type", "stdio"}};
    if (kind == BrowserKind::Firefox) {
        manifest["allowed_extensions"] = {firefoxId};
    } else {
        manifest["allowed_origins"] = {"chrome-extension://" + chromiumId + "/"};
    }
    return manifest.dump(2) + "\n";
}

bool ValidChromiumExtensionId(const std::string& id) {
    static const std::regex pattern("[a-p]{32}");
    return std::regex_match(id, pattern);
}

bool ValidFirefoxAddonId(const std::string& id) {
    static const std::regex email("[A-Za-z0-9._-]*@[A-Za-z0-9._-]+");
    static const std::regex guid(
        "\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
        "[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}");
    return id.size() <= 80 && (std::regex_match(id, email) || std::regex_match(id, guid));
}

}  // namespace carvix::cli
