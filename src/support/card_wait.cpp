#include "carvix/support/card_wait.h"

#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/text.h"
#include "carvix/support/trace.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace Orvel::PCSC {
namespace {

constexpr std::uint32_t kSharingViolation = 0x8010000Bu;  // SCARD_E_SHARING_VIOLATION

std::atomic<CardWaitLimitSource> limitSource{nullptr};
std::atomic<std::size_t> pendingProbes{0};

// Readers whose probe outlived its caller's limit and still waits: the card is still held, so
// a new wait on it fails at once instead of leaving one more thread behind.
std::mutex& AbandonedLock() {
    static std::mutex lock;
    return lock;
}
std::multiset<std::string>& AbandonedReaders() {
    static std::multiset<std::string> readers;
    return readers;
}

bool Abandoned(const std::string& reader) {
    std::lock_guard guard(AbandonedLock());
    return AbandonedReaders().count(reader) != 0;
}

std::uint32_t Code(LONG rv) {
    return static_cast<std::uint32_t>(rv);
}

// A context for one question about a reader's state, released after it.
class StatusContext {
  public:
    StatusContext() noexcept {
        established_ = Code(Api().EstablishContext(kScopeUser, &handle_)) == kSuccess;
    }
    ~StatusContext() {
        if (established_) {
            Api().ReleaseContext(handle_);
        }
    }
    StatusContext(const StatusContext&) = delete;
    StatusContext& operator=(const StatusContext&) = delete;
    bool Established() const noexcept { return established_; }
    SCARDCONTEXT Handle() const noexcept { return handle_; }

  private:
    SCARDCONTEXT handle_ = 0;
    bool established_ = false;
};

// What the probe thread and the waiting caller share.
struct Probe {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;  // the caller gave up waiting
};

// Connects to the card on a context of its own and lets go at once. The connect returns as
// soon as no other program holds the card in a transaction (or refuses at once when it is
// held exclusively), which is what the caller waits for.
void RunProbe(const std::shared_ptr<Probe>& probe, const std::string& reader) {
    SCARDCONTEXT context = 0;
    if (Code(Api().EstablishContext(kScopeUser, &context)) == kSuccess) {
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        if (Code(Api().Connect(context, reader.c_str(), kShareShared, kProtocolT0OrT1, &card,
                               &protocol)) == kSuccess) {
            Api().Disconnect(card, kLeaveCard);
        }
        Api().ReleaseContext(context);
    }
    std::lock_guard guard(probe->lock);
    probe->done = true;
    if (probe->abandoned) {
        std::lock_guard abandoned(AbandonedLock());
        AbandonedReaders().erase(AbandonedReaders().find(reader));
    }
    probe->finished.notify_all();
}

void ProbeUntil(const std::string& reader, std::chrono::steady_clock::time_point deadline,
                std::chrono::milliseconds limit) {
    if (Abandoned(reader)) {
        throw CardInUseException("SCardConnect", reader, limit);
    }
    auto probe = std::make_shared<Probe>();
    ++pendingProbes;
    try {
        std::thread([probe, reader] {
            RunProbe(probe, reader);
            --pendingProbes;
        }).detach();
    } catch (...) {
        // No thread to be had: connect without a bound, as before.
        --pendingProbes;
        return;
    }
    std::unique_lock wait(probe->lock);
    if (!probe->finished.wait_until(wait, deadline, [&] { return probe->done; })) {
        probe->abandoned = true;
        {
            std::lock_guard abandoned(AbandonedLock());
            AbandonedReaders().insert(reader);
        }
        if (TraceEnabled()) {
            Trace(TraceLevel::Warning,
                  u"The card in " + Utf8ToUtf16(reader) + u" stayed held by another program");
        }
        throw CardInUseException("SCardConnect", reader, limit);
    }
}

std::u16string InUseText(const std::string& reader, std::chrono::milliseconds waited) {
    const long long tenths = (waited.count() + 50) / 100;
    std::string seconds = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        seconds += "." + std::to_string(tenths % 10);
    }
    return Utf8ToUtf16("The card in reader \"" + reader +
                       "\" is in use by another program, which did not let it go within " +
                       seconds +
                       " s. Close the program that holds the card (for example a signing tool "
                       "or GnuPG's scdaemon) and try again.");
}

}  // namespace

void SetCardWaitLimitSource(CardWaitLimitSource source) noexcept {
    limitSource.store(source);
}

std::chrono::milliseconds CardWaitLimit() noexcept {
    const CardWaitLimitSource source = limitSource.load();
    return std::chrono::milliseconds(source != nullptr ? source() : kDefaultCardWaitMilliseconds);
}

CardInUseException::CardInUseException(const char* operationName, const std::string& reader,
                                       std::chrono::milliseconds waited)
    : PCSCWin32Exception(operationName, kSharingViolation, InUseText(reader, waited)) {}

CardInUseException::~CardInUseException() = default;

void WaitForFreeCard(SCARDCONTEXT, const std::string& reader) {
    if (!UsingClientLibrary()) {
        return;  // a substitute (the unit tests' in-memory cards) never blocks
    }
    // The reader's state is asked on a context of its own, never on the caller's: pcsc-lite
    // registers a context for reader events during SCardGetStatusChange, and an event that
    // crosses the unregistration leaves a stray message that the context's next call would
    // read as its answer. On a context used once and released, nobody reads it.
    StatusContext status;
    if (!status.Established()) {
        return;  // the connect that follows will report why
    }
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    if (Code(Api().GetStatusChange(status.Handle(), 0, &state, 1)) != kSuccess ||
        (state.dwEventState & (SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE)) == 0) {
        return;  // nobody else is connected (or the connect will say what is wrong)
    }
    const std::chrono::milliseconds limit = CardWaitLimit();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Held exclusively: every connect is refused until the holder lets go; wait for that.
    while ((state.dwEventState & SCARD_STATE_EXCLUSIVE) != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw CardInUseException("SCardConnect", reader, limit);
        }
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        const std::uint32_t rv = Code(
            Api().GetStatusChange(status.Handle(), static_cast<DWORD>(left.count()), &state, 1));
        if (rv == kTimeout) {
            throw CardInUseException("SCardConnect", reader, limit);
        }
        if (rv != kSuccess) {
            return;
        }
    }
    if ((state.dwEventState & SCARD_STATE_INUSE) != 0) {
        ProbeUntil(reader, deadline, limit);
    }
}

void WaitForFreeCard(const std::string& reader) {
    if (!UsingClientLibrary()) {
        return;
    }
    const std::chrono::milliseconds limit = CardWaitLimit();
    ProbeUntil(reader, std::chrono::steady_clock::now() + limit, limit);
}

std::size_t PendingCardProbes() noexcept {
    return pendingProbes.load();
}

}  // namespace Orvel::PCSC
