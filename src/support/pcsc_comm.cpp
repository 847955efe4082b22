#include "carvix/support/pcsc_comm.h"

#include "carvix/support/card_wait.h"
#include "carvix/support/status_words.h"

#include "carvix/support/multi_string.h"
#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/text.h"
#include "carvix/support/trace.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace Orvel::PCSC {
namespace {

// The message of an exchange that broke off because the card was taken out.
constexpr std::u16string_view kCardRemoved =
    u"The card was removed during the operation. Insert it again and repeat the operation.";
// How long a broken-off exchange waits for the service to notice a removed card; the
// service looks at its readers a few times a second.
constexpr std::chrono::milliseconds kRemovalNoticeWait{1000};
constexpr std::uint32_t kNoSmartCard = 0x8010000Cu;

constexpr std::size_t kReaderNameRoom = 1024;
// The longest ATR ISO/IEC 7816-3 allows is 33 bytes; a smaller buffer would make the status
// read, and with it every transaction start, fail for such a card.
constexpr std::size_t kAtrRoom = MAX_ATR_SIZE;

struct RawStatus {
    char names[kReaderNameRoom] = {};
    DWORD namesLength = kReaderNameRoom;
    DWORD state = 0;
    DWORD protocol = 0;
    BYTE atr[kAtrRoom] = {};
    DWORD atrLength = kAtrRoom;
};

void ReadStatus(SCARDHANDLE handle, RawStatus& raw) {
    detail::Check("SCardStatus", Api().Status(handle, raw.names, &raw.namesLength, &raw.state,
                                              &raw.protocol, raw.atr, &raw.atrLength));
}

const SCARD_IO_REQUEST* PciFor(std::uint32_t protocol) {
    switch (protocol) {
        case kProtocolT0:
            return SCARD_PCI_T0;
        case kProtocolT1:
            return SCARD_PCI_T1;
        case kProtocolRaw:
            return SCARD_PCI_RAW;
        default:
            throw PCSCWin32Exception("GetHeader", kProtocolMismatch);
    }
}

void TraceExchange(std::span<const std::uint8_t> command, const ByteArray& response,
                   std::chrono::steady_clock::duration took) {
    unsigned header[4] = {};
    for (std::size_t i = 0; i < 4 && i < command.size(); ++i) {
        header[i] = command[i];
    }
    const std::size_t n = response.size();
    const unsigned sw = n >= 2 ? (unsigned{response[n - 2]} << 8 | response[n - 1]) : 0;
    const double ms = std::chrono::duration<double, std::milli>(took).count();
    // Header, lengths and status word only: command data may carry authentication responses
    // and keys, response data personal values.
    std::string meaning = sw == 0x9000 ? std::string("ok") : StatusWordMeaning(sw);
    if (meaning.size() > 6 && meaning[4] == ':') {
        meaning = meaning.substr(6);
    }
    Trace(TraceLevel::Trace,
          Format("APDU %02X %02X %02X %02X, %zu bytes -> %04X %s, %zu bytes, %.2f ms", header[0],
                 header[1], header[2], header[3], command.size(), sw,
                 meaning.empty() ? "(card-specific)" : meaning.c_str(), n, ms));
}

}  // namespace

PCSCComm::PCSCComm(SCARDHANDLE handle)
    : handle_(handle), activeProtocol_(ProtocolOf(handle)), connected_(true), attached_(true) {}

PCSCComm::~PCSCComm() noexcept {
    if (!connected_ || attached_) {
        return;
    }
    try {
        Disconnect(kLeaveCard);
    } catch (const Exception& e) {
        TraceSwallowed(u"Disconnecting the card failed: ", e);
    } catch (...) {
    }
}

void PCSCComm::AssertConnected() const {
    if (!connected_) {
        detail::WrongState("PCSCComm::AssertConnected");
    }
}

void PCSCComm::Connect(PCSCContext& context, std::u16string_view readerName,
                       std::uint32_t shareMode, std::uint32_t preferredProtocols) {
    if (connected_ || attached_) {
        detail::WrongState("PCSCComm::Connect");
    }
    const std::string name = Utf16ToUtf8(readerName);
    SCARDHANDLE handle = 0;
    std::uint32_t protocol = 0;
    // Bounded: another program may hold the card, and the connect would wait without limit.
    detail::Check("SCardConnect",
                  static_cast<LONG>(ConnectWithin(context, name, shareMode, preferredProtocols,
                                                  handle, protocol)));
    handle_ = handle;
    activeProtocol_ = protocol;
    connected_ = true;
    justConnected_ = true;
    readerName_ = name;
    if (TraceEnabled()) {
        Trace(TraceLevel::Trace,
              Utf8ToUtf16("Connected to \"" + name + "\" with T=" + (protocol == 2 ? "1" : "0")));
    }
}

void PCSCComm::Reconnect(std::uint32_t shareMode, std::uint32_t preferredProtocols,
                         std::uint32_t initialization) {
    AssertConnected();
    DWORD protocol = 0;
    detail::Check("SCardReconnect", Api().Reconnect(handle_, shareMode, preferredProtocols,
                                                    initialization, &protocol));
    activeProtocol_ = static_cast<std::uint32_t>(protocol);
}

void PCSCComm::Disconnect(std::uint32_t disposition) {
    if (!connected_ || attached_) {
        detail::WrongState("PCSCComm::Disconnect");
    }
    detail::Check("SCardDisconnect", Api().Disconnect(handle_, disposition));
    handle_ = 0;
    connected_ = false;
    activeProtocol_ = kProtocolUndefined;
}

CardStatus PCSCComm::Status() const {
    AssertConnected();
    RawStatus raw;
    ReadStatus(handle_, raw);
    CardStatus status;
    const std::size_t length = std::min<std::size_t>(raw.namesLength, kReaderNameRoom);
    status.readerNames = SplitMultiStringUtf8(std::string_view(raw.names, length));
    status.state = static_cast<std::uint32_t>(raw.state);
    status.protocol = static_cast<std::uint32_t>(raw.protocol);
    const std::size_t atrLength = std::min<std::size_t>(raw.atrLength, kAtrRoom);
    status.atr.assign(raw.atr, raw.atr + atrLength);
    return status;
}

std::uint32_t PCSCComm::ProtocolOf(SCARDHANDLE handle) {
    RawStatus raw;
    ReadStatus(handle, raw);
    return static_cast<std::uint32_t>(raw.protocol);
}

bool PCSCComm::CardWasRemoved(std::chrono::milliseconds wait) noexcept {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        RawStatus raw;
        const LONG rv = Api().Status(handle_, raw.names, &raw.namesLength, &raw.state,
                                     &raw.protocol, raw.atr, &raw.atrLength);
        if (rv == SCARD_S_SUCCESS ? (raw.state & SCARD_ABSENT) != 0
                                  : static_cast<std::uint32_t>(rv) == kRemovedCard ||
                                        static_cast<std::uint32_t>(rv) == kNoSmartCard) {
            return true;
        }
        if (rv != SCARD_S_SUCCESS || std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ByteArray PCSCComm::Transmit(std::span<const std::uint8_t> command, bool extended) {
    AssertConnected();
    const SCARD_IO_REQUEST* pci = PciFor(activeProtocol_);
    const auto started = std::chrono::steady_clock::now();
    ByteArray response(extended ? kExtendedReceiveBuffer : kShortReceiveBuffer, 0);
    DWORD received = static_cast<DWORD>(response.size());
    const LONG rv = Api().Transmit(handle_, pci, command.data(), static_cast<DWORD>(command.size()),
                                   nullptr, response.data(), &received);
    // The service reports a card pulled out mid-exchange as a broken-off transmission until
    // its next look at the reader; a short wait for that look tells the user what happened.
    if (static_cast<std::uint32_t>(rv) == kNotTransacted && CardWasRemoved(kRemovalNoticeWait)) {
        throw PCSCWin32Exception("SCardTransmit", kNotTransacted, std::u16string(kCardRemoved));
    }
    detail::Check("SCardTransmit", rv);
    response.resize(std::min<std::size_t>(received, response.size()));
    if (response.size() < 2) {
        // Every card answer ends in a status word. Fewer bytes means the exchange broke off
        // (a reader that lost the card reports success with nothing received): report it as
        // the failed transmission it is rather than as a malformed answer.
        if (CardWasRemoved(kRemovalNoticeWait)) {
            throw PCSCWin32Exception("SCardTransmit", kNotTransacted, std::u16string(kCardRemoved));
        }
        throw PCSCWin32Exception("SCardTransmit", kNotTransacted);
    }
    if (TraceEnabled()) {
        // Header and lengths only: command data may carry authentication responses.
        TraceExchange(command, response, std::chrono::steady_clock::now() - started);
    }
    return response;
}

ByteArray PCSCComm::Control(std::uint32_t controlCode, std::span<const std::uint8_t> input) {
    AssertConnected();
    ByteArray output(1024, 0);
    DWORD returned = 0;
    detail::Check("SCardControl", Api().Control(handle_, controlCode, input.data(),
                                                static_cast<DWORD>(input.size()), output.data(),
                                                static_cast<DWORD>(output.size()), &returned));
    output.resize(std::min<std::size_t>(returned, output.size()));
    return output;
}

void PCSCComm::BeginTransaction(std::uint32_t shareMode, std::uint32_t preferredProtocols) {
    AssertConnected();
    if (!justConnected_ && UsingClientLibrary()) {
        // A handle connected earlier (or by someone else): another program may have begun a
        // transaction since, and the start would retry without limit.
        RawStatus raw;
        if (detail::Code(Api().Status(handle_, raw.names, &raw.namesLength, &raw.state,
                                      &raw.protocol, raw.atr, &raw.atrLength)) == kSuccess &&
            raw.namesLength > 1) {
            WaitForFreeCard(std::string(
                raw.names, std::min<std::size_t>(std::strlen(raw.names), kReaderNameRoom)));
        }
    }
    justConnected_ = false;
    std::uint32_t code = detail::Code(Api().BeginTransaction(handle_));
    const char* failed = "SCardBeginTransaction";
    if (code == kSuccess) {
        // The begin reports a reset it finds before it takes the card, but another client
        // can still reset the card between that check and the lock. Once the card is held
        // nobody else can, so this one status read, made only by the outermost guard of a
        // connection (nested guards make no calls), is what closes that gap.
        RawStatus raw;
        code = detail::Code(Api().Status(handle_, raw.names, &raw.namesLength, &raw.state,
                                         &raw.protocol, raw.atr, &raw.atrLength));
        failed = "SCardStatus";
        if (code != kSuccess) {
            // A failed start must not leave a transaction behind: end the one just taken.
            const std::uint32_t endCode = detail::Code(Api().EndTransaction(handle_, kLeaveCard));
            if (endCode != kSuccess && TraceEnabled()) {
                Trace(TraceLevel::Warning, Format("Ending a failed transaction start: 0x%08X",
                                                  static_cast<unsigned>(endCode)));
            }
        }
    }
    if (code == kSuccess) {
        if (TraceEnabled()) {
            Trace(TraceLevel::Trace, Utf8ToUtf16("Transaction begins on \"" + readerName_ + "\""));
        }
        return;
    }
    if (code != kResetCardWarning) {
        throw PCSCWin32Exception(failed, code);
    }
    Trace(TraceLevel::Info,
          u"The card was reset by another application; reconnecting with a reset");
    Reconnect(shareMode, preferredProtocols, kResetCard);
    AssertConnected();
    detail::Check("SCardBeginTransaction", Api().BeginTransaction(handle_));
}

void PCSCComm::EndTransaction() {
    AssertConnected();
    if (TraceEnabled()) {
        Trace(TraceLevel::Trace, Utf8ToUtf16("Transaction ends on \"" + readerName_ + "\""));
    }
    detail::Check("SCardEndTransaction", Api().EndTransaction(handle_, kLeaveCard));
}

}  // namespace Orvel::PCSC
