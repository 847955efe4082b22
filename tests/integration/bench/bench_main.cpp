// main() of every integration test: finds the bench the ctest fixture started (or starts a
// private one when the binary runs on its own), points PC/SC at its daemon, and reports
// the test as skipped (exit 77) when no bench can run here.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include <gtest/gtest.h>

#include "bench_env.h"

namespace {

constexpr int kSkipped = 77;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// A bench of our own, stopped again when the tests are done.
class OwnBench {
  public:
    OwnBench() {
        char tmpl[] = "/tmp/carvix-bench-own.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            return;
        }
        dir_ = tmpl;
        const std::string cmd = Quote(CARVIX_BENCH_SCRIPT) + " start --dir " + Quote(dir_) +
                                " --readers 2 --watch-pid " + std::to_string(::getpid()) +
                                " --probe " + Quote(CARVIX_PROBE_PATH) + " --vcard " +
                                Quote(CARVIX_VCARD_PATH);
        if (std::system(cmd.c_str()) != 0) {
            std::cerr << "bench: could not start a private bench\n";
        }
    }
    ~OwnBench() {
        if (dir_.empty()) {
            return;
        }
        const std::string cmd = Quote(CARVIX_BENCH_SCRIPT) + " stop --dir " + Quote(dir_);
        if (std::system(cmd.c_str()) != 0) {
            std::cerr << "bench: stopping the private bench failed\n";
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    OwnBench(const OwnBench&) = delete;
    OwnBench& operator=(const OwnBench&) = delete;
    std::string Dir() const { return dir_; }

  private:
    std::string dir_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // listing needs no bench
    }
    const char* dir = std::getenv("CARVIX_BENCH_DIR");
    std::unique_ptr<OwnBench> own;
    std::filesystem::path envFile;
    if (dir != nullptr && *dir != '\0') {
        envFile = std::filesystem::path(dir) / "bench.env";
    } else {
        own = std::make_unique<OwnBench>();
        envFile = std::filesystem::path(own->Dir()) / "bench.env";
    }
    auto env = carvix::bench::LoadBenchEnv(envFile);
    if (!env.ready) {
        std::cout << "SKIPPED: the test bench cannot run here: " << env.reason << "\n";
        return kSkipped;
    }
    ::setenv("PCSCLITE_CSOCK_NAME", env.socket.c_str(), 1);
    carvix::bench::SetCurrentBench(std::move(env));
    return RUN_ALL_TESTS();
}
