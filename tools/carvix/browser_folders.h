// Where each Linux browser looks for native-messaging host manifests, per user and for the
// whole machine, and the manifest text each kind of browser expects.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace carvix::cli {

enum class BrowserKind { Chromium, Firefox };

struct BrowserInfo {
    const char* name;  // as the user knows it: "Google Chrome"
    BrowserKind kind;
    // Per user: under the XDG config home (Chromium family) or under HOME (Firefox).
    const char* userFolder;
    // Machine-wide, absolute; several browsers share some of these.
    std::vector<const char*> systemFolders;
    // Program names that tell the browser is installed (looked up in PATH).
    std::vector<const char*> programs;
};

/// Chromium, Google Chrome, Microsoft Edge, Brave, Vivaldi and Firefox.
const std::vector<BrowserInfo>& KnownBrowsers();

/// $XDG_CONFIG_HOME when absolute, else $HOME/.config.
std::filesystem::path UserConfigHome();
/// $HOME, or / when unset.
std::filesystem::path UserHome();

/// The folders `browser` reads manifests from: the user's, or the machine's below `root`
/// ("/" normally; a throw-away folder for packaging and tests). Firefox's machine folders
/// are /usr/lib/mozilla/... and, where /usr/lib64 exists, /usr/lib64/mozilla/....
std::vector<std::filesystem::path> ManifestFolders(const BrowserInfo& browser, bool system,
                                                   const std::filesystem::path& root = "/");

/// The installed program of `browser` found in PATH, or empty.
std::filesystem::path FindBrowserProgram(const BrowserInfo& browser);

/// The host manifest for a browser of `kind`: the Chromium family names the extension by
/// its origin (allowed_origins), Firefox by its add-on ID (allowed_extensions).
std::string HostManifestText(BrowserKind kind, const std::string& hostName,
                             const std::string& hostPath, const std::string& chromiumId,
                             const std::string& firefoxId);

/// A Chromium extension ID: 32 letters a to p.
bool ValidChromiumExtensionId(const std::string& id);
/// A Firefox add-on ID: user@domain form or a {GUID}.
bool ValidFirefoxAddonId(const std::string& id);

}  // namespace carvix::cli
