// Wall time of DocAdminService reads on the bench against a bare replay of the same APDUs.
//
// For every block of the sample VL and ZK cards: one service read is logged by the card
// emulator, so its exact command sequence is known; then N service reads (open, verified
// read, close, block object created and loaded) are timed, and N replays of the logged
// commands with bare SCardTransmit calls on one connection held open. The ratio of the two
// is our host-side cost on top of the link.
//
//   bench_docadmin [ITERATIONS]        (default 3; starts a private bench unless
//                                       CARVIX_BENCH_DIR names a running one)
#include "bench_card.h"
#include "bench_env.h"
#include "carvix/automation/oleauto.h"
#include "docadmin/docadmin_service.h"
#include "own_bench.h"
#include "pcsc_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using carvix::bench::BenchCard;
using carvix::com::IDocAdminService;
using Clock = std::chrono::steady_clock;

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

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Totals {
    double service = 0;
    double replay = 0;
};

bool RunCard(const std::string& image, std::uint16_t app, const Block* blocks, std::size_t count,
             int iterations, Totals& totals) {
    BenchCard card(image);
    void* p = nullptr;
    carvix::com::Create<carvix::com::DocAdminService>(nullptr, carvix::com::kIidIDocAdminService,
                                                      &p);
    auto* service = static_cast<IDocAdminService*>(p);
    std::u16string name(card.ReaderName().begin(), card.ReaderName().end());
    BSTR reader = SysAllocStringLen(name.data(), static_cast<std::uint32_t>(name.size()));
    bool ok = true;
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
        const auto s0 = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            readOnce();
        }
        const double service_s = Seconds(Clock::now() - s0) / iterations;

        carvix::bench::PcscCard bare(card.ReaderName());
        const auto r0 = Clock::now();
        for (int i = 0; i < iterations; ++i) {
            for (const auto& command : commands) {
                bare.Transmit(command);
            }
        }
        const double replay_s = Seconds(Clock::now() - r0) / iterations;
        totals.service += service_s;
        totals.replay += replay_s;
        std::printf("%-18s %5zu %12.3f %12.3f %8.3f\n", blocks[b].name, commands.size(),
                    service_s * 1e3, replay_s * 1e3, service_s / replay_s);
    }
    SysFreeString(reader);
    service->Release();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::unique_ptr<carvix::bench::OwnBench> own;
    std::filesystem::path benchJson;
    if (const char* d = std::getenv("CARVIX_BENCH_DIR"); d != nullptr && *d != '\0') {
        benchJson = std::filesystem::path(d) / "bench.json";
    } else {
        own = std::make_unique<carvix::bench::OwnBench>(2);
        benchJson = own->Description();
    }
    auto env = carvix::bench::LoadBenchEnv(benchJson);
    int rc = 0;
    if (!env.ready) {
        std::fprintf(stderr, "bench_docadmin: no bench here: %s\n", env.reason.c_str());
        rc = 77;
    } else {
        ::setenv("PCSCLITE_CSOCK_NAME", env.socket.c_str(), 1);
        carvix::bench::SetCurrentBench(std::move(env));
        std::printf("%d reads per block; times are per read, in ms\n", iterations);
        std::printf("%-18s %5s %12s %12s %8s\n", "block", "APDUs", "DocAdmin", "bare replay",
                    "ratio");
        Totals totals;
        const std::string cards = CARVIX_SAMPLE_CARDS;
        const bool ok =
            RunCard(cards + "/vl-full-t0.json", 1, kVl, std::size(kVl), iterations, totals) &&
            RunCard(cards + "/zk-full-t1.json", 5, kZk, std::size(kZk), iterations, totals);
        std::printf("%-18s %5s %12.3f %12.3f %8.3f\n", "all blocks", "", totals.service * 1e3,
                    totals.replay * 1e3, totals.service / totals.replay);
        rc = ok ? 0 : 1;
    }
    return rc;  // an own bench stops here
}
