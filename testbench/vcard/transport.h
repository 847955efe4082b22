// Protocol rules of the card side. T=0: a command that carries data is answered with 61xx
// when it has response data, which the host fetches with GET RESPONSE (00 C0); a wrong Le
// is answered 6Cxx. T=1: the answer comes in one response, unless the card is told to use
// 61xx as well. Faults are applied here, around the applet.
#pragma once

#include "applet.h"
#include "faults.h"

namespace carvix::vcard {

class Transport {
  public:
    Transport(Applet& applet, Protocol protocol) : applet_(applet), protocol_(protocol) {}

    // A removal due at command N takes effect right after the answer to command N-1, so
    // the host's next transmit fails as it does for a card pulled out. Only a removal at
    // the very first command after arming drops the link on receipt; the driver then hands
    // the host an empty answer.
    struct Outcome {
        bool dropLink = false;   // send nothing and close the link
        bool dropAfter = false;  // send the answer, then close the link
        Bytes response;
    };
    Outcome Exchange(std::span<const std::uint8_t> raw);

    void Reset();  // power-off or reset
    void SetT1GetResponse(bool on) { t1GetResponse_ = on; }
    FaultPlan& Faults() { return faults_; }
    std::uint64_t Commands() const { return commands_; }

  private:
    Response Run(std::span<const std::uint8_t> raw);
    Response Deliver(const Command& cmd, Response r);
    Response Serve(std::size_t le);
    std::uint16_t MoreAvailable() const;

    Applet& applet_;
    Protocol protocol_;
    bool t1GetResponse_ = false;
    Bytes pending_;  // response data waiting for GET RESPONSE
    FaultPlan faults_;
    std::uint64_t commands_ = 0;
};

}  // namespace carvix::vcard
