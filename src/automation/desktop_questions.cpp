#include "desktop_questions.h"

#include "carvix/automation/dialog_line.h"
#include "carvix/support/unicode.h"

#include <cstring>

namespace carvix::automation {
namespace {

std::string Text(const char16_t* text) {
    return text != nullptr ? Orvel::Utf16ToUtf8(text) : std::string();
}

// The fields of a reader list: name and card words, reader after reader.
std::vector<std::string> ReaderFields(const CarvixReaderOffer* offers, const std::uint32_t* cards,
                                      std::uint32_t count) {
    std::vector<std::string> fields;
    for (std::uint32_t i = 0; i < count; ++i) {
        fields.push_back(Text(offers[i].reader));
        fields.push_back(CardWords(cards != nullptr ? cards[i] : CARVIX_CARD_OTHER));
    }
    return fields;
}

// An index reply "OK <index> ...": the index when below `count`.
std::optional<std::uint32_t> PickedIndex(const std::vector<std::string>& reply,
                                         std::uint32_t count) {
    if (reply.size() < 2 || reply[0] != "OK" || reply[1].empty() || reply[1].size() > 9 ||
        reply[1].find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const auto index = static_cast<std::uint32_t>(std::stoul(reply[1]));
    if (index >= count) {
        return std::nullopt;
    }
    return index;
}

}  // namespace

std::string CardWords(std::uint32_t cards) {
    std::string words;
    const auto add = [&words](const char* word) {
        if (!words.empty()) {
            words.push_back(',');
        }
        words += word;
    };
    if ((cards & CARVIX_CARD_VL) != 0) {
        add("vl");
    }
    if ((cards & CARVIX_CARD_ZK) != 0) {
        add("zk");
    }
    if ((cards & CARVIX_CARD_CONTACTLESS) != 0) {
        add("contactless");
    }
    if (words.empty()) {
        add("card");
    }
    return words;
}

std::optional<bool> DialogChooseCertificate(const char16_t* title, const char16_t* text,
                                            const CarvixCertificateOffer* offers,
                                            const CarvixCertificateDetails* details,
                                            std::uint32_t count, std::uint32_t* chosen) {
    auto dialog = DialogProcess::StartWanted();
    if (!dialog) {
        return std::nullopt;
    }
    std::vector<std::string> command{"CHOOSE-CERTIFICATE", Text(title), Text(text)};
    for (std::uint32_t i = 0; i < count; ++i) {
        const CarvixCertificateOffer& o = offers[i];
        const CarvixCertificateDetails* d = details != nullptr ? &details[i] : nullptr;
        const std::uint32_t kind = d != nullptr ? d->keyKind : CARVIX_KEY_UNKNOWN;
        command.push_back(Text(o.subject));
        command.push_back(Text(o.issuer));
        command.push_back(d != nullptr ? Text(d->notBefore) : std::string());
        command.push_back(Text(o.notAfter));
        command.push_back(kind == CARVIX_KEY_FILE    ? "file"
                          : kind == CARVIX_KEY_TOKEN ? "token"
                                                     : "unknown");
        command.push_back(d != nullptr ? Text(d->keyStore) : std::string());
        command.push_back(Text(o.thumbprint));
        command.push_back(o.initiallySelected != 0 ? "selected" : "-");
    }
    const auto reply = dialog->Ask(command);
    if (!reply) {
        return std::nullopt;  // the program went away without an answer
    }
    const auto index = PickedIndex(*reply, count);
    if (!index) {
        return false;
    }
    *chosen = *index;
    return true;
}

std::optional<bool> DialogAskPin(const char16_t* tokenLabel, std::int32_t triesLeft,
                                 std::uint32_t state, char* pin, std::uint32_t capacity,
                                 std::uint32_t* length) {
    auto dialog = DialogProcess::StartWanted();
    if (!dialog) {
        return std::nullopt;
    }
    const char* stateWord = (state & CARVIX_PIN_LOCKED) != 0      ? "locked"
                            : (state & CARVIX_PIN_FINAL_TRY) != 0 ? "final-try"
                            : (state & CARVIX_PIN_COUNT_LOW) != 0 ? "count-low"
                                                                  : "normal";
    // "+wrong": the PIN given just before was wrong and this is another try.
    const std::string stateField =
        std::string(stateWord) + ((state & CARVIX_PIN_WAS_WRONG) != 0 ? "+wrong" : "");
    auto reply = dialog->Ask(
        {"GET-PIN", Text(tokenLabel), triesLeft < 0 ? "-" : std::to_string(triesLeft), stateField});
    dialog->WipeInput();
    if (!reply) {
        return std::nullopt;
    }
    bool entered = false;
    if (reply->size() == 2 && (*reply)[0] == "OK" && (*reply)[1].size() <= capacity) {
        std::memcpy(pin, (*reply)[1].data(), (*reply)[1].size());
        *length = static_cast<std::uint32_t>((*reply)[1].size());
        entered = true;
    }
    for (std::string& field : *reply) {
        carvix::dialog::Wipe(field);
    }
    return entered;
}

bool DialogNotify(const char16_t* caption, const char16_t* text, std::uint32_t style) {
    auto dialog = DialogProcess::StartWanted();
    if (!dialog) {
        return false;
    }
    return dialog->Ask({"MESSAGE", Text(caption), Text(text), std::to_string(style)}).has_value();
}

std::unique_ptr<DialogProcess> DialogShowPinPad(const char16_t* tokenLabel) {
    auto dialog = DialogProcess::StartWanted();
    if (!dialog) {
        return nullptr;
    }
    const auto reply = dialog->Ask({"SHOW-PINPAD", Text(tokenLabel)});
    if (!reply || reply->empty() || (*reply)[0] != "OK") {
        return nullptr;
    }
    return dialog;
}

std::optional<std::int32_t> DialogReaderChooser::Offer(const CarvixReaderOffer* offers,
                                                       const std::uint32_t* cards,
                                                       std::uint32_t count, std::uint32_t waitMs,
                                                       std::uint32_t* chosen) {
    if (!dialog_ && !failed_) {
        dialog_ = DialogProcess::StartWanted();
        failed_ = !dialog_;
    }
    if (!dialog_) {
        return std::nullopt;
    }
    std::vector<std::string> list = ReaderFields(offers, cards, count);
    bool sent = true;
    if (!open_) {
        std::vector<std::string> command{"CHOOSE-READER", Text(title_.c_str())};
        command.insert(command.end(), list.begin(), list.end());
        sent = dialog_->Send(command);
        open_ = true;
        shown_ = std::move(list);
    } else if (list != shown_) {
        std::vector<std::string> command{"UPDATE-READERS"};
        command.insert(command.end(), list.begin(), list.end());
        sent = dialog_->Send(command);
        shown_ = std::move(list);
    }
    if (!sent) {
        return CARVIX_OFFER_CANCELLED;  // the program went away: nobody to ask any more
    }
    std::vector<std::string> reply;
    switch (dialog_->Read(static_cast<int>(waitMs), reply)) {
        case DialogProcess::Got::kTimeout:
            return CARVIX_OFFER_PENDING;
        case DialogProcess::Got::kGone:
            return CARVIX_OFFER_CANCELLED;
        case DialogProcess::Got::kLine:
            break;
    }
    open_ = false;
    if (reply.empty() || reply[0] != "OK") {
        return CARVIX_OFFER_CANCELLED;
    }
    // The pick names its reader: the list may have changed after the user picked, so the
    // name decides. A reader gone meanwhile is no answer: the list is shown again.
    if (reply.size() >= 3) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (Text(offers[i].reader) == reply[2]) {
                *chosen = i;
                return CARVIX_OFFER_PICKED;
            }
        }
    }
    return CARVIX_OFFER_PENDING;
}

void DialogReaderChooser::Close() noexcept {
    dialog_.reset();
    open_ = false;
}

}  // namespace carvix::automation
