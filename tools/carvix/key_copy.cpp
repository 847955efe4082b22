#include "key_copy.h"

#include "certificate_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace carvix::cli {
namespace {

// Writes all of `bytes` to a new file `path` made with mode 0600; false on any failure, with
// the file removed again.
bool WritePrivate(const fs::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
    }
    return ok;
}

}  // namespace

fs::path CopyKeyIntoStore(const std::string& keyFile, const fs::path& folder,
                          const std::string& thumbprint) {
    std::ifstream in(keyFile, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        throw FileError("cannot read the key file " + keyFile);
    }
    const fs::path keys = folder / "keys";
    std::error_code ec;
    fs::create_directories(keys, ec);
    if (ec || ::chmod(keys.c_str(), 0700) != 0) {
        throw FileError("cannot make the key folder " + keys.string() + ": " +
                        (ec ? ec.message() : std::string(std::strerror(errno))));
    }
    const fs::path target = keys / (thumbprint + ".pem");
    const fs::path partial = keys / (thumbprint + ".pem.new");
    ::unlink(partial.c_str());  // left by a copy that was cut off
    if (!WritePrivate(partial, bytes)) {
        throw FileError("cannot write the key copy " + partial.string() + ": " +
                        std::strerror(errno));
    }
    fs::rename(partial, target, ec);
    if (ec) {
        ::unlink(partial.c_str());
        throw FileError("cannot put the key copy in place: " + ec.message());
    }
    return target;
}

bool KeyLinkIsBroken(const std::string& link) {
    if (link.empty() || link.rfind("pkcs11:", 0) == 0) {
        return false;
    }
    std::error_code ec;
    return !fs::exists(link, ec);
}

}  // namespace carvix::cli
