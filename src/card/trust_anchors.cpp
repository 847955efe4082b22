#include "carvix/card/trust_anchors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace fs = std::filesystem;
namespace OpenSsl = Orvel::OpenSsl;

namespace carvix::card {
namespace {

// A file larger than this holds no anchor of ours; it is passed over.
constexpr off_t kLargestFile = 1024 * 1024;

std::uint64_t Fnv(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325ull) {
    for (unsigned char c : text) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    return hash;
}

std::string NameText(X509_NAME* name) {
    auto bio = OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
    if (bio == nullptr || name == nullptr) {
        return {};
    }
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        return {};
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// The folder's regular files, sorted by name, with their status; "" when the folder is absent.
struct Listing {
    struct stat folder {};
    std::vector<std::pair<fs::path, struct stat>> files;
    bool present = false;
};

Listing List(const fs::path& folder) {
    Listing out;
    if (folder.empty() || ::stat(folder.c_str(), &out.folder) != 0 ||
        !S_ISDIR(out.folder.st_mode)) {
        return out;
    }
    out.present = true;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            out.files.emplace_back(it->path(), status);
        }
    }
    std::sort(out.files.begin(), out.files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

std::string Fingerprint(const std::vector<std::pair<fs::path, AnchorScope>>& folders) {
    std::string text;
    auto add = [&](const fs::path& path, const struct stat& s) {
        text += path.native();
        text += '|' + std::to_string(s.st_ino) + '|' + std::to_string(s.st_size) + '|' +
                std::to_string(s.st_mtim.tv_sec) + '.' + std::to_string(s.st_mtim.tv_nsec) + '|' +
                std::to_string(s.st_uid) + '|' + std::to_string(s.st_mode) + '\n';
    };
    for (const auto& [folder, scope] : folders) {
        const Listing listing = List(folder);
        text += scope == AnchorScope::System ? "S:" : "U:";
        if (!listing.present) {
            text += folder.native() + " absent\n";
            continue;
        }
        add(folder, listing.folder);
        for (const auto& [path, status] : listing.files) {
            add(path, status);
        }
    }
    return text;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[8192];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < kLargestFile;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// The owner a folder of this scope may have besides root.
unsigned OwnerFor(AnchorScope scope) {
    if (scope == AnchorScope::User) {
        return static_cast<unsigned>(::geteuid());
    }
    const char* chosen = std::getenv(kTrustFolderVariable);
    return chosen != nullptr && *chosen != '\0' ? static_cast<unsigned>(::geteuid()) : 0u;
}

void FreeInfos(STACK_OF(X509_INFO) * infos) {
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
}

}  // namespace

std::size_t ForEachTrustObject(std::string_view bytes,
                               const std::function<void(X509*)>& certificate,
                               const std::function<void(X509_CRL*)>& crl) {
    std::size_t found = 0;
    auto bio =
        OpenSsl::Own<BIO_free>(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    auto infos =
        OpenSsl::Own<FreeInfos>(PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr));
    for (int i = 0; infos != nullptr && i < sk_X509_INFO_num(infos.get()); ++i) {
        X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
        if (info->x509 != nullptr) {
            certificate(info->x509);
            ++found;
        }
        if (info->crl != nullptr) {
            crl(info->crl);
            ++found;
        }
    }
    if (found == 0) {
        const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
        if (auto der = OpenSsl::Own<X509_free>(
                d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())))) {
            certificate(der.get());
            ++found;
        } else {
            cursor = reinterpret_cast<const unsigned char*>(bytes.data());
            if (auto list = OpenSsl::Own<X509_CRL_free>(
                    d2i_X509_CRL(nullptr, &cursor, static_cast<long>(bytes.size())))) {
                crl(list.get());
                ++found;
            }
        }
    }
    ERR_clear_error();
    return found;
}

std::string UnsafeTrustPath(const fs::path& path, bool directory, unsigned owner) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return "it cannot be read";
    }
    if (directory ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) {
        return directory ? "it is not a folder" : "it is not a regular file";
    }
    if (status.st_uid != 0 && status.st_uid != owner) {
        return owner == 0 ? "it is not owned by root" : "it is owned by another user";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "it is writable by group or others";
    }
    return {};
}

fs::path SystemTrustFolder() {
    const char* chosen = std::getenv(kTrustFolderVariable);
    return chosen != nullptr && *chosen != '\0' ? fs::path(chosen) : fs::path(kSystemTrustFolder);
}

fs::path UserTrustFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return fs::path(xdg) / "carvix-qx" / "trust";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return fs::path(home) / ".config" / "carvix-qx" / "trust";
    }
    return {};
}

std::shared_ptr<const AnchorSet> AnchorSet::FromFolders(
    const std::vector<std::pair<fs::path, AnchorScope>>& folders, bool checkOwners) {
    auto set = std::make_shared<AnchorSet>();
    set->store_ = OpenSsl::Own<X509_STORE_free>(X509_STORE_new());
    if (set->store_ == nullptr) {
        throw std::bad_alloc();
    }
    std::string identity;
    for (const auto& [folder, scope] : folders) {
        const Listing listing = List(folder);
        if (!listing.present) {
            continue;
        }
        const unsigned owner = OwnerFor(scope);
        if (checkOwners) {
            if (std::string why = UnsafeTrustPath(folder, true, owner); !why.empty()) {
                set->warnings_.push_back("the trust folder " + folder.string() + " is not used (" +
                                         why + ")");
                continue;
            }
        }
        for (const auto& [path, status] : listing.files) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            struct stat opened {};
            if (fd < 0 || ::fstat(fd, &opened) != 0) {
                if (fd >= 0) {
                    ::close(fd);
                }
                set->warnings_.push_back(path.string() + " is not used (it cannot be read)");
                continue;
            }
            // The checks and the read go through one descriptor: the file checked is the file
            // read.
            std::string why;
            if (opened.st_size > kLargestFile) {
                why = "it is too large";
            } else if (checkOwners && ((opened.st_uid != 0 && opened.st_uid != owner) ||
                                       (opened.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
                why = opened.st_uid != 0 && opened.st_uid != owner
                          ? (owner == 0 ? "it is not owned by root" : "it is owned by another user")
                          : "it is writable by group or others";
            }
            const std::string bytes = why.empty() ? ReadAll(fd) : std::string();
            ::close(fd);
            if (!why.empty()) {
                set->warnings_.push_back(path.string() + " is not used (" + why + ")");
                continue;
            }
            // Named copies: a lambda may not capture the names of a structured binding.
            const auto& file = path;
            const auto fileScope = scope;
            auto addCertificate = [&](X509* certificate) {
                if (X509_STORE_add_cert(set->store_.get(), certificate) == 1) {
                    ++set->certificates_;
                }
                set->files_.push_back({file, fileScope, false,
                                       NameText(X509_get_subject_name(certificate)),
                                       TimeText(X509_get0_notAfter(certificate))});
            };
            auto addCrl = [&](X509_CRL* crl) {
                if (X509_STORE_add_crl(set->store_.get(), crl) == 1) {
                    ++set->crls_;
                }
                set->files_.push_back({file, fileScope, true, NameText(X509_CRL_get_issuer(crl)),
                                       TimeText(X509_CRL_get0_nextUpdate(crl))});
            };
            if (ForEachTrustObject(bytes, addCertificate, addCrl) == 0) {
                set->warnings_.push_back(path.string() +
                                         " is not used (no certificate or revocation list in it)");
                continue;
            }
            identity += path.native() + '\n';
            identity += bytes;
        }
    }
    set->id_ = Fnv(identity);
    return set;
}

std::shared_ptr<const AnchorSet> AnchorSet::Installed() {
    static std::mutex lock;
    static std::string lastFingerprint;
    static std::shared_ptr<const AnchorSet> last;

    const std::vector<std::pair<fs::path, AnchorScope>> folders = {
        {SystemTrustFolder(), AnchorScope::System}, {UserTrustFolder(), AnchorScope::User}};
    std::string fingerprint = Fingerprint(folders);
    std::lock_guard guard(lock);
    if (last != nullptr && fingerprint == lastFingerprint) {
        return last;
    }
    last = FromFolders(folders, true);
    lastFingerprint = std::move(fingerprint);
    return last;
}

bool TrustedSignerRequired() {
    auto says = [](const char* path, unsigned owner) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        struct stat status {};
        const bool safe = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                          (status.st_uid == 0 || status.st_uid == owner) &&
                          (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 && status.st_size < 65536;
        const std::string text = safe ? ReadAll(fd) : std::string();
        ::close(fd);
        std::string_view rest = text;
        while (!rest.empty()) {
            const std::size_t end = rest.find('\n');
            std::string line(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            line = line.substr(0, line.find('#'));
            std::erase_if(line, [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
            std::transform(line.begin(), line.end(), line.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (line == "require-trusted-signer=yes" || line == "require-trusted-signer=true" ||
                line == "require-trusted-signer=1") {
                return true;
            }
        }
        return false;
    };
    if (says(kSystemTrustPolicy, 0)) {
        return true;
    }
    const char* extra = std::getenv(kTrustPolicyVariable);
    return extra != nullptr && *extra != '\0' && says(extra, static_cast<unsigned>(::geteuid()));
}

}  // namespace carvix::card
