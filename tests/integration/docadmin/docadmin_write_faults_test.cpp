// A write through CARVIX.DocAdmin interrupted at every command it sends (the card pulled,
// another client resetting the card, a status word), and readers beside a writer. An
// interrupted write is never reported as success, leaves no transaction or handle behind,
// and the same write after a fresh authentication leaves every block verifying.
#include "bench_card.h"
#include "fault_sweep.h"
#include "write_session.h"

#include "carvix/automation/client.h"

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

std::u16string Value(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

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
    std::vector<carvix::bench::ApduExchange> healthy;
    {
        const Ref<IAuthenticationService> auth = NewAuth();
        ASSERT_EQ(Authenticate(*auth, reader, block.appId, WriterKey()), S_OK);
        const Ref<IDispatch> object = ReadBlock(*service, block, reader);
        ASSERT_NE(object, nullptr);
        ASSERT_EQ(PutText(*object, block.property, u"baseline"), S_OK);
        card.ClearApduLog();
        ASSERT_EQ(block.write(*service, auth.get(), object.get(), noSigner.get()), S_OK);
        healthy = card.ApduLog();
        count = healthy.size();
    }
    ASSERT_GT(count, 5u);

    struct Row {
        std::string fault;
        std::size_t positions = 0;
        int failed = 0;     // interrupted writes that reported a failure
        int succeeded = 0;  // writes complete despite the fault (reset, or a length fault that
                            // met an answer whose data the write does not use)
        int repaired = 0;   // repeats that left the block verifying with the new value
        HRESULT firstCode = S_OK;
    };
    std::vector<Row> table;
    // The first four meet every command; the rest meet the first command of each kind and the
    // last (SampledPositions), which keeps the sweep within CI's time.
    std::vector<std::size_t> every;
    for (std::size_t n = 1; n <= count; ++n) {
        every.push_back(n);
    }
    const std::vector<std::size_t> sampled = SampledPositions(healthy);
    for (const std::string& fault : AllFaults()) {
        const bool everyCommand =
            fault == "remove" || fault == "reset" || fault == "sw:6982" || fault == "sw:6F00";
        const std::vector<std::size_t>& positions = everyCommand ? every : sampled;
        Row row{fault, positions.size()};
        for (const std::size_t n : positions) {
            SCOPED_TRACE(fault + " at command " + std::to_string(n));
            const std::u16string value = Value(fault + " " + std::to_string(n));
            const Ref<IAuthenticationService> auth = NewAuth();
            ASSERT_EQ(Authenticate(*auth, reader, block.appId, WriterKey()), S_OK);
            const Ref<IDispatch> object = ReadBlock(*service, block, reader);
            ASSERT_NE(object, nullptr) << "the card was left torn by the previous round";
            ASSERT_EQ(PutText(*object, block.property, value), S_OK);

            card.ClearApduLog();
            std::unique_ptr<ResetByAnotherClient> reset = ArmFault(card, fault, n);
            const HRESULT hr = block.write(*service, auth.get(), object.get(), noSigner.get());
            reset.reset();
            DisarmFault(card);
            if (FAILED(hr)) {
                ++row.failed;
                if (row.firstCode == S_OK) {
                    row.firstCode = hr;
                }
            } else if (fault == "reset" || fault.starts_with("short") ||
                       fault.starts_with("long")) {
                // Another client cannot reach the card inside the write's transaction: its reset
                // lands after the write, which is then complete and verifies as it stands. An
                // answer without data has nothing to cut, and bytes added to the answer of a
                // command the card carried out (a selection, an update) change nothing written:
                // the write is then complete as well, and must read back.
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
    std::printf("  %-8s %9s %7s %10s %9s  %s\n", "fault", "positions", "failed", "completed",
                "repaired", "first code");
    for (const Row& r : table) {
        std::printf("  %-8s %9zu %7d %10d %9d  0x%08X\n", r.fault.c_str(), r.positions, r.failed,
                    r.succeeded, r.repaired, static_cast<std::uint32_t>(r.firstCode));
        EXPECT_EQ(r.repaired, static_cast<int>(r.positions)) << r.fault;
    }
    const std::string check = CheckSodsWithOpenssl(card.ImagePath());
    EXPECT_EQ(check, "") << check;
}

// The card pulled out during a write or a read: the code stays the card's, and the caller's
// error object says that the card was removed and, once the SOD was written, that the card
// is inconsistent until the same write is repeated.
TEST(PulledCard, TheErrorObjectSaysWhatHappenedAndHowToRepair) {
    QuietNotices quiet;
    InstalledSigner signer;
    const WritableBlock& block = kZKVariablePerso;
    BenchCard card(SampleImage(block.card, 0));
    const std::string& reader = card.ReaderName();
    const Ref<IDocAdminService> service = NewDocAdmin();
    ASSERT_NE(service, nullptr);
    Bstr noSigner(std::string{});

    auto write = [&](const std::u16string& value, std::size_t removeAt, std::size_t* sent) {
        const Ref<IAuthenticationService> auth = NewAuth();
        EXPECT_EQ(Authenticate(*auth, reader, block.appId, WriterKey()), S_OK);
        HRESULT readResult = S_OK;
        const Ref<IDispatch> object = ReadBlock(*service, block, reader, &readResult);
        if (object == nullptr) {
            const auto notices = QuietNotices::Taken();
            const std::u16string last = notices.empty() ? u"" : notices.back();
            ADD_FAILURE() << "read 0x" << std::hex << static_cast<std::uint32_t>(readResult) << " "
                          << std::string(last.begin(), last.end());
            return std::make_pair(readResult, std::u16string());
        }
        EXPECT_EQ(PutText(*object, block.property, value), S_OK);
        card.ClearApduLog();
        std::unique_ptr<ResetByAnotherClient> armed;
        if (removeAt != 0) {
            armed = ArmFault(card, "remove", removeAt);
        }
        const HRESULT hr = block.write(*service, auth.get(), object.get(), noSigner.get());
        const std::u16string description = carvix::automation::TakeErrorDescription();
        if (sent != nullptr) {
            *sent = card.ApduLog().size();
        }
        armed.reset();
        DisarmFault(card);
        return std::make_pair(hr, description);
    };
    std::size_t count = 0;
    ASSERT_EQ(write(u"before", 0, &count).first, S_OK);
    ASSERT_GT(count, 2u);

    // The last command writes the block, after the SOD.
    const auto [hr, description] = write(u"pulled", count, nullptr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(description.find(u"the card is now inconsistent"), std::u16string::npos)
        << std::string(description.begin(), description.end());
    EXPECT_NE(description.find(u"Repeat the same write"), std::u16string::npos);
    EXPECT_NE(description.find(u"removed"), std::u16string::npos);

    // Writing again repairs the card.
    EXPECT_EQ(write(u"repaired", 0, nullptr).first, S_OK);
    const Ref<IDispatch> back = ReadBlock(*service, block, reader);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(GetText(*back, block.property), u"repaired");

    // A read the card is pulled from: the code says so, or else the error object does.
    for (std::size_t at : {1u, 2u, 3u}) {
        card.ClearApduLog();
        auto armed = ArmFault(card, "remove", at);
        HRESULT readResult = S_OK;
        const Ref<IDispatch> none = ReadBlock(*service, block, reader, &readResult);
        const std::u16string text = carvix::automation::TakeErrorDescription();
        armed.reset();
        DisarmFault(card);
        EXPECT_EQ(none, nullptr) << "command " << at;
        EXPECT_TRUE(static_cast<std::uint32_t>(readResult) == 0x80100069u ||
                    text.find(u"The card was removed") != std::u16string::npos)
            << "command " << at << ": 0x" << std::hex << static_cast<std::uint32_t>(readResult)
            << " " << std::string(text.begin(), text.end());
    }
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
    EXPECT_TRUE(QuietNotices::Taken().empty());
    const std::string check = CheckSodsWithOpenssl(card.ImagePath());
    EXPECT_EQ(check, "") << check;
}

}  // namespace
