// Wires the module to the host's hooks when the module is loaded. Only the module carries
// this file: unit tests that link the classes install their own choosers.
#include "host_bridge.h"

#include "carvix/support/log.h"

#include <errno.h>

namespace {

[[maybe_unused]] const bool kBridged = [] {
    carvix::com::BridgeCertificateChooser();
    carvix::com::BridgePinPrompt();
    carvix::com::BridgeCardWaitLimit();
    // The log the user or the administrator switched on (off unless they did), in whatever
    // program loaded the module: the client, the browser host, a script.
    Orvel::InstallLog(Orvel::ReadLogSettings(), program_invocation_short_name);
    return true;
}();

}  // namespace
