// Block writes on the bench: an authenticated handle, the SOD rebuilt and signed with the
// user's key, the card read back through a connection of its own; and how pcsc-lite treats
// the nested transactions a write relies on.
#include "bench_card.h"
#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "carvix/support/x509_store.h"
#include "pcsc_client.h"
#include "test_pki.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>

namespace {

using namespace carvix::bench;
namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

const std::vector<std::uint8_t> kRole1Key = Unhex("000102030405060708090A0B0C0D0E0F");

class RawBlock final : public CardBlock {
  public:
    RawBlock(std::uint16_t id, std::size_t size, std::uint8_t seed) : CardBlock(id) {
        ByteArray value(size);
        for (std::size_t i = 0; i < size; ++i) {
            value[i] = static_cast<std::uint8_t>(i * 3 + seed);
        }
        data.SetValue(value);
    }
    BytesElement data{*this, 0x0630, 4000, kMandatory};
};

// A card handle of our own, as the authentication object holds one.
class Handle {
  public:
    explicit Handle(const std::string& reader) {
        EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_),
                  SCARD_S_SUCCESS);
        EXPECT_EQ(SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol_),
                  SCARD_S_SUCCESS);
    }
    ~Handle() {
        SCardDisconnect(card_, SCARD_LEAVE_CARD);
        SCardReleaseContext(context_);
    }
    SCARDHANDLE Get() const { return card_; }

    // Challenge and response for the role, on this handle, as raw exchanges.
    void Authenticate(int role, const std::vector<std::uint8_t>& key) {
        std::vector<std::uint8_t> select = Unhex("00A404000DF3810000025345525158564C01");
        if (protocol_ == SCARD_PROTOCOL_T1) {
            select.push_back(0x00);
        }
        Send(select);  // 9000, or 61xx on T=0 (the answer is not needed)
        const auto challenge = Send(Unhex("0084000008"));
        ASSERT_EQ(challenge.size(), 10u);
        const auto response =
            AuthResponse(key, std::vector<std::uint8_t>(challenge.begin(), challenge.begin() + 8));
        std::vector<std::uint8_t> command = {0x00, 0x82, 0x00,
                                             static_cast<std::uint8_t>(0x80 | role), 0x10};
        command.insert(command.end(), response.begin(), response.end());
        EXPECT_EQ(Hex(Send(command)), "9000");
    }

  private:
    std::vector<std::uint8_t> Send(const std::vector<std::uint8_t>& command) {
        const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
        std::vector<std::uint8_t> reply(600);
        DWORD length = static_cast<DWORD>(reply.size());
        EXPECT_EQ(SCardTransmit(card_, pci, command.data(), static_cast<DWORD>(command.size()),
                                nullptr, reply.data(), &length),
                  SCARD_S_SUCCESS);
        reply.resize(length);
        return reply;
    }

    DWORD protocol_ = 0;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
};

std::string FileData(const std::filesystem::path& image, const std::string& id) {
    std::ifstream in(image);
    const auto doc = nlohmann::json::parse(in);
    for (const auto& f : doc["applications"][0]["files"]) {
        if (f["id"] == id) {
            return f["data"].get<std::string>();
        }
    }
    return "?";
}

class BenchWrites : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        identity_ = carvix::testpki::MakeIdentity("Bench writer", 31);
        x509::X509Certificate certificate(identity_.Der());
        certificate.SetKeyProviderLink(identity_.WriteKey(keys_.Path() / "key.pem").string());
        x509::X509Store my;
        my.Open(0);
        my.Add(certificate, x509::AddDisposition::Always);
    }
    carvix::testpki::PrivateStores stores_;
    carvix::testpki::TempFolder keys_;
    carvix::testpki::Identity identity_;
};

TEST_P(BenchWrites, AnAuthenticatedWriteLeavesABlockThatVerifiesOnReadBack) {
    BenchCard card(SampleCard(GetParam()));
    RawBlock block(0x0D03, 300, 9);
    {
        Handle handle(card.ReaderName());
        handle.Authenticate(1, kRole1Key);
        auto applet = CardApplet::OpenForWrite(handle.Get(), 1);
        applet->WriteBlocks({&block}, x509::X509Certificate(identity_.Der()));
    }
    // Read back on a connection of its own.
    auto reader = CardApplet::OpenForRead(Orvel::Utf8ToUtf16(card.ReaderName()), 1);
    EXPECT_EQ(reader->ReadBlock(0x0D03), block.Encode());
    const ByteArray sod = reader->ReadBlock(0x0D06);
    const VerifiedMessage verified = VerifySignedMessage(ByteArray(sod.begin() + 8, sod.end()));
    EXPECT_EQ(verified.content, ComputeSha256(block.Encode()));
    EXPECT_EQ(verified.signer.RawData(), identity_.Der());
}

TEST_P(BenchWrites, AWriteWithoutAuthenticationLeavesTheCardUntouched) {
    BenchCard card(SampleCard(GetParam()));
    const std::string sodBefore = FileData(card.ImagePath(), "0D06");
    const std::string blockBefore = FileData(card.ImagePath(), "0D03");
    RawBlock block(0x0D03, 100, 4);
    Handle handle(card.ReaderName());
    auto applet = CardApplet::OpenForWrite(handle.Get(), 1);
    try {
        applet->WriteBlocks({&block}, {});
        ADD_FAILURE() << "the write succeeded";
    } catch (const CardException& e) {
        EXPECT_EQ(e.Code(), 0x6982);
    }
    EXPECT_EQ(FileData(card.ImagePath(), "0D06"), sodBefore);
    EXPECT_EQ(FileData(card.ImagePath(), "0D03"), blockBefore);
}

TEST_P(BenchWrites, AReaderBesideAWriterNeverSeesAHalfWrittenCard) {
    BenchCard card(SampleCard(GetParam()));
    Handle handle(card.ReaderName());
    handle.Authenticate(1, kRole1Key);
    auto writer = CardApplet::OpenForWrite(handle.Get(), 1);
    auto write = [&](std::uint8_t seed) {
        RawBlock block(0x0D03, 250, seed);
        try {
            writer->WriteBlocks({&block}, {});
        } catch (const CardException& e) {
            ADD_FAILURE() << "write " << int(seed) << " failed (" << std::hex << e.Code()
                          << "): " << Orvel::Utf16ToUtf8(e.Message()) << "\n"
                          << [&] {
                                 std::string tail;
                                 const auto log = card.ApduLog();
                                 for (std::size_t i = log.size() > 12 ? log.size() - 12 : 0;
                                      i < log.size(); ++i) {
                                     tail += log[i].command + " -> " + log[i].response + "\n";
                                 }
                                 return tail;
                             }();
        }
    };
    write(1);  // the sample card has no SOD for the block yet

    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    auto reader = std::async(std::launch::async, [&] {
        std::vector<std::string> failures;
        const std::u16string name = Orvel::Utf8ToUtf16(card.ReaderName());
        while (writing.load()) {
            try {
                auto applet = CardApplet::OpenForRead(name, 1);
                RawBlock model(0x0D03, 0, 0);
                x509::X509Certificate signer;
                applet->ReadVerifiedBlock(model, signer);
                ++reads;
            } catch (const Orvel::Exception& e) {
                failures.emplace_back(e.Message().begin(), e.Message().end());
            }
        }
        return failures;
    });
    // The reader stops however the writes end: a future's destructor waits for its thread.
    struct StopReading {
        std::atomic<bool>& flag;
        ~StopReading() { flag = false; }
    } stop{writing};
    for (int i = 0; i < 8; ++i) {
        write(static_cast<std::uint8_t>(i + 2));
    }
    writing = false;
    const std::vector<std::string> failures = reader.get();
    EXPECT_TRUE(failures.empty()) << failures.size() << " reads failed, first: " << failures[0];
    EXPECT_GT(reads.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, BenchWrites,
                         ::testing::Values("sample-t0.json", "sample-t1.json"));

// pcsc-lite counts begins on one handle: the card stays held until the last end, which is
// what lets each block write keep its own transaction inside the write's. Another handle's
// command waits meanwhile.
TEST(PcscLiteTransactions, NestedBeginsOnOneHandleHoldTheCardUntilTheLastEnd) {
    BenchCard card(SampleCard("sample-t1.json"));
    PcscCard holder(card.ReaderName());
    PcscCard other(card.ReaderName());
    holder.BeginTransaction();
    holder.BeginTransaction();
    holder.EndTransaction();
    auto answer = std::async(std::launch::async,
                             [&] { return other.Send("00A404000DF3810000025345525158564C0100"); });
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
        << "another handle reached the card inside the outer transaction";
    holder.EndTransaction();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const std::string reply = answer.get();
    EXPECT_EQ(reply.substr(reply.size() - 4), "9000");
}

}  // namespace
