// How long a real reader and card take for one exchange, so that the bench can answer at the
// speed of hardware rather than at the speed of the host's CPU.
//
// An exchange costs the characters on the card's I/O line at the protocol's bit rate (with the
// protocol's framing) plus a fixed time per command for the card's own work and the reader's
// USB round trip. The defaults describe a common USB CCID reader, which clocks the card at
// 4 MHz, with a card that negotiates a fast divider (README.md, "Timing model").
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "card_image.h"

namespace carvix::vcard {

struct TimingModel {
    /// Bits per second on the I/O line under T=0: 4 MHz with Fi=372, Di=12.
    double t0BitRate = 4'000'000.0 * 12 / 372;
    /// Bits per second under T=1: 4 MHz with Fi=512, Di=16.
    double t1BitRate = 4'000'000.0 * 16 / 512;
    /// The card's processing of one command and the reader's USB round trip, in milliseconds.
    double commandMs = 3.0;
};

/// Fails with std::invalid_argument for a bit rate outside 1,200 .. 10,000,000 bit/s or a
/// command time outside 0 .. 1,000 ms (a typing error would otherwise stall or not slow
/// the card).
void CheckTiming(const TimingModel& model);

/// The time of one exchange: `commandBytes` from the reader, `responseBytes` (data and status
/// word) back. T=0: 12 etu per character and one procedure byte. T=1: 11 etu per character,
/// a prologue and an epilogue of 4 bytes per block, blocks of at most 32 bytes to the card and
/// 254 bytes from it (each chained block acknowledged by a 4-byte R-block) and a block guard
/// time of 22 etu at every change of direction.
std::chrono::microseconds ExchangeTime(const TimingModel& model, Protocol protocol,
                                       std::size_t commandBytes, std::size_t responseBytes);

/// "t0=129032 bit/s, t1=125000 bit/s, command=3 ms": the model as the card reports it.
std::string Describe(const TimingModel& model);

}  // namespace carvix::vcard
