// A resource manager and card in memory whose every call's result the test queues, so a test
// drives the wrappers through every outcome without a daemon. Results are queued per call
// name ("SCardBeginTransaction"); an empty queue means success. Every call is logged by name.
#pragma once

#include "fake_resource_manager.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fake {

class Pcsc final : public ResourceManager {
  public:
    Pcsc() : ResourceManager(0x1234) {}

    /// Queues `rv` as the next result of `function`.
    void Next(const std::string& function, LONG rv) { results[function].push_back(rv); }

    // What the test sets.
    std::map<std::string, std::deque<LONG>> results;
    DWORD protocol = SCARD_PROTOCOL_T1;
    std::vector<BYTE> response{0x90, 0x00};
    std::string statusNames = std::string("Reader A\0Reader B\0\0", 19);
    std::vector<BYTE> atr{0x3B, 0x80, 0x80, 0x01, 0x01};
    std::string readerList;  // what SCardListReaders hands out, final NULs included

    // What the code under test did.
    std::vector<std::string> calls;
    std::optional<std::string> lastReader;  // nullopt: a null name was passed
    DWORD lastReceiveRoom = 0;
    bool receiveBufferWasZero = false;
    const SCARD_IO_REQUEST* lastPci = nullptr;
    bool receivePciWasNull = false;
    DWORD lastAtrRoom = 0;
    std::vector<DWORD> dispositions;  // of SCardDisconnect and SCardEndTransaction, in order
    std::vector<DWORD> reconnectArgs;

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
    /// Logs the call and takes its queued result.
    LONG Result(const char* function);
};

}  // namespace fake
