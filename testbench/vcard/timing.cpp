#include "timing.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace carvix::vcard {
namespace {

constexpr double kT0EtuPerChar = 12;  // start, 8 data, parity, 2 guard
constexpr double kT1EtuPerChar = 11;  // character guard time of 11 etu (N = 0)
constexpr double kT1BlockGuardEtu = 22;
constexpr std::size_t kT1Frame = 4;  // NAD, PCB, LEN; LRC
constexpr std::size_t kIfsc = 32;    // the card's information field (no TA3 in the ATR)
constexpr std::size_t kIfsd = 254;   // the reader's, after its IFS request

std::size_t Blocks(std::size_t bytes, std::size_t field) {
    return bytes == 0 ? 1 : (bytes + field - 1) / field;
}

}  // namespace

void CheckTiming(const TimingModel& model) {
    for (const double rate : {model.t0BitRate, model.t1BitRate}) {
        if (!(rate >= 1200 && rate <= 10'000'000)) {
            throw std::invalid_argument("a bit rate must lie between 1200 and 10000000 bit/s");
        }
    }
    if (!(model.commandMs >= 0 && model.commandMs <= 1000)) {
        throw std::invalid_argument("the command time must lie between 0 and 1000 ms");
    }
}

std::chrono::microseconds ExchangeTime(const TimingModel& model, Protocol protocol,
                                       std::size_t commandBytes, std::size_t responseBytes) {
    double etus = 0;
    double rate = model.t0BitRate;
    if (protocol == Protocol::T0) {
        etus = kT0EtuPerChar * static_cast<double>(commandBytes + 1 + responseBytes);
    } else {
        rate = model.t1BitRate;
        const std::size_t in = Blocks(commandBytes, kIfsc);
        const std::size_t out = Blocks(responseBytes, kIfsd);
        // Every chained block is answered by an R-block before the next one goes.
        const std::size_t chars = commandBytes + kT1Frame * in + kT1Frame * (in - 1) +
                                  responseBytes + kT1Frame * out + kT1Frame * (out - 1);
        const std::size_t turns = 2 * (in - 1) + 1 + 2 * (out - 1);
        etus = kT1EtuPerChar * static_cast<double>(chars) +
               kT1BlockGuardEtu * static_cast<double>(turns);
    }
    const double micros = etus / rate * 1e6 + model.commandMs * 1e3;
    return std::chrono::microseconds(static_cast<std::int64_t>(std::llround(micros)));
}

std::string Describe(const TimingModel& model) {
    char text[128];
    std::snprintf(text, sizeof text, "t0=%.0f bit/s, t1=%.0f bit/s, command=%g ms", model.t0BitRate,
                  model.t1BitRate, model.commandMs);
    return text;
}

}  // namespace carvix::vcard
