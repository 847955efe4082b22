// Wall time of DocAdminService writes on the bench against a bare replay of the same APDUs.
//
// For each writable block (VL variable personal data on a T=0 card, the ZK variable blocks on
// a T=1 card): the card is authenticated through CARVIX.Auth, one service write is logged by
// the card emulator, so its exact command sequence is known; then N service writes (the block
// object stored into a model, the application opened on the authenticated handle, the old SOD
// read, the new one built and signed with RSA, SOD and block written, the application closed)
// are timed, alternating with N replays of the logged commands with bare SCardTransmit calls
// on one connection held open. The ratio of the two medians is our host-side cost on top of
// the link. The SOD's signature is timed on its own, alternating with the others, in two
// ways: the whole signing step of a write (the signer found in the store, its PEM key loaded,
// the CMS message built and signed over a content of the SOD's size), and the bare RSA
// private-key operation with the key already loaded. The last ratio sets the write against
// the replay plus the whole signing step: what is left is the rest of our code.
//
//   bench_docadmin_write [ITERATIONS]  (default 21; starts a private bench unless
//                                       CARVIX_BENCH_DIR names a running one)
#include "bench_card.h"
#include "bench_env.h"
#include "carvix/card/sod_registry.h"
#include "carvix/card/user_signing.h"
#include "carvix/support/private_key.h"
#include "carvix/support/x509_certificate.h"
#include "carvix/support/x509_store.h"
#include "pcsc_client.h"

#include <openssl/evp.h>
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
    double signing = 0;
    double rsa = 0;
};

namespace x509 = Orvel::Security::Cryptography::X509;

// One RSA signature of a SHA-256 digest with the key already loaded.
bool SignDigestOnce(EVP_PKEY* key, const std::vector<std::uint8_t>& content) {
    auto context = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    std::vector<std::uint8_t> signature(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
    std::size_t length = signature.size();
    return context != nullptr &&
           EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
           EVP_DigestSign(context.get(), signature.data(), &length, content.data(),
                          content.size()) == 1;
}

void PrintRow(const char* name, int protocol, const std::string& apdus, double service,
              double replay, double signing, double rsa) {
    const std::string t = protocol < 0 ? "" : "T=" + std::to_string(protocol);
    std::printf("%-18s %3s %5s %10.3f %10.3f %10.3f %10.3f %8.3f %8.3f\n", name, t.c_str(),
                apdus.c_str(), service * 1e3, replay * 1e3, signing * 1e3, rsa * 1e3,
                service / replay, service / (replay + signing));
}

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
    // The new SOD signs one SHA-256 hash per block it covers.
    const std::vector<std::uint8_t> sodContent(
        SodRegistry::ForApplication(block.appId).BlocksOf(block.sodId).size() * 32, 0x5A);
    const x509::X509Certificate certificate(signer.Der());
    x509::X509Certificate stored;
    x509::X509Store my;
    my.Open(x509::kStoreReadOnly);
    for (const auto& candidate : my.Certificates()) {
        if (candidate.Equals(certificate)) {
            stored = candidate;
        }
    }
    const x509::PrivateKey key = x509::LoadPrivateKey(stored);
    std::vector<double> serviceTimes;
    std::vector<double> replayTimes;
    std::vector<double> signingTimes;
    std::vector<double> rsaTimes;
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
        const auto g0 = Clock::now();
        (void)SignContent(sodContent, certificate, true);
        signingTimes.push_back(Seconds(Clock::now() - g0));
        const auto k0 = Clock::now();
        if (!SignDigestOnce(key.get(), sodContent)) {
            std::fprintf(stderr, "%s: the bare RSA signature failed\n", block.name);
            return false;
        }
        rsaTimes.push_back(Seconds(Clock::now() - k0));
    }
    const double serviceSeconds = Median(serviceTimes);
    const double replaySeconds = Median(replayTimes);
    const double signingSeconds = Median(signingTimes);
    const double rsaSeconds = Median(rsaTimes);
    totals.service += serviceSeconds;
    totals.replay += replaySeconds;
    totals.signing += signingSeconds;
    totals.rsa += rsaSeconds;
    PrintRow(block.name, protocol, std::to_string(commands.size()), serviceSeconds, replaySeconds,
             signingSeconds, rsaSeconds);
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
    auto env = carvix::bench::LoadBenchEnv(std::filesystem::path(dir) / "bench.json");
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
        std::printf("%-18s %3s %5s %10s %10s %10s %10s %8s %8s\n", "block", "", "APDUs", "DocAdmin",
                    "replay", "signing", "RSA only", "/replay", "/(r+sign)");
        Totals totals;
        const bool ok = RunBlock(kVLVariablePerso, 0, signer, iterations, totals) &&
                        RunBlock(kZKVariableAdmin, 1, signer, iterations, totals) &&
                        RunBlock(kZKVariablePerso, 1, signer, iterations, totals);
        PrintRow("all blocks", -1, "", totals.service, totals.replay, totals.signing, totals.rsa);
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
