// Which origins a list file can allow, and which files are trusted at all.
#include "allow_list.h"
#include "origin_gate.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

namespace carvix::bridge {
namespace {

namespace fs = std::filesystem;

TEST(AllowList, OnlyHttpsAndLocalHttpOriginsCanBeAllowed) {
    std::ostringstream warnings;
    const AllowList list = AllowList::Parse(
        "# the administrator's list\n"
        "https://id.example.org\n"
        "  HTTPS://Shop.Example.com:8443/   # trailing slash and case as people write them\n"
        "http://localhost:5173\n"
        "http://127.0.0.1\n"
        "http://intranet.example\n"
        "https://*.example.org\n"
        "https://user@example.org\n"
        "https://example.org/path\n"
        "https://example.org:99999\n"
        "file:///home\n"
        "\r\n",
        warnings);
    EXPECT_EQ(list.Origins(),
              (std::vector<std::string>{"https://id.example.org", "https://shop.example.com:8443",
                                        "http://localhost:5173", "http://127.0.0.1"}));
    EXPECT_NE(warnings.str().find("line 6 "), std::string::npos);  // plain http elsewhere
    EXPECT_NE(warnings.str().find("line 11 "), std::string::npos);
    EXPECT_EQ(warnings.str().find("line 1 "), std::string::npos);

    EXPECT_TRUE(list.Allows("https://id.example.org"));
    EXPECT_TRUE(list.Allows("https://shop.example.com:8443"));
    EXPECT_FALSE(list.Allows("https://shop.example.com"));  // another port, another origin
    EXPECT_FALSE(list.Allows("http://id.example.org"));
    EXPECT_FALSE(list.Allows("https://id.example.org.evil.example"));
    EXPECT_FALSE(list.Allows("http://localhost:8080"));
    EXPECT_FALSE(list.Allows(""));
}

TEST(AllowList, EachLineGrantsItsCapabilitiesAndABareLineOnlyReads) {
    std::ostringstream warnings;
    const AllowList list = AllowList::Parse(
        "https://admin.example.org read write pki   # the issuing office\n"
        "https://kiosk.example.org\n"
        "https://rf.example.org\tREAD contactless teleport\n"
        "https://rf.example.org select\n"
        "https://none.example.org fly\n",
        warnings);
    EXPECT_EQ(list.CapabilitiesOf("https://admin.example.org"), kRead | kWrite | kPki);
    EXPECT_EQ(list.CapabilitiesOf("https://kiosk.example.org"), kRead);
    // Another line for the same origin adds to it; unknown words are skipped, case is not
    // significant.
    EXPECT_EQ(list.CapabilitiesOf("https://rf.example.org"), kRead | kContactless | kSelect);
    EXPECT_EQ(list.CapabilitiesOf("https://none.example.org"), 0u);
    EXPECT_EQ(list.CapabilitiesOf("https://other.example.org"), 0u);
    EXPECT_EQ(list.Origins().size(), 4u);
    const std::string text = warnings.str();
    EXPECT_NE(text.find("line 2 of the allowed origins (https://kiosk.example.org) lists no "
                        "capabilities; it may only read the card"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("line 3 of the allowed origins names an unknown capability \"teleport\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"fly\""), std::string::npos);
    EXPECT_EQ(text.find("line 1 "), std::string::npos);
    EXPECT_EQ(text.find("line 4 "), std::string::npos);
}

TEST(AllowList, OriginsCompareAsTheBrowserWritesThem) {
    std::ostringstream warnings;
    const AllowList list = AllowList::Parse(
        "HTTPS://ID.Example.org:443/ read\n"
        "http://localhost:80 read\n"
        "https://shop.example.org:80 read\n",
        warnings);
    EXPECT_EQ(list.Origins(),
              (std::vector<std::string>{"https://id.example.org", "http://localhost",
                                        "https://shop.example.org:80"}));
    EXPECT_EQ(list.CapabilitiesOf("https://id.example.org"), kRead);
    EXPECT_EQ(list.CapabilitiesOf("https://id.example.org:443"), kRead);
    EXPECT_TRUE(list.Allows("http://localhost"));
    EXPECT_FALSE(list.Allows("https://shop.example.org"));  // 80 is not https's own port
    EXPECT_FALSE(list.Allows("https://id.example.org:8443"));
}

TEST(AllowList, NoListOrAnEmptyOneAllowsNothing) {
    std::ostringstream warnings;
    EXPECT_TRUE(AllowList::Parse("", warnings).Origins().empty());
    EXPECT_TRUE(AllowList::Parse("# nothing yet\n\n", warnings).Origins().empty());
    EXPECT_FALSE(AllowList().Allows("https://id.example.org"));
}

TEST(AllowList, OnlyARootOwnedFileNobodyElseCanWriteIsTrusted) {
    struct stat status {};
    status.st_mode = S_IFREG | 0644;
    status.st_uid = 0;
    EXPECT_FALSE(UnsafeListFile(status));
    status.st_mode = S_IFREG | 0664;
    EXPECT_TRUE(UnsafeListFile(status));
    status.st_mode = S_IFREG | 0646;
    EXPECT_TRUE(UnsafeListFile(status));
    status.st_mode = S_IFREG | 0644;
    status.st_uid = 1000;
    EXPECT_TRUE(UnsafeListFile(status));
    status.st_uid = 0;
    status.st_mode = S_IFDIR | 0755;
    EXPECT_TRUE(UnsafeListFile(status));
}

class ListFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/carvix-origins-test.XXXXXX";
        dir_ = ::mkdtemp(pattern);
        path_ = dir_ / "allowed-origins";
        std::ofstream(path_) << "https://id.example.org read\n";
        ::chmod(path_.c_str(), 0644);
        ::setenv(kOriginsVariable, path_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv(kOriginsVariable);
        fs::remove_all(dir_);
    }
    fs::path dir_;
    fs::path path_;
};

TEST_F(ListFile, TheVariableNamesATrustedFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to own the list";
    }
    std::ostringstream warnings;
    EXPECT_TRUE(AllowList::Load(warnings).Allows("https://id.example.org"));
    EXPECT_EQ(warnings.str(), "");
}

TEST_F(ListFile, AFileOthersCouldHaveWrittenAllowsNothing) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to change the owner";
    }
    std::ostringstream warnings;
    ::chmod(path_.c_str(), 0666);
    EXPECT_TRUE(AllowList::Load(warnings).Origins().empty());
    EXPECT_NE(warnings.str().find("writable by group or others"), std::string::npos);
    ::chmod(path_.c_str(), 0644);
    ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(AllowList::Load(warnings).Origins().empty());
    EXPECT_NE(warnings.str().find("not owned by root"), std::string::npos);
    ::setenv(kOriginsVariable, (dir_ / "missing").c_str(), 1);
    EXPECT_TRUE(AllowList::Load(warnings).Origins().empty());
    EXPECT_NE(warnings.str().find("cannot read"), std::string::npos);
}

TEST_F(ListFile, AFifoIsRefusedWithoutWaitingForAWriter) {
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ::setenv(kOriginsVariable, fifo.c_str(), 1);
    std::ostringstream warnings;
    auto loading = std::async(std::launch::async, [&] { return AllowList::Load(warnings); });
    if (loading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Free the stuck load (a writer that closes at once) before failing.
        ::close(::open(fifo.c_str(), O_WRONLY));
        loading.wait();
        FAIL() << "loading the list waited for a writer of the FIFO";
    }
    EXPECT_TRUE(loading.get().Origins().empty());
    EXPECT_NE(warnings.str().find("not a regular file"), std::string::npos);
}

TEST(OriginGate, TheFirstAllowedOriginBindsTheConnection) {
    OriginGate gate(AllowList({{"https://a.example", kRead}, {"https://b.example", kRead}}));
    EXPECT_EQ(gate.Refusal("https://c.example"),
              "The page https://c.example is not allowed to use carvix-qx.");
    EXPECT_FALSE(gate.Refusal("https://a.example"));
    EXPECT_FALSE(gate.Refusal("HTTPS://A.example"));
    // Another page on the list must not reach the first page's objects.
    EXPECT_TRUE(gate.Refusal("https://b.example"));
}

}  // namespace
}  // namespace carvix::bridge
