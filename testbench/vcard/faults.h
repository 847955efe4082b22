// Faults injected at a chosen command, armed from the command line or the control socket.
//
// Fault syntax (N counts commands from the moment the fault is armed, the next one is 1):
//   sw:6A82@N     answer the Nth command with this status word instead of running it
//   remove@N      the card is pulled out before the Nth command (the reader link drops
//                 right after the answer to command N-1)
//   short:K@N     cut K bytes off the end of the Nth answer's data
//   long:K@N      add K bytes (A5) to the end of the Nth answer's data
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace carvix::vcard {

struct Fault {
    enum class Kind { StatusWord, Remove, Short, Long };
    Kind kind = Kind::StatusWord;
    std::uint16_t sw = 0;
    std::size_t bytes = 0;
    std::uint64_t at = 0;  // relative when parsed, absolute once armed
};

// Throws std::invalid_argument with a readable reason.
Fault ParseFault(const std::string& fault);

class FaultPlan {
  public:
    // commandsSoFar is the number of commands the card has seen when the fault is armed.
    void Arm(Fault fault, std::uint64_t commandsSoFar);
    void Clear() { pending_.clear(); }

    // Removes and returns the faults due at this command number.
    std::vector<Fault> Due(std::uint64_t commandNumber);
    // Removes a removal fault due at this command number; true when there was one.
    bool TakeRemoval(std::uint64_t commandNumber);

  private:
    std::vector<Fault> pending_;
};

}  // namespace carvix::vcard
