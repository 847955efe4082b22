// Hive files: where they live, locked edits and atomic replacement.
#include "carvix/automation/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace carvix::automation::registry {
namespace {

std::filesystem::path Home() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/";
}

// An absolute path from an XDG variable, or the fallback.
std::filesystem::path XdgPath(const char* variable, const std::filesystem::path& fallback,
                              bool firstOfList) {
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] != '/') {
        return fallback;
    }
    std::string text = value;
    if (firstOfList) {
        text = text.substr(0, text.find(':'));
    }
    return text;
}

class FileLock {
  public:
    explicit FileLock(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::close(fd_);  // releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_;
};

HRESULT LoadFile(const std::filesystem::path& path, Key& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            out = Key{};
            return S_OK;
        }
        return E_FAIL;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = Parse(text.str());
    if (!parsed) {
        return E_FAIL;  // not a hive: never overwritten by an edit
    }
    out = std::move(*parsed);
    return S_OK;
}

}  // namespace

std::filesystem::path HivePath(Hive hive) {
    if (hive == Hive::User) {
        return XdgPath("XDG_CONFIG_HOME", Home() / ".config", false) / "carvix-com" /
               "current-user.hive";
    }
    return XdgPath("XDG_CONFIG_DIRS", "/etc/xdg", true) / "carvix-com" / "classes-root.hive";
}

HRESULT Load(Hive hive, Key& out) {
    return LoadFile(HivePath(hive), out);
}

HRESULT Edit(Hive hive, const std::function<HRESULT(Key&)>& edit) {
    const std::filesystem::path path = HivePath(hive);
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    FileLock lock(path.string() + ".lock");
    if (!lock.Held()) {
        return REGDB_E_WRITEREGDB;
    }
    Key root;
    HRESULT hr = LoadFile(path, root);
    if (FAILED(hr)) {
        return REGDB_E_WRITEREGDB;
    }
    hr = edit(root);
    if (FAILED(hr)) {
        return hr;
    }
    const std::filesystem::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << Serialize(root);
        out.flush();
        if (!out) {
            std::filesystem::remove(temp, ec);
            return REGDB_E_WRITEREGDB;
        }
    }
    std::filesystem::rename(temp, path, ec);
    return ec ? REGDB_E_WRITEREGDB : hr;
}

std::optional<std::u16string> ClassesValue(std::u16string_view path, std::u16string_view name) {
    Key user;
    if (SUCCEEDED(Load(Hive::User, user))) {
        std::u16string full = u"Software\\Classes\\";
        full += path;
        if (const Key* key = user.Find(full); key != nullptr) {
            auto it = key->values.find(name);
            if (it != key->values.end()) {
                return it->second;
            }
        }
    }
    Key machine;
    if (SUCCEEDED(Load(Hive::Machine, machine))) {
        return machine.Value(path, name);
    }
    return std::nullopt;
}

}  // namespace carvix::automation::registry
