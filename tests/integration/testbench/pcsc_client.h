// A bare PC/SC client for bench tests: one context and one card handle, owned.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace carvix::bench {

// A failed PC/SC call; code is the 32-bit PC/SC result (SCARD_W_RESET_CARD, ...).
class PcscError : public std::runtime_error {
  public:
    PcscError(const std::string& call, std::uint32_t code);
    std::uint32_t code;
};

class PcscCard {
  public:
    explicit PcscCard(const std::string& reader, DWORD shareMode = SCARD_SHARE_SHARED,
                      DWORD protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
    ~PcscCard();
    PcscCard(const PcscCard&) = delete;
    PcscCard& operator=(const PcscCard&) = delete;

    DWORD Protocol() const { return protocol_; }

    // Sends one APDU as it stands (no 61xx or 6Cxx handling) and returns the reply.
    std::vector<std::uint8_t> Transmit(const std::vector<std::uint8_t>& command);
    // Hex in, hex out (upper case, no spaces): Send("00A4...") == "6110".
    std::string Send(const std::string& commandHex);

    void Reconnect(DWORD initialization);  // SCARD_RESET_CARD, SCARD_UNPOWER_CARD, ...
    void Disconnect(DWORD disposition);    // the handle is gone afterwards
    void BeginTransaction();
    void EndTransaction(DWORD disposition = SCARD_LEAVE_CARD);

  private:
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    DWORD protocol_ = 0;
    bool connected_ = false;
};

}  // namespace carvix::bench
