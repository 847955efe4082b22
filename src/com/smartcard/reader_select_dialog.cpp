#include "reader_select_dialog.h"

#include "host/reader_chooser_bridge.h"

#include "carvix/support/card_wait.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/reader_monitor.h"
#include "carvix/support/trace.h"
#include "carvix/support/unicode.h"

#include <optional>

#include <vector>

namespace carvix::com {
namespace {

namespace pcsc = Orvel::PCSC;

// A card handle connected for one check, disconnected (leaving the card as it is) when the
// check is over, however it ended.
class CheckedCard {
  public:
    CheckedCard(SCARDCONTEXT context, const std::string& reader, std::uint32_t shareMode,
                std::uint32_t protocols) {
        SCARDCONTEXT connectOn = context;
        if (pcsc::UsingClientLibrary()) {
            // A context of its own, so that a card another program holds past the wait
            // limit costs this check its context, never the dialog's.
            own_.emplace(pcsc::kScopeUser);
            connectOn = own_->Handle();
        }
        context_ = connectOn;
        if (own_) {
            std::uint32_t active = 0;
            connected_ = pcsc::ConnectWithin(*own_, reader, shareMode, protocols, handle_,
                                             active) == pcsc::kSuccess;
            protocol_ = active;
            return;
        }
        DWORD active = 0;
        connected_ =
            pcsc::detail::Code(pcsc::Api().Connect(context, reader.c_str(), shareMode, protocols,
                                                   &handle_, &active)) == pcsc::kSuccess;
        protocol_ = active;
    }
    ~CheckedCard() {
        if (connected_) {
            pcsc::Api().Disconnect(handle_, pcsc::kLeaveCard);
        }
    }
    CheckedCard(const CheckedCard&) = delete;
    CheckedCard& operator=(const CheckedCard&) = delete;

    bool Connected() const noexcept { return connected_; }
    SCARDHANDLE Handle() const noexcept { return handle_; }
    SCARDCONTEXT Context() const noexcept { return context_; }
    std::uint32_t Protocol() const noexcept { return protocol_; }

    /// Disconnects now; false when the resource manager refused (the card went away).
    bool Disconnect() noexcept {
        connected_ = false;
        return pcsc::detail::Code(pcsc::Api().Disconnect(handle_, pcsc::kLeaveCard)) ==
               pcsc::kSuccess;
    }

  private:
    // Declared first: released after the handle is disconnected.
    std::optional<pcsc::PCSCContext> own_;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE handle_ = 0;
    std::uint32_t protocol_ = 0;
    bool connected_ = false;
};

}  // namespace

bool AcceptEveryCard(SCARDCONTEXT, SCARDHANDLE) {
    return true;
}

ReaderSelectDialog::ReaderSelectDialog(const pcsc::PCSCContext& context, CardCheck check,
                                       std::u16string title)
    : context_(context), check_(std::move(check)), title_(std::move(title)) {}

bool ReaderSelectDialog::Examine(const std::u16string& reader, std::uint32_t& protocol) const {
    CheckedCard card(context_.Handle(), Orvel::Utf16ToUtf8(reader), shareMode, preferredProtocols);
    if (!card.Connected()) {
        return false;  // removed, mute or taken by another application meanwhile
    }
    bool acceptable = false;
    try {
        acceptable = check_ ? check_(card.Context(), card.Handle()) : true;
    } catch (const Orvel::Exception& e) {
        Orvel::TraceSwallowed(u"A card check failed; the card is not offered: ", e);
    } catch (...) {
        // Any failure of a check means this card is not the one; the search goes on.
    }
    protocol = card.Protocol();
    // A card that cannot be let go cleanly has gone away during its check.
    return card.Disconnect() && acceptable;
}

ReaderSelection ReaderSelectDialog::Run() {
    pcsc::ReaderMonitor monitor(context_);
    for (;;) {
        std::vector<pcsc::ReaderState> acceptable;
        std::vector<std::uint32_t> protocols;
        for (pcsc::ReaderState& reader : monitor.Refresh()) {
            std::uint32_t protocol = 0;
            if (reader.CardReachable() && Examine(reader.name, protocol)) {
                acceptable.push_back(std::move(reader));
                protocols.push_back(protocol);
            }
        }
        if (acceptable.size() == 1 && (flags & kMinimalUi) != 0) {
            return {acceptable[0].name, acceptable[0].atr, protocols[0]};
        }
        if (!acceptable.empty()) {
            const auto chosen = AskHostForReader(title_, acceptable);
            if (!chosen) {
                return {};
            }
            return {acceptable[*chosen].name, acceptable[*chosen].atr, protocols[*chosen]};
        }
        // Nothing acceptable yet: wait for a change, asking the host between waits whether
        // the user still wants to.
        do {
            if (!AskHostToWaitForCard(title_)) {
                return {};
            }
        } while (!monitor.Wait(kWaitSliceMs));
    }
}

}  // namespace carvix::com
