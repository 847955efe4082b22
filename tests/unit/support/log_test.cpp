// The log switch: where the setting comes from (environment, then the user's file, then the
// system's), what each level lets through, and a log file only its owner can read.
#include "carvix/support/log.h"
#include "carvix/support/trace.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

class LogSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/carvix-log-XXXXXX";
        root_ = mkdtemp(pattern);
        for (const char* name : {"CARVIX_LOG", "CARVIX_LOG_FILE", "XDG_CONFIG_HOME"}) {
            if (const char* value = std::getenv(name)) {
                saved_.emplace_back(name, value);
            }
            unsetenv(name);
        }
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    }
    void TearDown() override {
        Orvel::SetTraceSink({});
        unsetenv("CARVIX_LOG");
        unsetenv("CARVIX_LOG_FILE");
        unsetenv("XDG_CONFIG_HOME");
        for (const auto& [name, value] : saved_) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        fs::remove_all(root_);
    }
    void UserFile(const std::string& text) {
        fs::create_directories(root_ / "config" / "carvix-qx");
        std::ofstream(root_ / "config" / "carvix-qx" / "log.conf") << text;
    }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path root_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(LogSettingsTest, OffUnlessSomethingSwitchesItOnAndTheEnvironmentWins) {
    EXPECT_EQ(Orvel::ReadLogSettings().level, Orvel::LogLevel::Off);
    UserFile("# support asked for this\nlevel = calls\nfile = /tmp/x.log\n");
    Orvel::LogSettings fromFile = Orvel::ReadLogSettings();
    EXPECT_EQ(fromFile.level, Orvel::LogLevel::Calls);
    EXPECT_EQ(fromFile.file, "/tmp/x.log");
    EXPECT_NE(fromFile.source.find("log.conf"), std::string::npos);

    setenv("CARVIX_LOG", "commands", 1);
    setenv("CARVIX_LOG_FILE", "/tmp/y.log", 1);
    const Orvel::LogSettings fromEnvironment = Orvel::ReadLogSettings();
    EXPECT_EQ(fromEnvironment.level, Orvel::LogLevel::Commands);
    EXPECT_EQ(fromEnvironment.file, "/tmp/y.log");
    EXPECT_EQ(fromEnvironment.source, "CARVIX_LOG");

    setenv("CARVIX_LOG", "loud", 1);  // not a level: the file's setting holds
    EXPECT_EQ(Orvel::ReadLogSettings().level, Orvel::LogLevel::Calls);
}

TEST_F(LogSettingsTest, EachLevelLetsThroughItsLinesIntoAPrivateFile) {
    const fs::path file = root_ / "carvix.log";
    Orvel::InstallLog({Orvel::LogLevel::Calls, file.string(), "test"}, "unit");
    Orvel::Trace(Orvel::TraceLevel::Error, u"an error");
    Orvel::Trace(Orvel::TraceLevel::Info, u"a call");
    Orvel::Trace(Orvel::TraceLevel::Trace, u"a command");
    const std::string text = Read(file);
    EXPECT_NE(text.find("] error: an error\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] info: a call\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("a command"), std::string::npos) << "commands are above this level";
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    Orvel::SetTraceSink({});
    Orvel::InstallLog({Orvel::LogLevel::Off, file.string(), "test"}, "unit");
    EXPECT_FALSE(Orvel::TraceEnabled()) << "off installs nothing";
}

}  // namespace
