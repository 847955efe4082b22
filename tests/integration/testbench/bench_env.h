// The running bench as the bench program (testbench/supervisor/carvix-bench) described it in
// bench.json.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace carvix::bench {

struct BenchSlot {
    std::string reader;  // PC/SC reader name, UTF-8
    int port = 0;        // vpcd TCP port the emulator connects to
};

struct BenchEnv {
    bool ready = false;
    std::string reason;  // why the bench is unavailable
    std::string socket;  // PC/SC daemon socket (PCSCLITE_CSOCK_NAME)
    std::filesystem::path locks;
    std::vector<BenchSlot> slots;
};

// Reads a bench.json file; a missing or unreadable file gives an unavailable bench with a
// reason.
BenchEnv LoadBenchEnv(const std::filesystem::path& benchJson);

// The bench this test process uses, set up by the bench main before any test runs.
const BenchEnv& CurrentBench();
void SetCurrentBench(BenchEnv env);

// Paths fixed at build time.
std::filesystem::path VcardBinary();
std::filesystem::path SampleCard(const std::string& name);  // tests/data/cards/NAME

}  // namespace carvix::bench
