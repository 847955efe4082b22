#include "use_bench.h"

#include "bench_env.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace carvix::bench {

UseBench::UseBench(const char* program, int readers) {
    std::filesystem::path description;
    if (const char* d = std::getenv("CARVIX_BENCH_DIR"); d != nullptr && *d != '\0') {
        description = std::filesystem::path(d) / "bench.json";
    } else {
        own_ = std::make_unique<OwnBench>(readers);
        description = own_->Description();
    }
    auto env = LoadBenchEnv(description);
    if (!env.ready) {
        std::fprintf(stderr, "%s: no bench here: %s\n", program, env.reason.c_str());
        return;
    }
    ::setenv("PCSCLITE_CSOCK_NAME", env.socket.c_str(), 1);
    SetCurrentBench(std::move(env));
    ready_ = true;
}

}  // namespace carvix::bench
