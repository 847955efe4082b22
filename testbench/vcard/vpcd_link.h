// The link to the vpcd reader driver: a TCP connection on which every message is framed
// with a 2-byte big-endian length. A 1-byte message is a control (power off, power on,
// reset, get ATR); anything longer is a command APDU.
#pragma once

#include <optional>
#include <string>

#include "apdu.h"

namespace carvix::vcard {

class VpcdLink {
  public:
    VpcdLink() = default;
    ~VpcdLink();
    VpcdLink(const VpcdLink&) = delete;
    VpcdLink& operator=(const VpcdLink&) = delete;

    // One non-blocking attempt; false while the driver is not listening yet.
    bool TryConnect(const std::string& host, int port);
    bool Connected() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Reads one whole message; nullopt when the driver closed the link (the link is then
    // closed here too).
    std::optional<Bytes> Receive();
    bool Send(const Bytes& message);
    void Close();

  private:
    bool ReadFully(std::uint8_t* buf, std::size_t n);
    int fd_ = -1;
};

namespace vpcd {
inline constexpr std::uint8_t kPowerOff = 0;
inline constexpr std::uint8_t kPowerOn = 1;
inline constexpr std::uint8_t kReset = 2;
inline constexpr std::uint8_t kGetAtr = 4;
}  // namespace vpcd

}  // namespace carvix::vcard
