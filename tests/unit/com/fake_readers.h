// A resource manager with several readers, each empty or holding a T=1 card that answers
// SELECT for the applets it carries (9000) and 6A82 for the others. Waits for a change apply
// the next queued change (a card inserted, a reader plugged in) or time out, so a test plays a
// user at the readers.
#pragma once

#include "fake_resource_manager.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fake {

class Readers final : public ResourceManager {
  public:
    struct Card {
        bool vl = false;
        bool zk = false;
        bool removedDuringCheck = false;  // taken out at its first command
        std::vector<BYTE> atr{0x3B, 0x80, 0x80, 0x01, 0x01};
    };
    struct Reader {
        std::string name;
        std::optional<Card> card;
        DWORD events = 0;  // cards inserted or removed so far
    };

    Readers() : ResourceManager(0x77) {}

    void Add(std::string name, std::optional<Card> card = std::nullopt) {
        readers.push_back({std::move(name), std::move(card), 0});
    }
    /// Puts `card` into reader `index` (or takes it out with nullopt).
    void Insert(std::size_t index, std::optional<Card> card) {
        readers[index].card = std::move(card);
        ++readers[index].events;
    }

    // What the test sets.
    std::vector<Reader> readers;
    std::deque<std::function<void(Readers&)>> changes;  // one per wait that finds none
    LONG waitResult = SCARD_S_SUCCESS;  // returned by waits instead of their outcome

    // What the code under test did.
    int waits = 0;

    LONG ListReaders(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) override;
    LONG Connect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD preferredProtocols,
                 LPSCARDHANDLE card, LPDWORD activeProtocol) override;
    /// A card marked removedDuringCheck is taken out here, at its first command.
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                  SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength) override;
    LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                         DWORD count) override;

  private:
    // The reader behind a handle (handles are reader index + 1), or null.
    const Reader* Holder(SCARDHANDLE card) const;
    bool Holds(SCARDHANDLE card) const override { return Holder(card) != nullptr; }
    LONG CardState(SCARDHANDLE card) const override {
        return Holder(card)->card ? SCARD_S_SUCCESS : SCARD_W_REMOVED_CARD;
    }
    std::string ReaderOf(SCARDHANDLE card) const override { return Holder(card)->name; }
    std::span<const BYTE> AtrOf(SCARDHANDLE card) const override { return Holder(card)->card->atr; }
    /// 9000 to the SELECT of an applet the card carries, 6A82 to anything else.
    LONG Answer(SCARDHANDLE card, const std::string& command, LPBYTE response,
                LPDWORD responseLength) override;
    // Fills the event states; true when any differs from what the caller knew.
    bool Observe(SCARD_READERSTATE* states, DWORD count) const;
};

}  // namespace fake
