#include "fake_card_manager.h"

#include <cstdio>
#include <cstring>

namespace fake_card {

State& Get() {
    static State state;
    return state;
}

void Reset() {
    Get() = State{};
}

namespace {

std::string Hex(const BYTE* bytes, DWORD length) {
    std::string out;
    char two[3];
    for (DWORD i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

bool KnownCard(SCARDHANDLE card) {
    return card == kHandle && Get().cardsConnected > 0;
}

// The handle reports another application's reset until it is reconnected.
LONG CardState(SCARDHANDLE card) {
    if (!KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    return Get().resetPending ? SCARD_W_RESET_CARD : SCARD_S_SUCCESS;
}

}  // namespace
}  // namespace fake_card

using fake_card::Get;

extern "C" {

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (Get().establishResult != SCARD_S_SUCCESS) {
        return Get().establishResult;
    }
    *context = 0x4242;
    ++Get().contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT) {
    --Get().contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG SCardConnect(SCARDCONTEXT, LPCSTR reader, DWORD shareMode, DWORD protocols, LPSCARDHANDLE card,
                  LPDWORD active) {
    auto& s = Get();
    if (s.connectResult != SCARD_S_SUCCESS) {
        return s.connectResult;
    }
    s.connectedReader = reader == nullptr ? "" : reader;
    s.shareMode = shareMode;
    s.protocols = protocols;
    ++s.cardsConnected;
    *card = fake_card::kHandle;
    *active = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
    if (!fake_card::KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    --Get().cardsConnected;
    Get().disconnects.push_back(disposition);
    return SCARD_S_SUCCESS;
}

LONG SCardReconnect(SCARDHANDLE card, DWORD, DWORD, DWORD initialization, LPDWORD active) {
    auto& s = Get();
    if (!fake_card::KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    s.reconnects.push_back(initialization);
    if (s.reconnectResult != SCARD_S_SUCCESS) {
        return s.reconnectResult;
    }
    s.resetPending = false;
    *active = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

LONG SCardStatus(SCARDHANDLE card, LPSTR names, LPDWORD namesLength, LPDWORD state,
                 LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    if (const LONG rv = fake_card::CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    const std::string& reader = Get().connectedReader;
    if (names != nullptr && *namesLength >= reader.size() + 2) {
        std::memcpy(names, reader.c_str(), reader.size() + 1);
        names[reader.size() + 1] = '\0';
    }
    *namesLength = static_cast<DWORD>(reader.size() + 2);
    *state = SCARD_SPECIFIC;
    *protocol = SCARD_PROTOCOL_T1;
    const BYTE answer[] = {0x3B, 0x80, 0x80, 0x01, 0x01};
    if (atr != nullptr && *atrLength >= sizeof answer) {
        std::memcpy(atr, answer, sizeof answer);
    }
    *atrLength = sizeof answer;
    return SCARD_S_SUCCESS;
}

LONG SCardBeginTransaction(SCARDHANDLE card) {
    if (const LONG rv = fake_card::CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    ++Get().transactionsOpen;
    ++Get().transactionsBegun;
    return SCARD_S_SUCCESS;
}

LONG SCardEndTransaction(SCARDHANDLE card, DWORD) {
    if (!fake_card::KnownCard(card) || Get().transactionsOpen == 0) {
        return SCARD_E_NOT_TRANSACTED;
    }
    --Get().transactionsOpen;
    return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST*, LPCBYTE command, DWORD length,
                   SCARD_IO_REQUEST*, LPBYTE response, LPDWORD responseLength) {
    auto& s = Get();
    if (const LONG rv = fake_card::CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    const std::string sent = fake_card::Hex(command, length);
    s.sent.push_back(sent);
    if (s.script.empty() || s.script.front().command != sent) {
        s.surprise = true;
        return SCARD_E_NOT_TRANSACTED;
    }
    const fake_card::Exchange step = s.script.front();
    s.script.pop_front();
    if (step.result != SCARD_S_SUCCESS) {
        return step.result;
    }
    DWORD n = 0;
    for (std::size_t i = 0; i + 1 < step.response.size() && n < *responseLength; i += 2) {
        response[n++] = static_cast<BYTE>(std::stoi(step.response.substr(i, 2), nullptr, 16));
    }
    *responseLength = n;
    return SCARD_S_SUCCESS;
}

}  // extern "C"
