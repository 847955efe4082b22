// Feeds arbitrary bytes to the certificate parsing and the key links of the file-backed
// stores: as a DER certificate (every accessor after a successful parse), as a `pkcs11:`
// key link (what parses must format and parse back to the same token and id), and as one
// certificate file with its key-link sidecar in a store folder that is read back. The
// folder is private to the process; nothing of the user's is read or written.
//
// Input: [split byte] then bytes; the split divides the certificate from the sidecar.
#include "carvix/support/exceptions.h"
#include "carvix/support/pkcs11_uri.h"
#include "carvix/support/x509_certificate.h"
#include "store_folder.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using Orvel::Security::Cryptography::X509::X509Certificate;
namespace store = Orvel::Security::Cryptography::X509::detail;

namespace {

const fs::path& Folder() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/carvix-fuzz-x509-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) {
            std::abort();
        }
        return fs::path(made);
    }();
    return folder;
}

void WriteFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Certificate(std::span<const std::uint8_t> der) {
    try {
        X509Certificate certificate(der);
        (void)certificate.Thumbprint();
        (void)certificate.Subject();
        (void)certificate.RawData();
        (void)certificate.HasPrivateKey();
        (void)certificate.Equals(certificate);
    } catch (const Orvel::Exception&) {
    }
}

void KeyLink(std::string_view text) {
    const auto link = Orvel::Pkcs11::ParseKeyLink(text);
    if (!link) {
        return;
    }
    const auto again = Orvel::Pkcs11::ParseKeyLink(Orvel::Pkcs11::FormatKeyLink(*link));
    // Formatting keeps the module path when a link has both a path and a name.
    if (!again || again->token != link->token || again->id != link->id ||
        again->serial != link->serial || again->modulePath != link->modulePath ||
        (link->modulePath.empty() && again->moduleName != link->moduleName)) {
        std::fprintf(stderr, "a key link did not survive formatting\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t split = size == 1 ? 0 : data[0] % size;
    const std::uint8_t* body = data + 1;
    const std::size_t bodySize = size - 1;
    const std::size_t certSize = bodySize - (split < bodySize ? split : bodySize);
    Certificate({body, bodySize});
    KeyLink({reinterpret_cast<const char*>(body), bodySize});

    const fs::path cert = Folder() / (std::string("00") + store::kCertificateSuffix);
    const fs::path sidecar = Folder() / (std::string("00") + store::kKeyLinkSuffix);
    WriteFile(cert, body, certSize);
    WriteFile(sidecar, body + certSize, bodySize - certSize);
    for (const X509Certificate& c : store::ReadCertificates(Folder())) {
        (void)c.KeyProviderLink();
        (void)c.HasPrivateKey();
    }
    return 0;
}
