#include "scripted_channel.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/hex.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <sstream>

namespace carvix::test {
namespace {

struct Pattern {
    std::vector<int> bytes;  // -1 matches any byte
    bool anyRest = false;
    std::string text;
};

Pattern ParsePattern(std::string_view text) {
    Pattern pattern;
    pattern.text = std::string(text);
    std::string compact;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            compact.push_back(c);
        }
    }
    if (!compact.empty() && compact.back() == '*') {
        pattern.anyRest = true;
        compact.pop_back();
    }
    if (compact.size() % 2 != 0) {
        throw std::invalid_argument("odd number of hex digits in \"" + pattern.text + "\"");
    }
    for (std::size_t i = 0; i < compact.size(); i += 2) {
        const std::string pair = compact.substr(i, 2);
        if (pair == "??") {
            pattern.bytes.push_back(-1);
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            throw std::invalid_argument("bad hex \"" + pair + "\" in \"" + pattern.text + "\"");
        }
        pattern.bytes.push_back(std::stoi(pair, nullptr, 16));
    }
    return pattern;
}

bool Matches(const Pattern& pattern, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < pattern.bytes.size() ||
        (!pattern.anyRest && bytes.size() != pattern.bytes.size())) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.bytes.size(); ++i) {
        if (pattern.bytes[i] >= 0 && pattern.bytes[i] != bytes[i]) {
            return false;
        }
    }
    return true;
}

const char* CallName(ChannelOp op) {
    switch (op) {
        case ChannelOp::Connect:
            return "SCardConnect";
        case ChannelOp::Disconnect:
            return "SCardDisconnect";
        case ChannelOp::BeginTransaction:
            return "SCardBeginTransaction";
        case ChannelOp::EndTransaction:
            return "SCardEndTransaction";
        case ChannelOp::Transmit:
            return "SCardTransmit";
        case ChannelOp::Control:
            return "SCardControl";
    }
    return "?";
}

std::string CodeText(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace

struct CardScript::State {
    struct Step {
        ChannelOp op = ChannelOp::Transmit;
        std::optional<Pattern> command;
        Orvel::ByteArray response;
        std::optional<bool> extended;
        std::optional<std::uint32_t> failure;
        std::uint32_t controlCode = 0;
    };

    std::vector<Step> steps;
    std::size_t next = 0;
    std::uint32_t protocol;
    bool requireTransaction = true;
    int transactions = 0;
    std::vector<Orvel::ByteArray> sent;
    std::vector<std::string> events;

    [[noreturn]] void Surprise(const std::string& what) {
        ADD_FAILURE() << "scripted card: " << what;
        throw ScriptSurprise(what);
    }

    std::string Describe(const Step& step) const {
        std::string text = step.op == ChannelOp::Transmit ? "transmit" : CallName(step.op);
        if (step.command) {
            text += " " + step.command->text;
        }
        if (step.failure) {
            text += " failing with " + CodeText(*step.failure);
        }
        return text;
    }

    // Throws the scripted fault when the next step is one for `op`.
    void FaultPoint(ChannelOp op) {
        if (next < steps.size() && steps[next].op == op && steps[next].failure &&
            !steps[next].command) {
            const std::uint32_t code = *steps[next].failure;
            ++next;
            events.push_back(std::string("fail ") + CallName(op) + " " + CodeText(code));
            throw Orvel::PCSC::PCSCWin32Exception(CallName(op), code);
        }
    }

    Orvel::ByteArray Transmit(std::span<const std::uint8_t> command, bool extended) {
        const std::string hex = ToHex(command);
        events.push_back("transmit " + hex);
        sent.emplace_back(command.begin(), command.end());
        if (requireTransaction && transactions == 0) {
            Surprise("transmission outside a transaction: " + hex);
        }
        FaultPoint(ChannelOp::Transmit);
        if (next >= steps.size()) {
            Surprise("transmission after the end of the script: " + hex);
        }
        const Step& step = steps[next];
        if (step.op != ChannelOp::Transmit || !step.command) {
            Surprise("step " + std::to_string(next) + " expects " + Describe(step) +
                     ", got transmit " + hex);
        }
        if (!Matches(*step.command, command)) {
            Surprise("step " + std::to_string(next) + " expects " + step.command->text + ", got " +
                     hex);
        }
        if (step.extended && *step.extended != extended) {
            Surprise("step " + std::to_string(next) +
                     " expects extended=" + (*step.extended ? "true" : "false") + " for " + hex);
        }
        ++next;
        if (step.failure) {
            events.push_back("fail SCardTransmit " + CodeText(*step.failure));
            throw Orvel::PCSC::PCSCWin32Exception("SCardTransmit", *step.failure);
        }
        return step.response;
    }

    Orvel::ByteArray Control(std::uint32_t code, std::span<const std::uint8_t> input) {
        const std::string hex = ToHex(input);
        events.push_back("control " + CodeText(code) + " " + hex);
        FaultPoint(ChannelOp::Control);
        if (next >= steps.size() || steps[next].op != ChannelOp::Control || !steps[next].command) {
            Surprise("unexpected control " + CodeText(code) + " " + hex);
        }
        const Step& step = steps[next];
        if (step.controlCode != code || !Matches(*step.command, input)) {
            Surprise("step " + std::to_string(next) + " expects control " +
                     CodeText(step.controlCode) + " " + step.command->text + ", got " +
                     CodeText(code) + " " + hex);
        }
        ++next;
        return step.response;
    }
};

namespace {

class ScriptedChannel final : public Orvel::PCSC::CardChannel {
  public:
    ScriptedChannel(std::shared_ptr<CardScript::State> state, ChannelKind kind)
        : state_(std::move(state)), kind_(kind), connected_(kind == ChannelKind::Handle) {}

    void Connect() override {
        if (kind_ == ChannelKind::Handle) {
            return;
        }
        if (connected_) {
            throw Orvel::PCSC::PCSCWin32Exception("PCSCComm::Connect", Orvel::PCSC::kInternalError);
        }
        state_->FaultPoint(ChannelOp::Connect);
        state_->events.push_back("connect");
        connected_ = true;
    }

    void Disconnect(std::uint32_t disposition) override {
        if (kind_ == ChannelKind::Handle) {
            return;
        }
        if (!connected_) {
            throw Orvel::PCSC::PCSCWin32Exception("PCSCComm::Disconnect",
                                                  Orvel::PCSC::kInternalError);
        }
        state_->FaultPoint(ChannelOp::Disconnect);
        state_->events.push_back("disconnect " + std::to_string(disposition));
        connected_ = false;
        // A disconnect ends the transaction the connection held, however deeply nested.
        state_->transactions -= depth_ > 0 ? 1 : 0;
        depth_ = 0;
    }

    void BeginTransaction() override {
        AssertConnected();
        state_->FaultPoint(ChannelOp::BeginTransaction);
        state_->events.push_back("begin");
        // Like pcsc-lite, begins on one handle nest and are counted.
        if (depth_++ == 0) {
            ++state_->transactions;
        }
    }

    void EndTransaction() override {
        AssertConnected();
        state_->FaultPoint(ChannelOp::EndTransaction);
        state_->events.push_back("end");
        if (depth_ > 0 && --depth_ == 0) {
            --state_->transactions;
        }
    }

    Orvel::ByteArray Transmit(std::span<const std::uint8_t> command, bool extended) override {
        AssertConnected();
        return state_->Transmit(command, extended);
    }

    Orvel::ByteArray Control(std::uint32_t code, std::span<const std::uint8_t> input) override {
        AssertConnected();
        return state_->Control(code, input);
    }

    std::uint32_t GetProtocol() const override { return connected_ ? state_->protocol : 0; }

  private:
    void AssertConnected() const {
        if (!connected_) {
            throw Orvel::PCSC::PCSCWin32Exception("PCSCComm::AssertConnected",
                                                  Orvel::PCSC::kInternalError);
        }
    }

    std::shared_ptr<CardScript::State> state_;
    ChannelKind kind_;
    bool connected_;
    int depth_ = 0;  // nested begins not yet ended
};

}  // namespace

Orvel::ByteArray FromHex(std::string_view hex) {
    const Pattern pattern = ParsePattern(hex);
    Orvel::ByteArray bytes;
    for (int b : pattern.bytes) {
        if (b < 0) {
            throw std::invalid_argument("wildcard in plain hex \"" + pattern.text + "\"");
        }
        bytes.push_back(static_cast<std::uint8_t>(b));
    }
    if (pattern.anyRest) {
        throw std::invalid_argument("wildcard in plain hex \"" + pattern.text + "\"");
    }
    return bytes;
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    return Orvel::ToHex(bytes, " ");
}

CardScript::CardScript(std::uint32_t protocol) : state_(std::make_shared<State>()) {
    state_->protocol = protocol;
}

CardScript::~CardScript() {
    ExpectDone();
}

CardScript& CardScript::Apdu(std::string_view command, std::string_view response) {
    State::Step step;
    step.command = ParsePattern(command);
    step.response = FromHex(response);
    state_->steps.push_back(std::move(step));
    return *this;
}

CardScript& CardScript::Apdu(const Orvel::ByteArray& command, const Orvel::ByteArray& response) {
    return Apdu(ToHex(command), ToHex(response));
}

CardScript& CardScript::Apdu(std::string_view command, std::string_view response, bool extended) {
    Apdu(command, response);
    state_->steps.back().extended = extended;
    return *this;
}

CardScript& CardScript::ApduFails(std::string_view command, std::uint32_t code) {
    State::Step step;
    step.command = ParsePattern(command);
    step.failure = code;
    state_->steps.push_back(std::move(step));
    return *this;
}

CardScript& CardScript::Fail(ChannelOp op, std::uint32_t code) {
    State::Step step;
    step.op = op;
    step.failure = code;
    state_->steps.push_back(std::move(step));
    return *this;
}

CardScript& CardScript::Control(std::uint32_t controlCode, std::string_view input,
                                std::string_view output) {
    State::Step step;
    step.op = ChannelOp::Control;
    step.controlCode = controlCode;
    step.command = ParsePattern(input);
    step.response = FromHex(output);
    state_->steps.push_back(std::move(step));
    return *this;
}

CardScript& CardScript::RequireTransaction(bool required) {
    state_->requireTransaction = required;
    return *this;
}

CardScript& CardScript::Protocol(std::uint32_t protocol) {
    state_->protocol = protocol;
    return *this;
}

std::unique_ptr<Orvel::PCSC::CardChannel> CardScript::Channel(ChannelKind kind) {
    return std::make_unique<ScriptedChannel>(state_, kind);
}

const std::vector<Orvel::ByteArray>& CardScript::Sent() const {
    return state_->sent;
}
const std::vector<std::string>& CardScript::Events() const {
    return state_->events;
}
std::size_t CardScript::StepsLeft() const {
    return state_->steps.size() - state_->next;
}
bool CardScript::InTransaction() const {
    return state_->transactions > 0;
}

void CardScript::ExpectDone() {
    if (StepsLeft() == 0) {
        return;
    }
    ADD_FAILURE() << "scripted card: " << StepsLeft()
                  << " step(s) not used, next: " << state_->Describe(state_->steps[state_->next]);
    // Report once.
    state_->next = state_->steps.size();
}

}  // namespace carvix::test
