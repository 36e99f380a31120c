// Zorvane64 run whole against the simulated layer: the driverless purge, the
// root re-enumeration, their messages and the exit code.
#include <gtest/gtest.h>

#include <devguid.h>

#include <functional>
#include <string>
#include <vector>

#include "winsim.h"

int ZorvaneMain(int argc, char **argv, char **envp);

namespace {

const char kPrefix[] = "..Zorvane64 - Omrak";
const char kTarget1[] = "USB\\Vid_1F3C&Pid_3A41";
const char kTarget2[] = "USB\\Vid_1F3C&Pid_3A42";
const char kStart[] = "Setup Device for 64bit OS\n";
const char kRefresh[] = "Refresh device node";
const char kRemoved[] = "SetupDiCallClassInstaller successful, line: 285\n";

std::string Join(const std::vector<std::string> &lines) {
    std::string out;
    for (const auto &l : lines) out += "  [" + l + "]\n";
    return out;
}

std::string Found(const std::string &firstEntry) { return "Found! [" + firstEntry + "]\n"; }

class ZorvaneTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }

    void TearDown() override {
        EXPECT_TRUE(sim::OpenResources().empty()) << "left open:\n" << Join(sim::OpenResources());
        EXPECT_TRUE(sim::M().problems.empty()) << "misuse:\n" << Join(sim::M().problems);
    }

    static int Run() { return ZorvaneMain(0, nullptr, nullptr); }
    static std::vector<std::string> Msgs() { return sim::Messages(kPrefix); }

    // A product node; driverless unless told otherwise.
    static sim::Device &Target(const std::string &id, std::initializer_list<std::string> hwids,
                               bool hasDriver = false, bool attached = true) {
        sim::Device &d = sim::AddDevice(id, GUID_DEVCLASS_USB, hwids, attached);
        d.hasDriverKey = hasDriver;
        return d;
    }

    static bool Removed(const std::string &id) {
        const sim::Device *d = sim::FindDevice(id);
        return d != nullptr && d->removed;
    }

    static int Reenumerations() {
        int n = 0;
        for (const auto &e : sim::M().events) n += e.kind == sim::Event::Reenumerated;
        return n;
    }
};

// ---- which devices the purge removes ----

TEST_F(ZorvaneTest, WithoutTargetDevicesWritesExactlyTwoMessages) {
    // Other products, with and without a driver, and a node with no hardware IDs.
    sim::AddDevice("USB\\VID_046D&PID_C52B\\1", GUID_DEVCLASS_USB, {"USB\\VID_046D&PID_C52B"});
    sim::AddDevice("ROOT\\PORTS\\0000", GUID_DEVCLASS_PORTS, {"USB\\Vid_1F3C&Pid_3A4"})
        .hasDriverKey = true;
    sim::AddDevice("ROOT\\UNKNOWN\\0000", GUID_DEVCLASS_MODEM, {});
    char arg0[] = "Zorvane64.exe", arg1[] = "--anything";
    char *argv[] = {arg0, arg1, nullptr};

    EXPECT_EQ(1, ZorvaneMain(2, argv, nullptr));
    EXPECT_EQ((std::vector<std::string>{kStart, kRefresh}), Msgs());
    EXPECT_EQ(4u, sim::M().debug.size()) << "each message after exactly one prefix line";
    EXPECT_EQ(0, sim::Calls("SetupDiCallClassInstaller"));
    EXPECT_EQ(1, Reenumerations());
}

TEST_F(ZorvaneTest, DriverlessTargetsOfAnyClassAttachedOrNotAreRemoved) {
    Target("USB\\VID_1F3C&PID_3A41\\A", {"USB\\VID_1F3C&PID_3A41&REV_0100"}, false, false);
    sim::AddDevice("USB\\VID_1F3C&PID_3A42&MI_01\\B", GUID_DEVCLASS_MODEM,
                   {"usb\\vid_1f3c&pid_3a42&mi_01"});
    sim::AddDevice("USB\\VID_1F3C&PID_3A42&MI_02\\C", GUID_DEVCLASS_PORTS,
                   {"USB\\Vid_1F3C&Pid_3A42&MI_02"}, false);

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found("USB\\VID_1F3C&PID_3A41&REV_0100"), kRemoved,
                                        Found("usb\\vid_1f3c&pid_3a42&mi_01"), kRemoved,
                                        Found("USB\\Vid_1F3C&Pid_3A42&MI_02"), kRemoved,
                                        kRefresh}),
              Msgs());
    EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A41\\A"));
    EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A42&MI_01\\B"));
    EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A42&MI_02\\C"));
}

TEST_F(ZorvaneTest, TargetWithDriverKeyIsNeitherTracedNorRemoved) {
    Target("USB\\WITHDRIVER\\1", {kTarget1}, true);
    // A driver key whose name fills the 512-byte buffer but for its NUL.
    Target("USB\\LONGKEY\\3", {kTarget1}, true).driverKeyName = std::string(511, 'k');
    Target("USB\\DRIVERLESS\\2", {kTarget2});

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget2), kRemoved, kRefresh}), Msgs());
    EXPECT_FALSE(Removed("USB\\WITHDRIVER\\1"));
    EXPECT_FALSE(Removed("USB\\LONGKEY\\3"));
    EXPECT_TRUE(Removed("USB\\DRIVERLESS\\2"));
    std::vector<std::string> driverReads;
    for (const auto &a : sim::Arguments("SetupDiGetDeviceRegistryPropertyA"))
        if (a.compare(0, 11, "property=9 ") == 0) driverReads.push_back(a);
    EXPECT_EQ(std::vector<std::string>(3, "property=9 size=512"), driverReads);
}

// Only "no such property" means driverless: any other failed read of the
// driver key leaves the device in place.
TEST_F(ZorvaneTest, DriverReadFailingOtherwiseLeavesDeviceAlone) {
    for (DWORD error : {(DWORD)ERROR_INSUFFICIENT_BUFFER, (DWORD)ERROR_NO_SUCH_DEVINST,
                        (DWORD)ERROR_ACCESS_DENIED}) {
        SCOPED_TRACE(error);
        sim::Reset();
        Target("USB\\ODDREAD\\1", {kTarget1}).driverReadError = error;
        Target("USB\\DRIVERLESS\\2", {kTarget1});

        EXPECT_EQ(1, Run());
        EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), kRemoved, kRefresh}), Msgs());
        EXPECT_FALSE(Removed("USB\\ODDREAD\\1"));
        EXPECT_TRUE(Removed("USB\\DRIVERLESS\\2"));
        EXPECT_TRUE(sim::OpenResources().empty()) << Join(sim::OpenResources());
    }
}

TEST_F(ZorvaneTest, DeviceMatchingInSeveralEntriesIsHandledOnce) {
    Target("USB\\BOTH\\1", {kTarget1, kTarget2, "USB\\VID_1F3C&PID_3A41&REV_0002"});

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), kRemoved, kRefresh}), Msgs());
    EXPECT_EQ(1, sim::Calls("SetupDiCallClassInstaller"));
}

TEST_F(ZorvaneTest, LaterMatchingEntryRemovesDeviceAndFirstEntryIsShown) {
    Target("USB\\COMPOSITE\\1", {"USB\\COMPOSITE&CLASS_02", "USB\\Class_02", kTarget2});

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found("USB\\COMPOSITE&CLASS_02"), kRemoved,
                                        kRefresh}),
              Msgs());
    EXPECT_TRUE(Removed("USB\\COMPOSITE\\1"));
}

// ---- failures inside the purge: the next device is still examined ----

TEST_F(ZorvaneTest, FailedRemovalIsTracedAndTheNextDeviceStillExamined) {
    Target("USB\\STUCK\\1", {kTarget1}).removeError = ERROR_ACCESS_DENIED;
    Target("USB\\NEXT\\2", {kTarget2});

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), "Remove failed!\n",
                                        Found(kTarget2), kRemoved, kRefresh}),
              Msgs());
    EXPECT_FALSE(Removed("USB\\STUCK\\1"));
    EXPECT_TRUE(Removed("USB\\NEXT\\2"));
}

TEST_F(ZorvaneTest, DriverKeyBufferFailureSkipsThatDeviceOnly) {
    Target("USB\\FIRST\\1", {kTarget1});
    Target("USB\\SECOND\\2", {kTarget1});
    // Each matching device takes one block for its hardware IDs, then one for
    // its driver key: the second allocation is the first device's driver key.
    sim::FailCall("LocalAlloc", 2);

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, "Malloc failed\n", Found(kTarget1), kRemoved,
                                        kRefresh}),
              Msgs());
    EXPECT_FALSE(Removed("USB\\FIRST\\1"));
    EXPECT_TRUE(Removed("USB\\SECOND\\2"));
    EXPECT_EQ(4, sim::Calls("LocalAlloc"));
}

// ---- the two stages are independent of each other ----

TEST_F(ZorvaneTest, NoDeviceSetStillReenumerates) {
    Target("USB\\DRIVERLESS\\1", {kTarget1});
    sim::FailCall("SetupDiGetClassDevsA");

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, kRefresh}), Msgs());
    EXPECT_FALSE(Removed("USB\\DRIVERLESS\\1"));
    EXPECT_EQ(1, Reenumerations());
}

TEST_F(ZorvaneTest, ScanEndedByUnreadableHardwareIdsStillReenumerates) {
    sim::AddDevice("USB\\BROKEN\\0", GUID_DEVCLASS_USB, {"USB\\ANY"}).hardwareIdReadError =
        ERROR_NO_SUCH_DEVINST;
    Target("USB\\DRIVERLESS\\1", {kTarget1});

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, kRefresh}), Msgs());
    EXPECT_FALSE(Removed("USB\\DRIVERLESS\\1"));
    EXPECT_EQ(1, Reenumerations());
}

TEST_F(ZorvaneTest, RootNotLocatedMeansNoReenumerationAndExitOne) {
    Target("USB\\DRIVERLESS\\1", {kTarget1});
    sim::M().locateResult = CR_FAILURE;  // what Wine's configuration manager answers

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), kRemoved,
                                        "Get device node failed, return"}),
              Msgs());
    EXPECT_TRUE(Removed("USB\\DRIVERLESS\\1"));
    ASSERT_EQ(1u, sim::M().cmCalls.size());
    EXPECT_EQ("CM_Locate_DevNode_ExA", sim::M().cmCalls[0].api);
    EXPECT_EQ(0, Reenumerations());
}

TEST_F(ZorvaneTest, ConfigurationManagerCallsTargetTheLocalRoot) {
    Target("USB\\DRIVERLESS\\1", {kTarget1});

    EXPECT_EQ(1, Run());
    const auto &calls = sim::M().cmCalls;
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("CM_Locate_DevNode_ExA", calls[0].api);
    EXPECT_TRUE(calls[0].deviceIdNull);
    EXPECT_EQ(0u, calls[0].flags);
    EXPECT_TRUE(calls[0].machineNull);
    EXPECT_EQ("CM_Reenumerate_DevNode_Ex", calls[1].api);
    EXPECT_EQ(1u, calls[1].devInst) << "the node that the locate call filled in";
    EXPECT_EQ(0u, calls[1].flags);
    EXPECT_TRUE(calls[1].machineNull);
    // The DLL search is restricted first of all, before the first trace; the
    // purge is over before the configuration manager is loaded and the tree
    // re-enumerated.
    ASSERT_FALSE(sim::M().events.empty());
    EXPECT_EQ(sim::Event::DllDirectoriesSet, sim::M().events[0].kind);
    EXPECT_EQ("0x800", sim::M().events[0].text) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
    std::vector<sim::Event::Kind> kinds;
    for (const auto &e : sim::M().events)
        if (e.kind != sim::Event::Debug) kinds.push_back(e.kind);
    EXPECT_EQ((std::vector<sim::Event::Kind>{sim::Event::DllDirectoriesSet,
                                             sim::Event::DeviceRemoved, sim::Event::LibraryLoaded,
                                             sim::Event::Reenumerated}),
              kinds);
}

// ---- the configuration manager's library: from the system folder only ----

// A cfgmgr32.dll planted beside the program is never loaded, on a Windows
// with the loader's search flags and on one without them (no
// SetDefaultDllDirectories, the flag refused), where the run goes on as usual.
TEST_F(ZorvaneTest, PlantedCfgMgrBesideTheProgramIsNeverLoaded) {
    for (bool searchFlags : {true, false}) {
        SCOPED_TRACE(searchFlags ? "with the search flags" : "without the search flags");
        sim::Reset();
        sim::M().loaderSearchFlags = searchFlags;
        sim::M().moduleFileName = "C:\\Users\\Public\\Downloads\\Zorvane64.exe";
        sim::AddDirectory("C:\\Users\\Public\\Downloads");
        sim::AddFile("C:\\Users\\Public\\Downloads\\cfgmgr32.dll", "MZ");

        EXPECT_EQ(1, Run());
        EXPECT_EQ((std::vector<std::string>{kStart, kRefresh}), Msgs());
        EXPECT_EQ(1, Reenumerations());
        std::vector<std::string> loaded;
        for (const auto &e : sim::M().events)
            if (e.kind == sim::Event::LibraryLoaded) loaded.push_back(e.text);
        EXPECT_EQ((std::vector<std::string>{"C:\\Windows\\system32\\cfgmgr32.dll"}), loaded);
        // Where the search flag is refused, the full path, whose own folder
        // is then searched first for what the library needs.
        std::vector<std::string> calls;
        for (const auto &l : sim::M().libraryLoads)
            calls.push_back(l.name + " " + std::to_string(l.flags));
        std::vector<std::string> want = {"cfgmgr32.dll 2048"};
        if (!searchFlags) want.push_back("C:\\Windows\\system32\\cfgmgr32.dll 8");
        EXPECT_EQ(want, calls) << "LOAD_LIBRARY_SEARCH_SYSTEM32 is 2048, LOAD_WITH_ALTERED_SEARCH_PATH 8";
        EXPECT_EQ(searchFlags, !sim::M().events.empty() &&
                                   sim::M().events[0].kind == sim::Event::DllDirectoriesSet);
        EXPECT_TRUE(sim::OpenResources().empty()) << Join(sim::OpenResources());
    }
}

// No library, or no locate function in it: the locate's failure, and nothing
// re-enumerated; the library is released all the same.
TEST_F(ZorvaneTest, CfgMgrOrItsLocateMissingIsTheLocateFailing) {
    struct Case {
        const char *what;
        std::function<void()> setUp;
    };
    const Case cases[] = {
        {"cfgmgr32.dll missing", [] { sim::M().systemDlls.erase("cfgmgr32.dll"); }},
        {"cfgmgr32.dll missing, no search flags",
         [] {
             sim::M().loaderSearchFlags = false;
             sim::M().systemDlls.erase("cfgmgr32.dll");
         }},
        // The first lookup is SetDefaultDllDirectories in kernel32.
        {"no CM_Locate_DevNode_ExA", [] { sim::FailCall("GetProcAddress", 2); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        Target("USB\\DRIVERLESS\\1", {kTarget1});
        c.setUp();

        EXPECT_EQ(1, Run());
        EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), kRemoved,
                                            "Get device node failed, return"}),
                  Msgs());
        EXPECT_TRUE(sim::M().cmCalls.empty());
        EXPECT_EQ(0, Reenumerations());
        EXPECT_TRUE(sim::OpenResources().empty()) << Join(sim::OpenResources());
    }
}

TEST_F(ZorvaneTest, MissingReenumerateIsTheReenumerationFailing) {
    sim::FailCall("GetProcAddress", 3);

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, kRefresh}), Msgs());
    ASSERT_EQ(1u, sim::M().cmCalls.size());
    EXPECT_EQ("CM_Locate_DevNode_ExA", sim::M().cmCalls[0].api);
    EXPECT_EQ(0, Reenumerations());
}

TEST_F(ZorvaneTest, FailedReenumerationIsNotTraced) {
    sim::M().reenumerateResult = CR_FAILURE;

    EXPECT_EQ(1, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, kRefresh}), Msgs());
}

// ---- the 128-byte trace buffer ----

TEST_F(ZorvaneTest, LongFirstEntryIsCutInsideTheTraceBuffer) {
    // "Found! [" + 117 characters + "]\n" is 127 characters: it just fits.
    std::string fits = std::string(kTarget1) + "&" + std::string(117 - 22, 'F');
    ASSERT_EQ(117u, fits.size());
    std::string longer = std::string(kTarget2) + "&" + std::string(300, 'L');

    Target("USB\\FITS\\1", {fits});
    Target("USB\\LONGER\\2", {longer, "USB\\other"});

    EXPECT_EQ(1, Run());
    auto msgs = Msgs();
    ASSERT_EQ(6u, msgs.size()) << Join(msgs);
    EXPECT_EQ(Found(fits), msgs[1]);
    EXPECT_EQ(127u, msgs[1].size());
    // The longer one is cut to 127 characters: its tail and the closing part go.
    EXPECT_EQ(127u, msgs[3].size());
    EXPECT_EQ(("Found! [" + longer).substr(0, 127), msgs[3]);
    EXPECT_EQ(kRemoved, msgs[4]);
    EXPECT_TRUE(Removed("USB\\LONGER\\2"));
}

}  // namespace
