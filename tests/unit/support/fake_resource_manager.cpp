#include "fake_resource_manager.h"

#include "carvix/support/hex.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace fake {

LONG ResourceManager::EstablishContext(DWORD s, LPSCARDCONTEXT context) {
    scope = s;
    if (establishResult != SCARD_S_SUCCESS) {
        return establishResult;
    }
    *context = context_;
    ++contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG ResourceManager::ReleaseContext(SCARDCONTEXT context) {
    const bool known = KnownContext(context);
    --contextsOpen;
    return known ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

// Memory this fake never handed out is not freed but refused as an unsupported call.
LONG ResourceManager::FreeMemory(SCARDCONTEXT, LPCVOID memory) {
    const auto it = std::find(handedOut_.begin(), handedOut_.end(), memory);
    if (it == handedOut_.end()) {
        return Unsupported();
    }
    handedOut_.erase(it);
    std::free(const_cast<void*>(memory));
    --buffersOut;
    return SCARD_S_SUCCESS;
}

LONG ResourceManager::Disconnect(SCARDHANDLE card, DWORD disposition) {
    if (!Holds(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    Disconnected(disposition);
    return SCARD_S_SUCCESS;
}

LONG ResourceManager::BeginTransaction(SCARDHANDLE card) {
    if (!Holds(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    Began();
    return SCARD_S_SUCCESS;
}

LONG ResourceManager::EndTransaction(SCARDHANDLE card, DWORD) {
    if (!Holds(card) || Ended() != SCARD_S_SUCCESS) {
        return SCARD_E_NOT_TRANSACTED;
    }
    const LONG state = CardState(card);
    return state == SCARD_W_REMOVED_CARD ? state : SCARD_S_SUCCESS;
}

LONG ResourceManager::Status(SCARDHANDLE card, LPSTR names, LPDWORD namesLength, LPDWORD state,
                             LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    if (!Holds(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    return AnswerStatus(OneReader(ReaderOf(card)), AtrOf(card), SCARD_PROTOCOL_T1, names,
                        namesLength, state, protocol, atr, atrLength);
}

LONG ResourceManager::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST*, LPCBYTE send,
                               DWORD sendLength, SCARD_IO_REQUEST*, LPBYTE receive,
                               LPDWORD receiveLength) {
    if (!Holds(card)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (const LONG rv = CardState(card); rv != SCARD_S_SUCCESS) {
        return rv;
    }
    return Answer(card, Record(send, sendLength), receive, receiveLength);
}

LONG ResourceManager::HandOut(const std::string& list, LPSTR out, LPDWORD length) {
    if (length == nullptr) {
        return SCARD_E_INVALID_PARAMETER;
    }
    const auto size = static_cast<DWORD>(list.size());
    if (*length == SCARD_AUTOALLOCATE && out != nullptr) {
        char* buffer = static_cast<char*>(std::malloc(std::max<std::size_t>(list.size(), 1)));
        std::memcpy(buffer, list.data(), list.size());
        *reinterpret_cast<char**>(out) = buffer;
        *length = size;
        handedOut_.push_back(buffer);
        ++buffersOut;
        return SCARD_S_SUCCESS;
    }
    if (out != nullptr && *length < size) {
        *length = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (out != nullptr) {
        std::memcpy(out, list.data(), list.size());
    }
    *length = size;
    return SCARD_S_SUCCESS;
}

std::string ResourceManager::Record(LPCBYTE command, DWORD length) {
    sent.push_back(Orvel::ToHex(std::span<const BYTE>(command, length)));
    return sent.back();
}

void ResourceManager::Connected(const std::string& reader) {
    connected.push_back(reader);
    ++cardsConnected;
}

void ResourceManager::Disconnected(DWORD disposition) {
    --cardsConnected;
    disconnects.push_back(disposition);
}

void ResourceManager::Began() {
    ++transactionsOpen;
    ++transactionsBegun;
}

LONG ResourceManager::Ended() {
    if (transactionsOpen == 0) {
        return SCARD_E_NOT_TRANSACTED;
    }
    --transactionsOpen;
    return SCARD_S_SUCCESS;
}

LONG ResourceManager::AnswerStatus(const std::string& names, std::span<const BYTE> atr,
                                   DWORD protocol, LPSTR namesOut, LPDWORD namesLength,
                                   LPDWORD state, LPDWORD protocolOut, LPBYTE atrOut,
                                   LPDWORD atrLength) {
    const auto namesNeeded = static_cast<DWORD>(names.size());
    const auto atrNeeded = static_cast<DWORD>(atr.size());
    const bool namesFit = namesOut == nullptr || *namesLength >= namesNeeded;
    const bool atrFits = atrOut == nullptr || *atrLength >= atrNeeded;
    *namesLength = namesNeeded;
    *atrLength = atrNeeded;
    if (!namesFit || !atrFits) {
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (namesOut != nullptr) {
        std::memcpy(namesOut, names.data(), names.size());
    }
    if (atrOut != nullptr) {
        std::memcpy(atrOut, atr.data(), atr.size());
    }
    *state = SCARD_SPECIFIC;
    *protocolOut = protocol;
    return SCARD_S_SUCCESS;
}

std::string OneReader(const std::string& name) {
    return name + std::string(2, '\0');
}

}  // namespace fake
