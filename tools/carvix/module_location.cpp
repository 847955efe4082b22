#include "module_location.h"

#include <system_error>

namespace carvix::cli {

std::filesystem::path FirstExisting(const std::filesystem::path& base,
                                    std::initializer_list<const char*> relatives) {
    std::filesystem::path first;
    for (const char* relative : relatives) {
        const std::filesystem::path candidate = (base / relative).lexically_normal();
        if (first.empty()) {
            first = candidate;
        }
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) {
            return candidate;
        }
    }
    return first;
}

std::string DefaultModulePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return CARVIX_QX_INSTALLED_MODULE;  // relative to the current folder; says what is missing
    }
    return FirstExisting(exe.parent_path(), {CARVIX_QX_INSTALLED_MODULE, CARVIX_QX_BUILD_MODULE})
        .string();
}

}  // namespace carvix::cli
