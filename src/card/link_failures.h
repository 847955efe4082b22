// The one place where the card link's own failures become the card layer's CardException.
#pragma once

#include "carvix/support/exceptions.h"

namespace carvix::card {

/// Runs `work` and lets the link-level failures (PC/SC codes, applet status words) out as
/// CardException; every other failure passes unchanged.
template <typename Work>
auto ConvertingLinkFailures(Work&& work) {
    try {
        return work();
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        throw CardException(e);
    } catch (const JavaCard::AppletException& e) {
        throw CardException(e);
    }
}

}  // namespace carvix::card
