// Wall time of DocAdminService writes on the bench against a bare replay of the same APDUs.
//
// For each writable block (VL variable personal data on a T=0 card, the ZK variable blocks on
// a T=1 card): the card is authenticated through CARVIX.Auth, one service write is logged by
// the card emulator, so its exact command sequence is known; then N service writes (the block
// object stored into a model, the application opened on the authenticated handle, the old SOD
// read, the new one built and signed with RSA, SOD and block written, the application closed)
// are timed, alternating with N replays of the logged commands with bare SCardTransmit calls
// on one connection held open. The ratio of the two medians is our host-side cost on top of
// the link.
//
//   bench_docadmin_write [ITERATIONS]  (default 21; starts a private bench unless
//                                       CARVIX_BENCH_DIR names a running one)
#include "bench_card.h"
#include "bench_env.h"
#include "pcsc_client.h"
#include "write_session.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
using Clock = std::chrono::steady_clock;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Totals {
    double service = 0;
    double replay = 0;
};

bool RunBlock(const WritableBlock& block, int protocol, const InstalledSigner& signer,
              int iterations, Totals& totals) {
    BenchCard card(SampleImage(block.card, protocol));
    const std::string& reader = card.ReaderName();
    const Ref<IDocAdminService> service = NewDocAdmin();
    const Ref<IAuthenticationService> auth = NewAuth();
    if (Authenticate(*auth, reader, block.appId, WriterKey()) != S_OK) {
        std::fprintf(stderr, "%s: the authentication failed\n", block.name);
        return false;
    }
    const Ref<IDispatch> object = ReadBlock(*service, block, reader);
    if (object == nullptr || FAILED(PutText(*object, block.property, u"Benchmark value"))) {
        std::fprintf(stderr, "%s: the block could not be read and changed\n", block.name);
        return false;
    }
    Bstr signerText(signer.Base64());
    auto writeOnce = [&] {
        return block.write(*service, auth.get(), object.get(), signerText.get());
    };

    card.ClearApduLog();
    if (FAILED(writeOnce())) {
        std::fprintf(stderr, "%s: the write failed\n", block.name);
        return false;
    }
    std::vector<std::vector<std::uint8_t>> commands;
    for (const auto& exchange : card.ApduLog()) {
        commands.push_back(carvix::bench::Unhex(exchange.command));
    }

    // Writes and replays alternate, and each side reports its median: the card emulator
    // makes every write durable on disk, whose latency drifts with the machine's load.
    carvix::bench::PcscCard bare(reader);
    std::vector<double> serviceTimes;
    std::vector<double> replayTimes;
    for (int i = 0; i < iterations; ++i) {
        const auto s0 = Clock::now();
        if (FAILED(writeOnce())) {
            std::fprintf(stderr, "%s: a timed write failed\n", block.name);
            return false;
        }
        serviceTimes.push_back(Seconds(Clock::now() - s0));
        // The same card state, the same bytes: the replay rewrites what the write wrote.
        const auto r0 = Clock::now();
        for (const auto& command : commands) {
            bare.Transmit(command);
        }
        replayTimes.push_back(Seconds(Clock::now() - r0));
    }
    const double serviceSeconds = Median(serviceTimes);
    const double replaySeconds = Median(replayTimes);
    totals.service += serviceSeconds;
    totals.replay += replaySeconds;
    std::printf("%-18s T=%d %5zu %12.3f %12.3f %8.3f\n", block.name, protocol, commands.size(),
                serviceSeconds * 1e3, replaySeconds * 1e3, serviceSeconds / replaySeconds);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    std::string dir;
    bool own = false;
    if (const char* d = std::getenv("CARVIX_BENCH_DIR"); d != nullptr && *d != '\0') {
        dir = d;
    } else {
        char tmpl[] = "/tmp/carvix-bench-docadmin-write.XXXXXX";
        dir = ::mkdtemp(tmpl);
        own = true;
        const std::string cmd = Quote(CARVIX_BENCH_SCRIPT) + " start --dir " + Quote(dir) +
                                " --readers 1 --watch-pid " + std::to_string(::getpid()) +
                                " --probe " + Quote(CARVIX_PROBE_PATH) + " --vcard " +
                                Quote(CARVIX_VCARD_PATH) + " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "bench_docadmin_write: the bench did not start\n");
        }
    }
    auto env = carvix::bench::LoadBenchEnv(std::filesystem::path(dir) / "bench.env");
    int rc = 0;
    if (!env.ready) {
        std::fprintf(stderr, "bench_docadmin_write: no bench here: %s\n", env.reason.c_str());
        rc = 77;
    } else {
        ::setenv("PCSCLITE_CSOCK_NAME", env.socket.c_str(), 1);
        carvix::bench::SetCurrentBench(std::move(env));
        // The signer and its key in a private "My" store for the length of the run.
        const InstalledSigner signer;
        std::printf("%d writes per block; median times per write, in ms\n", iterations);
        std::printf("%-18s %3s %5s %12s %12s %8s\n", "block", "", "APDUs", "DocAdmin",
                    "bare replay", "ratio");
        Totals totals;
        const bool ok = RunBlock(kVLVariablePerso, 0, signer, iterations, totals) &&
                        RunBlock(kZKVariableAdmin, 1, signer, iterations, totals) &&
                        RunBlock(kZKVariablePerso, 1, signer, iterations, totals);
        std::printf("%-18s %3s %5s %12.3f %12.3f %8.3f\n", "all blocks", "", "",
                    totals.service * 1e3, totals.replay * 1e3, totals.service / totals.replay);
        rc = ok ? 0 : 1;
    }
    if (own) {
        const std::string cmd = Quote(CARVIX_BENCH_SCRIPT) + " stop --dir " + Quote(dir);
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "bench_docadmin_write: stopping the bench failed\n");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return rc;
}
