// Why pcscd cannot be reached, told from its socket: missing, left behind by a stopped
// daemon, or answering and then closing the connection (polkit's refusal). Each says the fix.
#include "carvix/support/pcsc_service.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

class ServiceSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/carvix-pcscd-XXXXXX";
        folder_ = mkdtemp(pattern);
        path_ = folder_ / "pcscd.comm";
        const char* old = std::getenv("PCSCLITE_CSOCK_NAME");
        saved_ = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        setenv("PCSCLITE_CSOCK_NAME", path_.c_str(), 1);
    }
    void TearDown() override {
        if (fd_ >= 0) {
            close(fd_);
        }
        if (saved_) {
            setenv("PCSCLITE_CSOCK_NAME", saved_->c_str(), 1);
        } else {
            unsetenv("PCSCLITE_CSOCK_NAME");
        }
        fs::remove_all(folder_);
    }
    // A socket bound to the path; listening when asked.
    void Bind(bool listening) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        if (listening) {
            ASSERT_EQ(listen(fd_, 4), 0);
        } else {
            close(fd_);  // the file stays, nobody answers on it
            fd_ = -1;
        }
    }

    fs::path folder_;
    fs::path path_;
    int fd_ = -1;
    std::optional<std::string> saved_;
};

TEST_F(ServiceSocket, EachCauseNamesItsFix) {
    EXPECT_EQ(Orvel::PCSC::ServiceSocketPath(), path_.string());
    const std::string missing = Orvel::PCSC::ServiceFailureText();
    EXPECT_NE(missing.find("does not exist"), std::string::npos) << missing;
    EXPECT_NE(missing.find("systemctl enable --now pcscd.socket"), std::string::npos);
    EXPECT_NE(missing.find("--auto-exit"), std::string::npos);

    Bind(false);
    const std::string stopped = Orvel::PCSC::ServiceFailureText();
    EXPECT_NE(stopped.find("has stopped"), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("systemctl restart"), std::string::npos);

    fs::remove(path_);
    Bind(true);
    const std::string refused = Orvel::PCSC::ServiceFailureText();
    EXPECT_NE(refused.find("refused this program"), std::string::npos) << refused;
    EXPECT_NE(refused.find("polkit"), std::string::npos);
}

TEST(ServiceSocketPath, DefaultsToPcscLitesSocket) {
    const char* old = std::getenv("PCSCLITE_CSOCK_NAME");
    const std::string saved = old != nullptr ? old : "";
    unsetenv("PCSCLITE_CSOCK_NAME");
    EXPECT_EQ(Orvel::PCSC::ServiceSocketPath(), "/run/pcscd/pcscd.comm");
    if (old != nullptr) {
        setenv("PCSCLITE_CSOCK_NAME", saved.c_str(), 1);
    }
}

}  // namespace
