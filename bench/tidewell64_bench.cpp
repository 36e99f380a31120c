// Tidewell64 against the simulated layer: the heap the whole program holds
// at its peak, against the largest hardware-ID list it reads.
#include <benchmark/benchmark.h>

#include <string>

#include "machines.h"

int Tidewell64Main(int argc, char **argv, char **envp);

namespace {

const size_t kProductEvery = 500;

void BM_PeakHeap(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::TreeFacts tree = machines::AddTree(nodes, kProductEvery, 0, 8192);
    size_t treeBytes = 0;
    for (const auto &d : sim::M().devices) treeBytes += d.hardwareIds.size();
    sim::Machine machine = sim::M();
    size_t peak = 0, removed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim::Reset();
        sim::M() = machine;
        state.ResumeTiming();
        Tidewell64Main(0, nullptr, nullptr);
        state.PauseTiming();
        peak = sim::HeapBytesPeak();
        removed = 0;
        for (const auto &d : sim::M().devices) removed += d.removed;
        state.ResumeTiming();
    }
    if (removed != tree.productNodes ||
        sim::FileExists(std::string(machines::kInfDir) + "\\" + machines::kProductInf))
        state.SkipWithError("the run did not remove the product's nodes and package");
    else if (!sim::OpenResources().empty())
        state.SkipWithError("the run left something open");
    state.counters["peak_heap"] = (double)peak;
    state.counters["largest_property"] = (double)tree.largestProperty;
    state.counters["peak_beyond_largest"] = (double)peak - (double)tree.largestProperty;
    state.counters["tree_bytes"] = (double)treeBytes;
}
BENCHMARK(BM_PeakHeap)->ArgNames({"nodes"})->Arg(1000)->Arg(10000)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
