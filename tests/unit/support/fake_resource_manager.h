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

    // Not modelled unless a fake overrides them.
    LONG ListReaders(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD) override { return Unsupported(); }
    LONG Connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE, LPDWORD) override {
        return Unsupported();
    }
    LONG Reconnect(SCARDHANDLE, DWORD, DWORD, DWORD, LPDWORD) override { return Unsupported(); }
    LONG Disconnect(SCARDHANDLE, DWORD) override { return Unsupported(); }
    LONG BeginTransaction(SCARDHANDLE) override { return Unsupported(); }
    LONG EndTransaction(SCARDHANDLE, DWORD) override { return Unsupported(); }
    LONG Status(SCARDHANDLE, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) override {
        return Unsupported();
    }
    LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE,
                  LPDWORD) override {
        return Unsupported();
    }
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
