#include "fake_readers.h"

#include "carvix/card/applet_command_set.h"
#include "carvix/support/hex.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace fake {
namespace {

// SELECT by name of `application`'s AID, as the card link sends it.
std::string SelectOf(std::uint16_t application) {
    const auto& aid = AppletCommandSet::For(application).Aid();
    std::vector<BYTE> command{0x00, 0xA4, 0x04, 0x00, static_cast<BYTE>(aid.size())};
    command.insert(command.end(), aid.begin(), aid.end());
    command.push_back(0x00);
    return Orvel::ToHex(std::span<const BYTE>(command));
}

}  // namespace

const Readers::Reader* Readers::Holder(SCARDHANDLE card) const {
    if (card <= 0 || static_cast<std::size_t>(card) > readers.size() || cardsConnected == 0) {
        return nullptr;
    }
    return &readers[static_cast<std::size_t>(card) - 1];
}

LONG Readers::ListReaders(SCARDCONTEXT, LPCSTR, LPSTR out, LPDWORD length) {
    if (readers.empty()) {
        return SCARD_E_NO_READERS_AVAILABLE;
    }
    std::string list;
    for (const Reader& r : readers) {
        list += r.name;
        list.push_back('\0');
    }
    list.push_back('\0');
    return HandOut(list, out, length);
}

LONG Readers::Connect(SCARDCONTEXT, LPCSTR reader, DWORD, DWORD, LPSCARDHANDLE card,
                      LPDWORD activeProtocol) {
    const auto it = std::find_if(readers.begin(), readers.end(),
                                 [&](const Reader& r) { return r.name == reader; });
    if (it == readers.end()) {
        return SCARD_E_UNKNOWN_READER;
    }
    if (!it->card) {
        return SCARD_E_NO_SMARTCARD;
    }
    Connected(reader);
    *card = static_cast<SCARDHANDLE>(it - readers.begin() + 1);
    *activeProtocol = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

LONG Readers::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send,
                       DWORD sendLength, SCARD_IO_REQUEST* receivePci, LPBYTE receive,
                       LPDWORD receiveLength) {
    if (Holds(card)) {
        Reader& r = readers[static_cast<std::size_t>(card) - 1];
        if (r.card && r.card->removedDuringCheck) {
            r.card.reset();
            ++r.events;
        }
    }
    return ResourceManager::Transmit(card, sendPci, send, sendLength, receivePci, receive,
                                     receiveLength);
}

LONG Readers::Answer(SCARDHANDLE card, const std::string& hex, LPBYTE response,
                     LPDWORD responseLength) {
    const Card& c = *Holder(card)->card;
    const bool selected = (hex == SelectOf(1) && c.vl) || (hex == SelectOf(5) && c.zk);
    response[0] = selected ? 0x90 : 0x6A;
    response[1] = selected ? 0x00 : 0x82;
    *responseLength = 2;
    return SCARD_S_SUCCESS;
}

bool Readers::Observe(SCARD_READERSTATE* states, DWORD count) const {
    bool changed = false;
    for (DWORD i = 0; i < count; ++i) {
        SCARD_READERSTATE& s = states[i];
        const std::string name = s.szReader;
        DWORD event = 0;
        s.cbAtr = 0;
        if (name == "\\\\?PnP?\\Notification") {
            event = static_cast<DWORD>(readers.size()) << 16;
        } else {
            const auto it = std::find_if(readers.begin(), readers.end(),
                                         [&](const Reader& r) { return r.name == name; });
            if (it == readers.end()) {
                event = SCARD_STATE_UNKNOWN | SCARD_STATE_UNAVAILABLE;
            } else if (it->card) {
                event = SCARD_STATE_PRESENT | (it->events << 16);
                std::memcpy(s.rgbAtr, it->card->atr.data(), it->card->atr.size());
                s.cbAtr = static_cast<DWORD>(it->card->atr.size());
            } else {
                event = SCARD_STATE_EMPTY | (it->events << 16);
            }
        }
        const bool pnp = name == "\\\\?PnP?\\Notification";
        // The pseudo-reader compares reader counts; a reader compares everything.
        const bool differs = pnp ? (s.dwCurrentState >> 16) != readers.size()
                                 : s.dwCurrentState == SCARD_STATE_UNAWARE ||
                                       (s.dwCurrentState & ~SCARD_STATE_CHANGED) != event;
        s.dwEventState = event | (differs ? SCARD_STATE_CHANGED : 0);
        changed = changed || differs;
    }
    return changed;
}

LONG Readers::GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                              DWORD count) {
    if (!KnownContext(context)) {
        return SCARD_E_INVALID_HANDLE;
    }
    if (timeout != 0) {
        ++waits;
        if (waitResult != SCARD_S_SUCCESS) {
            return waitResult;
        }
    }
    if (Observe(states, count)) {
        return SCARD_S_SUCCESS;
    }
    if (timeout == 0 || changes.empty()) {
        return SCARD_E_TIMEOUT;
    }
    const auto change = changes.front();
    changes.pop_front();
    change(*this);
    return Observe(states, count) ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
}

}  // namespace fake
