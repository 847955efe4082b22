// carvix-typelib: prints the type library of a module (its DllDescribeTypeLibrary) as JSON.
//   carvix-typelib /usr/lib/carvix-qx.so > carvix-qx.typelib.json
#include "carvix/automation/oleauto.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: carvix-typelib MODULE.so\n");
        return 2;
    }
    void* module = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "carvix-typelib: %s\n", ::dlerror());
        return 1;
    }
    HRESULT (*describe)(BSTR*) = nullptr;
    void* symbol = ::dlsym(module, "DllDescribeTypeLibrary");
    std::memcpy(&describe, &symbol, sizeof describe);
    BSTR json = nullptr;
    if (describe == nullptr || FAILED(describe(&json))) {
        std::fprintf(stderr, "carvix-typelib: %s has no type library description\n", argv[1]);
        return 1;
    }
    std::string out;  // the description is ASCII (non-ASCII text is \u-escaped)
    for (std::uint32_t i = 0, n = SysStringLen(json); i < n; ++i) {
        out += static_cast<char>(json[i]);
    }
    SysFreeString(json);
    std::printf("%s\n", out.c_str());
    return 0;
}
