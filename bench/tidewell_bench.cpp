// The uninstaller against the simulated layer: the INF folder sweep over
// large folders and its floor, the device removal over large trees, and the
// heap the whole program holds at its peak.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "counters.h"
#include "machines.h"
#include "shapes.h"
#include "uninstaller/tidewell.h"

int TidewellMain(int argc, char **argv, char **envp);

namespace {

// ---- the sweep ----

// SweepInfFolder over files INF files that do not name the product.
void BM_Sweep(benchmark::State &state) {
    size_t files = (size_t)state.range(0);
    machines::Fresh();
    machines::FolderFacts facts = machines::AddInfFolder(files);
    for (auto _ : state) {
        state.PauseTiming();
        machines::Rewind();
        state.ResumeTiming();
        RUN run = {};
        SweepInfFolder(&run);
        FreeRun(&run);
    }
    size_t textCalls = (size_t)sim::Calls("SetupGetLineTextA");
    size_t opens = (size_t)sim::Calls("SetupOpenInfFileA");
    size_t left = 0;
    for (const auto &f : sim::M().files)
        if (!(f.second.attributes & FILE_ATTRIBUTE_DIRECTORY)) ++left;
    if (left != files || opens != files)
        state.SkipWithError("the sweep did not open every file once, or deleted one");
    else if (textCalls != facts.ruleLineTextCalls)
        state.SkipWithError("the sweep read line text beyond what its rule needs");
    else if (!sim::OpenResources().empty())
        state.SkipWithError("the sweep left something open");
    // A line's text is read with a size query and a read.
    double linesRead = (double)textCalls / 2;
    state.counters["files"] = (double)files;
    state.counters["lines_in_files"] = (double)facts.lines / (double)files;
    state.counters["lines_read_per_file"] = linesRead / (double)files;
    state.counters["text_calls"] = (double)textCalls;
    state.counters["text_calls_rule"] = (double)facts.ruleLineTextCalls;
    bench::PerUnit(state, "time_per_file", (double)files);
    bench::PerUnit(state, "time_per_line_read", linesRead);
    state.SetComplexityN((int64_t)files);
}
BENCHMARK(BM_Sweep)->Arg(100)->Arg(1000)->Arg(5000)->MinTime(1.5)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// The floor under the sweep: the same files, only opened and closed.
void BM_SweepFloor(benchmark::State &state) {
    size_t files = (size_t)state.range(0);
    machines::Fresh();
    machines::AddInfFolder(files);
    std::vector<std::string> paths;
    for (const auto &f : sim::M().files)
        if (!(f.second.attributes & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(f.second.path);
    for (auto _ : state) {
        state.PauseTiming();
        machines::Rewind();
        state.ResumeTiming();
        for (const auto &p : paths) {
            UINT errorLine = 0;
            HINF h = SetupOpenInfFileA(p.c_str(), nullptr, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
            if (h != INVALID_HANDLE_VALUE) SetupCloseInfFile(h);
        }
    }
    bench::PerUnit(state, "time_per_file", (double)files);
    state.SetComplexityN((int64_t)files);
}
BENCHMARK(BM_SweepFloor)->Arg(100)->Arg(1000)->Arg(5000)->MinTime(1.5)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

// ---- the device removal ----

const size_t kProductEvery = 500;

// RemoveTargetDevices over every node of every class; the product's nodes
// lose their OEM INF and are removed, and are put back before the next run.
void BM_Removal(benchmark::State &state) {
    size_t nodes = (size_t)state.range(0);
    machines::Fresh();
    machines::TreeFacts facts = machines::AddTree(nodes, kProductEvery);
    std::vector<std::pair<size_t, sim::Device>> products;
    for (size_t n = 0; n < nodes; ++n)
        if (shapes::IsProductDevice(n, kProductEvery)) products.emplace_back(n, sim::M().devices[n]);
    std::string productInf = std::string(machines::kInfDir) + "\\" + machines::kProductInf;
    std::string productInfContent = sim::M().files.find(productInf)->second.content;
    size_t removed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        machines::Rewind();
        for (const auto &p : products) sim::M().devices[p.first] = p.second;
        sim::AddFile(productInf, productInfContent);
        // The packages other devices use are read before the removal, once
        // per run (main's FindOtherInfUsers): here none of the product's.
        RUN run = {};
        run.Infs.UsersRead = run.Infs.UsersComplete = 1;
        state.ResumeTiming();
        RemoveTargetDevices(&run);
        state.PauseTiming();
        FreeRun(&run);
        removed = 0;
        for (const auto &p : products) removed += sim::M().devices[p.first].removed;
        state.ResumeTiming();
    }
    if (removed != facts.productNodes || sim::FileExists(productInf))
        state.SkipWithError("the removal did not remove each product node and its INF once");
    bench::NodeCallCounters(state, machines::CountNodeCalls(kProductEvery));
    bench::PerUnit(state, "time_per_node", (double)nodes);
    state.SetComplexityN((int64_t)nodes);
}
BENCHMARK(BM_Removal)->Arg(1000)->Arg(10000)->Arg(50000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);

// ---- peak heap of a whole run ----

const size_t kBigProperty = 16384;
const size_t kBigLine = 8192;

// A machine with the product installed (its nodes, its OEM INF and a stray
// copy of its INF that names it), nodes nodes and files INF files, one node
// with a long hardware-ID list and one INF with a long models line.
struct Setup {
    sim::Machine machine;
    machines::TreeFacts tree;
    machines::FolderFacts folder;
    size_t treeBytes = 0;
    size_t folderBytes = 0;
};

const char kStrayInf[] = "C:\\Windows\\inf\\oem91.inf";

Setup MakeSetup(size_t nodes, size_t files, bool wow64) {
    Setup s;
    machines::Fresh();
    s.tree = machines::AddTree(nodes, kProductEvery, 0, kBigProperty);
    s.folder = machines::AddInfFolder(files, kBigLine);
    sim::AddFile(kStrayInf,
                 "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Modem\r\n\r\n"
                 "[Manufacturer]\r\n%Mfg%=Models,NTamd64\r\n\r\n"
                 "[Models]\r\n%Modem%=Modem_Install, USB\\VID_1F3C&PID_3A42&MI_02\r\n\r\n"
                 "[Strings]\r\nMfg=\"Omrak\"\r\nModem=\"Omrak USB Modem\"\r\n");
    if (wow64) {
        sim::M().wow64 = sim::Wow64True;
        // The stray INF, which no store holds, goes by hand after the
        // uninstall's answer: the layer's refusal of WOW64 would keep it.
        sim::M().uninstallRefusedInWow64 = false;
        // The sibling runs as a process of its own: its heap is not ours.
        sim::AddDirectory("C:\\Program Files");
        sim::AddDirectory("C:\\Program Files\\Omrak");
        sim::AddFile("C:\\Program Files\\Omrak\\Tidewell64.exe", "MZ");
        sim::M().programs["C:\\Program Files\\Omrak\\Tidewell64.exe"] = [] {};
    }
    for (const auto &d : sim::M().devices) s.treeBytes += d.hardwareIds.size();
    for (const auto &f : sim::M().files) s.folderBytes += f.second.content.size();
    s.machine = sim::M();
    return s;
}

// The peak of one stage run alone on a fresh copy of the machine.
template <typename Stage>
size_t StagePeak(const Setup &s, Stage stage) {
    sim::Reset();
    sim::M() = s.machine;
    stage();
    return sim::HeapBytesPeak();
}

// The whole program's peak, and each stage's own, against the largest
// hardware-ID list and the largest models line it reads.
void BM_PeakHeap(benchmark::State &state) {
    bool wow64 = state.range(2) != 0;
    Setup s = MakeSetup((size_t)state.range(0), (size_t)state.range(1), wow64);
    size_t peak = 0;
    bool done = false;
    for (auto _ : state) {
        state.PauseTiming();
        sim::Reset();
        sim::M() = s.machine;
        state.ResumeTiming();
        TidewellMain(0, nullptr, nullptr);
        state.PauseTiming();
        peak = sim::HeapBytesPeak();
        std::string productInf = std::string(machines::kInfDir) + "\\" + machines::kProductInf;
        done = !sim::FileExists(kStrayInf) && (wow64 || !sim::FileExists(productInf)) &&
               sim::OpenResources().empty();
        state.ResumeTiming();
    }
    if (!done) state.SkipWithError("the run did not remove the product and sweep the folder cleanly");
    state.counters["peak_heap"] = (double)peak;
    state.counters["peak_ports"] = (double)StagePeak(s, [] { CheckPortBusy(0) && CheckPortBusy(1); });
    if (!wow64)
        state.counters["peak_removal"] = (double)StagePeak(s, [] {
            RUN run = {};
            RemoveTargetDevices(&run);
            FreeRun(&run);
        });
    state.counters["peak_sweep"] = (double)StagePeak(s, [] {
        RUN run = {};
        SweepInfFolder(&run);
        FreeRun(&run);
    });
    state.counters["largest_property"] = (double)s.tree.largestProperty;
    state.counters["largest_line"] = (double)s.folder.largestLine;
    state.counters["tree_bytes"] = (double)s.treeBytes;
    state.counters["folder_bytes"] = (double)s.folderBytes;
}
BENCHMARK(BM_PeakHeap)
    ->ArgNames({"nodes", "files", "wow64"})
    ->Args({1000, 100, 0})
    ->Args({10000, 1000, 0})
    ->Args({1000, 100, 1})
    ->Args({10000, 1000, 1})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
