// The table of PC/SC client calls the middleware makes. Every SCard* call goes through the
// PcscApi that Api() returns: normally the client library itself; a test installs its own
// implementation for the life of a ScopedPcscApi and sees exactly the calls its code makes.
#pragma once

#include <PCSC/winscard.h>

namespace Orvel::PCSC {

/// One member per SCard* function, with the library's parameters (the reserved ones of
/// SCardEstablishContext left out). Implementations return the library's codes unjudged;
/// detail::Check in pcsc_call.h judges them.
class PcscApi {
  public:
    virtual ~PcscApi() = default;

    virtual LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context) = 0;
    virtual LONG ReleaseContext(SCARDCONTEXT context) = 0;
    virtual LONG ListReaders(SCARDCONTEXT context, LPCSTR groups, LPSTR readers,
                             LPDWORD length) = 0;
    virtual LONG FreeMemory(SCARDCONTEXT context, LPCVOID memory) = 0;
    virtual LONG Connect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode,
                         DWORD preferredProtocols, LPSCARDHANDLE card, LPDWORD activeProtocol) = 0;
    virtual LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols,
                           DWORD initialization, LPDWORD activeProtocol) = 0;
    virtual LONG Disconnect(SCARDHANDLE card, DWORD disposition) = 0;
    virtual LONG BeginTransaction(SCARDHANDLE card) = 0;
    virtual LONG EndTransaction(SCARDHANDLE card, DWORD disposition) = 0;
    virtual LONG Status(SCARDHANDLE card, LPSTR readerNames, LPDWORD readerNamesLength,
                        LPDWORD state, LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) = 0;
    virtual LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send,
                          DWORD sendLength, SCARD_IO_REQUEST* receivePci, LPBYTE receive,
                          LPDWORD receiveLength) = 0;
    virtual LONG Control(SCARDHANDLE card, DWORD controlCode, LPCVOID input, DWORD inputLength,
                         LPVOID output, DWORD outputLength, LPDWORD returned) = 0;
    /// Waits up to `timeout` milliseconds for a reader's state to differ from the
    /// dwCurrentState the caller gave; the pseudo-reader `\\?PnP?\Notification` reports
    /// readers added or removed.
    virtual LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                                 DWORD count) = 0;
};

/// The implementation in force: the innermost ScopedPcscApi's, else the client library.
PcscApi& Api() noexcept;

/// Whether Api() is pcsc-lite itself (no substitute installed).
bool UsingClientLibrary() noexcept;

/// Installs `api` for its own lifetime and restores the one before it on destruction.
/// Scopes nest; they are meant for tests and must end in the reverse order of their start.
class ScopedPcscApi {
  public:
    explicit ScopedPcscApi(PcscApi& api) noexcept;
    ~ScopedPcscApi() noexcept;
    ScopedPcscApi(const ScopedPcscApi&) = delete;
    ScopedPcscApi& operator=(const ScopedPcscApi&) = delete;

  private:
    PcscApi* previous_;
};

}  // namespace Orvel::PCSC
