// The module's questions to the user, asked in the browser. While a request runs, the
// module may call a host hook (a notice, the reader or certificate chooser, the PIN
// prompt); the relay sends the question to the page as a prompt message and blocks the hook
// until the answer arrives, which the thread reading the port hands over. A closed port
// cancels every question. A PIN passes through without being logged or kept: it is copied
// into the module's buffer and the relay's copy is wiped.
#pragma once

#include "carvix/automation/host_hooks.h"

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace carvix::bridge {

class PromptRelay {
  public:
    /// Sends one prompt message; false when it could not be sent.
    using Sender = std::function<bool(const nlohmann::json&)>;
    explicit PromptRelay(Sender send) : send_(std::move(send)) {}
    ~PromptRelay() { Uninstall(); }
    PromptRelay(const PromptRelay&) = delete;
    PromptRelay& operator=(const PromptRelay&) = delete;

    /// Installs the relay as the process's notifier, choosers and PIN prompt.
    void Install();
    void Uninstall();

    /// Sends `prompt` under a new number and waits for its answer; nothing when the port
    /// closed or the prompt could not be sent.
    std::optional<nlohmann::json> Ask(nlohmann::json prompt);
    /// Sends `prompt` under a new number without waiting.
    void Tell(nlohmann::json prompt);

    /// An `answer` message from the page (any thread). Answers to no open prompt are dropped.
    void Deliver(nlohmann::json answer);
    /// The port closed: every open and later question is cancelled.
    void Close();
    /// While quiet, notices go to standard error instead of the page (the host is reading
    /// properties nobody asked for).
    void SetQuiet(bool quiet);
    /// A new request starts: an earlier "go on waiting for a card" no longer holds.
    void BeginRequest();
    /// The page cancelled the running request: its open prompts are answered as cancelled,
    /// a wait for a card ends, and nothing more is asked until the next request begins.
    void CancelRequest();

    // The hooks, reachable for tests without installing them.
    std::int32_t ChooseReader(const char16_t* title, const CarvixReaderOffer* offers,
                              std::uint32_t count, std::uint32_t* chosen);
    std::int32_t ChooseCertificate(const char16_t* title, const char16_t* text,
                                   const CarvixCertificateOffer* offers, std::uint32_t count,
                                   std::uint32_t* chosen);
    void Notify(const char16_t* caption, const char16_t* text, std::uint32_t style);
    std::int32_t AskPin(const char16_t* token, char* pin, std::uint32_t capacity,
                        std::uint32_t* length, std::int32_t triesLeft = -1,
                        std::uint32_t state = 0);

  private:
    // The chosen index of a reader or certificate answer, when it is one below `count`.
    std::optional<std::uint32_t> AskIndex(nlohmann::json prompt, std::uint32_t count);

    Sender send_;
    std::mutex lock_;
    std::condition_variable answered_;
    std::int64_t next_ = 1;
    std::map<std::int64_t, std::optional<nlohmann::json>> open_;  // prompt -> answer
    bool closed_ = false;
    // The "wait for a card?" prompt the user answered with "wait on" in this request; a
    // later null answer to it ends the wait.
    std::int64_t waitPrompt_ = 0;
    bool waitCancelled_ = false;
    bool requestCancelled_ = false;
    bool installed_ = false;
    bool quiet_ = false;
};

/// Overwrites the text's bytes before it is cleared, for secrets.
void Wipe(std::string& secret);

}  // namespace carvix::bridge
