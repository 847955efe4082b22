#include "bench_env.h"

#include <fstream>
#include <map>

namespace carvix::bench {

namespace {
BenchEnv g_bench;
}

BenchEnv LoadBenchEnv(const std::filesystem::path& envFile) {
    BenchEnv env;
    std::ifstream in(envFile);
    if (!in) {
        env.reason = "no bench description at " + envFile.string();
        return env;
    }
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
            value = value.substr(1, value.size() - 2);
        }
        values[line.substr(0, eq)] = value;
    }
    env.reason = values["CARVIX_BENCH_REASON"];
    env.ready = values["CARVIX_BENCH_STATE"] == "ready";
    env.socket = values["PCSCLITE_CSOCK_NAME"];
    env.locks = values["CARVIX_BENCH_LOCKS"];
    const int slots =
        values.contains("CARVIX_BENCH_SLOTS") ? std::stoi(values["CARVIX_BENCH_SLOTS"]) : 0;
    for (int i = 0; i < slots; ++i) {
        const auto n = std::to_string(i);
        env.slots.push_back(
            {values["CARVIX_BENCH_READER_" + n], std::stoi(values["CARVIX_BENCH_PORT_" + n])});
    }
    if (env.ready && (env.slots.empty() || env.socket.empty())) {
        env.ready = false;
        env.reason = "the bench description in " + envFile.string() + " lists no readers";
    }
    return env;
}

const BenchEnv& CurrentBench() {
    return g_bench;
}
void SetCurrentBench(BenchEnv env) {
    g_bench = std::move(env);
}

std::filesystem::path VcardBinary() {
    return CARVIX_VCARD_PATH;
}
std::filesystem::path SampleCard(const std::string& name) {
    return std::filesystem::path(CARVIX_TEST_CARDS_DIR) / name;
}

}  // namespace carvix::bench
