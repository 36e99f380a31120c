// Zorvane64 against the simulated layer: the driverless purge over large
// trees and the heap the whole program holds at its peak.
#include <benchmark/benchmark.h>

#include <string>

#include "counters.h"
#include "devsetup/zorvane.h"
#include "machines.h"
#include "peak_run.h"
#include "shapes.h"

int ZorvaneMain(int argc, char **argv, char **envp);

namespace {

const size_t kProductEvery = 500;
const size_t kDriverlessEvery = 2;  // every other product node has lost its driver

// A whole run over nodes nodes, one of them with a long hardware-ID list.
void BM_PeakHeap(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::TreeFacts tree = machines::AddTree(nodes, kProductEvery, kDriverlessEvery, 8192);
    size_t treeBytes = machines::TreeBytes();
    machines::PeakRun run = machines::RunForPeak(state, ZorvaneMain);
    if (run.removed != (tree.productNodes + kDriverlessEvery - 1) / kDriverlessEvery)
        state.SkipWithError("the purge did not remove exactly the driverless product nodes");
    else if (!sim::OpenResources().empty())
        state.SkipWithError("the run left something open");
    machines::ReportPeak(state, run, tree, treeBytes);
}
BENCHMARK(BM_PeakHeap)->ArgNames({"nodes"})->Arg(1000)->Arg(10000)->Iterations(2)->Unit(benchmark::kMillisecond);

// The purge over every node of every class; removed nodes are put back
// before the next run.
void BM_Purge(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::AddTree(nodes, kProductEvery, kDriverlessEvery);
    sim::Machine machine = sim::M();
    for (auto _ : state) {
        state.PauseTiming();
        sim::Reset();
        sim::M() = machine;
        state.ResumeTiming();
        PurgeDriverlessDevices();
    }
    bench::NodeCallCounters(state, machines::CountNodeCalls(kProductEvery));
    bench::PerUnit(state, "time_per_node", (double)nodes);
    state.SetComplexityN((int64_t)nodes);
}
BENCHMARK(BM_Purge)->Arg(1000)->Arg(10000)->Arg(50000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
