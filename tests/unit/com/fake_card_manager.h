// A resource manager with one reader and one T=1 card that answers from a script of exact
// command bytes. The test reads back what was connected, sent, begun and released. Unlike
// fake::Pcsc, whose results are queued per call name, this card checks every command against
// the script and tracks the handles it gave out, so a test sees which exchanges ran and what
// was left open.
#pragma once

#include "fake_resource_manager.h"

#include <deque>
#include <string>
#include <utility>

namespace fake {

class CardManager final : public ResourceManager {
  public:
    static constexpr SCARDCONTEXT kContext = 0x4242;
    static constexpr SCARDHANDLE kHandle = 0x5A5A1234;

    struct Exchange {
        std::string command;  // upper-case hex without spaces
        std::string response;
        LONG result = SCARD_S_SUCCESS;  // a failure is returned without a response
    };

    CardManager() : ResourceManager(kContext) {}

    /// Appends one exchange the card expects next.
    void Expect(std::string command, std::string response, LONG result = SCARD_S_SUCCESS) {
        script.push_back({std::move(command), std::move(response), result});
    }

    // What the test sets.
    LONG connectResult = SCARD_S_SUCCESS;
    LONG reconnectResult = SCARD_S_SUCCESS;
    bool resetPending = false;  // another application reset the card; cleared by reconnecting
    std::deque<Exchange> script;

    // What the code under test did.
    DWORD shareMode = 0;
    DWORD protocols = 0;
    std::vector<DWORD> reconnects;  // the initialisations, in order
    bool surprise = false;  // a command the script did not expect, or a call this card lacks

    LONG Connect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD preferredProtocols,
                 LPSCARDHANDLE card, LPDWORD activeProtocol) override;
    LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols,
                   DWORD initialization, LPDWORD activeProtocol) override;

  private:
    // Reader listing and reader control are no part of one card connection: a call to them
    // is as unexpected as a command the script does not hold.
    LONG Unsupported() override {
        surprise = true;
        return SCARD_E_UNSUPPORTED_FEATURE;
    }
    bool Holds(SCARDHANDLE card) const override { return card == kHandle && cardsConnected > 0; }
    // The handle reports another application's reset until it is reconnected.
    LONG CardState(SCARDHANDLE) const override {
        return resetPending ? SCARD_W_RESET_CARD : SCARD_S_SUCCESS;
    }
    std::string ReaderOf(SCARDHANDLE) const override { return connected.back(); }
    std::span<const BYTE> AtrOf(SCARDHANDLE) const override;
    LONG Answer(SCARDHANDLE card, const std::string& command, LPBYTE response,
                LPDWORD responseLength) override;
};

}  // namespace fake
