#include "own_bench.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

namespace carvix::bench {

namespace {

// Runs the bench program with ARGS (no shell involved) and returns whether it succeeded.
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
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

OwnBench::OwnBench(int readers) {
    char tmpl[] = "/tmp/carvix-bench-own.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::cerr << "bench: no folder for a private bench\n";
        return;
    }
    dir_ = tmpl;
    if (!RunBenchTool({"start", "--dir", dir_.string(), "--readers", std::to_string(readers),
                       "--watch-pid", std::to_string(::getpid()), "--probe", CARVIX_PROBE_PATH,
                       "--vcard", CARVIX_VCARD_PATH})) {
        std::cerr << "bench: could not start a private bench\n";
    }
}

OwnBench::~OwnBench() {
    if (dir_.empty()) {
        return;
    }
    if (!RunBenchTool({"stop", "--dir", dir_.string()})) {
        std::cerr << "bench: stopping the private bench failed\n";
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

}  // namespace carvix::bench
