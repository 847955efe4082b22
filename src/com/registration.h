// Self-registration: the AppID script, one class script per object-map row, and the type
// library entries, written into the machine hive (HKEY_CLASSES_ROOT) or, per user, under
// HKEY_CURRENT_USER\Software\Classes.
#pragma once

#include "carvix/automation/types.h"

#include <string>

namespace carvix::com {

inline constexpr const char16_t* kTypeLibName = u"carvixQX";
inline constexpr const char16_t* kTypeLibVersion = u"1.0";
inline constexpr const char16_t* kTypeLibHelp = u"carvix-qx 1.0 Type Library";

/// Runs the AppID script, then every class script in object-map order, then registers the
/// type library; stops at and returns the first failure (nothing is rolled back).
HRESULT RegisterServer(bool perUser, const std::u16string& modulePath);
/// Every class script in unregister mode, the type library, then the AppID script; returns
/// the first failure but runs every step.
HRESULT UnregisterServer(bool perUser);

/// The full path of the loaded module.
std::u16string ModulePath();

}  // namespace carvix::com
