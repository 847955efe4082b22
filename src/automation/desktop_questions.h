// The questions of the host hooks put to the desktop dialog program, for when no hook is
// installed (host_hooks.cpp decides). Each returns none when no dialog could be shown, so
// that the caller keeps its behaviour without one.
#pragma once

#include "carvix/automation/host_hooks.h"
#include "desktop_dialog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace carvix::automation {

/// The certificate chooser: true with `*chosen` set for a pick, false for a cancel.
std::optional<bool> DialogChooseCertificate(const char16_t* title, const char16_t* text,
                                            const CarvixCertificateOffer* offers,
                                            const CarvixCertificateDetails* details,
                                            std::uint32_t count, std::uint32_t* chosen);

/// The PIN prompt: true with the PIN's UTF-8 bytes in `pin` for an entry, false for a
/// cancel (and for a locked PIN, which is only shown).
std::optional<bool> DialogAskPin(const char16_t* tokenLabel, std::int32_t triesLeft,
                                 std::uint32_t state, char* pin, std::uint32_t capacity,
                                 std::uint32_t* length);

/// A warning or other notice as a message box; false when none could be shown.
bool DialogNotify(const char16_t* caption, const char16_t* text, std::uint32_t style);

/// The PIN-pad notice, shown until the returned process is destroyed; null when none.
std::unique_ptr<DialogProcess> DialogShowPinPad(const char16_t* tokenLabel);

/// The reader chooser of one selection, kept open and current across offers.
class DialogReaderChooser {
  public:
    explicit DialogReaderChooser(std::u16string title) : title_(std::move(title)) {}

    /// Shows or updates the list and waits at most `waitMs` for an answer: a
    /// CARVIX_OFFER_* value; none when no dialog could be shown.
    std::optional<std::int32_t> Offer(const CarvixReaderOffer* offers, const std::uint32_t* cards,
                                      std::uint32_t count, std::uint32_t waitMs,
                                      std::uint32_t* chosen);

    /// Closes the dialog (a host hook took over).
    void Close() noexcept;

  private:
    std::u16string title_;
    std::unique_ptr<DialogProcess> dialog_;
    bool failed_ = false;  // the program could not be started: not tried again
    bool open_ = false;
    std::vector<std::string> shown_;  // the reader fields last sent
};

/// The protocol's words for CARVIX_CARD_* bits: "vl", "zk", "contactless", "card",
/// comma-separated.
std::string CardWords(std::uint32_t cards);

}  // namespace carvix::automation
