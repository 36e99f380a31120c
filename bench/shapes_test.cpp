// The benchmarks' machines hold what they claim (no file or node names the
// product unless it is meant to), and the programs read from them no more
// than their rules need: line texts the sweep reads per INF file, platform
// calls the scan makes per node, heap held while a file is scanned.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

#include "common/devscan.h"
#include "common/hwid.h"
#include "common/trace.h"
#include "machines.h"
#include "shapes.h"
#include "uninstaller/tidewell.h"

// The sweep and the scan are linked without the uninstaller's main.
const char TracePrefix[] = "..BenchTest - Omrak";

namespace {

bool NamesTarget(const std::string &text) {
    return HwidMatch(text.c_str(), TargetHwid1) || HwidMatch(text.c_str(), TargetHwid2);
}

// Over every byte, NULs included (driver files are binary).
bool NamesTargetAnywhere(std::string bytes) {
    for (auto &c : bytes) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
    return bytes.find("usb\\vid_1f3c&pid_3a41") != std::string::npos ||
           bytes.find("usb\\vid_1f3c&pid_3a42") != std::string::npos;
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(BenchInfFiles, ShapesAreDistinctRealisticAndNeverNameTheProduct) {
    std::set<std::string> names;
    size_t withoutManufacturer = 0, decoratedOnly = 0, large = 0;
    const size_t files = 2000;
    for (size_t n = 0; n < files; ++n) {
        shapes::InfShape inf = shapes::Inf(n);
        ASSERT_FALSE(NamesTarget(inf.content)) << inf.name;
        ASSERT_TRUE(names.insert(inf.name).second) << "two files named " << inf.name;
        ASSERT_EQ(inf.lines, Count(inf.content, "\r\n")) << inf.name;
        ASSERT_EQ(0u, Count(inf.content, "\n") - Count(inf.content, "\r\n")) << "a bare line feed in " << inf.name;
        EXPECT_EQ(1u, Count(inf.content, "Signature   = \"$WINDOWS NT$\"")) << inf.name;
        withoutManufacturer += !inf.hasManufacturer;
        decoratedOnly += inf.hasManufacturer && !inf.hasModelsSection;
        large += inf.hasModelsSection && inf.modelsLines >= 100;
        EXPECT_GE(inf.lines, 100u) << inf.name;
        EXPECT_LE(inf.lines, 900u) << inf.name;
        // Its store package: the same INF under its own name, and driver files.
        shapes::StorePackage package = shapes::Package(n);
        ASSERT_TRUE(names.insert(package.folder).second) << "two packages named " << package.folder;
        EXPECT_EQ(inf.content, package.files[0].second) << package.folder;
        for (const auto &file : package.files)
            ASSERT_FALSE(NamesTargetAnywhere(file.second)) << package.folder << "\\" << file.first;
    }
    // The mix the benchmarks rely on: about a tenth without [Manufacturer],
    // about a third with decorated models sections only, a few with a large
    // models section that the sweep reads.
    EXPECT_GE(withoutManufacturer, files / 12);
    EXPECT_LE(withoutManufacturer, files / 8);
    EXPECT_GE(decoratedOnly, files / 4);
    EXPECT_LE(decoratedOnly, files * 2 / 5);
    EXPECT_GE(large, files / 100);
    EXPECT_LE(large, files / 20);
}

TEST(BenchInfFiles, LongLineIsOneModelsLineOfTheAskedSize) {
    shapes::InfShape plain = shapes::Inf(10);  // a file without [Manufacturer] ...
    ASSERT_FALSE(plain.hasManufacturer);
    shapes::InfShape big = shapes::Inf(10, 8192);  // ... gets one with the long line
    EXPECT_TRUE(big.hasManufacturer && big.hasModelsSection);
    EXPECT_GE(big.longestModelsLine, 8192u);
    EXPECT_LT(big.longestModelsLine, 8192u + 64);
    EXPECT_FALSE(NamesTarget(big.content));
}

class BenchSweepRule : public ::testing::Test {
protected:
    void SetUp() override { machines::Fresh(); }
    void TearDown() override {
        FreeRun(&run);
        EXPECT_TRUE(sim::OpenResources().empty());
        EXPECT_TRUE(sim::M().problems.empty());
    }
    RUN run = {};
};

// Each file on its own: a file without [Manufacturer] costs no line text at
// all, one whose models section is missing only its manufacturer line, and
// one with a models section each of its lines once (size and text), none
// more; nothing is deleted and nothing traced.
TEST_F(BenchSweepRule, EachFileCostsExactlyTheLineTextsItsRuleNeeds) {
    for (size_t n = 0; n < 50; ++n) {
        shapes::InfShape inf = shapes::Inf(n);
        std::string path = std::string(machines::kInfDir) + "\\" + inf.name;
        sim::AddFile(path, inf.content);
        int before = sim::Calls("SetupGetLineTextA");
        ScanInfFile(&run, path.c_str());
        EXPECT_EQ(shapes::RuleLineTextCalls(inf), (size_t)(sim::Calls("SetupGetLineTextA") - before))
            << inf.name << (inf.hasManufacturer ? "" : " (no [Manufacturer])")
            << (inf.hasModelsSection ? "" : " (no undecorated models section)");
        EXPECT_TRUE(sim::FileExists(path)) << inf.name;
    }
    EXPECT_TRUE(sim::M().debug.empty());
}

TEST_F(BenchSweepRule, FolderSweepOpensEachFileOnceAndReadsNoMore) {
    machines::FolderFacts facts = machines::AddInfFolder(300);
    SweepInfFolder(&run);
    EXPECT_EQ(300, sim::Calls("SetupOpenInfFileA"));
    EXPECT_EQ(facts.ruleLineTextCalls, (size_t)sim::Calls("SetupGetLineTextA"));
    EXPECT_TRUE(sim::M().debug.empty());
    size_t files = 0;
    for (const auto &f : sim::M().files) files += !(f.second.attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(300u, files);
}

// While a file is scanned the heap holds the models section's name and one
// line's text, never more: the long line's buffer is the peak.
TEST_F(BenchSweepRule, ScanHoldsSectionNameAndOneLineAtItsPeak) {
    shapes::InfShape inf = shapes::Inf(4, 8192);  // not a published INF
    std::string path = std::string(machines::kInfDir) + "\\" + inf.name;
    sim::AddFile(path, inf.content);
    ScanInfFile(&run, path.c_str());
    // (A line's text is held with one more NUL than its size counts.)
    EXPECT_EQ(inf.modelsSection.size() + 1 + inf.longestModelsLine + 1, sim::HeapBytesPeak());
    EXPECT_EQ(0u, sim::HeapBytesNow());
}

int CountAction(HDEVINFO, PSP_DEVINFO_DATA, const char *pHwIds, DWORD cbHwIds, void *pContext) {
    EXPECT_TRUE(NamesTarget(std::string(pHwIds, cbHwIds).c_str()));
    ++*(size_t *)pContext;
    return 1;
}

TEST(BenchTree, OnlyTheProductNodesNameATargetAndPlainNodesCostOneRead) {
    machines::Fresh();
    machines::TreeFacts facts = machines::AddTree(2000, 500, 0, 4096);
    EXPECT_EQ(4u, facts.productNodes);
    EXPECT_GE(facts.largestProperty, 4096u);
    for (size_t n = 0; n < 2000; ++n) {
        const auto &ids = sim::M().devices[n].hardwareIds;
        std::string text(ids.begin(), ids.end());
        bool named = false;
        for (size_t at = 0; at < text.size() && text[at] != 0; at += strlen(text.c_str() + at) + 1)
            named = named || NamesTarget(text.c_str() + at);
        EXPECT_EQ(shapes::IsProductDevice(n, 500), named) << n;
    }
    size_t actions = 0;
    SCAN_SETUP setup = {nullptr, DIGCF_ALLCLASSES, CountAction, &actions, nullptr, nullptr};
    ScanDevices(&setup);
    EXPECT_EQ(facts.productNodes, actions);
    machines::NodeCalls calls = machines::CountNodeCalls(500);
    EXPECT_EQ(2000u, calls.nodes);
    // Enumeration, size query, allocation, read: on every node that is not the product's.
    EXPECT_EQ(4u, calls.minPlain);
    EXPECT_EQ(4u, calls.maxPlain);
    EXPECT_EQ(2u * (2000 - 4), calls.plainPropertyReads);
    EXPECT_TRUE(sim::OpenResources().empty());
}

}  // namespace
