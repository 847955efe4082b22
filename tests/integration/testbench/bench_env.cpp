#include "bench_env.h"

#include <fstream>

#include <nlohmann/json.hpp>

namespace carvix::bench {

namespace {
BenchEnv g_bench;
}

BenchEnv LoadBenchEnv(const std::filesystem::path& benchJson) {
    BenchEnv env;
    std::ifstream in(benchJson);
    if (!in) {
        env.reason = "no bench description at " + benchJson.string();
        return env;
    }
    try {
        const auto doc = nlohmann::json::parse(in);
        env.reason = doc.value("reason", "");
        env.ready = doc.value("state", "") == "ready";
        env.socket = doc.value("socket", "");
        env.locks = doc.value("locks", "");
        for (const auto& slot : doc.value("slots", nlohmann::json::array())) {
            env.slots.push_back({slot.at("reader").get<std::string>(), slot.at("port").get<int>()});
        }
    } catch (const nlohmann::json::exception& e) {
        BenchEnv broken;
        broken.reason =
            "the bench description " + benchJson.string() + " is not readable: " + e.what();
        return broken;
    }
    if (env.ready && (env.slots.empty() || env.socket.empty())) {
        env.ready = false;
        env.reason = "the bench description in " + benchJson.string() + " lists no readers";
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
