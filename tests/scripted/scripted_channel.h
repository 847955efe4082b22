// Scripted card channel for unit tests: a CardChannel that plays one card from a script.
//
//   carvix::test::CardScript script;                      // T=0 by default
//   script.Apdu("00 A4 04 00 05 A0 00 00 00 01", "90 00")
//         .Apdu("80 82 00 00 08 ?? ?? ?? ?? ?? ?? ?? ??", "90 00")   // ?? = any byte
//         .Fail(carvix::test::ChannelOp::BeginTransaction, 0x80100069u);
//   SmartCardIO::CardConnection connection(script.Channel());
//   ... exercise the code under test ...
//   // at the end of the test the script checks that every step was used
//
// Rules:
// - Steps are consumed in order. A Transmit must match the next step's command exactly
//   (hex, spaces ignored; "??" matches any one byte; a trailing "*" matches any rest). The
//   step's response bytes are returned.
// - A Fail step makes the next call of its operation throw Orvel::PCSC::PCSCWin32Exception
//   with the real call's name ("SCardTransmit", "SCardBeginTransaction", ...) and the code.
//   Connect, Disconnect and the transaction calls not named by a Fail step just happen.
// - The first surprise (a command that does not match, a transmission after the end of the
//   script or, unless allowed, outside a transaction) fails the running test and throws
//   ScriptSurprise, which is not an Orvel exception, so the code under test cannot swallow it
//   as a card error.
// - The channel behaves like the PC/SC one: a reader channel must be connected before it
//   transmits and refuses a second Connect ("PCSCComm::Connect", 0x80100001); a handle channel
//   is always connected and ignores Connect and Disconnect.
// - Transactions nest on one channel as they do on one pcsc-lite handle: the card is held
//   from the first begin until the matching last end (or a disconnect).
// - When the script is destroyed, any unused step fails the test.
//
// A script is per test. Several channels may share one script (for example a connection by
// reader name and a later one on an adopted handle); they then share its steps.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/card_channel.h"
#include "carvix/support/pcsc_constants.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::test {

/// Thrown at the first surprise, after the test has been marked failed.
class ScriptSurprise : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

enum class ChannelOp { Connect, Disconnect, BeginTransaction, EndTransaction, Transmit, Control };

enum class ChannelKind {
    Reader,  // connects and disconnects like a ReaderChannel
    Handle,  // always connected, like a HandleChannel
};

/// Hex text ("00 A4 04 00") to bytes; spaces are ignored. Bad text throws invalid_argument.
Orvel::ByteArray FromHex(std::string_view hex);
/// Bytes to upper-case hex with a space between bytes.
std::string ToHex(std::span<const std::uint8_t> bytes);

class CardScript {
  public:
    explicit CardScript(std::uint32_t protocol = Orvel::PCSC::kProtocolT0);
    ~CardScript();
    CardScript(const CardScript&) = delete;
    CardScript& operator=(const CardScript&) = delete;

    /// Expects `command` (a pattern) and answers `response` (plain hex).
    CardScript& Apdu(std::string_view command, std::string_view response);
    CardScript& Apdu(const Orvel::ByteArray& command, const Orvel::ByteArray& response);
    /// Also requires the transmission's extended flag (the receive-buffer choice).
    CardScript& Apdu(std::string_view command, std::string_view response, bool extended);
    /// Expects `command` and fails its transmission with `code` (removal, reset, ...).
    CardScript& ApduFails(std::string_view command, std::uint32_t code);
    /// The next call of `op` fails with `code`.
    CardScript& Fail(ChannelOp op, std::uint32_t code);
    /// Expects a Control call with the code and input, answering `output`.
    CardScript& Control(std::uint32_t controlCode, std::string_view input, std::string_view output);

    /// Whether a transmission outside a transaction is a surprise (default: it is).
    CardScript& RequireTransaction(bool required);
    /// The active protocol the channels report while connected.
    CardScript& Protocol(std::uint32_t protocol);

    /// A new channel over this script.
    std::unique_ptr<Orvel::PCSC::CardChannel> Channel(ChannelKind kind = ChannelKind::Reader);

    /// Everything transmitted so far, in order.
    const std::vector<Orvel::ByteArray>& Sent() const;
    /// A log of the channel calls: "connect", "begin", "transmit 00 A4 ...", "end",
    /// "disconnect 0", "control 42000C00", each fault as "fail <op> <code>".
    const std::vector<std::string>& Events() const;
    std::size_t StepsLeft() const;
    bool InTransaction() const;

    /// Fails the running test now if steps are left (the destructor does the same).
    void ExpectDone();

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace carvix::test
