#include "watch_command.h"

#include "failure_text.h"

#include "carvix/card/applet_command_set.h"
#include "carvix/contactless/contactless_card_check.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/card_wait.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/hex.h"
#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/unicode.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>

namespace carvix::cli {
namespace {

namespace pcsc = Orvel::PCSC;

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) {
    gStop = 1;
}

// How long one wait lasts before the stop flag is looked at again.
constexpr std::uint32_t kWaitMs = 250;

std::string Code(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

CardEvent Inserted(const pcsc::ReaderState& r) {
    CardEvent e{CardEvent::Kind::CardInserted,
                Orvel::Utf16ToUtf8(r.name),
                Orvel::ToHex(std::span<const std::uint8_t>(r.atr)),
                {},
                {},
                {},
                {}};
    if ((r.state & SCARD_STATE_MUTE) != 0) {
        e.error = "the card does not answer";
    }
    return e;
}

CardEvent Plain(CardEvent::Kind kind, const pcsc::ReaderState& r) {
    return CardEvent{kind, Orvel::Utf16ToUtf8(r.name), {}, {}, {}, {}, {}};
}

bool Selects(std::uint16_t application, const SmartCardIO::TransactionGuard& guard) {
    try {
        AppletCommandSet::For(application).SelectApplet(guard);
        return true;
    } catch (const JavaCard::AppletException&) {
        return false;
    }
}

}  // namespace

void ProbeApplications(CardEvent& event, const std::optional<std::string>& contactlessFolder) {
    SCARDHANDLE handle = 0;
    std::uint32_t code = 0;
    // A context of its own, alive until the card is let go: a card another program holds is
    // waited for only up to the card wait limit, after which the context belongs to the
    // connect still waiting.
    std::optional<pcsc::PCSCContext> context;
    try {
        context.emplace(pcsc::kScopeUser);
        std::uint32_t protocol = 0;
        code = pcsc::ConnectWithin(*context, event.reader, pcsc::kShareShared,
                                   pcsc::kProtocolT0OrT1, handle, protocol);
    } catch (const pcsc::CardInUseException&) {
        event.error = "in use by another program";
        return;
    } catch (const pcsc::PCSCWin32Exception& e) {
        code = e.Code();
    }
    if (code != pcsc::kSuccess) {
        event.error = "cannot connect: " + Code(code);
        return;
    }
    try {
        SmartCardIO::CardConnection connection(handle, pcsc::kShareShared, pcsc::kProtocolT0OrT1);
        SmartCardIO::TransactionGuard guard(connection);
        event.vl = Selects(1, guard);
        event.zk = Selects(5, guard);
    } catch (const pcsc::PCSCWin32Exception& e) {
        event.vl.reset();
        event.zk.reset();
        event.error = "cannot ask the card: " + Code(e.Code());
    } catch (...) {
        event.vl.reset();
        event.zk.reset();
        event.error = "cannot ask the card";
    }
    if (contactlessFolder && event.error.empty()) {
        event.contactless = carvix::contactless::CheckContactlessCard(handle, *contactlessFolder);
    }
    pcsc::Api().Disconnect(handle, pcsc::kLeaveCard);
}

namespace {

const char* KindName(CardEvent::Kind kind, bool json) {
    switch (kind) {
        case CardEvent::Kind::ReaderAdded:
            return json ? "reader-added" : "reader added";
        case CardEvent::Kind::ReaderRemoved:
            return json ? "reader-removed" : "reader removed";
        case CardEvent::Kind::CardInserted:
            return json ? "card-inserted" : "card inserted";
        case CardEvent::Kind::CardRemoved:
            return json ? "card-removed" : "card removed";
    }
    return "";
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

std::vector<CardEvent> EventsBetween(const std::vector<pcsc::ReaderState>& before,
                                     const std::vector<pcsc::ReaderState>& after) {
    std::map<std::u16string, const pcsc::ReaderState*> old;
    std::map<std::u16string, const pcsc::ReaderState*> now;
    for (const auto& r : before) {
        old[r.name] = &r;
    }
    for (const auto& r : after) {
        now[r.name] = &r;
    }
    std::vector<CardEvent> events;
    for (const auto& r : before) {
        if (now.count(r.name) == 0) {
            if (r.CardPresent()) {
                events.push_back(Plain(CardEvent::Kind::CardRemoved, r));
            }
            events.push_back(Plain(CardEvent::Kind::ReaderRemoved, r));
        }
    }
    for (const auto& r : after) {
        const auto it = old.find(r.name);
        if (it == old.end()) {
            events.push_back(Plain(CardEvent::Kind::ReaderAdded, r));
            if (r.CardPresent()) {
                events.push_back(Inserted(r));
            }
            continue;
        }
        const pcsc::ReaderState& was = *it->second;
        const bool replaced = was.CardPresent() && r.CardPresent() && was.events != r.events;
        if (was.CardPresent() && (!r.CardPresent() || replaced)) {
            events.push_back(Plain(CardEvent::Kind::CardRemoved, r));
        }
        if (r.CardPresent() && (!was.CardPresent() || replaced)) {
            events.push_back(Inserted(r));
        }
    }
    return events;
}

std::string EventTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t used = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + used, sizeof text - used, ".%03dZ", static_cast<int>(ms));
    return text;
}

std::string EventLine(const CardEvent& e, bool json, const std::string& time) {
    if (json) {
        nlohmann::ordered_json line;
        if (!time.empty()) {
            line["time"] = time;
        }
        line["event"] = KindName(e.kind, true);
        line["reader"] = e.reader;
        if (e.kind == CardEvent::Kind::CardInserted) {
            line["atr"] = e.atr;
            if (e.vl && e.zk) {
                line["vl"] = *e.vl;
                line["zk"] = *e.zk;
            }
            if (e.contactless.value_or(false)) {
                line["contactless"] = true;
            }
            if (!e.error.empty()) {
                line["error"] = e.error;
            }
        }
        return line.dump();
    }
    std::string text = (time.empty() ? "" : time + " ") + KindName(e.kind, false) + ": " + e.reader;
    if (e.kind == CardEvent::Kind::CardInserted) {
        text += ", ATR " + e.atr;
        if (e.vl && e.zk) {
            text += std::string(", VL ") + YesNo(*e.vl) + ", ZK " + YesNo(*e.zk);
        }
        if (e.contactless.value_or(false)) {
            text += ", contactless";
        }
        if (!e.error.empty()) {
            text += ", " + e.error;
        }
    }
    return text;
}

int Watch(bool json, const std::optional<std::string>& contactlessFolder) {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    try {
        pcsc::PCSCContext context(pcsc::kScopeUser);
        pcsc::ReaderMonitor monitor(context);
        std::vector<pcsc::ReaderState> seen;
        bool look = true;
        while (gStop == 0) {
            if (look) {
                std::vector<pcsc::ReaderState> now = monitor.Refresh();
                for (CardEvent& e : EventsBetween(seen, now)) {
                    if (e.kind == CardEvent::Kind::CardInserted && e.error.empty()) {
                        ProbeApplications(e, contactlessFolder);
                    }
                    std::cout << EventLine(e, json, EventTime()) << std::endl;
                }
                seen = std::move(now);
            }
            look = monitor.Wait(kWaitMs);
        }
    } catch (const pcsc::PCSCWin32Exception& e) {
        std::cerr << PcscFailureText(e.OperationName(), e.Code(), Orvel::Utf16ToUtf8(e.Message()));
        return 1;
    }
    return 0;
}

}  // namespace carvix::cli
