// A write through CARVIX.DocAdmin interrupted at every command it sends (the card pulled,
// another client resetting the card, a status word), and readers beside a writer. An
// interrupted write is never reported as success, leaves no transaction or handle behind,
// and the same write after a fresh authentication leaves every block verifying.
#include "bench_card.h"
#include "carvix/com/notifier.h"
#include "pcsc_client.h"
#include "write_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
using namespace std::chrono_literals;

std::mutex gNoticeMutex;
std::vector<std::u16string> gNotices;
void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    std::lock_guard lock(gNoticeMutex);
    gNotices.push_back(text == nullptr ? u"" : text);
}

class QuietNotices {
  public:
    QuietNotices() : previous_(carvix::com::GetNotifier()) { carvix::com::SetNotifier(&Record); }
    ~QuietNotices() { carvix::com::SetNotifier(previous_); }

  private:
    carvix::com::NotifierFn previous_;
};

std::u16string Value(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// Runs `step` on another thread; false when it has not finished after `limit` (a transaction
// or handle left behind would hold the card that long).
bool FinishesWithin(std::chrono::seconds limit, const std::function<void()>& step) {
    auto done = std::async(std::launch::async, step);
    if (done.wait_for(limit) != std::future_status::ready) {
        return false;
    }
    done.get();
    return true;
}

// Another client's reset, asked for once the card has answered `position` commands since the
// log was cleared. pcsc-lite lets it through only when no other handle holds a transaction.
class ResetByAnotherClient {
  public:
    ResetByAnotherClient(BenchCard& card, std::size_t position)
        : other_(card.ReaderName()), thread_([this, &card, position] {
              // Once the position is reached the reset goes ahead, also when the write has
              // ended meanwhile; a write that never got there stops the wait.
              while (card.ApduLog().size() < position) {
                  if (stop_) {
                      return;
                  }
                  std::this_thread::sleep_for(1ms);
              }
              try {
                  other_.Reconnect(SCARD_RESET_CARD);
              } catch (const std::exception&) {
                  // The card was busy or gone; the round then tests no reset at all.
              }
          }) {}
    ~ResetByAnotherClient() { Finish(); }
    void Finish() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    carvix::bench::PcscCard other_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class WriteFaultSweep : public ::testing::TestWithParam<int> {};

TEST_P(WriteFaultSweep, EveryCommandOfAWriteFailsHonestlyAndTheSameWriteRepairs) {
    QuietNotices quiet;
    InstalledSigner signer;
    const WritableBlock& block = kVLVariablePerso;
    const int protocol = GetParam();
    BenchCard card(SampleImage(block.card, protocol));
    const std::string& reader = card.ReaderName();
    const Ref<IDocAdminService> service = NewDocAdmin();
    ASSERT_NE(service, nullptr);
    Bstr noSigner(std::string{});

    // One healthy write, to learn how many commands a write sends.
    std::size_t count = 0;
    {
        const Ref<IAuthenticationService> auth = NewAuth();
        ASSERT_EQ(Authenticate(*auth, reader, block.appId, WriterKey()), S_OK);
        const Ref<IDispatch> object = ReadBlock(*service, block, reader);
        ASSERT_NE(object, nullptr);
        ASSERT_EQ(PutText(*object, block.property, u"baseline"), S_OK);
        card.ClearApduLog();
        ASSERT_EQ(block.write(*service, auth.get(), object.get(), noSigner.get()), S_OK);
        count = card.ApduLog().size();
    }
    ASSERT_GT(count, 5u);

    struct Row {
        std::string fault;
        int failed = 0;     // interrupted writes that reported a failure
        int succeeded = 0;  // writes that finished before the fault could land (reset only)
        int repaired = 0;   // repeats that left the block verifying with the new value
        HRESULT firstCode = S_OK;
    };
    std::vector<Row> table;
    for (const std::string fault : {"remove", "reset", "sw:6982", "sw:6F00"}) {
        Row row{fault};
        for (std::size_t n = 1; n <= count; ++n) {
            SCOPED_TRACE(fault + " at command " + std::to_string(n));
            const std::u16string value = Value(fault + " " + std::to_string(n));
            const Ref<IAuthenticationService> auth = NewAuth();
            ASSERT_EQ(Authenticate(*auth, reader, block.appId, WriterKey()), S_OK);
            const Ref<IDispatch> object = ReadBlock(*service, block, reader);
            ASSERT_NE(object, nullptr) << "the card was left torn by the previous round";
            ASSERT_EQ(PutText(*object, block.property, value), S_OK);

            card.ClearApduLog();
            std::unique_ptr<ResetByAnotherClient> reset;
            if (fault == "reset") {
                reset = std::make_unique<ResetByAnotherClient>(card, n - 1);
            } else {
                card.Control("fault " + fault + "@" + std::to_string(n));
            }
            const HRESULT hr = block.write(*service, auth.get(), object.get(), noSigner.get());
            if (reset != nullptr) {
                reset->Finish();
            }
            card.Control("clear-faults");
            if (card.Control("status").find("inserted=0") != std::string::npos) {
                // Pulled: back in once PC/SC has seen the reader empty.
                EXPECT_TRUE(carvix::bench::WaitForCard(reader, false));
                card.Insert();
            }
            if (FAILED(hr)) {
                ++row.failed;
                if (row.firstCode == S_OK) {
                    row.firstCode = hr;
                }
            } else if (fault == "reset") {
                // Another client cannot reach the card inside the write's transaction: its reset
                // lands after the write, which is then complete and verifies as it stands.
                ++row.succeeded;
                const Ref<IDispatch> back = ReadBlock(*service, block, reader);
                EXPECT_TRUE(back != nullptr && GetText(*back, block.property) == value)
                    << "a write reported as done left the card without its value";
            } else {
                ADD_FAILURE() << "an interrupted write reported success";
            }

            // The faulted authentication object is still alive: a transaction or handle it had
            // left would hold the card and stall the next writer.
            bool repairedNow = false;
            const bool finished = FinishesWithin(20s, [&] {
                const Ref<IAuthenticationService> fresh = NewAuth();
                if (Authenticate(*fresh, reader, block.appId, WriterKey()) != S_OK ||
                    block.write(*service, fresh.get(), object.get(), noSigner.get()) != S_OK) {
                    return;
                }
                const Ref<IDispatch> back = ReadBlock(*service, block, reader);
                repairedNow = back != nullptr && GetText(*back, block.property) == value;
            });
            ASSERT_TRUE(finished) << "the card stayed held after the interrupted write";
            EXPECT_TRUE(repairedNow) << "the repeated write did not leave a verifying block";
            row.repaired += repairedNow ? 1 : 0;
        }
        table.push_back(row);
    }

    std::printf("\nA write of %s (T=%d, %zu commands), fault at each command:\n", block.name,
                protocol, count);
    std::printf("  %-8s %7s %10s %9s  %s\n", "fault", "failed", "completed", "repaired",
                "first code");
    for (const Row& r : table) {
        std::printf("  %-8s %7d %10d %9d  0x%08X\n", r.fault.c_str(), r.failed, r.succeeded,
                    r.repaired, static_cast<std::uint32_t>(r.firstCode));
        EXPECT_EQ(r.repaired, static_cast<int>(count)) << r.fault;
    }
    const std::string check = CheckSodsWithOpenssl(card.ImagePath());
    EXPECT_EQ(check, "") << check;
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, WriteFaultSweep, ::testing::Values(0, 1));

// Two clients with their own PC/SC contexts on one card: one writes the block again and again
// through CARVIX.Auth and CARVIX.DocAdmin, the other reads it verified meanwhile. No read may
// ever see a block that its SOD does not match.
TEST(WritersAndReaders, AReaderBesideAWriterNeverFailsItsHashCheck) {
    QuietNotices quiet;
    InstalledSigner signer;
    const WritableBlock& block = kZKVariablePerso;
    BenchCard card(SampleImage(block.card, 0));
    const std::string reader = card.ReaderName();
    std::atomic<bool> writing{true};

    auto readerSide = std::async(std::launch::async, [&] {
        const Ref<IDocAdminService> service = NewDocAdmin();
        int reads = 0;
        std::vector<HRESULT> failures;
        while (writing.load()) {
            HRESULT hr = S_OK;
            if (ReadBlock(*service, block, reader, &hr) != nullptr) {
                ++reads;
            } else {
                failures.push_back(hr);
            }
        }
        return std::pair{reads, failures};
    });

    int writes = 0;
    std::vector<HRESULT> writeFailures;
    {
        const Ref<IDocAdminService> service = NewDocAdmin();
        const Ref<IAuthenticationService> auth = NewAuth();
        EXPECT_EQ(Authenticate(*auth, reader, block.appId, WriterKey()), S_OK);
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < end) {
            const HRESULT hr = WriteText(*service, block, reader, auth.get(),
                                         Value("Street " + std::to_string(writes)));
            if (FAILED(hr)) {
                writeFailures.push_back(hr);
            } else {
                ++writes;
            }
        }
    }
    writing = false;
    const auto [reads, failures] = readerSide.get();
    std::printf("\n%d writes and %d verified reads side by side in 10 s\n", writes, reads);
    EXPECT_TRUE(failures.empty()) << failures.size() << " reads failed, first 0x" << std::hex
                                  << static_cast<std::uint32_t>(failures[0]);
    EXPECT_TRUE(writeFailures.empty()) << writeFailures.size() << " writes failed";
    EXPECT_GT(writes, 0);
    EXPECT_GT(reads, 0);
    EXPECT_TRUE(gNotices.empty());
    const std::string check = CheckSodsWithOpenssl(card.ImagePath());
    EXPECT_EQ(check, "") << check;
}

}  // namespace
