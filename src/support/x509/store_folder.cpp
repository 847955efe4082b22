#include "store_folder.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "carvix/support/trace.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace Orvel::Security::Cryptography::X509::detail {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocationMask = 0x00FF0000u;

fs::path UserDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return fs::path(xdg);
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* entry = getpwuid(getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr) {
        return {};
    }
    return fs::path(home) / ".local" / "share";
}

std::string ReadWholeFile(const fs::path& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The sidecar holds the link on its first line. A relative file path means a key file
// beside the store's certificates.
std::string ReadKeyLink(const fs::path& sidecar) {
    bool ok = false;
    std::string text = ReadWholeFile(sidecar, ok);
    if (!ok) {
        return {};
    }
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    if (line.empty() || line.rfind("pkcs11:", 0) == 0 || line.front() == '/') {
        return line;
    }
    return (sidecar.parent_path() / line).string();
}

}  // namespace

fs::path LocationFolder(std::uint32_t location) {
    switch (location & kLocationMask) {
        case 0x10000u: {
            fs::path base = UserDataFolder();
            return base.empty() ? base : base / "carvix" / "certstores";
        }
        case 0x20000u:
            return fs::path("/var/lib/carvix/certstores");
        default:
            return {};
    }
}

bool IsWellKnownStoreName(const std::u16string& name) {
    static constexpr std::array<std::u16string_view, 8> kNames = {
        u"AddressBook",   u"AuthRoot",        u"CA", u"Disallowed", u"My", u"Root",
        u"TrustedPeople", u"TrustedPublisher"};
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

std::vector<X509Certificate> ReadCertificates(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == kCertificateSuffix) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<X509Certificate> result;
    for (const auto& file : files) {
        bool ok = false;
        std::string der = ReadWholeFile(file, ok);
        if (!ok) {
            continue;
        }
        try {
            X509Certificate certificate(std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(der.data()), der.size()));
            fs::path sidecar = file;
            sidecar.replace_extension(kKeyLinkSuffix);
            certificate.SetKeyProviderLink(ReadKeyLink(sidecar));
            result.push_back(std::move(certificate));
        } catch (const Exception&) {
            // A damaged file is skipped so that one bad entry does not hide the rest.
            if (TraceEnabled()) {
                Trace(TraceLevel::Warning,
                      u"Skipping unreadable certificate file " + Utf8ToUtf16(file.string()));
            }
        }
    }
    return result;
}

bool WriteFileAtomically(const fs::path& path, const std::string& bytes) {
    fs::path temporary = path;
    temporary += ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    bool synced = ::fsync(fd) == 0;
    bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace Orvel::Security::Cryptography::X509::detail
