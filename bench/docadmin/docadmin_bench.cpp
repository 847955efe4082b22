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
// top of the call structure and on top of the bare link. After the blocks of a card, the sum of
// its read methods ("by block") and the whole card in one call of CARVIX.WholeCard, which reads
// each block and SOD once ("whole card"), each against the replays of its own commands.
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
#include "wholecard/whole_card_service.h"

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

// Times `readOnce` (one read through a service) against the two replays of the commands it
// sends, and gives the medians and the number of commands; false when the read failed.
template <class Read>
bool Measure(BenchCard& card, carvix::bench::PcscCard& held, int iterations, Read&& readOnce,
             Figures& f, std::size_t& apdus) {
    card.ClearApduLog();
    if (FAILED(readOnce())) {
        return false;
    }
    std::vector<std::vector<std::uint8_t>> commands;
    for (const auto& exchange : card.ApduLog()) {
        commands.push_back(carvix::bench::Unhex(exchange.command));
    }
    apdus = commands.size();
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
    f = Figures{Median(service), Median(cold),       Median(heldTimes),
                Median(perRead), Median(serviceCpu), Median(perReadCpu)};
    return true;
}

bool RunCard(const std::string& image, std::uint16_t app, const Block* blocks, std::size_t count,
             int iterations, bool timed, Figures& totals, nlohmann::json& report) {
    BenchCard card(image,
                   timed ? std::vector<std::string>{"--timing"} : std::vector<std::string>{});
    void* p = nullptr;
    carvix::com::Create<carvix::com::DocAdminService>(nullptr, carvix::com::kIidIDocAdminService,
                                                      &p);
    auto* service = static_cast<IDocAdminService*>(p);
    p = nullptr;
    carvix::com::Create<carvix::com::WholeCardService>(nullptr, carvix::com::kIidIWholeCardService,
                                                       &p);
    auto* wholeCard = static_cast<carvix::com::IWholeCardService*>(p);
    std::u16string name(card.ReaderName().begin(), card.ReaderName().end());
    BSTR reader = SysAllocStringLen(name.data(), static_cast<std::uint32_t>(name.size()));
    bool ok = true;
    carvix::bench::PcscCard held(card.ReaderName());
    Figures cardTotals;  // every block of this card, one read method after the other
    std::size_t cardApdus = 0;
    for (std::size_t b = 0; b < count && ok; ++b) {
        auto readOnce = [&] {
            AnyOut out;
            const HRESULT hr = blocks[b].read(service, reader, app, out);
            if (out.p != nullptr) {
                out.p->Release();
            }
            return hr;
        };
        Figures f;
        std::size_t apdus = 0;
        if (!Measure(card, held, iterations, readOnce, f, apdus)) {
            std::fprintf(stderr, "%s: the read failed\n", blocks[b].name);
            ok = false;
            break;
        }
        for (Figures* sum : {&totals, &cardTotals}) {
            sum->service += f.service;
            sum->cold += f.cold;
            sum->serviceCpu += f.serviceCpu;
            sum->perReadCpu += f.perReadCpu;
            sum->held += f.held;
            sum->perRead += f.perRead;
        }
        cardApdus += apdus;
        PrintRow(blocks[b].name, std::to_string(apdus), f);
        nlohmann::json row = ToJson(f);
        row["apdus"] = apdus;
        report["blocks"][blocks[b].name] = row;
    }
    const std::string prefix = std::string(blocks[0].name).substr(0, 2);
    PrintRow((prefix + " by block").c_str(), std::to_string(cardApdus), cardTotals);
    nlohmann::json byBlock = ToJson(cardTotals);
    byBlock["apdus"] = cardApdus;
    report["cards"][prefix + " by block"] = byBlock;

    // The whole application in one call (CARVIX.WholeCard), every element a block object.
    auto readWhole = [&] {
        VARIANT blocksRead;
        VariantInit(&blocksRead);
        HRESULT hr = wholeCard->ReadApplication(reader, app, &blocksRead);
        if (SUCCEEDED(hr)) {
            for (std::int32_t i = 0; i < static_cast<std::int32_t>(count); ++i) {
                VARIANT element;
                VariantInit(&element);
                if (FAILED(SafeArrayGetElement(blocksRead.parray, &i, &element)) ||
                    element.vt != VT_DISPATCH) {
                    hr = E_FAIL;
                }
                VariantClear(&element);
            }
        }
        VariantClear(&blocksRead);
        return hr;
    };
    Figures whole;
    std::size_t wholeApdus = 0;
    if (ok && Measure(card, held, iterations, readWhole, whole, wholeApdus)) {
        PrintRow((prefix + " whole card").c_str(), std::to_string(wholeApdus), whole);
        nlohmann::json row = ToJson(whole);
        row["apdus"] = wholeApdus;
        report["cards"][prefix + " whole card"] = row;
    } else if (ok) {
        std::fprintf(stderr, "%s: the whole-card read failed\n", prefix.c_str());
        ok = false;
    }
    SysFreeString(reader);
    wholeCard->Release();
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
