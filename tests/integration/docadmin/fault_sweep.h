// What the fault sweeps on the bench share: an operation run once on a healthy card to learn
// how many commands it sends, then again with a fault at each of those commands (the card
// pulled, another client resetting it, a status word, an answer cut short or made longer).
// Each faulted call must fail, or finish with exactly the healthy result; afterwards a healthy
// call must succeed within a bound, which it cannot while a handle or transaction is left.
#pragma once

#include "bench_card.h"
#include "carvix/automation/oleauto.h"
#include "carvix/com/notifier.h"
#include "pcsc_client.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace carvix::writetest {

/// Collects the warning notices of the component instead of showing them.
class QuietNotices {
  public:
    QuietNotices();
    ~QuietNotices();
    QuietNotices(const QuietNotices&) = delete;
    QuietNotices& operator=(const QuietNotices&) = delete;
    static std::vector<std::u16string> Taken();

  private:
    carvix::com::NotifierFn previous_;
};

/// Runs `step` on another thread; false when it has not finished after `limit` (a transaction
/// or handle left behind would hold the card that long).
bool FinishesWithin(std::chrono::seconds limit, const std::function<void()>& step);

/// Another client's reset, asked for once the card has answered `position` commands since the
/// log was cleared. pcsc-lite lets it through only when no other handle holds a transaction.
class ResetByAnotherClient {
  public:
    ResetByAnotherClient(carvix::bench::BenchCard& card, std::size_t position);
    ~ResetByAnotherClient() { Finish(); }
    ResetByAnotherClient(const ResetByAnotherClient&) = delete;
    ResetByAnotherClient& operator=(const ResetByAnotherClient&) = delete;
    void Finish();

  private:
    carvix::bench::PcscCard other_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

/// Arms `fault` ("remove", "reset", "sw:6982", "short:1", "long:2", ...) for command `n`
/// counted from a cleared log; the returned object ends a reset thread when it goes.
std::unique_ptr<ResetByAnotherClient> ArmFault(carvix::bench::BenchCard& card,
                                               const std::string& fault, std::size_t n);
/// Clears the faults and puts a pulled card back once PC/SC has seen the reader empty.
void DisarmFault(carvix::bench::BenchCard& card);

/// The faults every operation meets.
const std::vector<std::string>& AllFaults();

/// The positions a slow fault (removal, reset) is tried at when an operation sends many
/// commands: the first command of each kind (class and instruction), the second command and
/// the last, so every kind of exchange meets it. The fast faults meet every command.
std::vector<std::size_t> SampledPositions(const std::vector<carvix::bench::ApduExchange>& log);

/// The first, second and last command of each run of commands of one kind.
std::vector<std::size_t> RunPositions(const std::vector<carvix::bench::ApduExchange>& log);

/// One operation of the sweep. `prepare` brings the card where the operation starts (for
/// example an Init before GetChallenge) and is not faulted; `run` does the operation and
/// tells in *same whether what it got equals the healthy result (only asked on S_OK). When
/// the result is only visible on the card, `check` (if set) tells it instead, asked once the
/// fault is cleared so that its own commands meet none.
struct SweptOperation {
    std::string name;
    std::function<HRESULT()> prepare;
    std::function<HRESULT(bool* same)> run;
    std::function<bool()> check = nullptr;
};

struct SweepRow {
    std::string operation;
    std::size_t commands = 0;       // commands of a healthy run
    std::size_t fastPositions = 0;  // positions the status words and bad lengths meet
    std::size_t slowPositions = 0;  // positions removal and reset are tried at
    std::size_t kinds = 0;          // faults swept
    std::size_t faults = 0;         // faulted runs
    std::size_t failed = 0;         // runs that reported a failure
    std::size_t intact = 0;         // runs that finished with the healthy result (fault not hit)
    std::size_t wrong = 0;          // S_OK with a result that differs: never allowed
    std::size_t stuck = 0;          // the next healthy call failed or hung: never allowed
    std::vector<std::string> intactAt;  // "fault@position" of intact runs other than resets
};

/// Sweeps `faults` over the commands of `op` on `card`. Failures are recorded in the row and
/// reported through gtest.
SweepRow Sweep(carvix::bench::BenchCard& card, const SweptOperation& op,
               const std::vector<std::string>& faults = AllFaults());

/// One row per operation; positions read "commands of a healthy run / positions of the status
/// words and bad lengths / positions of removal and reset".
void PrintSweepTable(const std::string& title, const std::vector<SweepRow>& rows);

}  // namespace carvix::writetest
