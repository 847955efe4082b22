// Drives one logical command through the T=0 or T=1 rules against a card whose replies come
// from the fuzzer. Looks for crashes, endless or runaway exchanges and answers that hold
// more data than the card ever sent.
//
// Input: [protocol/case byte] [cla ins p1 p2] [le hi lo] [data length hi lo] then replies,
// each as [length] [bytes...]. After the last reply the card repeats it.
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "carvix/support/pcsc_constants.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr std::size_t kMaxTransmissions = 70000;

class FuzzCard final : public Orvel::PCSC::CardChannel {
  public:
    FuzzCard(std::uint32_t protocol, std::vector<Orvel::ByteArray> replies)
        : protocol_(protocol), replies_(std::move(replies)) {}

    void Connect() override {}
    void Disconnect(std::uint32_t) override {}
    void BeginTransaction() override {}
    void EndTransaction() override {}
    Orvel::ByteArray Transmit(std::span<const std::uint8_t> command, bool extended) override {
        if (++transmissions > kMaxTransmissions) {
            std::abort();  // the exchange does not stop
        }
        if (command.size() < 4) {
            std::abort();
        }
        if (replies_.empty()) {
            throw Orvel::PCSC::PCSCWin32Exception("SCardTransmit", Orvel::PCSC::kRemovedCard);
        }
        const Orvel::ByteArray& reply = replies_[std::min(next_, replies_.size() - 1)];
        ++next_;
        const std::size_t room =
            extended ? Orvel::PCSC::kExtendedReceiveBuffer : Orvel::PCSC::kShortReceiveBuffer;
        if (reply.size() > room) {
            throw Orvel::PCSC::PCSCWin32Exception("SCardTransmit",
                                                  Orvel::PCSC::kInsufficientBuffer);
        }
        dataSent += reply.size() >= 2 ? reply.size() - 2 : 0;
        return reply;
    }
    Orvel::ByteArray Control(std::uint32_t, std::span<const std::uint8_t>) override { return {}; }
    std::uint32_t GetProtocol() const override { return protocol_; }

    std::size_t transmissions = 0;
    std::size_t dataSent = 0;

  private:
    std::uint32_t protocol_;
    std::vector<Orvel::ByteArray> replies_;
    std::size_t next_ = 0;
};

struct Reader {
    const std::uint8_t* p;
    std::size_t left;
    std::uint8_t Byte() {
        if (left == 0) {
            return 0;
        }
        --left;
        return *p++;
    }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() << 8 | Byte()); }
};

std::optional<SmartCardIO::CommandAPDU> MakeCommand(Reader& in, std::uint8_t selector) {
    const std::uint8_t cla = in.Byte(), ins = in.Byte(), p1 = in.Byte(), p2 = in.Byte();
    const std::uint32_t le = in.Word() + ((selector & 0x80) ? 1u : 0u);  // reaches 65536
    const std::size_t dataLength = in.Word() % 1024;
    const bool extended = (selector & 0x10) != 0;
    const Orvel::ByteArray data(dataLength, 0x5A);
    try {
        switch ((selector >> 1) % 5) {
            case 0:
                return SmartCardIO::CommandAPDU(cla, ins, p1, p2);
            case 1:
                return SmartCardIO::CommandAPDU(cla, ins, p1, p2, le, extended);
            case 2:
                return SmartCardIO::CommandAPDU(cla, ins, p1, p2, data, extended);
            case 3:
                return SmartCardIO::CommandAPDU(ins, p1, p2, data, extended);
            default:
                return SmartCardIO::CommandAPDU(
                    SmartCardIO::CommandAPDU(cla, ins, p1, p2, data, extended),
                    static_cast<std::uint16_t>(le & 0xFFFF));
        }
    } catch (const SmartCardIO::SCIOException&) {
        return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    Reader in{bytes, size};
    const std::uint8_t selector = in.Byte();
    std::optional<SmartCardIO::CommandAPDU> command = MakeCommand(in, selector);
    if (!command) {
        return 0;
    }
    std::vector<Orvel::ByteArray> replies;
    while (in.left > 0 && replies.size() < 64) {
        std::size_t length = in.Byte();
        if (length == 0xFF) {
            length = 256 + in.Word() % 8192;  // long replies, past both buffers
        }
        Orvel::ByteArray reply;
        for (std::size_t i = 0; i < length && in.left > 0; ++i) {
            reply.push_back(in.Byte());
        }
        replies.push_back(std::move(reply));
    }
    const std::uint32_t protocol =
        (selector & 1) ? Orvel::PCSC::kProtocolT1 : Orvel::PCSC::kProtocolT0;
    auto channel = std::make_unique<FuzzCard>(protocol, std::move(replies));
    FuzzCard* card = channel.get();
    SmartCardIO::CardConnection connection(std::move(channel));
    try {
        const SmartCardIO::TransactionGuard guard(connection);
        const SmartCardIO::ResponseAPDU response = guard.Transmit(*command);
        if (response.Data().size() > card->dataSent) {
            std::abort();  // an answer with bytes the card never sent
        }
    } catch (const Orvel::Exception&) {
    } catch (const Orvel::FrameworkError&) {
    }
    return 0;
}
