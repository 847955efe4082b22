// The file-backed registry that stands in for the Windows class registration.
//
// Two hives, each one text file:
//   - the machine hive stands for HKEY_CLASSES_ROOT:
//       <first entry of $XDG_CONFIG_DIRS, default /etc/xdg>/carvix-com/classes-root.hive
//   - the user hive stands for HKEY_CURRENT_USER (classes live under Software\Classes):
//       <$XDG_CONFIG_HOME, default $HOME/.config>/carvix-com/current-user.hive
// Lookups for activation read the user's Software\Classes first and the machine hive
// second, as the merged class view does on Windows; after the machine hive above they read
// those of the later absolute folders of $XDG_CONFIG_DIRS (a desktop session may list a
// folder of its own before /etc/xdg). Registrations always write the first folder's hive. Tests
// point HOME / XDG_CONFIG_HOME / XDG_CONFIG_DIRS at a temporary folder; the runtime reads no other
// setting.
//
// File format (UTF-8, line-oriented, written sorted so that diffs stay small):
//   carvix-registry 1
//   [CLSID\{...}\InprocServer32]      a key, path from the hive root, '\' separated
//   @="/usr/lib/carvix-qx.so"         the key's default value
//   "ThreadingModel"="Apartment"      a named value
// Every key has its own section, also when it holds no values. Strings are quoted with
// the escapes \\ \" \n \r \t. Lines starting with ';' and blank lines are ignored.
// Key and value names compare without regard to ASCII case and keep the case first written.
// Writers take an exclusive lock (flock on the hive file's ".lock" sibling) and replace the
// file atomically (write to a temporary file, then rename).
#pragma once

#include "carvix/automation/types.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace carvix::automation::registry {

enum class Hive { Machine, User };

struct NameLess {
    using is_transparent = void;
    CARVIX_COM_API bool operator()(std::u16string_view a, std::u16string_view b) const noexcept;
};

/// A key: its values (default value under the empty name) and subkeys.
struct Key {
    std::map<std::u16string, std::u16string, NameLess> values;
    std::map<std::u16string, Key, NameLess> subkeys;

    /// Path components separated by '\'; empty path = this key. Null when absent.
    CARVIX_COM_API const Key* Find(std::u16string_view path) const;
    CARVIX_COM_API Key* Find(std::u16string_view path);
    /// Creates the key and its missing parents.
    CARVIX_COM_API Key& Create(std::u16string_view path);
    /// Removes the key with everything below it; false when absent.
    CARVIX_COM_API bool Remove(std::u16string_view path);
    CARVIX_COM_API std::optional<std::u16string> Value(std::u16string_view path,
                                                       std::u16string_view name = {}) const;
};

CARVIX_COM_API std::string Serialize(const Key& root);
/// Malformed lines are skipped; a file of another format yields std::nullopt.
CARVIX_COM_API std::optional<Key> Parse(std::string_view text);

CARVIX_COM_API std::filesystem::path HivePath(Hive hive);
/// The hive's content; an absent file is an empty hive. E_FAIL for an unreadable file.
CARVIX_COM_API HRESULT Load(Hive hive, Key& out);
/// Loads the hive under the writer lock, lets `edit` change it, and stores it when `edit`
/// succeeds. REGDB_E_WRITEREGDB when the file cannot be written.
CARVIX_COM_API HRESULT Edit(Hive hive, const std::function<HRESULT(Key&)>& edit);

/// A value of the merged class view: user hive Software\Classes\PATH, then machine PATH.
CARVIX_COM_API std::optional<std::u16string> ClassesValue(std::u16string_view path,
                                                          std::u16string_view name = {});

}  // namespace carvix::automation::registry
