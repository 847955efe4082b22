#include "fake_card_manager.h"

#include "carvix/support/hex.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace fake {

bool CardManager::KnownContext(SCARDCONTEXT context) const {
    return context == kContext && contextsOpen > 0;
}

bool CardManager::KnownCard(SCARDHANDLE card) const {
    return card == kHandle && cardsConnected > 0;
}

// The handle reports another application's reset until it is reconnected.
LONG CardManager::CardState(SCARDHANDLE card) const {
    if (!KnownCard(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    return resetPending ? SCARD_W_RESET_CARD : SCARD_S_SUCCESS;
}

// Reader listing and reader control are no part of one card connection: a call to them is
// as unexpected as a command the script does not hold.
LONG CardManager::Unsupported() {
    surprise = true;
    return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG CardManager::EstablishContext(DWORD, LPSCARDCONTEXT context) {
    if (establishResult != SCARD_S_SUCCESS) {
        return establishResult;
    }
    *context = kContext;
    ++contextsOpen;
    return SCARD_S_SUCCESS;
}

// A second release is counted too, so that it shows as a negative count of open contexts.
LONG CardManager::ReleaseContext(SCARDCONTEXT context) {
    const bool known = KnownContext(context);
    --contextsOpen;
    return known ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG CardManager::ListReaders(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD) {
    return Unsupported();
}

LONG CardManager::FreeMemory(SCARDCONTEXT, LPCVOID) {
    return Unsupported();
}

LONG CardManager::Connect(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD preferred,
                          LPSCARDHANDLE card, LPDWORD activeProtocol) {
    if (!KnownContext(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (connectResult != SCARD_S_SUCCESS) {
        return connectResult;
    }
    connectedReader = reader == nullptr ? "" : reader;
    shareMode = share;
    protocols = preferred;
    ++cardsConnected;
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
    --cardsConnected;
    disconnects.push_back(disposition);
    return SCARD_S_SUCCESS;
}

LONG CardManager::BeginTransaction(SCARDHANDLE card) {
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    ++transactionsOpen;
    ++transactionsBegun;
    return SCARD_S_SUCCESS;
}

LONG CardManager::EndTransaction(SCARDHANDLE card, DWORD) {
    if (!KnownCard(card) || transactionsOpen == 0) {
        return SCARD_E_NOT_TRANSACTED;
    }
    --transactionsOpen;
    return SCARD_S_SUCCESS;
}

// Reports the one reader (as a multi-string) and a fixed answer to reset; a buffer too
// small for either is refused as pcsc-lite refuses it.
LONG CardManager::Status(SCARDHANDLE card, LPSTR names, LPDWORD namesLength, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    static constexpr BYTE kAnswer[] = {0x3B, 0x80, 0x80, 0x01, 0x01};
    const auto namesNeeded = static_cast<DWORD>(connectedReader.size() + 2);
    if ((names != nullptr && *namesLength < namesNeeded) ||
        (atr != nullptr && *atrLength < sizeof kAnswer)) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (names != nullptr) {
        std::memcpy(names, connectedReader.c_str(), connectedReader.size() + 1);
        names[connectedReader.size() + 1] = '\0';
    }
    *namesLength = namesNeeded;
    *state = SCARD_SPECIFIC;
    *protocol = SCARD_PROTOCOL_T1;
    if (atr != nullptr) {
        std::memcpy(atr, kAnswer, sizeof kAnswer);
    }
    *atrLength = sizeof kAnswer;
    return SCARD_S_SUCCESS;
}

LONG CardManager::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST*, LPCBYTE command, DWORD length,
                           SCARD_IO_REQUEST*, LPBYTE response, LPDWORD responseLength) {
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    const std::string hex = Orvel::ToHex(std::span<const BYTE>(command, length));
    sent.push_back(hex);
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

LONG CardManager::Control(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID, DWORD, LPDWORD) {
    return Unsupported();
}

LONG CardManager::GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD) {
    return Unsupported();
}

}  // namespace fake
