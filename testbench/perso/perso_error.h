// The one failure of the personalisation tool: a message naming what is wrong and where.
#pragma once

#include <stdexcept>
#include <string>

namespace carvix::perso {

class PersoError : public std::runtime_error {
  public:
    explicit PersoError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace carvix::perso
