// Registering the module for activation by ProgID, through its own entry points (the way
// an installer does it).
#pragma once

#include "module_location.h"

#include <string>

namespace carvix::cli {

struct RegisterOptions {
    std::string module = DefaultModulePath();
    bool system = false;  // DllRegisterServer / DllUnregisterServer instead of DllInstall "user"
    bool install = true;
};

/// Loads the module, calls its entry point and unloads it. Throws ClientError on failure.
int Register(const RegisterOptions& options);

}  // namespace carvix::cli
