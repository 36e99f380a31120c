// A whole program's run over a prepared tree, once per iteration, with the
// heap it held at its peak set against the largest property it read.
#ifndef BENCH_PEAK_RUN_H
#define BENCH_PEAK_RUN_H

#include <benchmark/benchmark.h>

#include "machines.h"

namespace machines {

typedef int (*ProgramMain)(int argc, char **argv, char **envp);

struct PeakRun {
    size_t peak = 0;     // heap bytes held at once, last run
    size_t removed = 0;  // nodes removed, last run
};

// Runs program over the machine as it stands now, afresh in every iteration.
inline PeakRun RunForPeak(benchmark::State &state, ProgramMain program) {
    sim::Machine machine = sim::M();
    PeakRun run;
    for (auto _ : state) {
        state.PauseTiming();
        sim::Reset();
        sim::M() = machine;
        state.ResumeTiming();
        program(0, nullptr, nullptr);
        state.PauseTiming();
        run.peak = sim::HeapBytesPeak();
        run.removed = 0;
        for (const auto &d : sim::M().devices) run.removed += d.removed;
        state.ResumeTiming();
    }
    return run;
}

inline size_t TreeBytes() {
    size_t bytes = 0;
    for (const auto &d : sim::M().devices) bytes += d.hardwareIds.size();
    return bytes;
}

inline void ReportPeak(benchmark::State &state, const PeakRun &run, const TreeFacts &tree,
                       size_t treeBytes) {
    state.counters["peak_heap"] = (double)run.peak;
    state.counters["largest_property"] = (double)tree.largestProperty;
    state.counters["peak_beyond_largest"] = (double)run.peak - (double)tree.largestProperty;
    state.counters["tree_bytes"] = (double)treeBytes;
}

}  // namespace machines

#endif
