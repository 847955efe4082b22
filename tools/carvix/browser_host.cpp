#include "browser_host.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace carvix::cli {
namespace fs = std::filesystem;

namespace {

// An extension ID: 32 letters a to p.
bool ValidExtensionId(const std::string& id) {
    if (id.size() != 32) {
        return false;
    }
    for (char c : id) {
        if (c < 'a' || c > 'p') {
            return false;
        }
    }
    return true;
}

// carvix-bridge beside this program when installed, else the one of this build.
std::string DefaultHostPath() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path sibling = self.parent_path() / "carvix-bridge";
        if (fs::exists(sibling, ec)) {
            return sibling.string();
        }
    }
    return CARVIX_BRIDGE_DEFAULT_PATH;
}

fs::path UserConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/") / ".config";
}

}  // namespace

std::vector<fs::path> BrowserHostFolders(const BrowserHostOptions& options) {
    if (!options.profile.empty()) {
        return {fs::path(options.profile) / "NativeMessagingHosts"};
    }
    if (options.system) {
        return {"/etc/chromium/native-messaging-hosts", "/etc/opt/chrome/native-messaging-hosts"};
    }
    const fs::path config = UserConfigHome();
    return {config / "chromium" / "NativeMessagingHosts",
            config / "google-chrome" / "NativeMessagingHosts"};
}

std::string BrowserHostManifest(const std::string& hostPath, const std::string& extensionId) {
    const nlohmann::ordered_json manifest{
        {"name", kBrowserHostName},
        {"description", "carvix-qx: the identity card for web pages"},
        {"path", hostPath},
        {"type", "stdio"},
        {"allowed_origins", {"chrome-extension://" + extensionId + "/"}}};
    return manifest.dump(2) + "\n";
}

int RegisterBrowserHost(const BrowserHostOptions& options) {
    const std::string file = std::string(kBrowserHostName) + ".json";
    if (!options.install) {
        for (const fs::path& folder : BrowserHostFolders(options)) {
            std::error_code ec;
            fs::remove(folder / file, ec);
            if (ec) {
                std::cerr << "carvix: cannot remove " << (folder / file).string() << ": "
                          << ec.message() << "\n";
                return 1;
            }
        }
        return 0;
    }
    const std::string id =
        options.extensionId.empty() ? CARVIX_BRIDGE_EXTENSION_ID : options.extensionId;
    if (!ValidExtensionId(id)) {
        std::cerr << "carvix: \"" << id << "\" is not an extension ID (32 letters a to p)\n";
        return 1;
    }
    std::error_code ec;
    const fs::path host = fs::absolute(options.host.empty() ? DefaultHostPath() : options.host, ec);
    if (ec || ::access(host.c_str(), X_OK) != 0) {
        std::cerr << "carvix: the host program " << host.string() << " cannot be run\n";
        return 1;
    }
    const std::string manifest = BrowserHostManifest(host.string(), id);
    for (const fs::path& folder : BrowserHostFolders(options)) {
        fs::create_directories(folder, ec);
        const fs::path target = folder / file;
        const fs::path temporary = folder / (file + ".new");
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << manifest;
            if (!out.flush()) {
                std::cerr << "carvix: cannot write " << temporary.string() << "\n";
                fs::remove(temporary, ec);
                return 1;
            }
        }
        fs::permissions(temporary,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read,
                        ec);
        fs::rename(temporary, target, ec);  // the browser never sees half a manifest
        if (ec) {
            std::cerr << "carvix: cannot write " << target.string() << ": " << ec.message() << "\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace carvix::cli
