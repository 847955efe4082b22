#include "emulator.h"

#include <poll.h>

#include <chrono>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "control_socket.h"

namespace carvix::vcard {

Emulator::Emulator(EmulatorOptions options)
    : options_(std::move(options)),
      image_(options_.image),
      applet_(image_.Image(), [this] { image_.Save(); }),
      transport_(applet_, image_.Image().protocol) {
    transport_.SetT1GetResponse(options_.t1GetResponse);
    if (options_.timing) {
        CheckTiming(*options_.timing);
        timingModel_ = *options_.timing;
        timed_ = true;
    }
    for (const auto& f : options_.faults) {
        transport_.Faults().Arm(f, 0);
    }
    if (!options_.apduLog.empty()) {
        log_ = std::fopen(options_.apduLog.c_str(), "a");
        if (log_ == nullptr) {
            throw std::runtime_error("cannot open the APDU log " + options_.apduLog.string());
        }
    }
}

Emulator::~Emulator() {
    if (log_ != nullptr) {
        std::fclose(log_);
    }
}

void Emulator::Log(const Bytes& command, const Bytes* response) {
    if (log_ == nullptr) {
        return;
    }
    const std::string line =
        ToHex(command) + " " + (response ? ToHex(*response) : std::string("-")) + "\n";
    std::fputs(line.c_str(), log_);
    std::fflush(log_);
}

void Emulator::PullOut() {
    link_.Close();
    inserted_ = false;
    powered_ = false;
    transport_.Reset();
}

void Emulator::OnMessage(const Bytes& msg) {
    if (msg.size() == 1) {
        switch (msg[0]) {
            case vpcd::kPowerOff:
                powered_ = false;
                transport_.Reset();
                break;
            case vpcd::kPowerOn:
            case vpcd::kReset:
                powered_ = true;
                transport_.Reset();
                break;
            case vpcd::kGetAtr:
                link_.Send(image_.Image().atr);
                break;
            default:
                break;
        }
        return;
    }
    // A timed card answers when the exchange would have ended on real hardware, counted from
    // the command's arrival, so the host's own work on it is not added twice.
    const auto arrived = std::chrono::steady_clock::now();
    const auto outcome = transport_.Exchange(msg);
    if (outcome.dropLink) {
        Log(msg, nullptr);
        std::cerr << "carvix-vcard: card removed at command " << transport_.Commands() << "\n";
        PullOut();
        return;
    }
    Log(msg, &outcome.response);
    if (timed_) {
        std::this_thread::sleep_until(arrived + ExchangeTime(timingModel_, image_.Image().protocol,
                                                             msg.size(), outcome.response.size()));
    }
    link_.Send(outcome.response);
    if (outcome.dropAfter) {
        std::cerr << "carvix-vcard: card removed after command " << transport_.Commands() << "\n";
        PullOut();
    }
}

std::string Emulator::Control(const std::string& line) {
    std::istringstream in(line);
    std::string verb, arg;
    in >> verb >> arg;
    try {
        if (verb == "ping") {
            return "ok";
        }
        if (verb == "fault" && !arg.empty()) {
            transport_.Faults().Arm(ParseFault(arg), transport_.Commands());
            return "ok";
        }
        if (verb == "clear-faults") {
            transport_.Faults().Clear();
            return "ok";
        }
        if (verb == "remove") {
            PullOut();
            return "ok";
        }
        if (verb == "insert") {
            inserted_ = true;
            return "ok";
        }
        if (verb == "t1-get-response" && (arg == "on" || arg == "off")) {
            transport_.SetT1GetResponse(arg == "on");
            return "ok";
        }
        if (verb == "timing" && (arg == "on" || arg == "off")) {
            timed_ = arg == "on";
            return timed_ ? "ok " + Describe(timingModel_) : "ok";
        }
        if (verb == "status") {
            std::ostringstream s;
            s << "ok inserted=" << inserted_ << " connected=" << link_.Connected()
              << " powered=" << powered_ << " commands=" << transport_.Commands()
              << " timing=" << (timed_ ? "on" : "off");
            return s.str();
        }
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
    return "error: unknown command \"" + line +
           "\" (ping, fault FAULT, clear-faults, remove, insert, t1-get-response on|off, timing "
           "on|off, status)";
}

void Emulator::Run(const std::atomic<bool>& stop) {
    std::unique_ptr<ControlSocket> control;
    if (!options_.control.empty()) {
        control = std::make_unique<ControlSocket>(
            options_.control, [this](const std::string& l) { return Control(l); });
    }
    using Clock = std::chrono::steady_clock;
    auto nextAttempt = Clock::now();
    bool announced = false;
    while (!stop) {
        if (inserted_ && !link_.Connected() && Clock::now() >= nextAttempt) {
            if (link_.TryConnect(options_.host, options_.port)) {
                std::cerr << "carvix-vcard: connected to " << options_.host << ":" << options_.port
                          << "\n";
                announced = false;
            } else {
                if (!announced) {
                    std::cerr << "carvix-vcard: waiting for the reader on " << options_.host << ":"
                              << options_.port << "\n";
                    announced = true;
                }
                nextAttempt = Clock::now() + std::chrono::milliseconds(100);
            }
        }
        std::vector<pollfd> fds;
        if (link_.Connected()) {
            fds.push_back({link_.Fd(), POLLIN, 0});
        }
        if (control) {
            control->AddPollFds(fds);
        }
        const int ready = ::poll(fds.data(), fds.size(), 100);
        if (ready <= 0) {
            continue;  // timeout or a signal
        }
        if (link_.Connected() && fds[0].fd == link_.Fd() && fds[0].revents != 0) {
            if (auto msg = link_.Receive()) {
                OnMessage(*msg);
            } else {
                powered_ = false;
                transport_.Reset();
            }
        }
        if (control) {
            control->OnPoll(fds);
        }
    }
}

}  // namespace carvix::vcard
