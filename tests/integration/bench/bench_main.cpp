// main() of every integration test: finds the bench the ctest fixture started (or starts a
// private one when the binary runs on its own), points PC/SC at its daemon, and reports
// the test as skipped (exit 77) when no bench can run here.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench_env.h"

namespace {

constexpr int kSkipped = 77;

// Runs the bench program with ARGS and returns whether it succeeded.
bool RunBenchTool(std::vector<std::string> args) {
    args.insert(args.begin(), {"python3", CARVIX_BENCH_TOOL});
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
        if (!RunBenchTool({"start", "--dir", dir_, "--readers", "2", "--watch-pid",
                           std::to_string(::getpid()), "--probe", CARVIX_PROBE_PATH, "--vcard",
                           CARVIX_VCARD_PATH})) {
            std::cerr << "bench: could not start a private bench\n";
        }
    }
    ~OwnBench() {
        if (dir_.empty()) {
            return;
        }
        if (!RunBenchTool({"stop", "--dir", dir_})) {
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
    std::filesystem::path benchJson;
    if (dir != nullptr && *dir != '\0') {
        benchJson = std::filesystem::path(dir) / "bench.json";
    } else {
        own = std::make_unique<OwnBench>();
        benchJson = std::filesystem::path(own->Dir()) / "bench.json";
    }
    auto env = carvix::bench::LoadBenchEnv(benchJson);
    if (!env.ready) {
        std::cout << "SKIPPED: the test bench cannot run here: " << env.reason << "\n";
        return kSkipped;
    }
    ::setenv("PCSCLITE_CSOCK_NAME", env.socket.c_str(), 1);
    carvix::bench::SetCurrentBench(std::move(env));
    return RUN_ALL_TESTS();
}
