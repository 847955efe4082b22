#include "fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <mutex>
#include <set>

namespace carvix::writetest {

using carvix::bench::BenchCard;
using namespace std::chrono_literals;

namespace {

std::mutex gNoticeMutex;
std::vector<std::u16string> gNotices;

void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    std::lock_guard lock(gNoticeMutex);
    gNotices.push_back(text == nullptr ? u"" : text);
}

}  // namespace

QuietNotices::QuietNotices() : previous_(carvix::com::GetNotifier()) {
    carvix::com::SetNotifier(&Record);
}
QuietNotices::~QuietNotices() {
    carvix::com::SetNotifier(previous_);
}

std::vector<std::u16string> QuietNotices::Taken() {
    std::lock_guard lock(gNoticeMutex);
    return gNotices;
}

bool FinishesWithin(std::chrono::seconds limit, const std::function<void()>& step) {
    auto done = std::async(std::launch::async, step);
    if (done.wait_for(limit) != std::future_status::ready) {
        return false;
    }
    done.get();
    return true;
}

ResetByAnotherClient::ResetByAnotherClient(BenchCard& card, std::size_t position)
    : other_(card.ReaderName()), thread_([this, &card, position] {
          // Once the position is reached the reset goes ahead, also when the operation has
          // ended meanwhile; an operation that never got there stops the wait.
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

void ResetByAnotherClient::Finish() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::unique_ptr<ResetByAnotherClient> ArmFault(BenchCard& card, const std::string& fault,
                                               std::size_t n) {
    if (fault == "reset") {
        return std::make_unique<ResetByAnotherClient>(card, n - 1);
    }
    card.Control("fault " + fault + "@" + std::to_string(n));
    return nullptr;
}

void DisarmFault(BenchCard& card) {
    card.Control("clear-faults");
    if (card.Control("status").find("inserted=0") != std::string::npos) {
        EXPECT_TRUE(carvix::bench::WaitForCard(card.ReaderName(), false));
        card.Insert();
    }
}

const std::vector<std::string>& AllFaults() {
    static const std::vector<std::string> all{"remove",  "reset",   "sw:6982", "sw:6A82",
                                              "sw:6700", "sw:6F00", "short:1", "long:2"};
    return all;
}

std::vector<std::size_t> SampledPositions(const std::vector<carvix::bench::ApduExchange>& log) {
    std::set<std::size_t> picked;
    std::set<std::string> kinds;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (kinds.insert(log[i].command.substr(0, 4)).second) {
            picked.insert(i + 1);
        }
    }
    if (log.size() >= 2) {
        picked.insert(2);
    }
    picked.insert(log.size());
    return {picked.begin(), picked.end()};
}

std::vector<std::size_t> RunPositions(const std::vector<carvix::bench::ApduExchange>& log) {
    std::set<std::size_t> picked;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const std::string kind = log[i].command.substr(0, 4);
        const bool starts = i == 0 || log[i - 1].command.substr(0, 4) != kind;
        const bool ends = i + 1 == log.size() || log[i + 1].command.substr(0, 4) != kind;
        const bool second = i > 0 && !starts && (i == 1 || log[i - 2].command.substr(0, 4) != kind);
        if (starts || ends || second) {
            picked.insert(i + 1);
        }
    }
    return {picked.begin(), picked.end()};
}

namespace {

// Removal and reset take a reader round trip each: beyond this many commands they are tried
// at the sampled positions only.
constexpr std::size_t kEveryPositionUpTo = 12;
// The other faults meet every command up to this many, beyond it (long reads in many pieces)
// the first, second and last command of each run of one kind (RunPositions).
constexpr std::size_t kEveryFastPositionUpTo = 24;

bool IsSlow(const std::string& fault) {
    return fault == "remove" || fault == "reset";
}

}  // namespace

SweepRow Sweep(BenchCard& card, const SweptOperation& op, const std::vector<std::string>& faults) {
    SweepRow row;
    row.operation = op.name;
    row.kinds = faults.size();
    // A healthy run, to learn the commands.
    if (op.prepare) {
        EXPECT_EQ(op.prepare(), S_OK) << op.name;
    }
    card.ClearApduLog();
    bool same = false;
    EXPECT_EQ(op.run(&same), S_OK) << op.name << " fails on a healthy card";
    const std::vector<carvix::bench::ApduExchange> log = card.ApduLog();
    EXPECT_TRUE(op.check ? op.check() : same) << op.name << " differs on a healthy card";
    row.commands = log.size();
    EXPECT_GT(row.commands, 0u) << op.name;

    std::vector<std::size_t> every;
    for (std::size_t n = 1; n <= row.commands; ++n) {
        every.push_back(n);
    }
    if (row.commands > kEveryFastPositionUpTo) {
        every = RunPositions(log);
    }
    const std::vector<std::size_t> sampled =
        row.commands > kEveryPositionUpTo ? SampledPositions(log) : every;
    row.slowPositions = sampled.size();
    row.fastPositions = every.size();

    for (const std::string& fault : faults) {
        for (const std::size_t n : IsSlow(fault) ? sampled : every) {
            SCOPED_TRACE(op.name + ": " + fault + " at command " + std::to_string(n));
            ++row.faults;
            if (op.prepare && FAILED(op.prepare())) {
                ADD_FAILURE() << "the operation could not be set up";
                continue;
            }
            card.ClearApduLog();
            std::unique_ptr<ResetByAnotherClient> reset = ArmFault(card, fault, n);
            bool sameNow = false;
            const HRESULT hr = op.run(&sameNow);
            reset.reset();
            DisarmFault(card);
            if (SUCCEEDED(hr) && op.check) {
                sameNow = op.check();
            }
            if (FAILED(hr)) {
                ++row.failed;
            } else if (sameNow) {
                ++row.intact;
                if (fault != "reset") {
                    row.intactAt.push_back(fault + "@" + std::to_string(n));
                }
            } else {
                ++row.wrong;
                ADD_FAILURE() << "S_OK with a result that differs from the healthy one";
            }

            HRESULT next = E_FAIL;
            bool nextSame = false;
            const bool finished = FinishesWithin(20s, [&] {
                next = op.prepare ? op.prepare() : S_OK;
                if (SUCCEEDED(next)) {
                    next = op.run(&nextSame);
                }
                if (SUCCEEDED(next) && op.check) {
                    nextSame = op.check();
                }
            });
            if (!finished || next != S_OK || !nextSame) {
                ++row.stuck;
                ADD_FAILURE() << "the next call on a healthy card "
                              << (finished ? "failed" : "hung");
                if (!finished) {
                    return row;  // the card is held: every later round would hang as well
                }
            }
        }
    }
    return row;
}

void PrintSweepTable(const std::string& title, const std::vector<SweepRow>& rows) {
    std::printf("\n%s\n", title.c_str());
    std::printf("  %-26s %11s %6s %6s %6s %6s %5s %5s\n", "operation", "positions", "faults",
                "runs", "failed", "intact", "wrong", "stuck");
    for (const SweepRow& r : rows) {
        const std::string positions = std::to_string(r.commands) + "/" +
                                      std::to_string(r.fastPositions) + "/" +
                                      std::to_string(r.slowPositions);
        std::printf("  %-26s %11s %6zu %6zu %6zu %6zu %5zu %5zu\n", r.operation.c_str(),
                    positions.c_str(), r.kinds, r.faults, r.failed, r.intact, r.wrong, r.stuck);
        if (!r.intactAt.empty()) {
            std::string list;
            for (const std::string& at : r.intactAt) {
                list += " " + at;
            }
            std::printf("    intact besides resets:%s\n", list.c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace carvix::writetest
