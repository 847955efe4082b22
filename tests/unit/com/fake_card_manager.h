// A resource manager with one reader and one T=1 card that answers from a script of exact
// command bytes, installed as the PC/SC client calls for the life of the object. The test
// reads back what was connected, sent, begun and released. Unlike fake::Pcsc, whose results
// are queued per call name, this card checks every command against the script and tracks
// the handles it gave out, so a test sees which exchanges ran and what was left open.
#pragma once

#include "carvix/support/pcsc_api.h"

#include <PCSC/winscard.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace fake {

class CardManager final : public Orvel::PCSC::PcscApi {
  public:
    static constexpr SCARDCONTEXT kContext = 0x4242;
    static constexpr SCARDHANDLE kHandle = 0x5A5A1234;

    struct Exchange {
        std::string command;  // upper-case hex without spaces
        std::string response;
        LONG result = SCARD_S_SUCCESS;  // a failure is returned without a response
    };

    CardManager() : scope_(*this) {}

    /// Appends one exchange the card expects next.
    void Expect(std::string command, std::string response, LONG result = SCARD_S_SUCCESS) {
        script.push_back({std::move(command), std::move(response), result});
    }

    // What the test sets.
    LONG establishResult = SCARD_S_SUCCESS;
    LONG connectResult = SCARD_S_SUCCESS;
    LONG reconnectResult = SCARD_S_SUCCESS;
    bool resetPending = false;  // another application reset the card; cleared by reconnecting
    std::deque<Exchange> script;

    // What the code under test did.
    std::vector<std::string> sent;
    std::string connectedReader;
    DWORD shareMode = 0;
    DWORD protocols = 0;
    std::vector<DWORD> disconnects;  // the dispositions, in order
    std::vector<DWORD> reconnects;   // the initialisations, in order
    int contextsOpen = 0;
    int cardsConnected = 0;
    int transactionsOpen = 0;
    int transactionsBegun = 0;
    bool surprise = false;  // a command the script did not expect, or a call this card lacks

    LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context) override;
    LONG ReleaseContext(SCARDCONTEXT context) override;
    LONG ListReaders(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) override;
    LONG FreeMemory(SCARDCONTEXT context, LPCVOID memory) override;
    LONG Connect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD preferredProtocols,
                 LPSCARDHANDLE card, LPDWORD activeProtocol) override;
    LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols,
                   DWORD initialization, LPDWORD activeProtocol) override;
    LONG Disconnect(SCARDHANDLE card, DWORD disposition) override;
    LONG BeginTransaction(SCARDHANDLE card) override;
    LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override;
    LONG Status(SCARDHANDLE card, LPSTR readerNames, LPDWORD readerNamesLength, LPDWORD state,
                LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) override;
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                  SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength) override;
    LONG Control(SCARDHANDLE card, DWORD controlCode, LPCVOID input, DWORD inputLength,
                 LPVOID output, DWORD outputLength, LPDWORD returned) override;
    LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                         DWORD count) override;

  private:
    bool KnownContext(SCARDCONTEXT context) const;
    bool KnownCard(SCARDHANDLE card) const;
    LONG CardState(SCARDHANDLE card) const;
    LONG Unsupported();

    Orvel::PCSC::ScopedPcscApi scope_;
};

}  // namespace fake
