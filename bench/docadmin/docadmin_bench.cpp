// Wall time of DocAdminService reads on the bench against two bare replays of the same APDUs.
//
// For every block of the sample VL and ZK cards: one service read is logged by the card
// emulator, so its exact command sequence is known. Then, alternating within each round so
// that the machine's load drifts evenly over all sides, the bench times
//   - a service read (open, verified read, close, block object created and loaded),
//   - a held replay: the logged commands with bare SCardTransmit calls on one connection held
//     open for the whole run (the link alone),
//   - a per-read replay: a context, a connection and a transaction of its own around the
//     logged commands, the way every scripting call must (the link plus the call structure),
// and reports the median of each, with the thread CPU time of the service read and of the
// per-read replay beside them (robust against a loaded machine). The service read is timed twice:
// warm (the SOD's verification answered from the process's memory of verified messages, as for
// every read after the first of a card) and cold (that memory emptied before the read, as for the
// first read of a card in a process). The ratios against the two replays say what our code costs on
// top of the call structure and on top of the bare link.
//
//   bench_docadmin [ITERATIONS] [--timing] [--json FILE]
//        (default 21 rounds; starts a private bench unless CARVIX_BENCH_DIR names a running
//        one; --timing puts the cards under their timing model, so that they answer at the
//        speed of a real USB reader and card; --json also writes the figures to FILE)
#include "bench_card.h"
#include "bench_env.h"
#include "carvix/automation/oleauto.h"
#include "carvix/card/signed_message.h"
#include "docadmin/docadmin_service.h"
#include "figures.h"
#include "pcsc_client.h"
#include "use_bench.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::Median;
using carvix::bench::Time;
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

struct Block {
    const char* name;
    ReadFn read;
};

const Block kVl[] = {{"vl-document", CARVIX_READ(ReadVLDocumentData)},
                     {"vl-fixed", CARVIX_READ(ReadVLFixedPersoData)},
                     {"vl-photo", CARVIX_READ(ReadVLPhotoData)},
                     {"vl-variable", CARVIX_READ(ReadVLVariablePersoData)}};
const Block kZk[] = {{"zk-document", CARVIX_READ(ReadZKDocumentData)},
                     {"zk-fixed-admin", CARVIX_READ(ReadZKFixedAdminData)},
                     {"zk-fixed", CARVIX_READ(ReadZKFixedPersoData)},
                     {"zk-variable-admin", CARVIX_READ(ReadZKVariableAdminData)},
                     {"zk-variable", CARVIX_READ(ReadZKVariablePersoData)}};

// CPU time of this thread, which a loaded machine does not stretch the way it stretches
// wall time: the host work of a read without the waits for the card, pcscd and the scheduler.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Medians of one block, in seconds per read.
struct Figures {
    double service = 0;
    double cold = 0;
    double held = 0;
    double perRead = 0;
    double serviceCpu = 0;
    double perReadCpu = 0;
};

const carvix::bench::Table kTable(18, {{"APDUs", 5},
                                       {"DocAdmin", 9},
                                       {"cold", 9},
                                       {"per-read", 9},
                                       {"held", 9},
                                       {"/per-read", 9},
                                       {"/held", 9},
                                       {"cold/p-r", 9},
                                       {"cpu", 8},
                                       {"cpu p-r", 8}});

void PrintRow(const char* name, const std::string& apdus, const Figures& f) {
    kTable.PrintRow(name, {apdus, f.service * 1e3, f.cold * 1e3, f.perRead * 1e3, f.held * 1e3,
                           f.service / f.perRead, f.service / f.held, f.cold / f.perRead,
                           f.serviceCpu * 1e3, f.perReadCpu * 1e3});
}

nlohmann::json ToJson(const Figures& f) {
    return {{"service_ms", f.service * 1e3},
            {"cold_service_ms", f.cold * 1e3},
            {"per_read_replay_ms", f.perRead * 1e3},
            {"held_replay_ms", f.held * 1e3},
            {"ratio_per_read", f.service / f.perRead},
            {"ratio_held", f.service / f.held},
            {"cold_ratio_per_read", f.cold / f.perRead},
            {"service_cpu_ms", f.serviceCpu * 1e3},
            {"per_read_replay_cpu_ms", f.perReadCpu * 1e3}};
}

bool RunCard(const std::string& image, std::uint16_t app, const Block* blocks, std::size_t count,
             int iterations, bool timed, Figures& totals, nlohmann::json& report) {
    BenchCard card(image,
                   timed ? std::vector<std::string>{"--timing"} : std::vector<std::string>{});
    void* p = nullptr;
    carvix::com::Create<carvix::com::DocAdminService>(nullptr, carvix::com::kIidIDocAdminService,
                                                      &p);
    auto* service = static_cast<IDocAdminService*>(p);
    std::u16string name(card.ReaderName().begin(), card.ReaderName().end());
    BSTR reader = SysAllocStringLen(name.data(), static_cast<std::uint32_t>(name.size()));
    bool ok = true;
    carvix::bench::PcscCard held(card.ReaderName());
    Figures cardTotals;  // every block of this card, one read method after the other
    for (std::size_t b = 0; b < count && ok; ++b) {
        auto readOnce = [&] {
            AnyOut out;
            const HRESULT hr = blocks[b].read(service, reader, app, out);
            if (out.p != nullptr) {
                out.p->Release();
            }
            return hr;
        };
        card.ClearApduLog();
        if (FAILED(readOnce())) {
            std::fprintf(stderr, "%s: the read failed\n", blocks[b].name);
            ok = false;
            break;
        }
        std::vector<std::vector<std::uint8_t>> commands;
        for (const auto& exchange : card.ApduLog()) {
            commands.push_back(carvix::bench::Unhex(exchange.command));
        }
        auto replay = [&](carvix::bench::PcscCard& on) {
            for (const auto& command : commands) {
                on.Transmit(command);
            }
        };
        std::vector<double> service, cold, heldTimes, perRead, serviceCpu, perReadCpu;
        for (int i = 0; i < iterations; ++i) {
            double c0 = ThreadCpuSeconds();
            service.push_back(Time(readOnce));
            serviceCpu.push_back(ThreadCpuSeconds() - c0);
            ForgetVerifiedMessages();
            cold.push_back(Time(readOnce));
            heldTimes.push_back(Time([&] { replay(held); }));
            c0 = ThreadCpuSeconds();
            perRead.push_back(Time([&] {
                carvix::bench::PcscCard own(card.ReaderName());
                own.BeginTransaction();
                replay(own);
                own.EndTransaction();
            }));
            perReadCpu.push_back(ThreadCpuSeconds() - c0);
        }
        const Figures f{Median(service), Median(cold),       Median(heldTimes),
                        Median(perRead), Median(serviceCpu), Median(perReadCpu)};
        for (Figures* sum : {&totals, &cardTotals}) {
            sum->service += f.service;
            sum->cold += f.cold;
            sum->serviceCpu += f.serviceCpu;
            sum->perReadCpu += f.perReadCpu;
            sum->held += f.held;
            sum->perRead += f.perRead;
        }
        PrintRow(blocks[b].name, std::to_string(commands.size()), f);
        nlohmann::json row = ToJson(f);
        row["apdus"] = commands.size();
        report["blocks"][blocks[b].name] = row;
    }
    const std::string cardLabel = std::string(blocks[0].name).substr(0, 2) + " card";
    PrintRow(cardLabel.c_str(), "", cardTotals);
    report["cards"][cardLabel] = ToJson(cardTotals);
    SysFreeString(reader);
    service->Release();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = 21;
    std::string jsonPath;
    bool timed = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timing") == 0) {
            timed = true;
        } else if (std::strcmp(argv[i], "--json") == 0 && i + 1 < argc) {
            jsonPath = argv[++i];
        } else {
            iterations = std::max(1, std::atoi(argv[i]));
        }
    }
    const carvix::bench::UseBench bench("bench_docadmin", 2);
    if (!bench.Ready()) {
        return carvix::bench::kNoBench;
    }
    std::printf("%d rounds per block; median times per read, in ms%s\n", iterations,
                timed ? "; cards under the timing model" : "");
    kTable.PrintHeader("block");
    Figures totals;
    nlohmann::json report = {
        {"iterations", iterations}, {"timing_model", timed}, {"unit", "ms per read (median)"}};
    const std::string cards = CARVIX_SAMPLE_CARDS;
    const bool ok = RunCard(cards + "/vl-full-t0.json", 1, kVl, std::size(kVl), iterations, timed,
                            totals, report) &&
                    RunCard(cards + "/zk-full-t1.json", 5, kZk, std::size(kZk), iterations, timed,
                            totals, report);
    PrintRow("all blocks", "", totals);
    report["total"] = ToJson(totals);
    if (!jsonPath.empty()) {
        std::ofstream(jsonPath) << report.dump(2) << '\n';
    }
    return ok ? 0 : 1;  // an own bench stops here
}
