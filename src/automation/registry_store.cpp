// Hive files: where they live, locked edits and atomic replacement.
#include "carvix/automation/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string_view>
#include <system_error>
#include <vector>

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

// The machine hives lookups read, in order: the one registrations write (HivePath), then
// those of the later absolute folders of XDG_CONFIG_DIRS.
std::vector<std::filesystem::path> MachineHivesToRead() {
    std::vector<std::filesystem::path> hives{HivePath(Hive::Machine)};
    const char* value = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = value == nullptr ? std::string_view{} : std::string_view{value};
    const std::size_t firstEnd = list.find(':');
    list.remove_prefix(firstEnd == std::string_view::npos ? list.size() : firstEnd + 1);
    while (!list.empty()) {
        const std::string_view entry = list.substr(0, list.find(':'));
        if (!entry.empty() && entry.front() == '/') {
            auto hive = std::filesystem::path(entry) / "carvix-com" / "classes-root.hive";
            if (std::find(hives.begin(), hives.end(), hive) == hives.end()) {
                hives.push_back(std::move(hive));
            }
        }
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
    }
    return hives;
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

// What identifies one version of a hive file. An edit writes a new file and renames it into
// place (a new inode, a new modification time), so a hive that changed never matches the
// identity it had.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{
        st.st_dev, st.st_ino, st.st_size,
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Parsed hives for lookups, so that an activation (several lookups in a row) and every later
// one in the process read and parse a hive file once, not once per value. A lookup checks the
// file's identity first and parses the file again when it changed.
class ParsedHives {
  public:
    static ParsedHives& Instance() {
        static auto* hives = new ParsedHives;  // lives to the end: lookups may run at exit
        return *hives;
    }

    // The hive at the path; an empty one when the file does not exist, null when it cannot
    // be read or parsed.
    std::shared_ptr<const Key> Get(const std::filesystem::path& path) {
        const std::optional<FileIdentity> identity = IdentityOf(path);
        std::lock_guard guard(lock_);
        auto found = hives_.find(path.string());
        if (identity && found != hives_.end() && found->second.identity == *identity) {
            return found->second.key;
        }
        auto key = std::make_shared<Key>();
        if (FAILED(LoadFile(path, *key))) {
            hives_.erase(path.string());
            return nullptr;
        }
        if (identity) {
            hives_[path.string()] = Entry{*identity, key};
        } else {
            hives_.erase(path.string());
        }
        return key;
    }

  private:
    struct Entry {
        FileIdentity identity;
        std::shared_ptr<const Key> key;
    };
    std::mutex lock_;
    std::map<std::string, Entry> hives_;
};

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
    ParsedHives& hives = ParsedHives::Instance();
    if (auto user = hives.Get(HivePath(Hive::User)); user != nullptr) {
        std::u16string full = u"Software\\Classes\\";
        full += path;
        if (const Key* key = user->Find(full); key != nullptr) {
            auto it = key->values.find(name);
            if (it != key->values.end()) {
                return it->second;
            }
        }
    }
    // Desktop sessions often put a folder of their own before /etc/xdg in XDG_CONFIG_DIRS;
    // a machine registration in any listed folder counts, the earlier folder first.
    for (const std::filesystem::path& hivePath : MachineHivesToRead()) {
        auto machine = hives.Get(hivePath);
        if (machine == nullptr) {
            continue;
        }
        if (auto value = machine->Value(path, name)) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace carvix::automation::registry
