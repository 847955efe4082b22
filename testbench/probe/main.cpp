// carvix-probe: a small PC/SC client for the bench and the demo.
//   carvix-probe list                      readers, one a line, with card state
//   carvix-probe wait READER present|empty [--timeout SECONDS]
//   carvix-probe send READER APDU...       connects, sends each APDU (hex), prints replies
//   carvix-probe hold READER exclusive|transaction --seconds N
//                                          holds the card the way another program would (an
//                                          exclusive connection, or a long transaction), prints
//                                          "holding" once it does, and lets go after N seconds
// It talks to the PC/SC daemon that PCSCLITE_CSOCK_NAME names (the system one by default).
#include "carvix/support/hex.h"
#include "carvix/support/multi_string.h"

#include <winscard.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::uint32_t Code(LONG rv) {
    return static_cast<std::uint32_t>(rv);
}

class Context {
  public:
    Context() {
        const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx_);
        if (rv != SCARD_S_SUCCESS) {
            throw std::runtime_error(std::string("no PC/SC service: ") + pcsc_stringify_error(rv));
        }
    }
    ~Context() { SCardReleaseContext(ctx_); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    SCARDCONTEXT Get() const { return ctx_; }

  private:
    SCARDCONTEXT ctx_ = 0;
};

std::vector<std::string> Readers(const Context& ctx) {
    DWORD len = 0;
    LONG rv = SCardListReaders(ctx.Get(), nullptr, nullptr, &len);
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        return {};
    }
    std::string buf(len, '\0');
    rv = SCardListReaders(ctx.Get(), nullptr, buf.data(), &len);
    if (rv != SCARD_S_SUCCESS) {
        return {};
    }
    buf.resize(std::min<std::size_t>(len, buf.size()));
    std::vector<std::string> out;
    for (std::string_view name : Orvel::SplitMultiString(buf)) {
        out.emplace_back(name);
    }
    return out;
}

DWORD State(const Context& ctx, const std::string& reader) {
    SCARD_READERSTATE rs{};
    rs.szReader = reader.c_str();
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    if (SCardGetStatusChange(ctx.Get(), 0, &rs, 1) != SCARD_S_SUCCESS) {
        return SCARD_STATE_UNKNOWN;
    }
    return rs.dwEventState;
}

std::vector<std::uint8_t> FromHex(const std::string& text) {
    Orvel::HexText hex = Orvel::ParseHex(text, " :", Orvel::HexSeparators::Anywhere);
    if (hex.fault == Orvel::HexFault::NotADigit) {
        throw std::invalid_argument("not hex: " + text);
    }
    if (hex.fault != Orvel::HexFault::None) {
        throw std::invalid_argument("odd number of hex digits: " + text);
    }
    return std::move(hex.bytes);
}

std::string ToHex(const std::uint8_t* p, std::size_t n) {
    return Orvel::ToHex({p, n}, " ");
}

int List() {
    Context ctx;
    for (const auto& r : Readers(ctx)) {
        const DWORD s = State(ctx, r);
        std::cout << r << "\t" << ((s & SCARD_STATE_PRESENT) ? "card" : "empty") << "\n";
    }
    return 0;
}

int Wait(const std::string& reader, const std::string& want, double timeout) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            Context ctx;
            const DWORD s = State(ctx, reader);
            const bool present = (s & SCARD_STATE_PRESENT) != 0;
            const bool known = (s & SCARD_STATE_UNKNOWN) == 0;
            if (known && present == (want == "present")) {
                return 0;
            }
        } catch (const std::exception&) {
            // the daemon may not be up yet
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::cerr << "carvix-probe: " << reader << " is not " << want << " after " << timeout << " s\n";
    return 1;
}

int Send(const std::string& reader, const std::vector<std::string>& apdus) {
    Context ctx;
    SCARDHANDLE card = 0;
    DWORD proto = 0;
    LONG rv = SCardConnect(ctx.Get(), reader.c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &proto);
    if (rv != SCARD_S_SUCCESS) {
        std::cerr << "carvix-probe: connect: " << pcsc_stringify_error(rv) << "\n";
        return 1;
    }
    std::cout << "connected to " << reader << " with T=" << (proto == SCARD_PROTOCOL_T1 ? 1 : 0)
              << "\n";
    const SCARD_IO_REQUEST* pci = proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    int status = 0;
    for (const auto& text : apdus) {
        const auto cmd = FromHex(text);
        std::vector<std::uint8_t> rsp(65538);
        DWORD rlen = static_cast<DWORD>(rsp.size());
        rv = SCardTransmit(card, pci, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr,
                           rsp.data(), &rlen);
        std::cout << "> " << ToHex(cmd.data(), cmd.size()) << "\n";
        if (rv != SCARD_S_SUCCESS) {
            std::cout << "! " << pcsc_stringify_error(rv) << " (0x" << std::hex << Code(rv)
                      << std::dec << ")\n";
            status = 1;
            break;
        }
        std::cout << "< " << ToHex(rsp.data(), rlen) << "\n";
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    return status;
}

int Hold(const std::string& reader, const std::string& how, double seconds) {
    Context ctx;
    SCARDHANDLE card = 0;
    DWORD proto = 0;
    const DWORD share = how == "exclusive" ? SCARD_SHARE_EXCLUSIVE : SCARD_SHARE_SHARED;
    LONG rv = SCardConnect(ctx.Get(), reader.c_str(), share, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                           &card, &proto);
    if (rv != SCARD_S_SUCCESS) {
        std::cerr << "carvix-probe: connect: " << pcsc_stringify_error(rv) << "\n";
        return 1;
    }
    if (how == "transaction") {
        rv = SCardBeginTransaction(card);
        if (rv != SCARD_S_SUCCESS) {
            std::cerr << "carvix-probe: begin transaction: " << pcsc_stringify_error(rv) << "\n";
            SCardDisconnect(card, SCARD_LEAVE_CARD);
            return 1;
        }
    }
    std::cout << "holding" << std::endl;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    if (how == "transaction") {
        SCardEndTransaction(card, SCARD_LEAVE_CARD);
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"carvix-probe: list readers, wait for a card, send APDUs"};
    app.require_subcommand(1);
    auto* list = app.add_subcommand("list", "list the readers and whether they hold a card");
    std::string reader, want;
    double timeout = 10;
    auto* wait = app.add_subcommand("wait", "wait until a reader holds a card or is empty");
    wait->add_option("reader", reader)->required();
    wait->add_option("state", want)->required()->check(CLI::IsMember({"present", "empty"}));
    wait->add_option("--timeout", timeout, "seconds")->capture_default_str();
    std::vector<std::string> apdus;
    auto* send = app.add_subcommand("send", "send command APDUs (hex) and print the replies");
    send->add_option("reader", reader)->required();
    send->add_option("apdu", apdus)->required();
    std::string how;
    double seconds = 10;
    auto* hold = app.add_subcommand("hold", "hold a card as another program would, for a while");
    hold->add_option("reader", reader)->required();
    hold->add_option("how", how)->required()->check(CLI::IsMember({"exclusive", "transaction"}));
    hold->add_option("--seconds", seconds, "how long to hold it")->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    try {
        if (*list) {
            return List();
        }
        if (*wait) {
            return Wait(reader, want, timeout);
        }
        if (*hold) {
            return Hold(reader, how, seconds);
        }
        return Send(reader, apdus);
    } catch (const std::exception& e) {
        std::cerr << "carvix-probe: " << e.what() << "\n";
        return 1;
    }
}
