// Wall time of `carvix read all` as a whole process against the same reads inside one process.
//
// A throw-away profile gets the module registered (`carvix register`); both sample cards sit in
// bench readers. Alternating in every round, the bench times, per card:
//   - the process: `carvix read all --reader R --app A` started, run to its end, output
//     discarded (start, activation through the registry, module load, first-use
//     initialisation, reads, listing);
//   - in process: the same reads through the SDK's client library (activation by ProgID, the
//     whole application read through IDispatch, each block's properties read by the DISPID its
//     type information gives) in this process, which did all of its start-up work before.
// The first in-process run, which pays the module load and first-use initialisation, is
// reported on its own. Medians of the rounds; the ratio is the process over in-process.
// Then `carvix certs list` (two certificates in "My") as a process, beside the in-process cost
// of initialising every PKCS#11 module registered with p11-kit and listing their tokens,
// which is what listing "My" paid when it also showed the tokens' certificates.
//
//   bench_carvix_read [ROUNDS] [--timing]
//        (default 21; starts a private bench unless CARVIX_BENCH_DIR names a running one;
//        --timing puts the cards under their timing model, the pace of a real USB reader)
#include "bench_card.h"
#include "bench_env.h"
#include "carvix/automation/client.h"
#include "carvix/support/pkcs11_token.h"
#include "figures.h"
#include "use_bench.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using carvix::bench::Clock;
using carvix::bench::Median;
using carvix::bench::Seconds;

// Runs the program with its output sent to /dev/null; the exit status, or -1.
int Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every argument-less property of the block; the number of values read.
std::size_t ReadProperties(const carvix::automation::Object& block) {
    std::size_t count = 0;
    for (const carvix::automation::Member& m : block.Type()->members) {
        if (m.kind == carvix::automation::Invocation::PropertyGet && m.TakesNoArguments()) {
            carvix::automation::ScopedVariant value;
            count += SUCCEEDED(block.TryGet(m.id, value)) ? 1 : 0;
        }
    }
    return count;
}

// What `carvix read all` does once its process is up: the whole application in one call, then
// every block's properties.
bool ReadAllInProcess(const std::string& reader, int app) {
    namespace ca = carvix::automation;
    try {
        const ca::Object wholeCard = ca::Object::Create(u"CARVIX.WholeCard");
        ca::ScopedVariant result;
        wholeCard.Call(u"ReadApplication", {ca::TextValue(ca::Utf16(reader)), ca::IntValue(app)},
                       result);
        std::size_t values = 0;
        ca::ForEachElement(*result, "ReadApplication", [&](std::size_t, const VARIANT& block) {
            if (block.vt != VT_DISPATCH || block.pdispVal == nullptr) {
                throw ca::ClientError(block.vt == VT_ERROR ? block.scode : DISP_E_TYPEMISMATCH,
                                      "ReadApplication");
            }
            values += ReadProperties(ca::Object::Share(block.pdispVal));
        });
        return values != 0;
    } catch (const ca::ClientError& e) {
        std::fprintf(stderr, "in-process read failed: %s\n", e.what());
        return false;
    }
}

struct Card {
    const char* name;
    const char* image;
    int app;
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = 21;
    bool timed = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--timing") {
            timed = true;
        } else {
            rounds = std::max(1, std::atoi(argv[i]));
        }
    }
    const carvix::bench::UseBench bench("bench_carvix_read", 2);
    if (!bench.Ready()) {
        return carvix::bench::kNoBench;
    }

    // A private profile for the registration, removed at the end.
    char tmpl[] = "/tmp/carvix-read-bench.XXXXXX";
    const fs::path root = ::mkdtemp(tmpl);
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (root / "system").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    int rc = 0;
    if (Run({CARVIX_CLI, "register", "--module", CARVIX_QX_MODULE}) != 0) {
        std::fprintf(stderr, "bench_carvix_read: registering the module failed\n");
        rc = 1;
    }

    const std::string cards = CARVIX_SAMPLE_CARDS;
    const Card list[] = {{"vl-full T=0", "/vl-full-t0.json", 1},
                         {"zk-full T=1", "/zk-full-t1.json", 5}};
    const carvix::bench::Table table(
        12, {{"process", 10}, {"in-process", 10}, {"first in-p.", 12}, {"ratio", 8}});
    if (rc == 0) {
        std::printf("%d rounds; median wall time of one `carvix read all`, in ms%s\n", rounds,
                    timed ? "; cards under the timing model" : "");
        table.PrintHeader("card");
    }
    double processTotal = 0;
    double inProcessTotal = 0;
    for (const Card& card : list) {
        if (rc != 0) {
            break;
        }
        carvix::bench::BenchCard bench(
            cards + card.image,
            timed ? std::vector<std::string>{"--timing"} : std::vector<std::string>{});
        const std::string& reader = bench.ReaderName();
        const std::vector<std::string> command = {
            CARVIX_CLI, "read", "all", "--reader", reader, "--app", std::to_string(card.app)};
        std::vector<double> process;
        std::vector<double> inProcess;
        double first = 0;
        for (int i = 0; i < rounds && rc == 0; ++i) {
            const auto p0 = Clock::now();
            if (Run(command) != 0) {
                std::fprintf(stderr, "%s: carvix read all failed\n", card.name);
                rc = 1;
                break;
            }
            process.push_back(Seconds(Clock::now() - p0));
            const auto i0 = Clock::now();
            if (!ReadAllInProcess(reader, card.app)) {
                rc = 1;
                break;
            }
            const double seconds = Seconds(Clock::now() - i0);
            if (i == 0 && &card == &list[0]) {
                first = seconds;  // the module load and first-use work of this process
            } else {
                inProcess.push_back(seconds);
            }
        }
        if (rc != 0) {
            break;
        }
        if (inProcess.empty()) {  // one round only: the first run is all there is
            inProcess.push_back(first);
        }
        const double p = Median(process);
        const double q = Median(inProcess);
        processTotal += p;
        inProcessTotal += q;
        const carvix::bench::Cell firstCell =
            first > 0 ? carvix::bench::Cell(first * 1e3) : carvix::bench::Cell("");
        table.PrintRow(card.name, {p * 1e3, q * 1e3, firstCell, p / q});
    }
    if (rc == 0) {
        table.PrintRow("both cards", {processTotal * 1e3, inProcessTotal * 1e3, "",
                                      processTotal / inProcessTotal});
    }
    if (rc == 0) {
        const std::string pki = CARVIX_TEST_PKI;
        rc = Run({CARVIX_CLI, "certs", "add", "--cert", pki + "/document-signer.cert.pem", "--key",
                  pki + "/TEST-KEY-document-signer.key.pem"}) |
             Run({CARVIX_CLI, "certs", "add", "--cert", pki + "/issuer.cert.pem"});
        std::vector<double> list;
        std::vector<double> modules;
        std::size_t tokens = 0;
        for (int i = 0; i < rounds && rc == 0; ++i) {
            const auto l0 = Clock::now();
            rc = Run({CARVIX_CLI, "certs", "list"});
            list.push_back(Seconds(Clock::now() - l0));
            const auto m0 = Clock::now();
            try {
                tokens = Orvel::Pkcs11::AllTokens().size();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "loading the registered modules failed: %s\n", e.what());
            }
            modules.push_back(Seconds(Clock::now() - m0));
        }
        if (rc == 0) {
            std::printf("\nmedian wall time, in ms\n");
            std::printf("  carvix certs list (a process; loads no PKCS#11 module)   %8.2f\n",
                        Median(list) * 1e3);
            std::printf("  every registered PKCS#11 module initialised, %zu tokens  %8.2f\n",
                        tokens, Median(modules) * 1e3);
        }
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    return rc;  // an own bench stops here
}
