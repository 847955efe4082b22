#include "registration.h"

#include "client_names.h"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>

namespace carvix::cli {

int Register(const RegisterOptions& o) {
    std::error_code ec;
    const std::string path = std::filesystem::absolute(o.module, ec).string();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::cerr << "carvix: cannot load " << path << ": " << dlerror() << "\n";
        return 1;
    }
    using Install = HRESULT (*)(std::int32_t, const OLECHAR*);
    using Plain = HRESULT (*)();
    HRESULT hr = E_FAIL;
    const char* entry =
        o.system ? (o.install ? "DllRegisterServer" : "DllUnregisterServer") : "DllInstall";
    void* symbol = dlsym(module, entry);
    if (symbol == nullptr) {
        dlclose(module);
        std::cerr << "carvix: " << path << " has no " << entry << "\n";
        return 1;
    }
    if (o.system) {
        hr = reinterpret_cast<Plain>(symbol)();
    } else {
        hr = reinterpret_cast<Install>(symbol)(o.install ? 1 : 0, u"user");
    }
    dlclose(module);
    if (FAILED(hr)) {
        throw ClientError{hr, entry};
    }
    std::cout << (o.install ? "Registered " : "Unregistered ") << path
              << (o.system ? " for every user of this machine" : " for this user") << "\n";
    return 0;
}

}  // namespace carvix::cli
