// What every in-memory resource manager of the unit tests shares: it installs itself as the
// PC/SC client calls for the life of the object, keeps the books a test reads back (contexts,
// connections, transactions, lists handed out, commands sent) and answers the calls whose
// layout the client library fixes (reader lists, SCardStatus) the way the library does.
// A fake overrides only the calls it models; any other call is refused through
// Unsupported(), which a fake may override to flag it.
#pragma once

#include "carvix/support/pcsc_api.h"

#include <PCSC/winscard.h>

#include <span>
#include <string>
#include <vector>

namespace fake {

class ResourceManager : public Orvel::PCSC::PcscApi {
  public:
    ResourceManager(const ResourceManager&) = delete;
    ResourceManager& operator=(const ResourceManager&) = delete;

    // What the test sets.
    LONG establishResult = SCARD_S_SUCCESS;

    // What the code under test did.
    DWORD scope = 99;      // of the last SCardEstablishContext
    int contextsOpen = 0;  // a second release shows as a negative count
    int cardsConnected = 0;
    int transactionsOpen = 0;
    int transactionsBegun = 0;
    int buffersOut = 0;                  // reader lists handed out and not freed
    std::vector<std::string> connected;  // readers connected, in order
    std::vector<std::string> sent;       // commands, upper-case hex without spaces
    std::vector<DWORD> disconnects;      // the dispositions, in order

    /// Opens the context given at construction unless `establishResult` is a failure.
    LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context) override;
    /// Counts the release whether or not the context is open, and says which it was.
    LONG ReleaseContext(SCARDCONTEXT context) override;
    /// Frees a list that HandOut gave.
    LONG FreeMemory(SCARDCONTEXT context, LPCVOID memory) override;

    // The calls on a connected card, in terms of the hooks below: an unknown handle is
    // refused, a card that cannot be used answers with CardState's code, and a command is
    // recorded in `sent` before the card answers it.
    LONG Disconnect(SCARDHANDLE card, DWORD disposition) override;
    LONG BeginTransaction(SCARDHANDLE card) override;
    /// Ends the transaction; a card taken out meanwhile is reported, a reset is not.
    LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override;
    LONG Status(SCARDHANDLE card, LPSTR readerNames, LPDWORD readerNamesLength, LPDWORD state,
                LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) override;
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                  SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength) override;

    // Not modelled unless a fake overrides them.
    LONG ListReaders(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD) override { return Unsupported(); }
    LONG Connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE, LPDWORD) override {
        return Unsupported();
    }
    LONG Reconnect(SCARDHANDLE, DWORD, DWORD, DWORD, LPDWORD) override { return Unsupported(); }
    LONG Control(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID, DWORD, LPDWORD) override {
        return Unsupported();
    }
    LONG GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD) override {
        return Unsupported();
    }

  protected:
    /// `context` is the handle EstablishContext gives out.
    explicit ResourceManager(SCARDCONTEXT context) : context_(context), scope_(*this) {}

    /// The answer to a call the fake does not model.
    virtual LONG Unsupported() { return SCARD_E_UNSUPPORTED_FEATURE; }

    // The card behind a handle, for the calls on a connected card.
    /// Whether `card` is a handle this fake gave out and that is still connected.
    virtual bool Holds(SCARDHANDLE) const { return false; }
    /// SCARD_S_SUCCESS while the card behind a held handle can be used, else what a call on
    /// it returns (the card removed or reset).
    virtual LONG CardState(SCARDHANDLE) const { return SCARD_S_SUCCESS; }
    /// The reader SCardStatus names for the card.
    virtual std::string ReaderOf(SCARDHANDLE) const { return {}; }
    /// The card's answer to reset.
    virtual std::span<const BYTE> AtrOf(SCARDHANDLE) const { return {}; }
    /// The card's answer to `command` (upper-case hex, already in `sent`).
    virtual LONG Answer(SCARDHANDLE, const std::string&, LPBYTE, LPDWORD) { return Unsupported(); }

    bool KnownContext(SCARDCONTEXT context) const {
        return context == context_ && contextsOpen > 0;
    }

    /// Hands out `list` (a multi-string, final NULs as given) in any of the library's three
    /// ways: its own allocation (SCARD_AUTOALLOCATE), the size alone (null buffer), or a copy
    /// into the caller's buffer. An allocation is exactly `list`'s size, so a reader past the
    /// length handed back is caught.
    LONG HandOut(const std::string& list, LPSTR out, LPDWORD length);

    /// Appends the command to `sent` and returns its hex.
    std::string Record(LPCBYTE command, DWORD length);

    /// Records a new connection to `reader`.
    void Connected(const std::string& reader);
    /// Records the end of a connection.
    void Disconnected(DWORD disposition);
    /// Begins a transaction.
    void Began();
    /// Ends the innermost transaction; SCARD_E_NOT_TRANSACTED when none is open.
    LONG Ended();

    /// Answers SCardStatus for a card with `atr` in the reader(s) `names` (a multi-string with
    /// its final NULs): a null buffer asks for the size; one too small is refused with
    /// SCARD_E_INSUFFICIENT_BUFFER and the size needed.
    static LONG AnswerStatus(const std::string& names, std::span<const BYTE> atr, DWORD protocol,
                             LPSTR namesOut, LPDWORD namesLength, LPDWORD state,
                             LPDWORD protocolOut, LPBYTE atrOut, LPDWORD atrLength);

  private:
    SCARDCONTEXT context_;
    std::vector<const void*> handedOut_;
    Orvel::PCSC::ScopedPcscApi scope_;
};

/// A reader's name as the one-name multi-string SCardStatus reports.
std::string OneReader(const std::string& name);

}  // namespace fake
