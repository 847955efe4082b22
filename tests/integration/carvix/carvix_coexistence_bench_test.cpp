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
#include <sstream>
#include <string>
#include <vector>

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
    struct TokenSigner {
        std::string env;       // SOFTHSM2_CONF=...
        fs::path certificate;  // the issued certificate, PEM
        fs::path pinFile;
    };
    // A private SoftHSM2 token with a signing pair enrolled through `carvix pki` and a
    // certificate from the test issuer, imported (which also puts it into "My").
    static TokenSigner EnrolTokenSigner(const std::string& pin, const std::string& extraEnv = {}) {
        const fs::path work = ProfileRoot() / "token";
        fs::remove_all(work);
        fs::create_directories(work / "tokens");
        const fs::path conf = work / "softhsm2.conf";
        std::ofstream(conf) << "directories.tokendir = " << (work / "tokens").string()
                            << "\nobjectstore.backend = file\nlog.level = ERROR\n";
        TokenSigner signer{"SOFTHSM2_CONF=" + Quote(conf.string()), work / "cert.pem",
                           work / "pin"};
        const std::string init = signer.env +
                                 " softhsm2-util --init-token --free --label 'Coexistence Token' "
                                 "--pin " +
                                 Quote(pin) + " --so-pin 87654321 >/dev/null";
        EXPECT_EQ(std::system(init.c_str()), 0);
        std::ofstream(signer.pinFile) << pin << "\n";
        const std::string env = signer.env + " " + extraEnv;
        const std::string token =
            " --reader 'Coexistence Token' --pin-file " + Quote(signer.pinFile);
        EXPECT_EQ(RunCli("pki keygen" + token + " --container signer --usage sign --bits 2048", env)
                      .status,
                  0);
        const CliResult request = RunCli("pki request" + token +
                                             " --container signer --usage sign --cn 'TEST Token' "
                                             "--pem --out " +
                                             Quote(work / "req.pem"),
                                         env);
        EXPECT_EQ(request.status, 0) << request.err;
        const std::string issue =
            "openssl x509 -req -in " + Quote(work / "req.pem") + " -CA " +
            Quote(kPki / "issuer.cert.pem") + " -CAkey " + Quote(kPki / "TEST-KEY-issuer.key.pem") +
            " -set_serial 0x72 -days 30 -sha256 -out " + Quote(signer.certificate) + " 2>/dev/null";
        EXPECT_EQ(std::system(issue.c_str()), 0);
        const CliResult import =
            RunCli("pki import" + token + " --container signer --usage sign --cert " +
                       Quote(signer.certificate),
                   env);
        EXPECT_EQ(import.status, 0) << import.err;
        return signer;
    }
    // Every text of the blocks of a personalisation file, except short numbers that could
    // turn up in a time stamp by chance.
    static void PersonalValues(const nlohmann::json& value, std::vector<std::string>& out) {
        if (value.is_object() || value.is_array()) {
            for (const auto& item : value) {
                PersonalValues(item, out);
            }
        } else if (value.is_string()) {
            const std::string text = value.get<std::string>();
            const bool digits = text.find_first_not_of("0123456789") == std::string::npos;
            if (text.size() >= 4 && (!digits || text.size() >= 8)) {
                out.push_back(text);
            }
        }
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
    const TokenSigner token = EnrolTokenSigner("1234");
    // The import put the certificate into "My" with a link that names the module.
    const CliResult list = RunCli("certs list", token.env + " LD_DEBUG=files");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("key     CN=TEST Token"), std::string::npos) << list.out;
    EXPECT_FALSE(Loaded(list, "libsofthsm2")) << "listing touched the token";

    BenchCard card(Image("vl-full", 1));
    const CliResult write =
        RunCli("write vl-variable" + On(card) + " --role 1 --from " +
                   Quote(EditedVariableBlock(card, "Token Barracks")) + " --signer " +
                   Quote(token.certificate) + " --pin-file " + Quote(token.pinFile) + RespondWith(),
               token.env + " LD_DEBUG=files");
    ASSERT_EQ(write.status, 0) << write.err.substr(write.err.size() > 4000 ? write.err.size() - 4000
                                                                           : 0);
    EXPECT_TRUE(Loaded(write, "libsofthsm2"));
    EXPECT_FALSE(Loaded(write, "opensc-pkcs11")) << "OpenSC's module was loaded";
    EXPECT_FALSE(Loaded(write, "p11-kit-trust")) << "p11-kit's trust module was loaded";
}

// Everything a user does, with the log at its highest level: the log shows the calls, the
// commands with their status words and the signer, and none of the PIN, the role key, the
// challenge responses or any personal value of the cards.
TEST_F(Coexistence, TheLogAtItsHighestLevelHoldsNoSecretOrPersonalValue) {
    const fs::path log = ProfileRoot() / "carvix.log";
    const fs::path responses = ProfileRoot() / "responses.txt";
    const std::string logEnv = "CARVIX_LOG=commands CARVIX_LOG_FILE=" + Quote(log.string());
    const std::string pin = "Qx7-secret-pin";
    const TokenSigner token = EnrolTokenSigner(pin, logEnv);
    AddFileSigner();
    // The responder keeps every response it gives, to look for them in the log.
    const std::string keeping =
        " --respond-with " + Quote("f() { r=$(" + Quote(CARVIX_VCARD) + " respond --key " +
                                   kRoleKey + " --base64 --challenge \"$1\"); echo \"$r\" >>" +
                                   Quote(responses.string()) + "; echo \"$r\"; }; f");
    BenchCard vl(Image("vl-full", 0));
    BenchCard zk(Image("zk-full", 1));
    const std::string env = token.env + " " + logEnv;
    for (const std::string& command :
         {"read all" + On(vl), "read all --reader " + Quote(zk.ReaderName()) + " --app 5",
          "write vl-variable" + On(vl) + " --role 1 --from " +
              Quote(EditedVariableBlock(vl, "Logged Barracks")) + " --signer " +
              Quote(kPki / "document-signer.cert.der") + keeping,
          "write vl-variable" + On(vl) + " --role 1 --from " +
              Quote(EditedVariableBlock(vl, "Token Logged Barracks")) + " --signer " +
              Quote(token.certificate) + " --pin-file " + Quote(token.pinFile) + keeping}) {
        const CliResult r = RunCli(command, env);
        ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
    }
    const std::string text = carvix::bench::ReadFile(log);
    ASSERT_FALSE(text.empty());
    for (const char* expected :
         {"call IWholeCardService.ReadApplication", "APDU 00 B0", "9000 ok", "Transaction begins",
          "Signer: CN=TEST Token", "Loaded the PKCS#11 module"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << "the log lacks " << expected;
    }

    std::vector<std::string> secrets = {pin, kRoleKey, "00 01 02 03 04 05 06 07 08 09"};
    std::istringstream given(carvix::bench::ReadFile(responses));
    for (std::string response; std::getline(given, response);) {
        if (!response.empty()) {
            secrets.push_back(response);
        }
    }
    EXPECT_GE(secrets.size(), 5u) << "the responder was asked";
    for (const char* card : {"vl-full.json", "zk-full.json"}) {
        const auto perso =
            nlohmann::json::parse(carvix::bench::ReadFile(fs::path(CARVIX_PERSO_DIR) / card));
        for (const auto& application : perso["applications"]) {
            PersonalValues(application["blocks"], secrets);
        }
    }
    secrets.push_back("Logged Barracks");
    for (const std::string& secret : secrets) {
        EXPECT_EQ(text.find(secret), std::string::npos) << "the log holds \"" << secret << "\"";
    }
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

// A program that holds the card exclusively: carvix waits for it within the limit, and gives
// the in-use message when it holds on for longer.
TEST_F(Coexistence, AnExclusiveHoldIsWaitedForWithinTheLimit) {
    BenchCard card(Image("zk-full", 1));
    {
        Holder holder(card.ReaderName(), "exclusive", 1);
        ASSERT_TRUE(holder.Held());
        const Timed read = RunTimed("read zk-document --reader " + Quote(card.ReaderName()));
        EXPECT_EQ(read.result.status, 0) << read.result.err;
        EXPECT_LT(read.seconds, 5.0);
    }
    Holder holder(card.ReaderName(), "exclusive");
    ASSERT_TRUE(holder.Held());
    const Timed read =
        RunTimed("--card-wait 1 read zk-document --reader " + Quote(card.ReaderName()));
    EXPECT_EQ(read.result.status, 1);
    EXPECT_NE(read.result.err.find("0x8010000B"), std::string::npos) << read.result.err;
    EXPECT_GE(read.seconds, 0.9);
    EXPECT_LT(read.seconds, 4.0);
}

}  // namespace

int coexistenceProfile = [] {
    ::testing::AddGlobalTestEnvironment(new Profile);
    return 0;
}();
