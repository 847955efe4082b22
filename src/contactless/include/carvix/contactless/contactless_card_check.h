// The check that the contactless reader selection applies to each reader it offers.
#pragma once

#include <PCSC/winscard.h>

namespace carvix::contactless {

/// True when the card behind `card` answers GetCardInfo_CL through the vendor library on its
/// reader: the status query gives exactly one reader name, the library loads, and the call does
/// not return 0. Every failure, exceptions included, is a no.
bool CheckContactlessCard(SCARDHANDLE card) noexcept;

}  // namespace carvix::contactless
