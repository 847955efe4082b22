#include "fake_pcsc.h"

#include <algorithm>
#include <cstring>

namespace fake {

Pcsc& State() {
    static Pcsc state;
    return state;
}

void Reset() {
    State() = Pcsc{};
}

void Next(const std::string& function, LONG rv) {
    State().results[function].push_back(rv);
}

namespace {

LONG Result(const char* function) {
    Pcsc& s = State();
    s.calls.emplace_back(function);
    auto& queue = s.results[function];
    if (queue.empty()) {
        return SCARD_S_SUCCESS;
    }
    const LONG rv = queue.front();
    queue.pop_front();
    return rv;
}

}  // namespace
}  // namespace fake

extern "C" {

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    *context = 0x1234;
    return fake::Result("SCardEstablishContext");
}

LONG SCardReleaseContext(SCARDCONTEXT) {
    return fake::Result("SCardReleaseContext");
}

LONG SCardConnect(SCARDCONTEXT, LPCSTR reader, DWORD, DWORD, LPSCARDHANDLE card, LPDWORD protocol) {
    fake::State().lastReader =
        reader ? std::optional<std::string>(reader) : std::optional<std::string>();
    *card = 0x5678;
    *protocol = fake::State().protocol;
    return fake::Result("SCardConnect");
}

LONG SCardReconnect(SCARDHANDLE, DWORD share, DWORD protocols, DWORD init, LPDWORD protocol) {
    fake::State().reconnectArgs = {share, protocols, init};
    *protocol = fake::State().protocol;
    return fake::Result("SCardReconnect");
}

LONG SCardDisconnect(SCARDHANDLE, DWORD disposition) {
    fake::State().dispositions.push_back(disposition);
    return fake::Result("SCardDisconnect");
}

LONG SCardBeginTransaction(SCARDHANDLE) {
    return fake::Result("SCardBeginTransaction");
}

LONG SCardEndTransaction(SCARDHANDLE, DWORD disposition) {
    fake::State().dispositions.push_back(disposition);
    return fake::Result("SCardEndTransaction");
}

LONG SCardStatus(SCARDHANDLE, LPSTR names, LPDWORD namesLength, LPDWORD state, LPDWORD protocol,
                 LPBYTE atr, LPDWORD atrLength) {
    fake::Pcsc& s = fake::State();
    s.lastAtrRoom = *atrLength;
    const LONG rv = fake::Result("SCardStatus");
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    if (s.atr.size() > *atrLength || s.statusNames.size() > *namesLength) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(names, s.statusNames.data(), s.statusNames.size());
    *namesLength = static_cast<DWORD>(s.statusNames.size());
    *state = SCARD_SPECIFIC;
    *protocol = s.protocol;
    std::memcpy(atr, s.atr.data(), s.atr.size());
    *atrLength = static_cast<DWORD>(s.atr.size());
    return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE, const SCARD_IO_REQUEST* sendPci, LPCBYTE, DWORD,
                   SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength) {
    fake::Pcsc& s = fake::State();
    s.lastPci = sendPci;
    s.receivePciWasNull = receivePci == nullptr;
    s.lastReceiveRoom = *receiveLength;
    s.receiveBufferWasZero =
        std::all_of(receive, receive + *receiveLength, [](BYTE b) { return b == 0; });
    const LONG rv = fake::Result("SCardTransmit");
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    if (s.response.size() > *receiveLength) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(receive, s.response.data(), s.response.size());
    *receiveLength = static_cast<DWORD>(s.response.size());
    return SCARD_S_SUCCESS;
}

LONG SCardControl(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID output, DWORD outputLength,
                  LPDWORD returned) {
    const LONG rv = fake::Result("SCardControl");
    if (rv == SCARD_S_SUCCESS && outputLength >= 2) {
        static_cast<BYTE*>(output)[0] = 0xAB;
        static_cast<BYTE*>(output)[1] = 0xCD;
        *returned = 2;
    }
    return rv;
}

}  // extern "C"
