// Registering carvix-bridge with Chromium-family browsers: the native-messaging host manifest
// that names the host, its program and the one extension allowed to start it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace carvix::cli {

inline constexpr const char* kBrowserHostName = "carvix.qx.bridge";

struct BrowserHostOptions {
    bool install = true;
    bool system = false;  // the machine's manifest folders instead of the user's
    std::string profile;  // a browser profile folder (--user-data-dir): its own folder only
    std::string extensionId;
    std::string host;  // the program; empty: the installed or built carvix-bridge
};

/// The folders the manifest goes to for these options.
std::vector<std::filesystem::path> BrowserHostFolders(const BrowserHostOptions& options);
/// The manifest's JSON text.
std::string BrowserHostManifest(const std::string& hostPath, const std::string& extensionId);
/// Writes or removes the manifest; 0, or 1 with the reason on standard error.
int RegisterBrowserHost(const BrowserHostOptions& options);

}  // namespace carvix::cli
