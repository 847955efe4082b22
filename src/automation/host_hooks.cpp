#include "carvix/automation/host_hooks.h"

#include "carvix/support/unicode.h"

#include <cstdio>
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
    if (offers == nullptr || count == 0 || chosen == nullptr) {
        return 0;
    }
    const auto hook = Snapshot(Chooser());
    if (hook.fn == nullptr) {
        return 0;  // nobody to ask: a cancel, never a silent pick
    }
    std::uint32_t index = count;
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
        return 0;  // nobody to ask: a cancel, never a silent pick nor an endless wait
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
    Install(PinPrompt(), fn, context);
}

int32_t CarvixAskPin(const char16_t* tokenLabel, char* pin, uint32_t capacity, uint32_t* length) {
    if (pin == nullptr || length == nullptr || capacity == 0) {
        return 0;
    }
    *length = 0;
    const auto hook = Snapshot(PinPrompt());
    if (hook.fn == nullptr) {
        return 0;  // nobody to ask: a cancel
    }
    std::uint32_t entered = 0;
    if (hook.fn(hook.context, OrEmpty(tokenLabel), pin, capacity, &entered) == 0 ||
        entered > capacity) {
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
        const std::string line =
            Orvel::Utf16ToUtf8(OrEmpty(caption)) + ": " + Orvel::Utf16ToUtf8(OrEmpty(text)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    } catch (...) {
        // Out of memory while building the line: there is nothing left to show it with.
    }
}

}  // extern "C"
