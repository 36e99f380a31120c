// The hardware-ID match over realistic texts, and the device scan over large
// device trees of the simulated layer: time per byte, time per node and the
// platform calls each node costs.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "common/devscan.h"
#include "common/hwid.h"
#include "common/trace.h"
#include "counters.h"
#include "machines.h"
#include "shapes.h"

const char TracePrefix[] = "..Bench - Omrak";

namespace {

// ---- the match ----

std::vector<std::string> TreeEntries(size_t nodes) {
    std::vector<std::string> entries;
    for (size_t n = 0; n < nodes; ++n)
        for (const auto &e : shapes::HardwareIds(n, 0)) entries.push_back(e);
    return entries;
}

// Every hardware-ID entry of 10,000 nodes that are not the product's (a fifth
// of them the product's vendor with other product IDs), each tested against
// both target IDs as the scan does.
void BM_MatchHardwareIdEntries(benchmark::State &state) {
    std::vector<std::string> entries = TreeEntries(10000);
    size_t bytes = 0;
    for (const auto &e : entries) bytes += e.size();
    int found = 0;
    for (auto _ : state) {
        for (const auto &e : entries) found += MatchTargetHwid(e.c_str(), (DWORD)e.size());
        benchmark::DoNotOptimize(found);
    }
    if (found != 0) state.SkipWithError("an entry that is not the product's matched");
    bench::PerUnit(state, "time_per_byte", (double)bytes);
    state.SetBytesProcessed((int64_t)(bytes * state.iterations()));
    state.counters["bytes"] = (double)bytes;
}
BENCHMARK(BM_MatchHardwareIdEntries)->Unit(benchmark::kMicrosecond);

// One INF line of the given length, fields of models lines joined with
// commas: hardware and compatible IDs of other products.
std::string InfLine(size_t length, bool nearMisses) {
    std::string line = "vend042_Install";
    for (size_t i = 0; line.size() < length; ++i) {
        line += ',';
        if (nearMisses) {
            // The product's vendor with other product IDs: a long partial
            // match at every entry.
            static const char *const others[] = {"USB\\VID_1F3C&PID_3A40&MI_00",
                                                 "USB\\VID_1F3C&PID_3A43&MI_02",
                                                 "USB\\Vid_1f3c&Pid_3a4A"};
            line += others[i % 3];
        } else {
            std::vector<std::string> ids = shapes::HardwareIds(i, 0);
            line += ids[i % ids.size()];
        }
    }
    line.resize(length);
    return line;
}

// Long INF lines as the sweep reads them (NUL-terminated, HwidMatch's own
// walk to the terminator), against both target IDs.
void BM_MatchInfLine(benchmark::State &state) {
    std::string line = InfLine((size_t)state.range(0), state.range(1) != 0);
    int found = 0;
    for (auto _ : state) {
        found += HwidMatch(line.c_str(), TargetHwid1) || HwidMatch(line.c_str(), TargetHwid2);
        benchmark::DoNotOptimize(found);
    }
    if (found != 0) state.SkipWithError("a line that is not the product's matched");
    bench::PerUnit(state, "time_per_byte", (double)line.size());
    state.SetBytesProcessed((int64_t)(line.size() * state.iterations()));
}
BENCHMARK(BM_MatchInfLine)
    ->ArgNames({"bytes", "near_misses"})
    ->Args({64, 0})
    ->Args({512, 0})
    ->Args({4096, 0})
    ->Args({65536, 0})
    ->Args({4096, 1})
    ->Args({65536, 1});

// ---- the device scan ----

const size_t kProductEvery = 500;  // 2 of every 1,000 nodes are the product's

int CountAction(HDEVINFO, PSP_DEVINFO_DATA, const char *, DWORD, void *pContext) {
    ++*(size_t *)pContext;
    return 1;
}

// The scan over every node of every class with an action that only counts.
void BM_Scan(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::TreeFacts facts = machines::AddTree(nodes, kProductEvery);
    size_t actions = 0;
    SCAN_SETUP setup = {nullptr, DIGCF_ALLCLASSES, CountAction, &actions, nullptr, nullptr};
    for (auto _ : state) {
        state.PauseTiming();
        machines::Rewind();
        actions = 0;
        state.ResumeTiming();
        ScanDevices(&setup);
    }
    if (actions != facts.productNodes) state.SkipWithError("the action did not run once per product node");
    bench::NodeCallCounters(state, machines::CountNodeCalls(kProductEvery));
    bench::PerUnit(state, "time_per_node", (double)nodes);
    state.SetComplexityN((int64_t)nodes);
}
BENCHMARK(BM_Scan)->Arg(1000)->Arg(10000)->Arg(50000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);

// The floor under the scan: the platform calls its rule makes for every
// node (enumerate, size query, allocation, read, release) and nothing else.
void BM_ScanFloor(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::AddTree(nodes, kProductEvery);
    for (auto _ : state) {
        state.PauseTiming();
        machines::Rewind();
        state.ResumeTiming();
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            DWORD size = 0;
            SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
            BYTE *buffer = (BYTE *)LocalAlloc(LMEM_ZEROINIT, size);
            SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, buffer, size, &size);
            benchmark::DoNotOptimize(buffer);
            LocalFree(buffer);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    bench::PerUnit(state, "time_per_node", (double)nodes);
    state.SetComplexityN((int64_t)nodes);
}
BENCHMARK(BM_ScanFloor)->Arg(1000)->Arg(10000)->Arg(50000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
