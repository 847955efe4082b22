// carvix beside the other smart-card software of a desktop, on the bench: listing and using
// the store "My", reading and writing load no PKCS#11 module unless a key link names one
// (and then only that one), and a card that another program holds gives the in-use message
// within the card wait limit instead of a hang, with nothing written.
#include "bench_card.h"
#include "cli_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::CliResult;
using carvix::bench::ProfileRoot;
using carvix::bench::Quote;
using carvix::bench::RemoveProfile;
using carvix::bench::RunCli;
using carvix::bench::UseFreshProfile;
using nlohmann::ordered_json;
namespace fs = std::filesystem;

const std::string kRoleKey = "000102030405060708090A0B0C0D0E0F";
const fs::path kPki = CARVIX_TEST_PKI;

class Profile : public ::testing::Environment {
  public:
    void SetUp() override { UseFreshProfile(); }
    void TearDown() override { RemoveProfile(); }
};

// Another program holding the card: carvix-probe connected exclusively, or inside a long
// transaction, until it is stopped.
class Holder {
  public:
    Holder(const std::string& reader, const std::string& how, int seconds = 30) {
        int out[2];
        if (pipe(out) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            const std::string time = std::to_string(seconds);
            execl(CARVIX_PROBE, CARVIX_PROBE, "hold", reader.c_str(), how.c_str(), "--seconds",
                  time.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        char line[64] = {};
        held_ = lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr &&
                std::string(line).rfind("holding", 0) == 0;
        if (lines != nullptr) {
            std::fclose(lines);
        }
    }
    ~Holder() { Release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool Held() const { return held_; }
    void Release() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

struct Timed {
    CliResult result;
    double seconds;
};

Timed RunTimed(const std::string& args, const std::string& env = {}) {
    const auto start = std::chrono::steady_clock::now();
    CliResult result = RunCli(args, env);
    return {result,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

// The PKCS#11 modules the dynamic loader opened while `carvix` ran (LD_DEBUG=files lists
// every file it loads on standard error).
bool Loaded(const CliResult& r, const std::string& module) {
    return r.err.find(module) != std::string::npos;
}

class Coexistence : public ::testing::Test {
  public:
    void SetUp() override { fs::remove_all(ProfileRoot() / "data"); }

    static fs::path Image(const std::string& card, int protocol) {
        return fs::path(CARVIX_SAMPLE_CARDS) / (card + "-t" + std::to_string(protocol) + ".json");
    }
    static std::string On(const BenchCard& card) {
        return " --reader " + Quote(card.ReaderName()) + " --app 1";
    }
    static std::string RespondWith() {
        return " --respond-with " +
               Quote(Quote(CARVIX_VCARD) + " respond --key " + kRoleKey + " --base64 --challenge");
    }
    static void AddFileSigner() {
        const CliResult r = RunCli("certs add --cert " + Quote(kPki / "document-signer.cert.pem") +
                                   " --key " + Quote(kPki / "TEST-KEY-document-signer.key.pem"));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static fs::path EditedVariableBlock(const BenchCard& card, const std::string& site) {
        const CliResult r = RunCli("read vl-variable" + On(card) + " --json");
        EXPECT_EQ(r.status, 0) << r.err;
        ordered_json block = ordered_json::parse(r.out);
        block["ServiceSite"] = site;
        const fs::path file = ProfileRoot() / "vl-variable.json";
        std::ofstream(file) << block.dump(2);
        return file;
    }
};

TEST_F(Coexistence, ListingReadingAndWritingWithAFileKeyLoadNoModule) {
    AddFileSigner();
    BenchCard card(Image("vl-full", 0));
    const CliResult list = RunCli("certs list", "LD_DEBUG=files");
    ASSERT_EQ(list.status, 0) << list.err;
    const CliResult read = RunCli("read vl-variable" + On(card), "LD_DEBUG=files");
    ASSERT_EQ(read.status, 0) << read.err;
    const CliResult write =
        RunCli("write vl-variable" + On(card) + " --role 1 --from " +
                   Quote(EditedVariableBlock(card, "Quiet Barracks")) + RespondWith(),
               "LD_DEBUG=files");
    ASSERT_EQ(write.status, 0) << write.err;
    for (const CliResult* r : {&list, &read, &write}) {
        EXPECT_FALSE(Loaded(*r, "opensc-pkcs11")) << "OpenSC's module was loaded";
        EXPECT_FALSE(Loaded(*r, "p11-kit-trust")) << "p11-kit's trust module was loaded";
        EXPECT_FALSE(Loaded(*r, "libsofthsm2")) << "SoftHSM2's module was loaded";
    }
}

// A key on a token is reached through its link, which names the module: a write signed by
// it loads SoftHSM2's module and no other.
TEST_F(Coexistence, ATokenKeyLoadsOnlyTheModuleItsLinkNames) {
    const fs::path work = ProfileRoot() / "token";
    fs::create_directories(work / "tokens");
    const fs::path conf = work / "softhsm2.conf";
    std::ofstream(conf) << "directories.tokendir = " << (work / "tokens").string()
                        << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    const std::string env = "SOFTHSM2_CONF=" + Quote(conf.string());
    const std::string init = env +
                             " softhsm2-util --init-token --free --label 'Coexistence Token' "
                             "--pin 1234 --so-pin 87654321 >/dev/null";
    ASSERT_EQ(std::system(init.c_str()), 0);
    std::ofstream(work / "pin") << "1234\n";
    const std::string token = " --reader 'Coexistence Token' --pin-file " + Quote(work / "pin");
    ASSERT_EQ(
        RunCli("pki keygen" + token + " --container signer --usage sign --bits 2048", env).status,
        0);
    const CliResult request = RunCli("pki request" + token +
                                         " --container signer --usage sign --cn 'TEST Token' --pem "
                                         "--out " +
                                         Quote(work / "req.pem"),
                                     env);
    ASSERT_EQ(request.status, 0) << request.err;
    const std::string issue =
        "openssl x509 -req -in " + Quote(work / "req.pem") + " -CA " +
        Quote(kPki / "issuer.cert.pem") + " -CAkey " + Quote(kPki / "TEST-KEY-issuer.key.pem") +
        " -set_serial 0x72 -days 30 -sha256 -out " + Quote(work / "cert.pem") + " 2>/dev/null";
    ASSERT_EQ(std::system(issue.c_str()), 0);
    const CliResult import = RunCli("pki import" + token +
                                        " --container signer --usage sign "
                                        "--cert " +
                                        Quote(work / "cert.pem"),
                                    env);
    ASSERT_EQ(import.status, 0) << import.err;

    // The import put the certificate into "My" with a link that names the module.
    const CliResult list = RunCli("certs list", env + " LD_DEBUG=files");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("key     CN=TEST Token"), std::string::npos) << list.out;
    EXPECT_FALSE(Loaded(list, "libsofthsm2")) << "listing touched the token";

    BenchCard card(Image("vl-full", 1));
    const CliResult write =
        RunCli("write vl-variable" + On(card) + " --role 1 --from " +
                   Quote(EditedVariableBlock(card, "Token Barracks")) + " --signer " +
                   Quote(work / "cert.pem") + " --pin-file " + Quote(work / "pin") + RespondWith(),
               env + " LD_DEBUG=files");
    ASSERT_EQ(write.status, 0) << write.err.substr(write.err.size() > 4000 ? write.err.size() - 4000
                                                                           : 0);
    EXPECT_TRUE(Loaded(write, "libsofthsm2"));
    EXPECT_FALSE(Loaded(write, "opensc-pkcs11")) << "OpenSC's module was loaded";
    EXPECT_FALSE(Loaded(write, "p11-kit-trust")) << "p11-kit's trust module was loaded";
}

// Another program in a long transaction: the store is listed at once, a read and a write give
// up after the limit with the in-use message, and the card is not changed.
TEST_F(Coexistence, ACardHeldInATransactionGivesTheInUseMessageWithinTheLimit) {
    AddFileSigner();
    BenchCard card(Image("vl-full", 0));
    const fs::path edited = EditedVariableBlock(card, "Held Barracks");
    const std::string before = RunCli("read vl-variable" + On(card) + " --json").out;
    Holder holder(card.ReaderName(), "transaction");
    ASSERT_TRUE(holder.Held());

    const Timed list = RunTimed("certs list");
    EXPECT_EQ(list.result.status, 0) << list.result.err;
    EXPECT_LT(list.seconds, 2.0);

    const Timed read = RunTimed("--card-wait 1 read vl-variable" + On(card));
    EXPECT_EQ(read.result.status, 1);
    EXPECT_NE(read.result.err.find("0x8010000B"), std::string::npos) << read.result.err;
    EXPECT_NE(read.result.err.find("another program holds the card"), std::string::npos);
    EXPECT_GE(read.seconds, 0.9);
    EXPECT_LT(read.seconds, 4.0);

    const Timed write = RunTimed("--card-wait 1 write vl-variable" + On(card) +
                                 " --role 1 --from " + Quote(edited) + " --signer " +
                                 Quote(kPki / "document-signer.cert.der") + RespondWith());
    EXPECT_EQ(write.result.status, 1);
    EXPECT_NE(write.result.err.find("0x8010000B"), std::string::npos) << write.result.err;
    EXPECT_LT(write.seconds, 6.0);

    holder.Release();
    EXPECT_EQ(RunCli("read vl-variable" + On(card) + " --json").out, before)
        << "nothing was written";
}

// A program that holds the card exclusively for a moment: carvix waits for it and then works.
TEST_F(Coexistence, AShortExclusiveHoldIsWaitedFor) {
    BenchCard card(Image("zk-full", 1));
    Holder holder(card.ReaderName(), "exclusive", 1);
    ASSERT_TRUE(holder.Held());
    const Timed read = RunTimed("read zk-document --reader " + Quote(card.ReaderName()));
    EXPECT_EQ(read.result.status, 0) << read.result.err;
    EXPECT_LT(read.seconds, 5.0);
}

}  // namespace

int coexistenceProfile = [] {
    ::testing::AddGlobalTestEnvironment(new Profile);
    return 0;
}();
