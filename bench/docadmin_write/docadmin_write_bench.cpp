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
#include "carvix/card/sod_registry.h"
#include "carvix/card/user_signing.h"
#include "carvix/support/private_key.h"
#include "carvix/support/x509_certificate.h"
#include "carvix/support/x509_store.h"
#include "figures.h"
#include "pcsc_client.h"

#include <openssl/evp.h>
#include "use_bench.h"
#include "write_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
using carvix::bench::Clock;
using carvix::bench::Median;
using carvix::bench::Seconds;

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

const carvix::bench::Table kTable(18, {{"", 3},
                                       {"APDUs", 5},
                                       {"DocAdmin", 10},
                                       {"replay", 10},
                                       {"signing", 10},
                                       {"RSA only", 10},
                                       {"/replay", 8},
                                       {"/(r+sign)", 8}});

void PrintRow(const char* name, int protocol, const std::string& apdus, double service,
              double replay, double signing, double rsa) {
    const std::string t = protocol < 0 ? "" : "T=" + std::to_string(protocol);
    kTable.PrintRow(name, {t, apdus, service * 1e3, replay * 1e3, signing * 1e3, rsa * 1e3,
                           service / replay, service / (replay + signing)});
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
    const carvix::bench::UseBench bench("bench_docadmin_write", 1);
    if (!bench.Ready()) {
        return carvix::bench::kNoBench;
    }
    // The signer and its key in a private "My" store for the length of the run.
    const InstalledSigner signer;
    std::printf("%d writes per block; median times per write, in ms\n", iterations);
    kTable.PrintHeader("block");
    Totals totals;
    const bool ok = RunBlock(kVLVariablePerso, 0, signer, iterations, totals) &&
                    RunBlock(kZKVariableAdmin, 1, signer, iterations, totals) &&
                    RunBlock(kZKVariablePerso, 1, signer, iterations, totals);
    PrintRow("all blocks", -1, "", totals.service, totals.replay, totals.signing, totals.rsa);
    return ok ? 0 : 1;  // an own bench stops here
}
