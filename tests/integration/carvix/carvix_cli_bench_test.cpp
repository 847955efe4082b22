// The carvix client run as a user runs it, against the sample cards on the bench: its JSON
// must match the cards' personalisation input field for field, the photo file must hold the
// photo's bytes, and failures must give a non-zero status, the code and one notice.
#include "bench_card.h"
#include "cli_run.h"
#include "jpeg_image.h"
#include "own_bench.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::CliResult;
using carvix::bench::ProfileRoot;
using carvix::bench::Quote;
using carvix::bench::ReadFile;
using carvix::bench::RemoveProfile;
using carvix::bench::RunCli;
using carvix::bench::UseFreshProfile;
using nlohmann::json;
namespace fs = std::filesystem;

// A throw-away profile with the module registered for it, shared by the tests.
class Profile : public ::testing::Environment {
  public:
    void SetUp() override { UseFreshProfile(); }
    void TearDown() override { RemoveProfile(); }
};

class CarvixCli : public ::testing::Test {
  public:
    static fs::path Image(const std::string& card, int protocol) {
        return fs::path(CARVIX_SAMPLE_CARDS) / (card + "-t" + std::to_string(protocol) + ".json");
    }
    static json Perso(const std::string& card) {
        return json::parse(ReadFile(fs::path(CARVIX_PERSO_DIR) / (card + ".json")));
    }
    static std::string ReadArgs(const BenchCard& card, const std::string& what, int app) {
        return "read " + what + " --reader " + Quote(card.ReaderName()) + " --app " +
               std::to_string(app);
    }
};

// The block names of the personalisation input and of the client.
const std::pair<const char*, const char*> kBlockNames[] = {
    {"VLDocument", "vl-document"},
    {"VLFixedPerso", "vl-fixed"},
    {"VLPhoto", "vl-photo"},
    {"VLVariablePerso", "vl-variable"},
    {"ZKDocument", "zk-document"},
    {"ZKFixedAdmin", "zk-fixed-admin"},
    {"ZKFixedPerso", "zk-fixed"},
    {"ZKVariableAdmin", "zk-variable-admin"},
    {"ZKVariablePerso", "zk-variable"},
};

// The personalisation pattern of `length` photo bytes.
std::string Pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 31 + i / 256) & 0xFF);
    }
    return bytes;
}

// The photo bytes a personalisation value stands for: a pattern or a drawn JPEG portrait.
std::string PhotoBytes(const json& value) {
    if (value.contains("jpeg")) {
        const auto jpeg = carvix::perso::PortraitJpeg(value["jpeg"]["width"].get<int>(),
                                                      value["jpeg"]["height"].get<int>());
        return std::string(jpeg.begin(), jpeg.end());
    }
    return Pattern(value["pattern"].get<std::size_t>());
}

// Every block the card was personalised with, printed by `read all --json` exactly as given
// (fields absent from the input absent from the output); the photo checked through --out.
void ExpectMatchesPerso(const std::string& name, int protocol, int app) {
    BenchCard card(CarvixCli::Image(name, protocol), {});
    const CliResult r = RunCli(CarvixCli::ReadArgs(card, "all", app) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const json printed = json::parse(r.out);
    const json perso = CarvixCli::Perso(name);
    const json& blocks = perso["applications"][0]["blocks"];
    std::size_t compared = 0;
    for (const auto& [persoName, cliName] : kBlockNames) {
        if (!blocks.contains(persoName)) {
            continue;
        }
        ++compared;
        ASSERT_TRUE(printed.contains(cliName)) << cliName;
        json expected = blocks[persoName];
        json got = printed[cliName];
        if (expected.contains("Photo")) {
            const std::string bytes = PhotoBytes(expected["Photo"]);
            const std::size_t length = bytes.size();
            EXPECT_EQ(got["Photo"].get<std::string>().size(), (length + 2) / 3 * 4);
            expected.erase("Photo");
            got.erase("Photo");
            const fs::path photo = ProfileRoot() / "photo.bin";
            const CliResult p = RunCli(CarvixCli::ReadArgs(card, "vl-photo", app) + " --out " +
                                       Quote(photo.string()));
            ASSERT_EQ(p.status, 0) << p.err;
            EXPECT_EQ(ReadFile(photo), bytes);
        }
        EXPECT_EQ(json(got), json(expected)) << name << " " << cliName;
    }
    EXPECT_EQ(printed.size(), compared) << "only the application's blocks are printed";
}

TEST_F(CarvixCli, VlCardWithEveryOptionalFieldMatchesItsInput) {
    ExpectMatchesPerso("vl-full", 0, 1);
}

TEST_F(CarvixCli, VlCardWithoutOptionalFieldsLeavesThemOut) {
    ExpectMatchesPerso("vl-minimal", 1, 1);
}

TEST_F(CarvixCli, ZkCardWithInsurancesAndCyrillicTextMatchesItsInput) {
    ExpectMatchesPerso("zk-full", 1, 5);
}

TEST_F(CarvixCli, TheListingNamesEveryFieldAndTheReaderIsListed) {
    BenchCard card(Image("vl-full", 1));
    const CliResult readers = RunCli("readers");
    ASSERT_EQ(readers.status, 0) << readers.err;
    EXPECT_NE(readers.out.find(card.ReaderName() + "\n"), std::string::npos);
    const CliResult r = RunCli(ReadArgs(card, "vl-fixed", 1));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "vl-fixed\n"
              "  PersonalNumber  0101990710011\n"
              "  LastName        Petrović\n"
              "  FirstName       Marko\n"
              "  ParentName      Jovan\n"
              "  DateOfBirth     1990-01-01\n"
              "  Status          3\n"
              "  BloodType       7\n");
}

TEST_F(CarvixCli, AFailedReadGivesItsCodeAndTheNoticeOnce) {
    BenchCard card(Image("vl-full", 1));
    const CliResult wrongId = RunCli(ReadArgs(card, "vl-document", 2));
    EXPECT_EQ(wrongId.status, 1);
    EXPECT_EQ(wrongId.out, "");
    // The reason is in the failure's own line; the component's notice of the same text is
    // not printed again, and never under the component's caption.
    const std::string reason = "Read document has ID 1, but ID 2 was requested.";
    EXPECT_NE(wrongId.err.find("ReadVLDocumentData: 0x80004005 " + reason), std::string::npos)
        << wrongId.err;
    EXPECT_EQ(wrongId.err.find(reason, wrongId.err.find(reason) + 1), std::string::npos)
        << "the reason appears once: " << wrongId.err;
    EXPECT_EQ(wrongId.err.find("Tessaro"), std::string::npos) << wrongId.err;

    // A ZK block asked of a VL card without --app: the card answers with its status word.
    const CliResult noApplet = RunCli("read zk-document --reader " + Quote(card.ReaderName()));
    EXPECT_EQ(noApplet.status, 1);
    EXPECT_NE(noApplet.err.find("0x80076A82"), std::string::npos) << noApplet.err;
    EXPECT_EQ(noApplet.err.find("Tessaro"), std::string::npos) << "no notice for a status word";

    const CliResult noReader = RunCli("read vl-document --reader 'No Such Reader 00 00' --app 1");
    EXPECT_EQ(noReader.status, 1);
    EXPECT_NE(noReader.err.find("0x801000"), std::string::npos) << noReader.err;
}

// The files a SELECT FILE of the log names, in order (upper-case hex of the file ID).
std::vector<std::string> SelectedFiles(const std::vector<carvix::bench::ApduExchange>& log) {
    std::vector<std::string> files;
    for (const auto& exchange : log) {
        if (exchange.command.rfind("00A4000002", 0) == 0) {
            files.push_back(exchange.command.substr(10, 4));
        }
    }
    return files;
}

TEST_F(CarvixCli, ReadAllTakesEachFileOnceAndADamagedBlockDoesNotHideTheOthers) {
    BenchCard card(Image("vl-full", 0));
    const CliResult r = RunCli(ReadArgs(card, "all", 1) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> files = SelectedFiles(card.ApduLog());
    EXPECT_EQ(files,
              (std::vector<std::string>{"0D00", "0D01", "0D05", "0D02", "0D04", "0D03", "0D06"}))
        << "the document, every block and every SOD once";

    // The photo's file selection answers "file not found": the photo fails with that status
    // word, the other blocks are printed all the same.
    const auto log = card.ApduLog();
    std::size_t photoSelect = 0;
    while (photoSelect < log.size() && log[photoSelect].command.rfind("00A40000020D04", 0) != 0) {
        ++photoSelect;
    }
    ASSERT_LT(photoSelect, log.size());
    card.ClearApduLog();
    card.Control("fault sw:6A82@" + std::to_string(photoSelect + 1));
    const CliResult damaged = RunCli(ReadArgs(card, "all", 1) + " --json");
    EXPECT_EQ(damaged.status, 1);
    const json printed = json::parse(damaged.out);
    EXPECT_EQ(printed["vl-photo"]["error"]["hresult"], "0x80076A82") << damaged.out;
    for (const char* name : {"vl-document", "vl-fixed", "vl-variable"}) {
        EXPECT_FALSE(printed[name].contains("error")) << name;
    }
    EXPECT_NE(damaged.err.find("vl-photo: ReadApplication: 0x80076A82"), std::string::npos)
        << damaged.err;
}

TEST_F(CarvixCli, ErrorTextsAndBadUsage) {
    const CliResult text = RunCli("error 0x80100069");
    EXPECT_EQ(text.status, 0);
    EXPECT_FALSE(text.out.empty());
    EXPECT_EQ(RunCli("error -2146434967").out, text.out);  // the same code in decimal
    EXPECT_EQ(RunCli("error 0x1FFFFFFFF").status, 2);
    EXPECT_EQ(RunCli("error twelve").status, 2);
    EXPECT_EQ(RunCli("read vl-nothing --reader R --app 1").status, 2);
    EXPECT_EQ(RunCli("read all --reader R --app 7").status, 2);          // no such application
    EXPECT_EQ(RunCli("read zk-document --reader R --app 1").status, 2);  // a VL application
    EXPECT_EQ(RunCli("read vl-document --reader R --app 1 --out x.bin").status, 2);
    EXPECT_EQ(RunCli("").status, 2);
    const CliResult unknown = RunCli("raed vl-document");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown command \"raed\""), std::string::npos) << unknown.err;
    const CliResult version = RunCli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("carvix ", 0), 0u) << version.out;
}

// No PC/SC service: the client says why and what to do, and fails.
TEST_F(CarvixCli, WithoutTheServiceReadersAndReadsFailWithItsMessage) {
    const std::string env = "PCSCLITE_CSOCK_NAME=/nonexistent/pcscd.comm";
    for (const char* args : {"readers", "readers --json", "read vl-document"}) {
        const CliResult r = RunCli(args, env);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err.find("0x8010001D The smart-card service pcscd is not running"),
                  std::string::npos)
            << args << ": " << r.err;
    }
}

// The service going away while `watch` runs (on a bench of the test's own, so that no other
// test loses its pcscd): the watch ends with the PC/SC failure and its message, non-zero.
TEST_F(CarvixCli, TheWatchEndsWithTheFailureWhenTheServiceGoes) {
    auto own = std::make_unique<carvix::bench::OwnBench>(2);
    std::ifstream description(own->Description());
    const json bench = json::parse(description);
    ASSERT_EQ(bench.value("state", ""), "ready") << bench.dump();
    const std::string env = "PCSCLITE_CSOCK_NAME=" + Quote(bench["socket"].get<std::string>());
    auto watch = std::async(std::launch::async, [&env] { return RunCli("watch", env); });
    // The first lines (the bench's readers) show that the watch is under way.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    own.reset();
    ASSERT_EQ(watch.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "the watch went on without the service";
    const CliResult r = watch.get();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("reader added: Carvix Bench 1 00 00"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("carvix: SCard"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": 0x8010001"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(pcscd)"), std::string::npos) << "no explanation: " << r.err;
    EXPECT_EQ(r.err.find("\n\n"), std::string::npos) << "an empty line: " << r.err;
}

// A card that answers neither application: `read all` without --app fails and says so.
TEST_F(CarvixCli, ReadAllOfACardWithoutEitherApplicationFails) {
    BenchCard card(Image("vl-full", 1));
    card.ClearApduLog();
    card.Control("fault sw:6A82@1");  // the VL application's selection
    const CliResult r = RunCli("read all --reader " + Quote(card.ReaderName()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("holds neither the VL nor the ZK application"), std::string::npos)
        << r.err;
}

// A VL card and a ZK card side by side: each read finds its own card, readers tells them
// apart, and an application the card lacks is a usage error.
TEST_F(CarvixCli, TwoKindsOfCardEachReadFindsItsOwn) {
    BenchCard vl(Image("vl-full", 1));
    BenchCard zk(Image("zk-full", 1));
    const CliResult listed = RunCli("readers --json");
    ASSERT_EQ(listed.status, 0) << listed.err;
    bool sawVl = false;
    bool sawZk = false;
    for (const json& r : json::parse(listed.out)) {
        if (r["name"] == vl.ReaderName()) {
            sawVl = true;
            EXPECT_EQ(r["card"], true);
            EXPECT_EQ(r["applications"], json::array({"VL"})) << r;
            EXPECT_FALSE(r["atr"].get<std::string>().empty());
        } else if (r["name"] == zk.ReaderName()) {
            sawZk = true;
            EXPECT_EQ(r["applications"], json::array({"ZK"})) << r;
        }
    }
    EXPECT_TRUE(sawVl && sawZk) << listed.out;
#ifdef CARVIX_CL_IMAGE
    {
        // A contactless card, told by the library the registered module would use.
        BenchCard contactless(CARVIX_CL_IMAGE);
        const CliResult withIt = RunCli("readers --json");
        ASSERT_EQ(withIt.status, 0) << withIt.err;
        bool sawContactless = false;
        for (const json& r : json::parse(withIt.out)) {
            if (r["name"] == contactless.ReaderName()) {
                sawContactless = true;
                EXPECT_EQ(r["applications"], json::array({"contactless"})) << r;
            } else if (r["name"] == vl.ReaderName()) {
                EXPECT_EQ(r["applications"], json::array({"VL"})) << r;
            }
        }
        EXPECT_TRUE(sawContactless) << withIt.out;
    }
#endif
    const CliResult text = RunCli("readers");
    EXPECT_NE(text.out.find(zk.ReaderName() + "\n  card, ATR "), std::string::npos) << text.out;

    // Other tests may leave cards on the shared bench: only a lone card of each kind counts.
    const CliResult zkRead = RunCli("read zk-document --json");
    if (zkRead.err.find("readers hold a suitable") == std::string::npos) {
        ASSERT_EQ(zkRead.status, 0) << zkRead.err;
        EXPECT_EQ(json::parse(zkRead.out)["DocumentNumber"],
                  Perso("zk-full")["applications"][0]["blocks"]["ZKDocument"]["DocumentNumber"]);
    }

    // `read all` without --app: every application of the card, here only VL. A read with
    // --reader sends nothing to the card in another reader: a SELECT there would end the
    // authentication another program holds on it.
    zk.ClearApduLog();
    const CliResult all = RunCli("read all --json --reader " + Quote(vl.ReaderName()));
    EXPECT_TRUE(zk.ApduLog().empty()) << "the read with --reader spoke to the other card";
    ASSERT_EQ(all.status, 0) << all.err;
    const json blocks = json::parse(all.out);
    EXPECT_TRUE(blocks.contains("vl-document")) << all.out;
    EXPECT_FALSE(blocks.contains("zk-document")) << all.out;

    // --wait: a card already there is taken at once; the wrong kind is waited for in vain.
    const CliResult there = RunCli("read vl-document --wait 5 --reader " + Quote(vl.ReaderName()));
    EXPECT_EQ(there.status, 0) << there.err;
    const CliResult never =
        RunCli("read zk-document --wait 0.5 --reader " + Quote(vl.ReaderName()));
    EXPECT_EQ(never.status, 1);
    EXPECT_NE(never.err.find("within 0.5 seconds"), std::string::npos) << never.err;

    const CliResult wrongApp = RunCli(ReadArgs(vl, "all", 5));
    EXPECT_EQ(wrongApp.status, 2);
    EXPECT_NE(wrongApp.err.find("has no ZK application"), std::string::npos) << wrongApp.err;
}

}  // namespace

int carvixCliProfile = [] {
    ::testing::AddGlobalTestEnvironment(new Profile);
    return 0;
}();
