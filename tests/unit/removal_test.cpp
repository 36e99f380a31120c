// Device removal: every target node loses its OEM INF file first, then the
// node itself.
#include <algorithm>

#include "tidewell_fixture.h"
#include "uninstaller/oeminf.h"

namespace {

using namespace tw;

class Removal : public TidewellTest {
protected:
    static std::vector<std::string> RemovedIds() {
        std::vector<std::string> ids;
        for (size_t i : EventsOf(sim::Event::DeviceRemoved)) ids.push_back(sim::M().events[i].text);
        return ids;
    }
    static std::vector<std::string> DeletedFiles() {
        std::vector<std::string> paths;
        for (size_t i : EventsOf(sim::Event::FileDeleted)) paths.push_back(sim::M().events[i].text);
        return paths;
    }
};

// ---- which nodes go, and in which order things happen ----

TEST_F(Removal, TargetNodesOfAnyClassAttachedOrNotLoseTheirInfAndGo) {
    AddInstalled("MDM\\GONE", GUID_DEVCLASS_MODEM, {"ROOT\\X", kTarget1}, "oem12.inf", false);
    AddInstalled("USB\\LOWER", GUID_DEVCLASS_USB, {"usb\\vid_1f3c&pid_3a42&rev_0100&mi_01"},
                 "OEM7.INF");
    AddInstalled("USB\\OTHER", GUID_DEVCLASS_USB, {"USB\\VID_1F3C&PID_3A40"}, "oem1.inf");

    RemoveTargetDevices(&run);
    EXPECT_EQ((std::vector<std::string>{"MDM\\GONE", "USB\\LOWER"}), RemovedIds());
    EXPECT_FALSE(sim::FileExists(InfPath("oem12.inf")));
    EXPECT_FALSE(sim::FileExists(InfPath("OEM7.INF")));
    // A node of another product and its INF are not touched.
    EXPECT_FALSE(Removed("USB\\OTHER"));
    EXPECT_TRUE(sim::FileExists(InfPath("oem1.inf")));
    EXPECT_EQ((std::vector<std::string>{
                  "Delete file in Skarnel\n", "File full path: C:\\Windows\\inf\\oem12.inf\n",
                  "Delete file in Skarnel\n", "File full path: C:\\Windows\\inf\\OEM7.INF\n"}),
              Msgs());
}

TEST_F(Removal, InfGoesBeforeItsNodeAndEveryTargetNodeIsHandledOnce) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1, kTarget2}, "oem1.inf");
    AddInstalled("USB\\B", GUID_DEVCLASS_PORTS, {kTarget2, kTarget2}, "oem2.inf");

    RemoveTargetDevices(&run);
    const auto &ev = sim::M().events;
    std::vector<std::string> order;
    for (const auto &e : ev)
        if (e.kind == sim::Event::FileDeleted || e.kind == sim::Event::DeviceRemoved)
            order.push_back(e.text);
    EXPECT_EQ((std::vector<std::string>{InfPath("oem1.inf"), "USB\\A", InfPath("oem2.inf"),
                                        "USB\\B"}),
              order);
    EXPECT_EQ(2, sim::Calls("SetupDiOpenDevRegKey"));
    for (const auto &a : sim::Arguments("SetupDiOpenDevRegKey"))
        EXPECT_EQ("scope=1 profile=0 type=2 access=0xF003F", a);
    EXPECT_EQ(2, sim::Calls("SetupDiCallClassInstaller"));
}

TEST_F(Removal, NoTargetNodeWritesNothingAndCountsNothing) {
    AddInstalled("USB\\OTHER", GUID_DEVCLASS_USB, {"USB\\VID_1F3C&PID_3A4"}, "oem1.inf");
    sim::AddDevice("ROOT\\NOIDS", GUID_DEVCLASS_USB, {});
    RemoveTargetDevices(&run);
    EXPECT_TRUE(sim::M().debug.empty());
    EXPECT_TRUE(RemovedIds().empty());
}

TEST_F(Removal, SetThatCannotBeBuiltChangesNothing) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    sim::FailCall("SetupDiGetClassDevsA");
    RemoveTargetDevices(&run);
    EXPECT_TRUE(sim::M().debug.empty());
    EXPECT_FALSE(Removed("USB\\A"));
    EXPECT_TRUE(sim::FileExists(InfPath("oem1.inf")));
}

TEST_F(Removal, UnexpectedHardwareIdReadErrorLeavesLaterNodes) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    sim::AddDevice("BAD", GUID_DEVCLASS_USB, {kTarget1}).hardwareIdReadError = ERROR_GEN_FAILURE;
    AddInstalled("USB\\C", GUID_DEVCLASS_USB, {kTarget1}, "oem3.inf");
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{"USB\\A"}, RemovedIds());
    EXPECT_FALSE(sim::FileExists(InfPath("oem1.inf")));
    EXPECT_TRUE(sim::FileExists(InfPath("oem3.inf")));
}

// ---- what counts ----

TEST_F(Removal, TwoNodesNamingOneInfCountOnce) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    AddInstalled("USB\\B", GUID_DEVCLASS_MODEM, {kTarget2}, "oem5.inf");
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{InfPath("oem5.inf")}, DeletedFiles());
    EXPECT_EQ((std::vector<std::string>{"USB\\A", "USB\\B"}), RemovedIds());
    // The second uninstall finds the INF gone: nothing is deleted by hand.
    EXPECT_EQ(2, sim::Calls("SetupUninstallOEMInfA"));
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
}

TEST_F(Removal, ReadOnlyHiddenSystemInfIsDeleted) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem4.inf", true, false);
    sim::AddFile(InfPath("oem4.inf"), "",
                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    RemoveTargetDevices(&run);
    EXPECT_FALSE(sim::FileExists(InfPath("oem4.inf")));
}

TEST_F(Removal, FailedAttributeResetDoesNotStopTheDeletion) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem4.inf");
    sim::FailCall("SetFileAttributesA");
    RemoveTargetDevices(&run);
    EXPECT_FALSE(sim::FileExists(InfPath("oem4.inf")));
}

TEST_F(Removal, FailedDeletionIsNotTraced) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem4.inf");
    sim::M().driverStore.clear();  // a file no package was published as
    sim::FailCall("DeleteFileA", 1, ERROR_ACCESS_DENIED);
    RemoveTargetDevices(&run);
    EXPECT_TRUE(sim::FileExists(InfPath("oem4.inf")));
    EXPECT_TRUE(Removed("USB\\A"));
    EXPECT_EQ((std::vector<std::string>{"Delete file in Skarnel\n",
                                        "File full path: C:\\Windows\\inf\\oem4.inf\n"}),
              Msgs());
}

TEST_F(Removal, FailedRemovalIsTracedAndTheNextNodeStillHandled) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf").removeError =
        ERROR_ACCESS_DENIED;
    AddInstalled("USB\\B", GUID_DEVCLASS_USB, {kTarget1}, "oem2.inf");
    RemoveTargetDevices(&run);
    EXPECT_FALSE(Removed("USB\\A"));
    EXPECT_TRUE(Removed("USB\\B"));
    // The INF of the node that stayed is gone all the same.
    EXPECT_FALSE(sim::FileExists(InfPath("oem1.inf")));
    auto msgs = Msgs();
    ASSERT_EQ(5u, msgs.size()) << Join(msgs);
    EXPECT_EQ("Remove failed!\n", msgs[2]);
}

// ---- the driver store ----

// An OEM INF with its .pnf and its package in the store, removed by the
// device removal (stage 0) or found by the sweep (stage 1). The uninstall
// takes all three. A published INF is deleted by hand only where no store
// holds it; any other refusal keeps it, and its package, for a later run.
struct StoreCase {
    const char *what;
    void (*fault)();
    bool uninstalled;  // the package left the store with its .inf and .pnf
    bool deleted;      // the .inf is gone
    const char *kept;  // the error traced for a package kept, or null
};

void PrintTo(const StoreCase &c, std::ostream *os) { *os << c.what; }

class DriverStore : public Removal, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(DriverStore, PublishedInfLeavesWithItsPackageOrStays) {
    const std::string content = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                                "Omrak\r\n[Omrak]\r\nModem=M,USB\\Vid_1F3C&Pid_3A41\r\n";
    for (int stage = 0; stage < 2; ++stage) {
        SetUp();
        sim::AddFile(InfPath("oem7.inf"), content, FILE_ATTRIBUTE_READONLY);
        sim::AddFile(InfPath("oem7.pnf"), "binary");
        sim::M().driverStore.insert("oem7.inf");
        if (stage == 0)
            AddInstalled("USB\\A", GUID_DEVCLASS_MODEM, {kTarget1}, "oem7.inf", true, false);
        GetParam().fault();
        if (stage == 0)
            RemoveTargetDevices(&run);
        else
            ScanInfFile(&run, InfPath("oem7.inf").c_str());
        TraceKeptInfs(&run.Infs);
        const std::string where = stage == 0 ? "removal" : "sweep";
        EXPECT_EQ(GetParam().uninstalled, !EventsOf(sim::Event::PackageUninstalled).empty()) << where;
        EXPECT_EQ(GetParam().uninstalled, !sim::FileExists(InfPath("oem7.pnf"))) << where;
        EXPECT_EQ(GetParam().deleted, !sim::FileExists(InfPath("oem7.inf"))) << where;
        // Never a package left whose published name is gone; a file that
        // stays keeps its attributes.
        EXPECT_TRUE(!sim::M().driverStore.count("oem7.inf") || sim::FileExists(InfPath("oem7.inf")))
            << where;
        if (sim::FileExists(InfPath("oem7.inf")))
            EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, sim::M().files[InfPath("oem7.inf")].attributes)
                << where;
        for (const auto &call : sim::Arguments("SetupUninstallOEMInfA"))
            EXPECT_EQ("oem7.inf flags=1", call) << where << ": by its name, forced";
        const std::string kept = GetParam().kept
                                     ? std::string("Driver package kept: [oem7.inf], Error code: ") +
                                           GetParam().kept + "\n"
                                     : "";
        const auto msgs = Msgs();
        EXPECT_EQ(GetParam().kept != nullptr ? 1 : 0, std::count(msgs.begin(), msgs.end(), kept))
            << where << ": traced once, and only what stays" << Join(msgs);
        TearDown();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, DriverStore,
    ::testing::Values(
        StoreCase{"uninstalled", [] {}, true, true, nullptr},
        StoreCase{"refused",
                  [] { sim::FailCall("SetupUninstallOEMInfA", 0, ERROR_ACCESS_DENIED); }, false,
                  false, "0x5"},
        // Only a Windows without the function and without a driver store
        // (before XP) has the published INF deleted by hand; a look-up that
        // fails otherwise keeps it.
        StoreCase{"no uninstall function and no store",
                  [] {
                      sim::M().noUninstallOemInf = true;
                      sim::M().driverStore.clear();
                  },
                  false, true, nullptr},
        StoreCase{"function not found beside a store",
                  [] {
                      sim::AddDirectory("C:\\Windows\\System32\\DriverStore");
                      sim::FailCall("GetProcAddress", 0);
                  },
                  false, false, "0x7f"},
        StoreCase{"setupapi not found", [] { sim::FailCall("GetModuleHandleA", 0); }, false, false,
                  "0x7e"},
        // Refused while its node uses it, taken once the node is gone.
        StoreCase{"runs from the store (DirId 13)",
                  [] { sim::M().dirId13Packages.insert("oem7.inf"); }, true, true, nullptr},
        StoreCase{"refused under WOW64", [] { sim::M().wow64 = sim::Wow64True; }, false, false,
                  "0xe0000235"},
        StoreCase{"allowed under WOW64",
                  [] {
                      sim::M().wow64 = sim::Wow64True;
                      sim::M().uninstallRefusedInWow64 = false;
                  },
                  true, true, nullptr},
        StoreCase{"not an installed OEM INF", [] { sim::M().driverStore.clear(); }, false, true,
                  nullptr},
        StoreCase{"not installed, and its deletion refused",
                  [] {
                      sim::M().driverStore.clear();
                      sim::FailCall("DeleteFileA");
                  },
                  false, false, nullptr}));

// ---- INF files that are not deleted ----

class KeptInf : public Removal, public ::testing::WithParamInterface<const char *> {};

TEST_P(KeptInf, InBoxUsbInfIsAFoundCompositeDevice) {
    AddInstalled("USB\\COMPOSITE", GUID_DEVCLASS_USB, {kTarget1}, GetParam());
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{"Find composite device\n"}, Msgs());
    EXPECT_TRUE(sim::FileExists(InfPath(GetParam())));
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
    EXPECT_TRUE(Removed("USB\\COMPOSITE"));
}

INSTANTIATE_TEST_SUITE_P(Names, KeptInf,
                         ::testing::Values("usb.inf", "usbstor.inf", "USB.INF", "myusb.inf",
                                           "oem3usb.inf"));

TEST_F(Removal, NamesThatAreNotOemInfsAreNeverDeleted) {
    AddInstalled("USB\\SER", GUID_DEVCLASS_PORTS, {kTarget1}, "usbser.inf");
    AddInstalled("USB\\ESC", GUID_DEVCLASS_USB, {kTarget2}, "..\\system32\\x.dll", true, false);
    sim::AddDirectory("C:\\Windows\\system32");
    sim::AddFile("C:\\Windows\\system32\\x.dll");

    RemoveTargetDevices(&run);
    EXPECT_EQ((std::vector<std::string>{"Not an OEM INF: [usbser.inf]\n",
                                        "Not an OEM INF: [..\\system32\\x.dll]\n"}),
              Msgs());
    EXPECT_TRUE(sim::FileExists(InfPath("usbser.inf")));
    EXPECT_TRUE(sim::FileExists("C:\\Windows\\system32\\x.dll"));
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
    EXPECT_EQ(0, sim::Calls("SetFileAttributesA"));
    EXPECT_EQ((std::vector<std::string>{"USB\\SER", "USB\\ESC"}), RemovedIds());
}

TEST(OemInfName, OnlyOemDigitsDotInf) {
    EXPECT_EQ(1, IsOemInfName("oem0.inf"));
    EXPECT_EQ(1, IsOemInfName("OEM123.INF"));
    EXPECT_EQ(1, IsOemInfName("Oem45.Inf"));
    EXPECT_EQ(0, IsOemInfName("oem.inf"));
    EXPECT_EQ(0, IsOemInfName("oem1a.inf"));
    EXPECT_EQ(0, IsOemInfName("oem1.inf.bak"));
    EXPECT_EQ(0, IsOemInfName("oem1.infx"));
    EXPECT_EQ(0, IsOemInfName("oem1.in"));
    EXPECT_EQ(0, IsOemInfName("oem1."));
    EXPECT_EQ(0, IsOemInfName("oem1"));
    EXPECT_EQ(0, IsOemInfName("xoem1.inf"));
    EXPECT_EQ(0, IsOemInfName(" oem1.inf"));
    EXPECT_EQ(0, IsOemInfName("oem1.inf "));
    EXPECT_EQ(0, IsOemInfName("oem-1.inf"));
    EXPECT_EQ(0, IsOemInfName("oem1\\..\\x.inf"));
    EXPECT_EQ(0, IsOemInfName("oem"));
    EXPECT_EQ(0, IsOemInfName(""));
}

// ---- the driver key and its "InfPath" ----

TEST_F(Removal, NodeWithoutDriverKeyIsStillRemoved) {
    sim::AddDevice("USB\\NODRV", GUID_DEVCLASS_USB, {kTarget1});
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{"Open Registry failed, Error code: 0xe0000204\n"}, Msgs());
    EXPECT_TRUE(Removed("USB\\NODRV"));
}

TEST_F(Removal, ShortErrorCodeIsPaddedWithSpaces) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    sim::FailCall("SetupDiOpenDevRegKey", 1, ERROR_ACCESS_DENIED);
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{"Open Registry failed, Error code: 0x       5\n"}, Msgs());
    EXPECT_TRUE(sim::FileExists(InfPath("oem1.inf")));
    EXPECT_TRUE(Removed("USB\\A"));
}

TEST_F(Removal, UnreadableInfPathIsTracedWithTheReadsOwnCode) {
    sim::Device &missing = sim::AddDevice("USB\\MISSING", GUID_DEVCLASS_USB, {kTarget1});
    missing.hasDriverKey = true;
    sim::Device &longer = sim::AddDevice("USB\\LONG", GUID_DEVCLASS_USB, {kTarget1});
    longer.hasDriverKey = true;
    longer.driverKey["InfPath"] = sim::Sz("oem" + std::string(300, '1') + ".inf");
    // Exactly 260 bytes and no terminator: not a name, and never read past.
    sim::Device &full = sim::AddDevice("USB\\FULL", GUID_DEVCLASS_USB, {kTarget1});
    full.hasDriverKey = true;
    full.driverKey["InfPath"] = sim::Bytes(REG_SZ, std::vector<BYTE>(MAX_PATH, '7'));

    RemoveTargetDevices(&run);
    EXPECT_EQ((std::vector<std::string>{
                  "RegQueryValueEx for 'InfPath' failed!\n", "Error code: 0x2\n",
                  "RegQueryValueEx for 'InfPath' failed!\n", "Error code: 0xea\n",
                  "RegQueryValueEx for 'InfPath' failed!\n", "Error code: 0xea\n"}),
              Msgs());
    EXPECT_EQ(3u, RemovedIds().size());
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
}

TEST_F(Removal, ValueStoredWithoutTerminatorReadsAsItsText) {
    sim::Device &d = sim::AddDevice("USB\\A", GUID_DEVCLASS_USB, {kTarget1});
    d.hasDriverKey = true;
    d.driverKey["InfPath"] = sim::Bytes(REG_SZ, {'o', 'e', 'm', '9', '.', 'i', 'n', 'f'});
    sim::AddFile(InfPath("oem9.inf"));
    RemoveTargetDevices(&run);
    EXPECT_FALSE(sim::FileExists(InfPath("oem9.inf")));
}

// "C:\Windows\inf\" takes 15 of the 260 bytes: a name of 244 characters is
// the longest whose full path fits with its terminator.
TEST_F(Removal, FullPathThatFitsExactlyIsDeleted) {
    std::string name = "oem" + std::string(237, '4') + ".inf";
    ASSERT_EQ(244u, name.size());
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, name);
    RemoveTargetDevices(&run);
    EXPECT_FALSE(sim::FileExists(InfPath(name)));
}

TEST_F(Removal, FullPathThatDoesNotFitDeletesNothing) {
    std::string name = "oem" + std::string(238, '4') + ".inf";
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, name);
    // The path cut to the buffer would name this file.
    std::string cut = InfPath(name).substr(0, MAX_PATH - 1);
    sim::AddFile(cut);
    RemoveTargetDevices(&run);
    EXPECT_TRUE(sim::FileExists(InfPath(name)));
    EXPECT_TRUE(sim::FileExists(cut));
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
    EXPECT_TRUE(Removed("USB\\A"));
}

TEST_F(Removal, WindowsFolderThatCannotBeReadDeletesNothing) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    sim::M().windowsDirFails = true;
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{"Get current path failed!\n"}, Msgs());
    EXPECT_TRUE(sim::FileExists(InfPath("oem1.inf")));
    EXPECT_TRUE(Removed("USB\\A"));
}

TEST_F(Removal, WindowsFolderTooLongForTheBufferDeletesNothing) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    sim::M().windowsDir = "C:\\" + std::string(MAX_PATH, 'w');
    RemoveTargetDevices(&run);
    EXPECT_EQ(std::vector<std::string>{"Get current path failed!\n"}, Msgs());
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
}

// ---- allocations ----

struct AllocCase {
    int nth;  // which LocalAlloc of the run fails (the first is the hardware-ID buffer)
    const char *message;
};

void PrintTo(const AllocCase &c, std::ostream *os) { *os << "LocalAlloc #" << c.nth; }

class RemovalAllocation : public Removal, public ::testing::WithParamInterface<AllocCase> {};

TEST_P(RemovalAllocation, FailureIsTracedAndTheNodeStillRemoved) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    AddInstalled("USB\\B", GUID_DEVCLASS_USB, {kTarget1}, "oem2.inf");
    sim::FailCall("LocalAlloc", GetParam().nth);
    RemoveTargetDevices(&run);
    auto msgs = Msgs();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(GetParam().message, msgs[0]);
    EXPECT_TRUE(sim::FileExists(InfPath("oem1.inf")));
    EXPECT_TRUE(Removed("USB\\A"));
    // The next node is handled as usual.
    EXPECT_FALSE(sim::FileExists(InfPath("oem2.inf")));
}

INSTANTIATE_TEST_SUITE_P(
    EachBuffer, RemovalAllocation,
    ::testing::Values(AllocCase{2, "LocalAlloc for 'pInfName' failed!\n"},
                      AllocCase{3, "Malloc buffer for pFilePath failed\n"},
                      AllocCase{4, "Malloc failed\n"}));

TEST_F(Removal, HardwareIdBufferThatCannotBeAllocatedEndsTheStage) {
    AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    sim::FailCall("LocalAlloc", 1);
    RemoveTargetDevices(&run);
    EXPECT_TRUE(RemovedIds().empty());
    EXPECT_TRUE(sim::M().debug.empty());
}

// Every fallible call of a removal over a mixed machine made to fail in turn:
// the stage releases every key and buffer whatever fails.
TEST_F(Removal, ReleasesEverythingWhicheverCallFails) {
    auto setUp = [] {
        AddInstalled("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
        AddInstalled("USB\\COMP", GUID_DEVCLASS_USB, {kTarget1}, "usb.inf");
        AddInstalled("USB\\SER", GUID_DEVCLASS_PORTS, {kTarget2}, "usbser.inf");
        sim::AddDevice("USB\\NODRV", GUID_DEVCLASS_USB, {kTarget1});
        AddInstalled("USB\\B", GUID_DEVCLASS_MODEM, {kTarget2}, "oem2.inf", false);
    };
    setUp();
    RemoveTargetDevices(&run);
    FreeRun(&run);
    ASSERT_FALSE(sim::FileExists(InfPath("oem1.inf")));
    ASSERT_FALSE(sim::FileExists(InfPath("oem2.inf")));
    ExpectNothingOpen();
    FailEachCallInTurn(
        setUp,
        [this] {
            RemoveTargetDevices(&run);
            FreeRun(&run);
        },
        [] {
            EXPECT_TRUE(sim::FileExists(InfPath("usb.inf")));
            EXPECT_TRUE(sim::FileExists(InfPath("usbser.inf")));
        });
}

}  // namespace
