// main() of every integration test: finds the bench the ctest fixture started (or starts a
// private one when the binary runs on its own), points PC/SC at its daemon, and reports
// the test as skipped (exit 77) when no bench can run here (failed with
// CARVIX_BENCH_REQUIRED=1).
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "bench_env.h"
#include "own_bench.h"

namespace {
constexpr int kSkipped = 77;
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // listing needs no bench
    }
    const char* dir = std::getenv("CARVIX_BENCH_DIR");
    std::unique_ptr<carvix::bench::OwnBench> own;
    std::filesystem::path benchJson;
    if (dir != nullptr && *dir != '\0') {
        benchJson = std::filesystem::path(dir) / "bench.json";
    } else {
        own = std::make_unique<carvix::bench::OwnBench>(2);
        benchJson = own->Description();
    }
    auto env = carvix::bench::LoadBenchEnv(benchJson);
    if (!env.ready) {
        // Where the bench must run (scripts/test as root), a missing bench is a failure, not
        // a quiet skip.
        const char* required = std::getenv("CARVIX_BENCH_REQUIRED");
        if (required != nullptr && std::string(required) == "1") {
            std::cout << "FAILED: the test bench is required but not there: " << env.reason << "\n";
            return 1;
        }
        std::cout << "SKIPPED: the test bench cannot run here: " << env.reason << "\n";
        return kSkipped;
    }
    ::setenv("PCSCLITE_CSOCK_NAME", env.socket.c_str(), 1);
    carvix::bench::SetCurrentBench(std::move(env));
    return RUN_ALL_TESTS();
}
