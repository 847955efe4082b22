#include "browser_host.h"

#include "browser_folders.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>

namespace carvix::cli {
namespace fs = std::filesystem;

namespace {

// "A, B and C".
std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += i + 1 == names.size() ? " and " : ", ";
        }
        out += names[i];
    }
    return out;
}

// Creates `folder` and its missing parents; machine folders are made readable by every
// user whatever the umask, or no browser of another user could read the manifest.
bool MakeFolders(const fs::path& folder, bool everyone, std::error_code& ec) {
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) {
            break;
        }
    }
    fs::create_directories(folder, ec);
    if (ec) {
        return false;
    }
    if (everyone) {
        const auto mode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
        for (const fs::path& p : missing) {
            fs::permissions(p, mode, ec);
        }
    }
    return !ec;
}

// Writes `text` to `target` through a temporary file: the browser never sees half a manifest.
bool WriteManifest(const fs::path& target, const std::string& text, std::string& why) {
    const fs::path temporary = target.string() + ".new";
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            why = "cannot write " + temporary.string();
            out.close();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::permissions(temporary,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    ec);
    if (!ec) {
        fs::rename(temporary, target, ec);
    }
    if (ec) {
        why = "cannot write " + target.string() + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace

std::string DefaultBridgePath() {
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

std::string DefaultExtensionId() {
    return CARVIX_BRIDGE_EXTENSION_ID;
}

std::string DefaultAddonId() {
    return CARVIX_BRIDGE_ADDON_ID;
}

std::vector<BrowserHostTarget> BrowserHostTargets(const BrowserHostOptions& options) {
    const std::string file = std::string(kBrowserHostName) + ".json";
    if (!options.profile.empty()) {
        return {{fs::path(options.profile) / "NativeMessagingHosts" / file,
                 {"the profile " + options.profile},
                 false}};
    }
    // One entry per file, in the order of the browsers; a shared folder names them all.
    std::vector<BrowserHostTarget> targets;
    std::map<fs::path, std::size_t> seen;
    for (const BrowserInfo& browser : KnownBrowsers()) {
        for (const fs::path& folder : ManifestFolders(browser, options.system, options.root)) {
            const fs::path target = folder / file;
            auto [it, added] = seen.emplace(target, targets.size());
            if (added) {
                targets.push_back({target, {}, browser.kind == BrowserKind::Firefox});
            }
            auto& names = targets[it->second].browsers;
            if (names.empty() || names.back() != browser.name) {
                names.push_back(browser.name);
            }
        }
    }
    return targets;
}

std::string BrowserHostManifest(const std::string& hostPath, const std::string& extensionId) {
    return HostManifestText(BrowserKind::Chromium, kBrowserHostName, hostPath, extensionId, "");
}

int RegisterBrowserHost(const BrowserHostOptions& options) {
    const std::vector<BrowserHostTarget> targets = BrowserHostTargets(options);
    std::vector<std::string> browsers;
    for (const BrowserHostTarget& t : targets) {
        for (const std::string& name : t.browsers) {
            if (std::find(browsers.begin(), browsers.end(), name) == browsers.end()) {
                browsers.push_back(name);
            }
        }
    }
    if (!options.install) {
        std::vector<std::string> removed;
        for (const BrowserHostTarget& t : targets) {
            std::error_code ec;
            if (fs::remove(t.file, ec)) {
                removed.push_back("  " + t.file.string());
            }
            if (ec) {
                std::cerr << "carvix: cannot remove " << t.file.string() << ": " << ec.message()
                          << "\n";
                return 1;
            }
        }
        if (removed.empty()) {
            std::cout << "No host manifest of " << kBrowserHostName << " was there.\n";
        } else {
            std::cout << "Host manifest of " << kBrowserHostName << " removed for "
                      << JoinNames(browsers) << ":\n";
            for (const std::string& line : removed) {
                std::cout << line << "\n";
            }
        }
        return 0;
    }
    const std::string chromiumId =
        options.extensionId.empty() ? DefaultExtensionId() : options.extensionId;
    if (!ValidChromiumExtensionId(chromiumId)) {
        std::cerr << "carvix: \"" << chromiumId
                  << "\" is not an extension ID (32 letters a to p)\n";
        return 1;
    }
    const std::string addonId = options.addonId.empty() ? DefaultAddonId() : options.addonId;
    if (!ValidFirefoxAddonId(addonId)) {
        std::cerr << "carvix: \"" << addonId
                  << "\" is not a Firefox add-on ID (name@domain or {GUID})\n";
        return 1;
    }
    std::error_code ec;
    const fs::path host =
        fs::absolute(options.host.empty() ? DefaultBridgePath() : options.host, ec);
    if (ec || ::access(host.c_str(), X_OK) != 0) {
        std::cerr << "carvix: the host program " << host.string() << " cannot be run\n";
        return 1;
    }
    std::vector<std::string> written;
    for (const BrowserHostTarget& t : targets) {
        const std::string text =
            HostManifestText(t.firefox ? BrowserKind::Firefox : BrowserKind::Chromium,
                             kBrowserHostName, host.string(), chromiumId, addonId);
        std::string why;
        if (!MakeFolders(t.file.parent_path(), options.system, ec)) {
            why = "cannot create " + t.file.parent_path().string() + ": " + ec.message();
        }
        if (!why.empty() || !WriteManifest(t.file, text, why)) {
            std::cerr << "carvix: " << why << "\n";
            if (!written.empty()) {
                std::cerr << "carvix: written before the failure:\n";
                for (const std::string& line : written) {
                    std::cerr << line << "\n";
                }
            }
            return 1;
        }
        written.push_back("  " + t.file.string());
    }
    std::cout << "Host manifest of " << kBrowserHostName << " (" << host.string()
              << ") written for " << JoinNames(browsers) << ":\n";
    for (const std::string& line : written) {
        std::cout << line << "\n";
    }
    return 0;
}

}  // namespace carvix::cli
