// `carvix doctor`: checks every piece a web page or a script needs to reach the card (the
// PC/SC service, readers and cards, the module's registration, the browsers' host manifests,
// the allow-list, the PKCS#11 modules) and says how to mend each one that is missing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace carvix::cli {

struct DoctorOptions {
    bool json = false;
    std::string root = "/";  // the machine's browser folders below this one (tests)
};

struct DoctorCheck {
    enum class Status { Ok, Info, Warning, Failure };
    std::string area;  // pcsc, readers, registration, browser, allow-list, pkcs11
    std::string name;
    Status status = Status::Ok;
    std::string detail;
    std::string fix;  // empty when there is nothing to do
};

/// Every check, in the order they are printed.
std::vector<DoctorCheck> RunDoctorChecks(const DoctorOptions& options);
/// The allow-list of web origins alone: Ok when it exists, is safe and allows an origin.
DoctorCheck AllowListCheck();

/// The module this user's programs load: the user's registration, else the machine's.
std::optional<std::string> RegisteredModulePath();
/// Prints the checks; 0 when none failed, 1 otherwise.
int Doctor(const DoctorOptions& options);

}  // namespace carvix::cli
