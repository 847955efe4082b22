#include "fake_card_manager.h"

#include "carvix/support/hex.h"

#include <algorithm>

namespace fake {

// The handle reports another application's reset until it is reconnected.
LONG CardManager::CardState(SCARDHANDLE card) const {
    if (!KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    return resetPending ? SCARD_W_RESET_CARD : SCARD_S_SUCCESS;
}

LONG CardManager::Connect(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD preferred,
                          LPSCARDHANDLE card, LPDWORD activeProtocol) {
    if (!KnownContext(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (connectResult != SCARD_S_SUCCESS) {
        return connectResult;
    }
    Connected(reader == nullptr ? "" : reader);
    shareMode = share;
    protocols = preferred;
    *card = kHandle;
    *activeProtocol = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

LONG CardManager::Reconnect(SCARDHANDLE card, DWORD, DWORD, DWORD initialization,
                            LPDWORD activeProtocol) {
    if (!KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    reconnects.push_back(initialization);
    if (reconnectResult != SCARD_S_SUCCESS) {
        return reconnectResult;
    }
    resetPending = false;
    *activeProtocol = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

LONG CardManager::Disconnect(SCARDHANDLE card, DWORD disposition) {
    if (!KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    Disconnected(disposition);
    return SCARD_S_SUCCESS;
}

LONG CardManager::BeginTransaction(SCARDHANDLE card) {
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    Began();
    return SCARD_S_SUCCESS;
}

LONG CardManager::EndTransaction(SCARDHANDLE card, DWORD) {
    return KnownCard(card) ? Ended() : SCARD_E_NOT_TRANSACTED;
}

// Reports the one reader and a fixed answer to reset.
LONG CardManager::Status(SCARDHANDLE card, LPSTR names, LPDWORD namesLength, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    static constexpr BYTE kAnswer[] = {0x3B, 0x80, 0x80, 0x01, 0x01};
    return AnswerStatus(OneReader(connected.back()), kAnswer, SCARD_PROTOCOL_T1, names, namesLength,
                        state, protocol, atr, atrLength);
}

LONG CardManager::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST*, LPCBYTE command, DWORD length,
                           SCARD_IO_REQUEST*, LPBYTE response, LPDWORD responseLength) {
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    const std::string hex = Record(command, length);
    if (script.empty() || script.front().command != hex) {
        surprise = true;
        return SCARD_E_NOT_TRANSACTED;
    }
    const Exchange step = script.front();
    script.pop_front();
    if (step.result != SCARD_S_SUCCESS) {
        return step.result;
    }
    const Orvel::HexText answer =
        Orvel::ParseHex(step.response, {}, Orvel::HexSeparators::BetweenBytes);
    if (answer.fault != Orvel::HexFault::None) {
        surprise = true;  // the script itself is wrong
        return SCARD_F_INTERNAL_ERROR;
    }
    if (answer.bytes.size() > *responseLength) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(answer.bytes.begin(), answer.bytes.end(), response);
    *responseLength = static_cast<DWORD>(answer.bytes.size());
    return SCARD_S_SUCCESS;
}

}  // namespace fake
