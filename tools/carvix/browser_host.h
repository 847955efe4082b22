// Registering carvix-bridge with the browsers: the native-messaging host manifest that names
// the host, its program and the one extension allowed to start it, in the folders of every
// Chromium-family browser and of Firefox (browser_folders.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace carvix::cli {

inline constexpr const char* kBrowserHostName = "carvix.qx.bridge";

struct BrowserHostOptions {
    bool install = true;
    bool system = false;      // the machine's manifest folders instead of the user's
    std::string profile;      // a Chromium profile folder (--user-data-dir): its own folder only
    std::string root = "/";   // with system: the folders below this one (packaging, tests)
    std::string extensionId;  // Chromium family; empty: the build's
    std::string addonId;      // Firefox; empty: the build's
    std::string host;         // the program; empty: the installed or built carvix-bridge
};

/// One manifest file and the browsers that read it.
struct BrowserHostTarget {
    std::filesystem::path file;
    std::vector<std::string> browsers;
    bool firefox = false;
};

/// The manifest files for these options.
std::vector<BrowserHostTarget> BrowserHostTargets(const BrowserHostOptions& options);
/// The Chromium manifest's JSON text (kept for callers that know only Chromium).
std::string BrowserHostManifest(const std::string& hostPath, const std::string& extensionId);
/// carvix-bridge beside this program when installed, else the one of this build.
std::string DefaultBridgePath();
/// The extension and add-on IDs this build allows.
std::string DefaultExtensionId();
std::string DefaultAddonId();
/// Writes or removes the manifests and says on standard output for which browsers; 0, or 1
/// with the reason on standard error.
int RegisterBrowserHost(const BrowserHostOptions& options);

}  // namespace carvix::cli
