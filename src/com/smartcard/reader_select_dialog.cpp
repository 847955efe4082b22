#include "reader_select_dialog.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/support/card_wait.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/reader_monitor.h"
#include "carvix/support/trace.h"
#include "carvix/support/unicode.h"

#include <memory>
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

std::uint32_t AcceptEveryCard(SCARDCONTEXT, SCARDHANDLE) {
    return CARVIX_CARD_OTHER;
}

ReaderSelectDialog::ReaderSelectDialog(const pcsc::PCSCContext& context, CardCheck check,
                                       std::u16string title)
    : context_(context), check_(std::move(check)), title_(std::move(title)) {}

std::uint32_t ReaderSelectDialog::Examine(const std::u16string& reader,
                                          std::uint32_t& protocol) const {
    CheckedCard card(context_.Handle(), Orvel::Utf16ToUtf8(reader), shareMode, preferredProtocols);
    if (!card.Connected()) {
        return 0;  // removed, mute or taken by another application meanwhile
    }
    std::uint32_t acceptable = 0;
    try {
        acceptable = check_ ? check_(card.Context(), card.Handle()) : CARVIX_CARD_OTHER;
    } catch (const Orvel::Exception& e) {
        Orvel::TraceSwallowed(u"A card check failed; the card is not offered: ", e);
    } catch (...) {
        // Any failure of a check means this card is not the one; the search goes on.
    }
    protocol = card.Protocol();
    // A card that cannot be let go cleanly has gone away during its check.
    return card.Disconnect() ? acceptable : 0;
}

ReaderSelection ReaderSelectDialog::Run() {
    pcsc::ReaderMonitor monitor(context_);
    const std::unique_ptr<CarvixReaderSelection, void (*)(CarvixReaderSelection*)> selection(
        CarvixBeginReaderSelection(title_.c_str()), &CarvixEndReaderSelection);
    if (!selection) {
        throw std::bad_alloc();
    }
    for (;;) {
        std::vector<pcsc::ReaderState> acceptable;
        std::vector<std::uint32_t> protocols;
        std::vector<std::uint32_t> cards;
        for (pcsc::ReaderState& reader : monitor.Refresh()) {
            std::uint32_t protocol = 0;
            const std::uint32_t card = reader.CardReachable() ? Examine(reader.name, protocol) : 0;
            if (card != 0) {
                acceptable.push_back(std::move(reader));
                protocols.push_back(protocol);
                cards.push_back(card);
            }
        }
        if (acceptable.size() == 1 && (flags & kMinimalUi) != 0) {
            return {acceptable[0].name, acceptable[0].atr, protocols[0], {}};
        }
        std::vector<CarvixReaderOffer> offers;
        offers.reserve(acceptable.size());
        for (const pcsc::ReaderState& r : acceptable) {
            offers.push_back(
                {r.name.c_str(), r.atr.data(), static_cast<std::uint32_t>(r.atr.size())});
        }
        // Ask (or keep the dialog current) until the user answers or the readers change.
        std::uint32_t slice = kWaitSliceMs;
        do {
            std::uint32_t chosen = 0;
            const std::int32_t answer = CarvixOfferReaders(
                selection.get(), offers.data(), cards.data(),
                static_cast<std::uint32_t>(offers.size()), kDialogSliceMs, &chosen);
            if (answer == CARVIX_OFFER_PICKED && chosen < acceptable.size()) {
                return {acceptable[chosen].name, acceptable[chosen].atr, protocols[chosen], {}};
            }
            if (answer == CARVIX_OFFER_NOBODY) {
                ReaderSelection none;
                none.nobodyAskedAmong = acceptable.size();
                return none;
            }
            if (answer != CARVIX_OFFER_WAITING && answer != CARVIX_OFFER_PENDING) {
                return {};
            }
            slice = answer == CARVIX_OFFER_PENDING ? kDialogSliceMs : kWaitSliceMs;
        } while (!monitor.Wait(slice));
    }
}

}  // namespace carvix::com
