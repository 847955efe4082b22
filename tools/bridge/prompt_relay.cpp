#include "prompt_relay.h"

#include "carvix/automation/client.h"

#include <cstring>
#include <iostream>

namespace carvix::bridge {
namespace {

using Json = nlohmann::json;

std::string Text(const char16_t* text) {
    return text == nullptr ? std::string() : automation::Utf8(std::u16string_view(text));
}

std::string HexBytes(const std::uint8_t* bytes, std::uint32_t length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint32_t i = 0; bytes != nullptr && i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

}  // namespace

void Wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) {
        p[i] = 0;
    }
    secret.clear();
}

void PromptRelay::Install() {
    CarvixSetNotifier(
        [](void* self, const char16_t* caption, const char16_t* text, std::uint32_t style) {
            static_cast<PromptRelay*>(self)->Notify(caption, text, style);
        },
        this);
    CarvixSetReaderChooser(
        [](void* self, const char16_t* title, const CarvixReaderOffer* offers, std::uint32_t count,
           std::uint32_t* chosen) {
            return static_cast<PromptRelay*>(self)->ChooseReader(title, offers, count, chosen);
        },
        this);
    CarvixSetCertificateChooser(
        [](void* self, const char16_t* title, const char16_t* text,
           const CarvixCertificateOffer* offers, std::uint32_t count, std::uint32_t* chosen) {
            return static_cast<PromptRelay*>(self)->ChooseCertificate(title, text, offers, count,
                                                                      chosen);
        },
        this);
    CarvixSetPinPromptWithState(
        [](void* self, const char16_t* token, std::int32_t triesLeft, std::uint32_t state,
           char* pin, std::uint32_t capacity, std::uint32_t* length) {
            return static_cast<PromptRelay*>(self)->AskPin(token, pin, capacity, length, triesLeft,
                                                           state);
        },
        this);
    installed_ = true;
}

void PromptRelay::Uninstall() {
    if (!installed_) {
        return;
    }
    CarvixSetNotifier(nullptr, nullptr);
    CarvixSetReaderChooser(nullptr, nullptr);
    CarvixSetCertificateChooser(nullptr, nullptr);
    CarvixSetPinPromptWithState(nullptr, nullptr);
    installed_ = false;
}

std::optional<Json> PromptRelay::Ask(Json prompt) {
    std::unique_lock hold(lock_);
    if (closed_ || requestCancelled_) {
        return std::nullopt;
    }
    const std::int64_t number = next_++;
    open_.emplace(number, std::nullopt);
    prompt["prompt"] = number;
    hold.unlock();
    const bool sent = send_(prompt);
    hold.lock();
    if (sent) {
        answered_.wait(hold, [&] { return closed_ || open_.at(number).has_value(); });
    }
    std::optional<Json> answer = std::move(open_.at(number));
    open_.erase(number);
    return answer;
}

void PromptRelay::Tell(Json prompt) {
    {
        const std::lock_guard hold(lock_);
        if (closed_) {
            return;
        }
        prompt["prompt"] = next_++;
    }
    send_(prompt);
}

void PromptRelay::Deliver(Json answer) {
    const auto number = answer.find("prompt");
    if (number == answer.end() || !number->is_number_integer()) {
        return;
    }
    const std::lock_guard hold(lock_);
    const std::int64_t n = number->get<std::int64_t>();
    if (auto found = open_.find(n); found != open_.end() && !found->second) {
        found->second = std::move(answer);
        answered_.notify_all();
    } else if (n == waitPrompt_ && n != 0) {
        const auto index = answer.find("index");
        waitCancelled_ = index == answer.end() || !index->is_number_integer();
    }
}

void PromptRelay::Close() {
    const std::lock_guard hold(lock_);
    closed_ = true;
    answered_.notify_all();
}

void PromptRelay::BeginRequest() {
    const std::lock_guard hold(lock_);
    waitPrompt_ = 0;
    waitCancelled_ = false;
    requestCancelled_ = false;
}

void PromptRelay::CancelRequest() {
    const std::lock_guard hold(lock_);
    requestCancelled_ = true;
    waitCancelled_ = true;
    for (auto& [number, answer] : open_) {
        if (!answer) {
            answer = Json{{"prompt", number}};  // neither an index nor a PIN: a cancel
        }
    }
    answered_.notify_all();
}

std::optional<std::uint32_t> PromptRelay::AskIndex(Json prompt, std::uint32_t count) {
    const std::optional<Json> answer = Ask(std::move(prompt));
    if (!answer) {
        return std::nullopt;
    }
    const auto index = answer->find("index");
    if (index == answer->end() || !index->is_number_integer()) {
        return std::nullopt;
    }
    const std::int64_t i = index->get<std::int64_t>();
    if (i < 0 || i >= static_cast<std::int64_t>(count)) {
        return std::nullopt;  // out of range counts as a cancel
    }
    return static_cast<std::uint32_t>(i);
}

std::int32_t PromptRelay::ChooseReader(const char16_t* title, const CarvixReaderOffer* offers,
                                       std::uint32_t count, std::uint32_t* chosen) {
    if (count == 0) {
        // "Wait for a card?" is asked once per request; the component asks the hook again
        // about once a second while it waits, and those calls go on waiting until the user
        // cancels the prompt answered before.
        {
            const std::lock_guard hold(lock_);
            if (closed_ || requestCancelled_) {
                return 0;
            }
            if (waitPrompt_ != 0) {
                return waitCancelled_ ? 0 : 1;
            }
        }
        Json prompt{{"kind", "reader"}, {"title", Text(title)}, {"readers", Json::array()}};
        const std::optional<Json> answer = Ask(std::move(prompt));
        if (!answer) {
            return 0;
        }
        const auto index = answer->find("index");
        if (index == answer->end() || !index->is_number_integer() ||
            index->get<std::int64_t>() != 0) {
            return 0;
        }
        const std::lock_guard hold(lock_);
        waitPrompt_ = answer->at("prompt").get<std::int64_t>();
        return closed_ ? 0 : 1;
    }
    if (offers == nullptr || chosen == nullptr) {
        return 0;
    }
    {
        const std::lock_guard hold(lock_);
        waitPrompt_ = 0;  // the wait is over: there are readers to choose from
        waitCancelled_ = false;
    }
    Json readers = Json::array();
    for (std::uint32_t i = 0; i < count; ++i) {
        readers.push_back({{"name", Text(offers[i].reader)},
                           {"atr", HexBytes(offers[i].atr, offers[i].atrLength)}});
    }
    const auto index = AskIndex(
        Json{{"kind", "reader"}, {"title", Text(title)}, {"readers", std::move(readers)}}, count);
    if (!index) {
        return 0;
    }
    *chosen = *index;
    return 1;
}

std::int32_t PromptRelay::ChooseCertificate(const char16_t* title, const char16_t* text,
                                            const CarvixCertificateOffer* offers,
                                            std::uint32_t count, std::uint32_t* chosen) {
    if (offers == nullptr || chosen == nullptr || count == 0) {
        return 0;
    }
    Json certificates = Json::array();
    for (std::uint32_t i = 0; i < count; ++i) {
        certificates.push_back({{"subject", Text(offers[i].subject)},
                                {"issuer", Text(offers[i].issuer)},
                                {"notAfter", Text(offers[i].notAfter)},
                                {"thumbprint", Text(offers[i].thumbprint)},
                                {"selected", offers[i].initiallySelected != 0}});
    }
    const auto index = AskIndex(Json{{"kind", "certificate"},
                                     {"title", Text(title)},
                                     {"text", Text(text)},
                                     {"certificates", std::move(certificates)}},
                                count);
    if (!index) {
        return 0;
    }
    *chosen = *index;
    return 1;
}

void PromptRelay::SetQuiet(bool quiet) {
    const std::lock_guard hold(lock_);
    quiet_ = quiet;
}

void PromptRelay::Notify(const char16_t* caption, const char16_t* text, std::uint32_t style) {
    {
        const std::lock_guard hold(lock_);
        if (quiet_) {
            std::cerr << "carvix-bridge: notice held back while reading a snapshot: "
                      << Text(caption) << ": " << Text(text) << "\n";
            return;
        }
    }
    Tell(Json{
        {"kind", "notice"}, {"caption", Text(caption)}, {"text", Text(text)}, {"style", style}});
}

std::int32_t PromptRelay::AskPin(const char16_t* token, char* pin, std::uint32_t capacity,
                                 std::uint32_t* length, std::int32_t triesLeft,
                                 std::uint32_t state) {
    if (pin == nullptr || length == nullptr) {
        return 0;
    }
    *length = 0;
    if ((state & CARVIX_PIN_LOCKED) != 0) {
        return 0;  // nothing to ask: the call fails with SCARD_W_CHV_BLOCKED
    }
    Json question{{"kind", "pin"}, {"token", Text(token)}};
    if (triesLeft >= 0) {
        question["triesLeft"] = triesLeft;
    }
    Json words = Json::array();
    for (const auto& [bit, word] : {std::pair{CARVIX_PIN_WAS_WRONG, "was-wrong"},
                                    std::pair{CARVIX_PIN_COUNT_LOW, "count-low"},
                                    std::pair{CARVIX_PIN_FINAL_TRY, "final-try"}}) {
        if ((state & bit) != 0) {
            words.push_back(word);
        }
    }
    if (!words.empty()) {
        question["state"] = words;
    }
    std::optional<Json> answer = Ask(question);
    if (!answer) {
        return 0;
    }
    auto entered = answer->find("pin");
    if (entered == answer->end() || !entered->is_string()) {
        return 0;
    }
    std::string& secret = entered->get_ref<std::string&>();
    std::int32_t ok = 0;
    if (secret.size() <= capacity) {
        std::memcpy(pin, secret.data(), secret.size());
        *length = static_cast<std::uint32_t>(secret.size());
        ok = 1;
    } else {
        // Cut short it would be a wrong PIN, and a wrong PIN counts against the token.
        std::cerr << "carvix-bridge: the PIN entered is longer than the token takes\n";
    }
    Wipe(secret);
    return ok;
}

}  // namespace carvix::bridge
