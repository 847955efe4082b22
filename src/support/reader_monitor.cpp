#include "carvix/support/reader_monitor.h"

#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/unicode.h"

#include <chrono>
#include <thread>

namespace Orvel::PCSC {
namespace {

constexpr char kPnpReader[] = "\\\\?PnP?\\Notification";

}  // namespace

std::vector<ReaderState> ReaderMonitor::Refresh() {
    const std::vector<std::u16string> readers = context_.ListReaders();
    names_.clear();
    for (const std::u16string& name : readers) {
        names_.push_back(Utf16ToUtf8(name));
    }
    names_.emplace_back(kPnpReader);
    states_.assign(names_.size(), SCARD_READERSTATE{});
    for (std::size_t i = 0; i < names_.size(); ++i) {
        states_[i].szReader = names_[i].c_str();
        states_[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    // The pseudo-reader's high word is the number of readers the caller knows of.
    states_.back().dwCurrentState = static_cast<DWORD>(readers.size()) << 16;

    const std::uint32_t code = detail::Code(Api().GetStatusChange(
        context_.Handle(), 0, states_.data(), static_cast<DWORD>(states_.size())));
    if (code != kSuccess && code != kTimeout) {
        throw PCSCWin32Exception("SCardGetStatusChange", code);
    }
    std::vector<ReaderState> result;
    result.reserve(readers.size());
    for (std::size_t i = 0; i < states_.size(); ++i) {
        SCARD_READERSTATE& s = states_[i];
        // What was seen now is what the next wait compares against.
        s.dwCurrentState = s.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        if (i + 1 == states_.size()) {
            break;
        }
        ReaderState r{readers[i],
                      static_cast<std::uint32_t>(s.dwEventState & 0xFFFFu),
                      static_cast<std::uint32_t>(s.dwEventState >> 16),
                      {}};
        if (r.CardPresent()) {
            const DWORD length = s.cbAtr <= sizeof s.rgbAtr ? s.cbAtr : sizeof s.rgbAtr;
            r.atr.assign(s.rgbAtr, s.rgbAtr + length);
        }
        result.push_back(std::move(r));
    }
    return result;
}

bool ReaderMonitor::Wait(std::uint32_t timeoutMs) {
    if (states_.empty()) {
        Refresh();
    }
    const std::uint32_t code = detail::Code(Api().GetStatusChange(
        context_.Handle(), timeoutMs, states_.data(), static_cast<DWORD>(states_.size())));
    if (code == kSuccess) {
        return true;
    }
    if (code == kTimeout) {
        return false;
    }
    if (code == kNoReadersAvailable) {
        // A resource manager without the pseudo-reader cannot wait for a reader to come:
        // look again after the same time.
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return true;
    }
    throw PCSCWin32Exception("SCardGetStatusChange", code);
}

}  // namespace Orvel::PCSC
