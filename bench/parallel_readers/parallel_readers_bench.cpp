// Read throughput on 1, 2 and 4 bench readers with one process per reader.
//
// Every reader of a private four-reader bench holds a copy of the same sample card. For 1, 2
// and 4 readers, as many worker processes are started (this program again, with --worker),
// one per reader; each reads every block of its card once to warm up, reports ready, waits
// for the common start, then reads all blocks of the card COUNT times through the document
// service. The wall time from the start to the last worker's end gives the throughput in
// blocks per second. The three reader counts alternate within each round; medians of the
// rounds. Both sample cards are measured (VL on T=0, ZK on T=1). The last column is the
// workers' own CPU time per block read: on a machine with few cores, the throughput of many
// readers is bounded by the CPU time of the whole chain (workers, pcscd, card emulators).
//
// Then the same again with the cards under their timing model (carvix-vcard --timing): they
// answer at the speed of a real USB reader and card, the host idles between answers, and the
// figures say whether anything on the host serialises the readers. "card ms" is the wall time
// of one whole card read on one reader.
//
//   bench_parallel_readers [ROUNDS] [COUNT] [TIMED_COUNT]   (defaults 5, 20 and 3)
#include "bench_card.h"
#include "bench_env.h"
#include "carvix/automation/oleauto.h"
#include "docadmin/docadmin_service.h"
#include "figures.h"
#include "use_bench.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

using carvix::bench::Clock;
using carvix::bench::Median;
using carvix::com::IDocAdminService;

struct AnyOut {
    IDispatch* p = nullptr;
    template <class I>
    operator I**() {
        return reinterpret_cast<I**>(&p);
    }
};

using ReadFn = HRESULT (*)(IDocAdminService*, BSTR, std::uint16_t, AnyOut&);
#define CARVIX_READ(method) \
    [](IDocAdminService* s, BSTR r, std::uint16_t a, AnyOut& o) { return s->method(r, a, o); }

const std::vector<ReadFn> kVl = {CARVIX_READ(ReadVLDocumentData), CARVIX_READ(ReadVLFixedPersoData),
                                 CARVIX_READ(ReadVLPhotoData),
                                 CARVIX_READ(ReadVLVariablePersoData)};
const std::vector<ReadFn> kZk = {CARVIX_READ(ReadZKDocumentData), CARVIX_READ(ReadZKFixedAdminData),
                                 CARVIX_READ(ReadZKFixedPersoData),
                                 CARVIX_READ(ReadZKVariableAdminData),
                                 CARVIX_READ(ReadZKVariablePersoData)};

// The worker: reads all blocks of the card in `reader` COUNT times after the start byte.
int Worker(const std::string& readerName, int app, int count) {
    const auto& blocks = app == 5 ? kZk : kVl;
    void* p = nullptr;
    carvix::com::Create<carvix::com::DocAdminService>(nullptr, carvix::com::kIidIDocAdminService,
                                                      &p);
    auto* service = static_cast<IDocAdminService*>(p);
    std::u16string name(readerName.begin(), readerName.end());
    BSTR reader = SysAllocStringLen(name.data(), static_cast<std::uint32_t>(name.size()));
    auto readAll = [&] {
        for (ReadFn read : blocks) {
            AnyOut out;
            const HRESULT hr = read(service, reader, static_cast<std::uint16_t>(app), out);
            if (out.p != nullptr) {
                out.p->Release();
            }
            if (FAILED(hr)) {
                return false;
            }
        }
        return true;
    };
    bool ok = readAll();
    char byte = ok ? 'r' : 'f';
    ok = ::write(1, &byte, 1) == 1 && ok;
    ok = ::read(0, &byte, 1) == 1 && ok;
    for (int i = 0; i < count && ok; ++i) {
        ok = readAll();
    }
    SysFreeString(reader);
    service->Release();
    return ok ? 0 : 1;
}

struct Child {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
};

Child Spawn(const std::string& self, const std::string& reader, int app, int count) {
    int down[2];
    int up[2];
    Child child;
    if (::pipe(down) != 0 || ::pipe(up) != 0) {
        return child;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, down[0], 0);
    posix_spawn_file_actions_adddup2(&actions, up[1], 1);
    posix_spawn_file_actions_addclose(&actions, down[1]);
    posix_spawn_file_actions_addclose(&actions, up[0]);
    const std::string appText = std::to_string(app);
    const std::string countText = std::to_string(count);
    const char* argv[] = {self.c_str(),    "--worker",        reader.c_str(),
                          appText.c_str(), countText.c_str(), nullptr};
    const int rc = posix_spawn(&child.pid, self.c_str(), &actions, nullptr,
                               const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(down[0]);
    ::close(up[1]);
    if (rc != 0) {
        child.pid = -1;
    }
    child.toChild = down[1];
    child.fromChild = up[0];
    return child;
}

struct Rate {
    double blocksPerSecond = 0;  // 0 when a worker failed
    double cpuPerBlock = 0;      // the workers' CPU time (user and system) per block read
};

// The throughput of `used` workers, one per reader.
Rate Throughput(const std::string& self, const std::vector<std::string>& readers, std::size_t used,
                int app, int count, std::size_t blocksPerCard) {
    std::vector<Child> children;
    bool ok = true;
    for (std::size_t i = 0; i < used; ++i) {
        children.push_back(Spawn(self, readers[i], app, count));
        ok = ok && children.back().pid > 0;
    }
    for (const Child& c : children) {
        char byte = 0;
        ok = ok && ::read(c.fromChild, &byte, 1) == 1 && byte == 'r';
    }
    const auto t0 = Clock::now();
    for (const Child& c : children) {
        const char go = 'g';
        ok = ::write(c.toChild, &go, 1) == 1 && ok;  // a failed worker is still released
        ::close(c.toChild);
    }
    double cpu = 0;
    for (const Child& c : children) {
        int status = 0;
        rusage usage{};
        ok = c.pid > 0 && ::wait4(c.pid, &status, 0, &usage) == c.pid && WIFEXITED(status) &&
             WEXITSTATUS(status) == 0 && ok;
        cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        ::close(c.fromChild);
    }
    const double seconds = carvix::bench::Seconds(Clock::now() - t0);
    // The warm-up read is part of the workers' CPU time; it counts as one more card read.
    const double blocks =
        static_cast<double>(used * static_cast<std::size_t>(count) * blocksPerCard);
    const double cpuBlocks =
        static_cast<double>(used * static_cast<std::size_t>(count + 1) * blocksPerCard);
    return ok ? Rate{blocks / seconds, cpu / cpuBlocks} : Rate{};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--worker") == 0) {
        return Worker(argv[2], std::atoi(argv[3]), std::max(1, std::atoi(argv[4])));
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int hostCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const int timedCount = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const carvix::bench::UseBench bench("bench_parallel_readers", 4);
    if (!bench.Ready()) {
        return carvix::bench::kNoBench;
    }

    struct Card {
        const char* name;
        const char* image;
        int app;
        std::size_t blocks;
    };
    const Card cards[] = {{"vl-full T=0", "/vl-full-t0.json", 1, kVl.size()},
                          {"zk-full T=1", "/zk-full-t1.json", 5, kZk.size()}};
    const std::size_t counts[] = {1, 2, 4};
    std::printf(
        "%d rounds of %d card reads per process (%d under the timing model); median blocks read "
        "per second\n",
        rounds, hostCount, timedCount);
    const carvix::bench::Table table(18, {{"1 reader", 10, 1},
                                          {"2 readers", 10, 1},
                                          {"4 readers", 10, 1},
                                          {"2 vs 1", 8, 2},
                                          {"4 vs 1", 8, 2},
                                          {"cpu ms/blk", 10},
                                          {"card ms", 9, 1}});
    table.PrintHeader("card");
    int rc = 0;
    for (const bool timed : {false, true}) {
        for (const Card& card : cards) {
            const int count = timed ? timedCount : hostCount;
            const std::string label = std::string(card.name) + (timed ? " timed" : "");
            std::vector<std::unique_ptr<carvix::bench::BenchCard>> inserted;
            std::vector<std::string> readers;
            for (int i = 0; i < 4; ++i) {
                inserted.push_back(std::make_unique<carvix::bench::BenchCard>(
                    std::string(CARVIX_SAMPLE_CARDS) + card.image,
                    timed ? std::vector<std::string>{"--timing"} : std::vector<std::string>{}));
                readers.push_back(inserted.back()->ReaderName());
            }
            std::vector<double> rates[3];
            std::vector<double> cpu;
            bool failed = false;
            for (int r = 0; r < rounds; ++r) {
                for (std::size_t c = 0; c < 3; ++c) {
                    const Rate rate =
                        Throughput(self, readers, counts[c], card.app, count, card.blocks);
                    failed = failed || rate.blocksPerSecond <= 0;
                    rates[c].push_back(rate.blocksPerSecond);
                    cpu.push_back(rate.cpuPerBlock);
                }
            }
            const double one = Median(rates[0]);
            const double two = Median(rates[1]);
            const double four = Median(rates[2]);
            if (failed) {
                std::fprintf(stderr, "%s: a worker failed\n", label.c_str());
                rc = 1;
                continue;
            }
            table.PrintRow(label, {one, two, four, two / one, four / one, Median(cpu) * 1e3,
                                   1e3 * static_cast<double>(card.blocks) / one});
        }
    }
    return rc;  // an own bench stops here
}
