// Tidewell64 against the simulated layer: the heap the whole program holds
// at its peak, against the largest hardware-ID list it reads.
#include <benchmark/benchmark.h>

#include <string>

#include "machines.h"
#include "peak_run.h"

int Tidewell64Main(int argc, char **argv, char **envp);

namespace {

const size_t kProductEvery = 500;

void BM_PeakHeap(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::TreeFacts tree = machines::AddTree(nodes, kProductEvery, 0, 8192);
    size_t treeBytes = machines::TreeBytes();
    machines::PeakRun run = machines::RunForPeak(state, Tidewell64Main);
    if (run.removed != tree.productNodes ||
        sim::FileExists(std::string(machines::kInfDir) + "\\" + machines::kProductInf))
        state.SkipWithError("the run did not remove the product's nodes and package");
    else if (!sim::OpenResources().empty())
        state.SkipWithError("the run left something open");
    machines::ReportPeak(state, run, tree, treeBytes);
}
BENCHMARK(BM_PeakHeap)->ArgNames({"nodes"})->Arg(1000)->Arg(10000)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
