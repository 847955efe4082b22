#include "carvix/support/pcsc_api.h"

#include <atomic>

namespace Orvel::PCSC {
namespace {

// Forwards each call to pcsc-lite.
class ClientLibrary final : public PcscApi {
  public:
    LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context) override {
        return SCardEstablishContext(scope, nullptr, nullptr, context);
    }
    LONG ReleaseContext(SCARDCONTEXT context) override { return SCardReleaseContext(context); }
    LONG ListReaders(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) override {
        return SCardListReaders(context, groups, readers, length);
    }
    LONG FreeMemory(SCARDCONTEXT context, LPCVOID memory) override {
        return SCardFreeMemory(context, memory);
    }
    LONG Connect(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD preferredProtocols,
                 LPSCARDHANDLE card, LPDWORD activeProtocol) override {
        return SCardConnect(context, reader, shareMode, preferredProtocols, card, activeProtocol);
    }
    LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols,
                   DWORD initialization, LPDWORD activeProtocol) override {
        return SCardReconnect(card, shareMode, preferredProtocols, initialization, activeProtocol);
    }
    LONG Disconnect(SCARDHANDLE card, DWORD disposition) override {
        return SCardDisconnect(card, disposition);
    }
    LONG BeginTransaction(SCARDHANDLE card) override { return SCardBeginTransaction(card); }
    LONG EndTransaction(SCARDHANDLE card, DWORD disposition) override {
        return SCardEndTransaction(card, disposition);
    }
    LONG Status(SCARDHANDLE card, LPSTR readerNames, LPDWORD readerNamesLength, LPDWORD state,
                LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) override {
        return SCardStatus(card, readerNames, readerNamesLength, state, protocol, atr, atrLength);
    }
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                  SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength) override {
        return SCardTransmit(card, sendPci, send, sendLength, receivePci, receive, receiveLength);
    }
    LONG Control(SCARDHANDLE card, DWORD controlCode, LPCVOID input, DWORD inputLength,
                 LPVOID output, DWORD outputLength, LPDWORD returned) override {
        return SCardControl(card, controlCode, input, inputLength, output, outputLength, returned);
    }
    LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE* states,
                         DWORD count) override {
        return SCardGetStatusChange(context, timeout, states, count);
    }
};

ClientLibrary& Library() noexcept {
    static ClientLibrary library;
    return library;
}

std::atomic<PcscApi*>& Installed() noexcept {
    static std::atomic<PcscApi*> installed{nullptr};
    return installed;
}

}  // namespace

PcscApi& Api() noexcept {
    PcscApi* api = Installed().load(std::memory_order_acquire);
    return api != nullptr ? *api : Library();
}

bool UsingClientLibrary() noexcept {
    return Installed().load(std::memory_order_acquire) == nullptr;
}

ScopedPcscApi::ScopedPcscApi(PcscApi& api) noexcept
    : previous_(Installed().exchange(&api, std::memory_order_acq_rel)) {}

ScopedPcscApi::~ScopedPcscApi() noexcept {
    Installed().store(previous_, std::memory_order_release);
}

}  // namespace Orvel::PCSC
