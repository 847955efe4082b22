#include "carvix/support/card_wait.h"

#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/text.h"
#include "carvix/support/trace.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace Orvel::PCSC {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSharingViolation = 0x8010000Bu;  // SCARD_E_SHARING_VIOLATION
// How often a connect refused by an exclusive holder is tried again.
constexpr auto kRetryPause = std::chrono::milliseconds(50);
// What a caller allows beyond the limit for a connect that is refused at once to come back.
constexpr auto kAnswerMargin = std::chrono::milliseconds(100);

std::atomic<CardWaitLimitSource> limitSource{nullptr};
std::atomic<std::size_t> pendingCalls{0};

// Readers whose probe outlived its caller's limit and still waits: the card is still held, so
// a new probe of it fails at once instead of leaving one more thread behind.
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

// What a call on a thread of its own and its caller share.
struct Call {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;  // the caller gave up waiting
    std::uint32_t code = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
};

// Starts `work` on a thread of its own; false when no thread could be had.
template <typename Work>
bool Start(Work work) {
    ++pendingCalls;
    try {
        std::thread([work = std::move(work)]() mutable {
            work();
            --pendingCalls;
        }).detach();
        return true;
    } catch (...) {
        --pendingCalls;
        return false;
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

void TraceHeld(const std::string& reader) {
    if (TraceEnabled()) {
        Trace(TraceLevel::Warning,
              u"The card in " + Utf8ToUtf16(reader) + u" stayed held by another program");
    }
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

std::uint32_t ConnectWithin(PCSCContext& context, const std::string& reader,
                            std::uint32_t shareMode, std::uint32_t preferredProtocols,
                            SCARDHANDLE& handle, std::uint32_t& protocol) {
    const SCARDCONTEXT owner = context.Handle();
    auto connect = [owner, reader, shareMode, preferredProtocols](SCARDHANDLE& card,
                                                                  DWORD& active) {
        return Code(Api().Connect(owner, reader.empty() ? nullptr : reader.c_str(), shareMode,
                                  preferredProtocols, &card, &active));
    };
    const std::chrono::milliseconds limit = CardWaitLimit();
    const auto deadline = Clock::now() + limit;
    auto call = std::make_shared<Call>();
    const bool started =
        UsingClientLibrary() && Start([call, connect, deadline, owner] {
            SCARDHANDLE card = 0;
            DWORD active = 0;
            std::uint32_t code = connect(card, active);
            // Held exclusively: refused at once until the holder lets go.
            while (code == kSharingViolation && Clock::now() + kRetryPause < deadline) {
                {
                    std::lock_guard guard(call->lock);
                    if (call->abandoned) {
                        break;
                    }
                }
                std::this_thread::sleep_for(kRetryPause);
                code = connect(card, active);
            }
            std::lock_guard guard(call->lock);
            call->done = true;
            call->code = code;
            call->handle = card;
            call->protocol = active;
            if (call->abandoned) {
                // Nobody waits for this connect any more: it owns the context now.
                if (code == kSuccess) {
                    Api().Disconnect(card, kLeaveCard);
                }
                Api().ReleaseContext(owner);
            }
            call->finished.notify_all();
        });
    if (!started) {
        // A substitute for the client library (the unit tests) never blocks; and without a
        // thread to be had the connect runs here, unbounded, as it always did.
        SCARDHANDLE card = 0;
        DWORD active = 0;
        const std::uint32_t code = connect(card, active);
        handle = card;
        protocol = static_cast<std::uint32_t>(active);
        return code;
    }
    std::unique_lock wait(call->lock);
    if (!call->finished.wait_until(wait, deadline + kAnswerMargin, [&] { return call->done; })) {
        call->abandoned = true;
        wait.unlock();
        context.Abandon();
        TraceHeld(reader);
        throw CardInUseException("SCardConnect", reader, limit);
    }
    if (call->code == kSharingViolation) {
        TraceHeld(reader);
        throw CardInUseException("SCardConnect", reader, limit);
    }
    handle = call->handle;
    protocol = static_cast<std::uint32_t>(call->protocol);
    return call->code;
}

void WaitForFreeCard(const std::string& reader) {
    if (!UsingClientLibrary()) {
        return;  // a substitute (the unit tests' in-memory cards) never blocks
    }
    const std::chrono::milliseconds limit = CardWaitLimit();
    if (Abandoned(reader)) {
        throw CardInUseException("SCardBeginTransaction", reader, limit);
    }
    // A connect on a context of its own returns as soon as no other program holds the card
    // in a transaction.
    auto call = std::make_shared<Call>();
    const bool started = Start([call, reader] {
        SCARDCONTEXT probe = 0;
        std::uint32_t code = Code(Api().EstablishContext(kScopeUser, &probe));
        if (code == kSuccess) {
            SCARDHANDLE card = 0;
            DWORD active = 0;
            code = Code(Api().Connect(probe, reader.c_str(), kShareShared, kProtocolT0OrT1, &card,
                                      &active));
            if (code == kSuccess) {
                Api().Disconnect(card, kLeaveCard);
            }
            Api().ReleaseContext(probe);
        }
        std::lock_guard guard(call->lock);
        call->done = true;
        call->code = code;
        if (call->abandoned) {
            std::lock_guard abandoned(AbandonedLock());
            AbandonedReaders().erase(AbandonedReaders().find(reader));
        }
        call->finished.notify_all();
    });
    if (!started) {
        return;
    }
    std::unique_lock wait(call->lock);
    if (!call->finished.wait_until(wait, Clock::now() + limit, [&] { return call->done; })) {
        call->abandoned = true;
        {
            std::lock_guard abandoned(AbandonedLock());
            AbandonedReaders().insert(reader);
        }
        TraceHeld(reader);
        throw CardInUseException("SCardBeginTransaction", reader, limit);
    }
    // No other program can hold the card exclusively while the caller is connected to it, so
    // a probe that came back means the transaction can begin.
}

std::size_t PendingCardProbes() noexcept {
    return pendingCalls.load();
}

}  // namespace Orvel::PCSC
