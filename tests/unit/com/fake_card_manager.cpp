#include "fake_card_manager.h"

#include "carvix/support/hex.h"

#include <algorithm>

namespace fake {

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
    if (!Holds(card)) {
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

std::span<const BYTE> CardManager::AtrOf(SCARDHANDLE) const {
    static constexpr BYTE kAnswer[] = {0x3B, 0x80, 0x80, 0x01, 0x01};
    return kAnswer;
}

LONG CardManager::Answer(SCARDHANDLE, const std::string& hex, LPBYTE response,
                         LPDWORD responseLength) {
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
