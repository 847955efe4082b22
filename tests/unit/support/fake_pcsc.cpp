#include "fake_pcsc.h"

#include <algorithm>
#include <cstring>

namespace fake {

LONG Pcsc::Result(const char* function) {
    calls.emplace_back(function);
    auto& queue = results[function];
    if (queue.empty()) {
        return SCARD_S_SUCCESS;
    }
    const LONG rv = queue.front();
    queue.pop_front();
    return rv;
}

LONG Pcsc::EstablishContext(DWORD scope, LPSCARDCONTEXT context) {
    const LONG rv = Result("SCardEstablishContext");
    return rv != SCARD_S_SUCCESS ? rv : ResourceManager::EstablishContext(scope, context);
}

LONG Pcsc::ReleaseContext(SCARDCONTEXT context) {
    ResourceManager::ReleaseContext(context);
    return Result("SCardReleaseContext");
}

// The wrappers always let the library allocate the list; anything else is refused.
LONG Pcsc::ListReaders(SCARDCONTEXT, LPCSTR groups, LPSTR readers, LPDWORD length) {
    if (groups != nullptr || *length != SCARD_AUTOALLOCATE) {
        return SCARD_E_INVALID_PARAMETER;
    }
    const LONG rv = Result("SCardListReaders");
    return rv != SCARD_S_SUCCESS ? rv : HandOut(readerList, readers, length);
}

LONG Pcsc::FreeMemory(SCARDCONTEXT context, LPCVOID memory) {
    ResourceManager::FreeMemory(context, memory);
    return Result("SCardFreeMemory");
}

LONG Pcsc::Connect(SCARDCONTEXT, LPCSTR reader, DWORD, DWORD, LPSCARDHANDLE card,
                   LPDWORD activeProtocol) {
    lastReader = reader ? std::optional<std::string>(reader) : std::optional<std::string>();
    *card = 0x5678;
    *activeProtocol = protocol;
    return Result("SCardConnect");
}

LONG Pcsc::Reconnect(SCARDHANDLE, DWORD share, DWORD protocols, DWORD init,
                     LPDWORD activeProtocol) {
    reconnectArgs = {share, protocols, init};
    *activeProtocol = protocol;
    return Result("SCardReconnect");
}

LONG Pcsc::Disconnect(SCARDHANDLE, DWORD disposition) {
    dispositions.push_back(disposition);
    return Result("SCardDisconnect");
}

LONG Pcsc::BeginTransaction(SCARDHANDLE) {
    return Result("SCardBeginTransaction");
}

LONG Pcsc::EndTransaction(SCARDHANDLE, DWORD disposition) {
    dispositions.push_back(disposition);
    return Result("SCardEndTransaction");
}

LONG Pcsc::Status(SCARDHANDLE, LPSTR names, LPDWORD namesLength, LPDWORD state,
                  LPDWORD activeProtocol, LPBYTE atrOut, LPDWORD atrLength) {
    lastAtrRoom = *atrLength;
    const LONG rv = Result("SCardStatus");
    return rv != SCARD_S_SUCCESS ? rv
                                 : AnswerStatus(statusNames, atr, protocol, names, namesLength,
                                                state, activeProtocol, atrOut, atrLength);
}

LONG Pcsc::Transmit(SCARDHANDLE, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                    SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength) {
    Record(send, sendLength);
    lastPci = sendPci;
    receivePciWasNull = receivePci == nullptr;
    lastReceiveRoom = *receiveLength;
    receiveBufferWasZero =
        std::all_of(receive, receive + *receiveLength, [](BYTE b) { return b == 0; });
    const LONG rv = Result("SCardTransmit");
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    if (response.size() > *receiveLength) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(receive, response.data(), response.size());
    *receiveLength = static_cast<DWORD>(response.size());
    return SCARD_S_SUCCESS;
}

LONG Pcsc::Control(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID output, DWORD outputLength,
                   LPDWORD returned) {
    const LONG rv = Result("SCardControl");
    if (rv == SCARD_S_SUCCESS && outputLength >= 2) {
        static_cast<BYTE*>(output)[0] = 0xAB;
        static_cast<BYTE*>(output)[1] = 0xCD;
        *returned = 2;
    }
    return rv;
}

// Reports every reader as empty and unchanged; the queued result decides the outcome.
LONG Pcsc::GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        states[i].dwEventState = SCARD_STATE_EMPTY;
        states[i].cbAtr = 0;
    }
    return Result("SCardGetStatusChange");
}

}  // namespace fake
