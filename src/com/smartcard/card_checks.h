// The card checks of the two reader selections: which cards a reader must hold to be
// offered.
#pragma once

#include <PCSC/winscard.h>

#include <cstdint>

namespace carvix::com {

/// Which of the card's two applications answer their SELECT.
struct CardApplications {
    bool vl = false;
    bool zk = false;
};

/// Selects the VL applet (application 1) and the ZK applet (application 5) in one
/// transaction on `card`, which stays connected. An error status word means that applet is
/// absent; any other failure (the card removed, for example) throws.
CardApplications ProbeApplications(SCARDHANDLE card);

/// The contact check: a card that carries the VL or the ZK applet. Its CARVIX_CARD_VL and
/// CARVIX_CARD_ZK bits (host_hooks.h); zero when it carries neither.
std::uint32_t ContactCardCheck(SCARDCONTEXT context, SCARDHANDLE card);

/// The contactless check: CARVIX_CARD_CONTACTLESS, or zero.
std::uint32_t ContactlessCardCheck(SCARDCONTEXT context, SCARDHANDLE card);

}  // namespace carvix::com
