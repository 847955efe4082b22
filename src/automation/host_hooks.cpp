#include "carvix/automation/host_hooks.h"

#include "carvix/support/unicode.h"
#include "desktop_questions.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace {

// A hook with its context; both change together.
template <class Fn>
struct Hook {
    Fn fn = nullptr;
    void* context = nullptr;
};

std::mutex& HookLock() {
    static std::mutex lock;
    return lock;
}

Hook<CarvixCertificateChooserFn>& Chooser() {
    static Hook<CarvixCertificateChooserFn> hook;
    return hook;
}

Hook<CarvixReaderChooserFn>& ReaderChooser() {
    static Hook<CarvixReaderChooserFn> hook;
    return hook;
}

Hook<CarvixNotifierFn>& Notifier() {
    static Hook<CarvixNotifierFn> hook;
    return hook;
}

Hook<CarvixPinPromptFn>& PinPrompt() {
    static Hook<CarvixPinPromptFn> hook;
    return hook;
}

Hook<CarvixPinStatePromptFn>& PinStatePrompt() {
    static Hook<CarvixPinStatePromptFn> hook;
    return hook;
}

// Overwrites a secret so that the compiler cannot drop the stores.
void Wipe(char* bytes, std::size_t count) {
    volatile char* p = bytes;
    for (std::size_t i = 0; i < count; ++i) {
        p[i] = 0;
    }
}

// A copy taken under the lock, so the hook runs without it.
template <class Fn>
Hook<Fn> Snapshot(const Hook<Fn>& hook) {
    std::lock_guard guard(HookLock());
    return hook;
}

template <class Fn>
void Install(Hook<Fn>& hook, Fn fn, void* context) {
    std::lock_guard guard(HookLock());
    hook.fn = fn;
    hook.context = fn != nullptr ? context : nullptr;
}

const char16_t* OrEmpty(const char16_t* text) {
    return text != nullptr ? text : u"";
}

}  // namespace

extern "C" {

void CarvixSetCertificateChooser(CarvixCertificateChooserFn fn, void* context) {
    Install(Chooser(), fn, context);
}

void CarvixSetReaderChooser(CarvixReaderChooserFn fn, void* context) {
    Install(ReaderChooser(), fn, context);
}

void CarvixSetNotifier(CarvixNotifierFn fn, void* context) {
    Install(Notifier(), fn, context);
}

int32_t CarvixChooseCertificate(const char16_t* title, const char16_t* displayText,
                                const CarvixCertificateOffer* offers, uint32_t count,
                                uint32_t* chosen) {
    return CarvixChooseCertificateWithDetails(title, displayText, offers, nullptr, count, chosen);
}

int32_t CarvixChooseCertificateWithDetails(const char16_t* title, const char16_t* displayText,
                                           const CarvixCertificateOffer* offers,
                                           const CarvixCertificateDetails* details, uint32_t count,
                                           uint32_t* chosen) {
    if (offers == nullptr || count == 0 || chosen == nullptr) {
        return 0;
    }
    const auto hook = Snapshot(Chooser());
    std::uint32_t index = count;
    if (hook.fn == nullptr) {
        // Nobody to ask: the desktop dialog, else a cancel, never a silent pick.
        try {
            const auto picked = carvix::automation::DialogChooseCertificate(
                OrEmpty(title), OrEmpty(displayText), offers, details, count, &index);
            if (!picked.value_or(false) || index >= count) {
                return 0;
            }
        } catch (...) {
            return 0;
        }
        *chosen = index;
        return 1;
    }
    if (hook.fn(hook.context, OrEmpty(title), OrEmpty(displayText), offers, count, &index) == 0 ||
        index >= count) {
        return 0;
    }
    *chosen = index;
    return 1;
}

int32_t CarvixChooseReader(const char16_t* title, const CarvixReaderOffer* offers, uint32_t count,
                           uint32_t* chosen) {
    if (count != 0 && (offers == nullptr || chosen == nullptr)) {
        return 0;
    }
    const auto hook = Snapshot(ReaderChooser());
    if (hook.fn == nullptr) {
        // Nobody to ask: several readers go to the desktop dialog, else a cancel, never a
        // silent pick; waiting needs a selection (CarvixOfferReaders) to keep a dialog open.
        if (count == 0) {
            return 0;
        }
        try {
            carvix::automation::DialogReaderChooser dialog(OrEmpty(title));
            std::uint32_t index = count;
            if (dialog.Offer(offers, nullptr, count, UINT32_MAX / 2, &index)
                        .value_or(CARVIX_OFFER_CANCELLED) != CARVIX_OFFER_PICKED ||
                index >= count) {
                return 0;
            }
            *chosen = index;
            return 1;
        } catch (...) {
            return 0;
        }
    }
    if (count == 0) {
        return hook.fn(hook.context, OrEmpty(title), nullptr, 0, nullptr) != 0 ? 1 : 0;
    }
    std::uint32_t index = count;
    if (hook.fn(hook.context, OrEmpty(title), offers, count, &index) == 0 || index >= count) {
        return 0;
    }
    *chosen = index;
    return 1;
}

void CarvixSetPinPrompt(CarvixPinPromptFn fn, void* context) {
    Install(PinStatePrompt(), CarvixPinStatePromptFn{nullptr}, nullptr);
    Install(PinPrompt(), fn, context);
}

void CarvixSetPinPromptWithState(CarvixPinStatePromptFn fn, void* context) {
    Install(PinPrompt(), CarvixPinPromptFn{nullptr}, nullptr);
    Install(PinStatePrompt(), fn, context);
}

int32_t CarvixAskPin(const char16_t* tokenLabel, char* pin, uint32_t capacity, uint32_t* length) {
    return CarvixAskPinWithState(tokenLabel, -1, 0, pin, capacity, length);
}

int32_t CarvixAskPinWithState(const char16_t* tokenLabel, int32_t triesLeft, uint32_t state,
                              char* pin, uint32_t capacity, uint32_t* length) {
    if (pin == nullptr || length == nullptr || capacity == 0) {
        return 0;
    }
    *length = 0;
    const auto hook = Snapshot(PinPrompt());
    const auto stateHook = Snapshot(PinStatePrompt());
    std::uint32_t entered = 0;
    bool answered = false;
    if (stateHook.fn != nullptr) {
        // Told even a locked PIN, so that the host can show it; that answer is not used.
        answered = stateHook.fn(stateHook.context, OrEmpty(tokenLabel), triesLeft, state, pin,
                                capacity, &entered) != 0 &&
                   (state & CARVIX_PIN_LOCKED) == 0;
    } else if (hook.fn != nullptr) {
        // A locked PIN is never asked for: the login would only fail.
        answered = (state & CARVIX_PIN_LOCKED) == 0 &&
                   hook.fn(hook.context, OrEmpty(tokenLabel), pin, capacity, &entered) != 0;
    } else {
        // Nobody to ask: the desktop dialog, else a cancel.
        try {
            answered = carvix::automation::DialogAskPin(OrEmpty(tokenLabel), triesLeft, state, pin,
                                                        capacity, &entered)
                           .value_or(false);
        } catch (...) {
            answered = false;
        }
    }
    if (!answered || entered > capacity) {
        Wipe(pin, capacity);
        return 0;
    }
    *length = entered;
    return 1;
}

void CarvixNotify(const char16_t* caption, const char16_t* text, uint32_t style) {
    const auto hook = Snapshot(Notifier());
    if (hook.fn != nullptr) {
        hook.fn(hook.context, OrEmpty(caption), OrEmpty(text), style);
        return;
    }
    try {
        if (carvix::automation::DialogNotify(OrEmpty(caption), OrEmpty(text), style)) {
            return;
        }
        const std::string line =
            Orvel::Utf16ToUtf8(OrEmpty(caption)) + ": " + Orvel::Utf16ToUtf8(OrEmpty(text)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    } catch (...) {
        // Out of memory while building the line: there is nothing left to show it with.
    }
}

// A selection holds its dialog (when it needs one) from offer to offer.
struct CarvixReaderSelection {
    explicit CarvixReaderSelection(const std::u16string& text) : title(text), dialog(text) {}
    std::u16string title;
    carvix::automation::DialogReaderChooser dialog;
};

struct CarvixPinPadNotice {
    std::unique_ptr<carvix::automation::DialogProcess> dialog;
};

void CarvixSetDesktopDialogs(int32_t enabled) {
    carvix::automation::SetDesktopDialogsEnabled(enabled != 0);
}

CarvixReaderSelection* CarvixBeginReaderSelection(const char16_t* title) {
    try {
        return new CarvixReaderSelection(OrEmpty(title));
    } catch (...) {
        return nullptr;
    }
}

int32_t CarvixOfferReaders(CarvixReaderSelection* selection, const CarvixReaderOffer* offers,
                           const uint32_t* cards, uint32_t count, uint32_t waitMs,
                           uint32_t* chosen) {
    if (selection == nullptr || (count != 0 && (offers == nullptr || chosen == nullptr))) {
        return CARVIX_OFFER_CANCELLED;
    }
    if (Snapshot(ReaderChooser()).fn != nullptr) {
        // The host's chooser wins, also over a dialog this selection opened before.
        selection->dialog.Close();
        if (count == 0) {
            return CarvixChooseReader(selection->title.c_str(), nullptr, 0, nullptr) != 0
                       ? CARVIX_OFFER_WAITING
                       : CARVIX_OFFER_CANCELLED;
        }
        return CarvixChooseReader(selection->title.c_str(), offers, count, chosen) != 0
                   ? CARVIX_OFFER_PICKED
                   : CARVIX_OFFER_CANCELLED;
    }
    try {
        // No dialog could be shown: tell the module, so that it does not report a cancel
        // nobody made.
        return selection->dialog.Offer(offers, cards, count, waitMs, chosen)
            .value_or(CARVIX_OFFER_NOBODY);
    } catch (...) {
        return CARVIX_OFFER_CANCELLED;
    }
}

void CarvixEndReaderSelection(CarvixReaderSelection* selection) {
    delete selection;
}

CarvixPinPadNotice* CarvixBeginPinPadNotice(const char16_t* tokenLabel) {
    if (Snapshot(PinPrompt()).fn != nullptr || Snapshot(PinStatePrompt()).fn != nullptr) {
        return nullptr;  // the host shows its own user interface for its tokens
    }
    try {
        auto dialog = carvix::automation::DialogShowPinPad(OrEmpty(tokenLabel));
        if (!dialog) {
            return nullptr;
        }
        return new CarvixPinPadNotice{std::move(dialog)};
    } catch (...) {
        return nullptr;
    }
}

void CarvixEndPinPadNotice(CarvixPinPadNotice* notice) {
    if (notice != nullptr) {
        notice->dialog->Ask({"CLOSE"});
        delete notice;
    }
}

}  // extern "C"
