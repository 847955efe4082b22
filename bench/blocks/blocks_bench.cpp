// Decode and encode of every block model at its largest size.
#include "carvix/blocks/card_block.h"
#include "model_samples.h"

#include <benchmark/benchmark.h>

namespace {

void Decode(benchmark::State& state, const carvix::test::ModelKind& kind) {
    auto source = kind.make();
    carvix::test::FillLargest(*source);
    const Orvel::ByteArray bytes = source->Encode();
    for (auto _ : state) {
        auto model = kind.make();
        model->Decode(bytes);
        benchmark::DoNotOptimize(model.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["block_bytes"] = static_cast<double>(bytes.size());
}

void Encode(benchmark::State& state, const carvix::test::ModelKind& kind) {
    auto model = kind.make();
    carvix::test::FillLargest(*model);
    std::size_t size = 0;
    for (auto _ : state) {
        Orvel::ByteArray bytes = model->Encode();
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["block_bytes"] = static_cast<double>(size);
}

}  // namespace

int main(int argc, char** argv) {
    for (const auto& kind : carvix::test::AllModels()) {
        benchmark::RegisterBenchmark(("Decode/" + kind.name).c_str(), Decode, kind);
        benchmark::RegisterBenchmark(("Encode/" + kind.name).c_str(), Encode, kind);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
