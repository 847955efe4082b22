// The client without --reader on a bench of two readers: select-reader, the error that names
// --reader when nobody can be asked, no PC/SC service, `read all` with a failing block, and
// `carvix watch` seeing a card taken out and put back through the card's control socket.
#include "bench_card.h"
#include "cli_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::CliResult;
using carvix::bench::Quote;
using carvix::bench::RunCli;
using carvix::bench::RunningCli;
using nlohmann::json;
namespace fs = std::filesystem;

fs::path Card(const std::string& name) {
    return fs::path(CARVIX_SAMPLE_CARDS) / name;
}

class CarvixSelect : public ::testing::Test {
  public:
    static void SetUpTestSuite() { carvix::bench::UseFreshProfile(); }
};

TEST_F(CarvixSelect, TheOnlyReaderWithTheCardIsUsedAndSeveralNeedReaderWithoutATerminal) {
    BenchCard zk(Card("zk-full-t1.json"));
    const CliResult one = RunCli("select-reader");
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, zk.ReaderName() + "\n");
    const CliResult read = RunCli("read zk-document --json");
    EXPECT_EQ(read.status, 0) << read.err;

    BenchCard vl(Card("vl-full-t1.json"));
    const CliResult two = RunCli("select-reader");
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(two.out, "");
    EXPECT_NE(two.err.find("2 readers hold a suitable identity card"), std::string::npos)
        << two.err;
    EXPECT_NE(two.err.find("--reader NAME"), std::string::npos) << two.err;
}

TEST_F(CarvixSelect, AStatusWordIsExplainedWithAHint) {
    BenchCard vl(Card("vl-full-t1.json"));
    const CliResult r = RunCli("read zk-document --reader " + Quote(vl.ReaderName()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("0x80076A82"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("6A82: the card has no such application or file; is this a ZK card?"),
              std::string::npos)
        << r.err;
}

TEST_F(CarvixSelect, NoPcscServiceIsNamedAsSuch) {
    const CliResult r = RunCli("select-reader", "PCSCLITE_CSOCK_NAME=/nonexistent/pcscd.comm");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("0x8010001D"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pcscd is not running"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("systemctl enable --now pcscd.socket"), std::string::npos) << r.err;
}

TEST_F(CarvixSelect, AnUnregisteredModuleNamesTheCommandThatRegistersIt) {
    const CliResult r = RunCli("select-reader", "XDG_CONFIG_HOME=/nonexistent XDG_CONFIG_DIRS=/x");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("0x800401F3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("carvix register"), std::string::npos) << r.err;
}

TEST_F(CarvixSelect, ReadAllPrintsEveryVerifiedBlockAndReportsTheOneThatFailed) {
    BenchCard vl(Card("vl-full-t1.json"));
    // Named, so that the first command is the first block's, not the reader check's.
    const std::string args = "read all --app 1 --reader " + Quote(vl.ReaderName());
    // The whole application is read in one call: first the application is opened (the card
    // document checked), then each block. The first command of the first block is the
    // application selection just before the selection of its file.
    vl.ClearApduLog();
    ASSERT_EQ(RunCli(args).status, 0);
    const auto log = vl.ApduLog();
    std::size_t firstBlock = 0;
    while (firstBlock < log.size() && log[firstBlock].command.rfind("00A40000020D01", 0) != 0) {
        ++firstBlock;
    }
    ASSERT_LT(firstBlock, log.size());
    const std::string fault = "fault sw:6A82@" + std::to_string(firstBlock);  // counted from 1
    vl.ClearApduLog();
    vl.Control(fault);  // the first command of the first block fails
    const CliResult r = RunCli(args + " --json");
    EXPECT_EQ(r.status, 1) << r.err;
    ASSERT_FALSE(r.out.empty()) << r.err;
    const json printed = json::parse(r.out);
    ASSERT_TRUE(printed.contains("vl-document")) << r.out;
    EXPECT_EQ(printed["vl-document"]["error"]["hresult"], "0x80076A82") << r.out;
    for (const char* block : {"vl-fixed", "vl-photo", "vl-variable"}) {
        ASSERT_TRUE(printed.contains(block)) << block;
        EXPECT_FALSE(printed[block].contains("error")) << block << ": " << printed[block];
    }
    EXPECT_NE(r.err.find("vl-document"), std::string::npos) << r.err;

    vl.Control(fault);
    const CliResult text = RunCli(args);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("vl-fixed"), std::string::npos) << text.out;
}

TEST_F(CarvixSelect, WatchSeesACardTakenOutAndPutBack) {
    BenchCard card(Card("vl-full-t0.json"));
    RunningCli watch("watch --json");
    const std::string reader = "\"reader\":" + json(card.ReaderName()).dump();
    const std::string first = watch.WaitForLine("card-inserted\"," + reader);
    ASSERT_NE(first, "") << "the card already there is reported";
    EXPECT_EQ(json::parse(first)["vl"], true);
    EXPECT_EQ(json::parse(first)["zk"], false);

    card.Remove();
    EXPECT_NE(watch.WaitForLine("card-removed\"," + reader), "");
    card.Insert();
    const std::string back = watch.WaitForLine("card-inserted\"," + reader);
    ASSERT_NE(back, "");
    EXPECT_EQ(json::parse(back)["vl"], true);
    EXPECT_EQ(watch.Interrupt(), 0);
}

}  // namespace
