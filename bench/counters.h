// Counters the benchmarks report beside their times.
#ifndef BENCH_COUNTERS_H
#define BENCH_COUNTERS_H

#include <benchmark/benchmark.h>

#include "machines.h"

namespace bench {

// Seconds per unit of work (a byte, a node, a file), shown with an SI prefix
// ("250n" is 250 ns).
inline void PerUnit(benchmark::State &state, const char *name, double unitsPerIteration) {
    state.counters[name] = benchmark::Counter(
        unitsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Platform calls per node of the last run. A node that is not the product's
// costs its enumeration, the size query and the read of its hardware IDs and
// the buffer's allocation; anything more is reported as an error.
inline void NodeCallCounters(benchmark::State &state, const machines::NodeCalls &c) {
    size_t plain = c.nodes - c.productNodes;
    state.counters["nodes"] = (double)c.nodes;
    state.counters["calls_per_node"] = (double)sim::FallibleCalls() / (double)c.nodes;
    state.counters["plain_node_calls"] = (double)c.maxPlain;
    state.counters["plain_node_reads"] = plain ? (double)c.plainPropertyReads / (double)plain : 0;
    state.counters["product_node_calls"] =
        c.productNodes ? (double)c.productCalls / (double)c.productNodes : 0;
    if (c.plainPropertyReads != 2 * plain)
        state.SkipWithError("a node that is not the product's was read more than size and text");
    else if (c.maxPlain != 4 || c.minPlain != 4)
        state.SkipWithError("a node that is not the product's cost calls beyond its read");
}

}  // namespace bench

#endif
