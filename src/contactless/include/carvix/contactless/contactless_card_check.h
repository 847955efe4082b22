// The check that the contactless reader selection applies to each reader it offers.
#pragma once

#include <PCSC/winscard.h>

#include <string>

namespace carvix::contactless {

/// True when the card behind `card` answers GetCardInfo_CL through the vendor library on its
/// reader: the status query gives exactly one reader name, the library loads, and the call does
/// not return 0. Every failure, exceptions included, is a no.
bool CheckContactlessCard(SCARDHANDLE card) noexcept;

/// The same check with the vendor library looked for in `moduleDirectory` instead of beside the
/// code running it: for a program that asks about cards on behalf of a module installed
/// elsewhere.
bool CheckContactlessCard(SCARDHANDLE card, const std::string& moduleDirectory) noexcept;

}  // namespace carvix::contactless
