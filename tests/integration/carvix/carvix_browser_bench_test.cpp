// `carvix register --browser` for every browser, per user and machine-wide (into a
// throw-away root), and `carvix doctor` on a healthy bench and with each piece taken away.
#include "bench_env.h"
#include "cli_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {
namespace fs = std::filesystem;
using carvix::bench::CliResult;
using carvix::bench::Quote;
using carvix::bench::ReadFile;
using carvix::bench::RunCli;
using Json = nlohmann::json;

constexpr const char* kManifest = "carvix.qx.bridge.json";

// The IDs the extension pins: the Chromium ID from its key, the Firefox add-on ID.
std::string ChromiumId() {
    std::string id = ReadFile(fs::path(CARVIX_WEB_EXTENSION) / "EXTENSION_ID");
    return id.substr(0, id.find_first_of("\r\n"));
}
std::string AddonId() {
    return Json::parse(ReadFile(fs::path(CARVIX_WEB_EXTENSION) / "manifest.json"))
        .at("browser_specific_settings")
        .at("gecko")
        .at("id");
}

fs::perms Mode(const fs::path& p) {
    return fs::status(p).permissions() & fs::perms::mask;
}

// A stand-in host program.
fs::path MakeHost(const fs::path& dir) {
    fs::create_directories(dir);
    const fs::path host = dir / "carvix-bridge";
    std::ofstream(host) << "#!/bin/sh\nexit 0\n";
    fs::permissions(host, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return host;
}

class BrowserManifests : public testing::Test {
  protected:
    void SetUp() override {
        carvix::bench::UseFreshProfile();
        dir_ = carvix::bench::ProfileRoot();
        host_ = MakeHost(dir_ / "bin");
    }
    void TearDown() override { carvix::bench::RemoveProfile(); }

    // The manifest at `file` names our host and lets exactly our extension start it.
    void ExpectManifest(const fs::path& file, bool firefox) {
        SCOPED_TRACE(file.string());
        ASSERT_TRUE(fs::exists(file));
        EXPECT_EQ(Mode(file), fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read);
        const Json m = Json::parse(ReadFile(file));
        EXPECT_EQ(m.at("name"), "carvix.qx.bridge");
        EXPECT_EQ(m.at("path"), host_.string());
        EXPECT_EQ(m.at("type"), "stdio");
        if (firefox) {
            EXPECT_EQ(m.at("allowed_extensions"), Json::array({AddonId()}));
            EXPECT_FALSE(m.contains("allowed_origins"));
        } else {
            EXPECT_EQ(m.at("allowed_origins"),
                      Json::array({"chrome-extension://" + ChromiumId() + "/"}));
            EXPECT_FALSE(m.contains("allowed_extensions"));
        }
    }

    fs::path dir_;
    fs::path host_;
};

TEST_F(BrowserManifests, MachineWideForEveryBrowserEachInItsFolder) {
    const fs::path root = dir_ / "root";
    fs::create_directories(root / "usr/lib64");  // a machine with a lib64 folder
    // A tight umask must not leave folders the browsers of other users cannot read.
    const CliResult r = RunCli("register --browser --system --root " + Quote(root.string()) +
                                   " --host " + Quote(host_.string()),
                               "umask 077;");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name :
         {"Chromium", "Google Chrome", "Microsoft Edge", "Brave", "Vivaldi", "Firefox"}) {
        EXPECT_NE(r.out.find(name), std::string::npos) << name << " in " << r.out;
    }
    for (const char* folder :
         {"etc/chromium/native-messaging-hosts", "etc/opt/chrome/native-messaging-hosts",
          "etc/opt/edge/native-messaging-hosts"}) {
        ExpectManifest(root / folder / kManifest, false);
        EXPECT_NE(r.out.find((root / folder / kManifest).string()), std::string::npos);
    }
    for (const char* folder :
         {"usr/lib/mozilla/native-messaging-hosts", "usr/lib64/mozilla/native-messaging-hosts"}) {
        ExpectManifest(root / folder / kManifest, true);
    }
    const auto everyone = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    EXPECT_EQ(Mode(root / "etc/opt/edge/native-messaging-hosts"), everyone);
    EXPECT_EQ(Mode(root / "etc/opt"), everyone);
    EXPECT_EQ(Mode(root / "usr/lib/mozilla"), everyone);

    const CliResult u = RunCli("unregister --browser --system --root " + Quote(root.string()));
    ASSERT_EQ(u.status, 0) << u.err;
    EXPECT_FALSE(fs::exists(root / "etc/chromium/native-messaging-hosts" / kManifest));
    EXPECT_FALSE(fs::exists(root / "usr/lib64/mozilla/native-messaging-hosts" / kManifest));
    EXPECT_NE(u.out.find("removed"), std::string::npos) << u.out;
}

TEST_F(BrowserManifests, PerUserForEveryBrowser) {
    // Without lib64 Firefox gets the lib folder only.
    const CliResult sys =
        RunCli("register --browser --system --root " + Quote((dir_ / "plain").string()) +
               " --host " + Quote(host_.string()));
    ASSERT_EQ(sys.status, 0) << sys.err;
    EXPECT_FALSE(fs::exists(dir_ / "plain/usr/lib64"));

    const CliResult r = RunCli("register --browser --host " + Quote(host_.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path config = dir_ / "config";  // XDG_CONFIG_HOME of the fresh profile
    for (const char* folder : {"chromium", "google-chrome", "microsoft-edge",
                               "BraveSoftware/Brave-Browser", "vivaldi"}) {
        ExpectManifest(config / folder / "NativeMessagingHosts" / kManifest, false);
    }
    ExpectManifest(dir_ / ".mozilla/native-messaging-hosts" / kManifest, true);

    // Written, but no page may use it without allowed origins: said as a warning.
    const fs::path noList = dir_ / "no-origins";
    const CliResult warned = RunCli("register --browser --host " + Quote(host_.string()),
                                    "CARVIX_BRIDGE_ORIGINS=" + Quote(noList.string()));
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_NE(warned.err.find("warning: " + noList.string() + " does not exist"), std::string::npos)
        << warned.err;

    ASSERT_EQ(RunCli("unregister --browser").status, 0);
    EXPECT_FALSE(fs::exists(config / "vivaldi/NativeMessagingHosts" / kManifest));
    EXPECT_FALSE(fs::exists(dir_ / ".mozilla/native-messaging-hosts" / kManifest));
}

TEST_F(BrowserManifests, RefusesBadIdsAndHostsWritingNothing) {
    const std::string root = Quote((dir_ / "root").string());
    const std::string host = " --host " + Quote(host_.string());
    CliResult r =
        RunCli("register --browser --system --root " + root + host + " --addon-id 'not an id'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("add-on ID"), std::string::npos) << r.err;
    r = RunCli("register --browser --system --root " + root + host + " --extension-id abc");
    EXPECT_EQ(r.status, 1);
    r = RunCli("register --browser --system --root " + root + " --host /nonexistent/bridge");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot be run"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "root"));
}

// --- carvix doctor ---------------------------------------------------------------------------

class Doctor : public BrowserManifests {
  protected:
    void SetUp() override {
        BrowserManifests::SetUp();
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the allow-list must be owned by root";
        }
        origins_ = dir_ / "origins" / "allowed-origins";
        fs::create_directories(origins_.parent_path());
        std::ofstream(origins_) << "# test\nhttps://app.example.org read write\n";
        fs::permissions(origins_, fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
        ASSERT_EQ(RunCli("register --browser --host " + Quote(host_.string())).status, 0);
    }

    // doctor --json with the machine's browser folders in an empty root.
    Json Run(const std::string& env = {}, int* status = nullptr) {
        const CliResult r = RunCli("doctor --json --root " + Quote((dir_ / "empty-root").string()),
                                   "CARVIX_BRIDGE_ORIGINS=" + Quote(origins_.string()) + " " + env);
        if (status != nullptr) {
            *status = r.status;
        }
        return Json::parse(r.out);
    }

    static Json Find(const Json& report, const std::string& area, const std::string& name) {
        for (const Json& c : report.at("checks")) {
            if (c.at("area") == area && c.at("name") == name) {
                return c;
            }
        }
        return Json();
    }

    fs::path origins_;
};

TEST_F(Doctor, HealthyBenchPassesEveryCheck) {
    // A Firefox profile with the signed add-on installed.
    const fs::path profile = dir_ / ".mozilla/firefox/x1.default-esr";
    fs::create_directories(profile / "extensions");
    std::ofstream(profile / "extensions" / (AddonId() + ".xpi")) << "PK";
    int status = -1;
    const Json report = Run({}, &status);
    for (const Json& c : report.at("checks")) {
        EXPECT_NE(c.at("status"), "failure") << c.dump();
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(report.at("ok"), true);
    EXPECT_EQ(Find(report, "pcsc", "PC/SC service").value("status", ""), "ok");
    const auto& bench = carvix::bench::CurrentBench();
    EXPECT_FALSE(Find(report, "readers", bench.slots.at(0).reader).is_null()) << report.dump(1);
    EXPECT_EQ(Find(report, "registration", "Component for this user").value("status", ""), "ok");
    const Json allow = Find(report, "allow-list", "Allowed origins");
    EXPECT_EQ(allow.value("status", ""), "ok");
    EXPECT_NE(allow.value("detail", "").find("https://app.example.org (read write)"),
              std::string::npos);
    for (const char* browser : {"Chromium", "Firefox"}) {
        const Json b = Find(report, "browser", browser);
        EXPECT_EQ(b.value("status", ""), "ok") << b.dump();
        EXPECT_NE(b.value("detail", "").find(host_.string()), std::string::npos);
    }
    EXPECT_NE(Find(report, "browser", "Firefox")
                  .value("detail", "")
                  .find("the extension is in " + profile.string()),
              std::string::npos);
}

TEST_F(Doctor, NamesEachMissingPieceWithItsFix) {
    auto expectFailure = [&](const Json& report, const char* area, const char* name,
                             const char* fix) {
        const Json c = Find(report, area, name);
        EXPECT_EQ(c.value("status", ""), "failure") << area << ": " << report.dump(1);
        EXPECT_NE(c.value("fix", "").find(fix), std::string::npos) << c.dump();
        EXPECT_EQ(report.at("ok"), false);
    };
    int status = -1;
    // No pcscd.
    Json report = Run("PCSCLITE_CSOCK_NAME=" + Quote((dir_ / "no-pcscd.comm").string()), &status);
    EXPECT_EQ(status, 1);
    expectFailure(report, "pcsc", "PC/SC service", "pcscd.socket");

    // The component not registered.
    ASSERT_EQ(RunCli("unregister").status, 0);
    expectFailure(Run(), "registration", "Component", "carvix register");
    const CliResult registered = RunCli("register --module " + Quote(CARVIX_QX_MODULE));
    ASSERT_EQ(registered.status, 0) << registered.err;
    EXPECT_NE(registered.out.find("Registered "), std::string::npos) << registered.out;
    EXPECT_NE(registered.out.find("for this user"), std::string::npos) << registered.out;

    // No manifest for an installed browser; a manifest whose host is gone.
    if (::access("/usr/bin/chromium", X_OK) == 0) {
        ASSERT_EQ(RunCli("unregister --browser").status, 0);
        expectFailure(Run(), "browser", "Chromium", "carvix register --browser");
        const fs::path gone = MakeHost(dir_ / "gone");
        ASSERT_EQ(RunCli("register --browser --host " + Quote(gone.string())).status, 0);
        fs::remove(gone);
        report = Run();
        expectFailure(report, "browser", "Chromium", "carvix register --browser");
        EXPECT_NE(Find(report, "browser", "Chromium").value("detail", "").find("does not exist"),
                  std::string::npos);
    }

    // The allow-list writable by others, then missing.
    fs::permissions(origins_, fs::perms::others_write, fs::perm_options::add);
    expectFailure(Run(), "allow-list", "Allowed origins", "chmod 644");
    fs::remove(origins_);
    report = Run({}, &status);
    EXPECT_EQ(status, 1);
    expectFailure(report, "allow-list", "Allowed origins", "one a line");
}

TEST_F(Doctor, TextOutputGivesTheFixUnderTheFailure) {
    const CliResult r = RunCli("doctor --root " + Quote((dir_ / "empty-root").string()),
                               "CARVIX_BRIDGE_ORIGINS=" + Quote((dir_ / "none").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("[FAIL] Allowed origins: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("       fix: as root, write the origins"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Some pieces are missing"), std::string::npos);
}

}  // namespace
