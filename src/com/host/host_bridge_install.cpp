// Wires the module to the host's hooks when the module is loaded. Only the module carries
// this file: unit tests that link the classes install their own choosers.
#include "host_bridge.h"

namespace {

[[maybe_unused]] const bool kBridged = [] {
    carvix::com::BridgeCertificateChooser();
    carvix::com::BridgePinPrompt();
    carvix::com::BridgeCardWaitLimit();
    return true;
}();

}  // namespace
