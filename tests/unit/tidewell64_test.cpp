// Tidewell64, the uninstaller's 64-bit sibling, run whole against the
// simulated layer: which nodes it removes, which driver packages it takes
// out and in which order, its fallback deletion, its traces and exit code.
#include <gtest/gtest.h>

#include <devguid.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "winsim.h"

int Tidewell64Main(int argc, char **argv, char **envp);

namespace {

const char kPrefix[] = "..Tidewell64 - Omrak";
const char kTarget1[] = "USB\\Vid_1F3C&Pid_3A41";
const char kTarget2[] = "USB\\Vid_1F3C&Pid_3A42";
const char kInfDir[] = "C:\\Windows\\inf\\";
const char kStart[] = "Uninstall Device for 64bit OS\n";
const char kRemoved[] = "SetupDiCallClassInstaller successful\n";

std::string Join(const std::vector<std::string> &lines) {
    std::string out;
    for (const auto &l : lines) out += "  [" + l + "]\n";
    return out;
}

std::string Found(const std::string &firstEntry) { return "Found! [" + firstEntry + "]\n"; }
std::string InfPath(const std::string &name) { return "InfPath: [" + name + "]\n"; }
std::string Uninstalled(const std::string &name) {
    return "SetupUninstallOEMInfA successful: [" + name + "]\n";
}
std::string Inf(const std::string &name) { return kInfDir + name; }

class Tidewell64Test : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }

    void TearDown() override {
        EXPECT_TRUE(sim::OpenResources().empty()) << "left open:\n" << Join(sim::OpenResources());
        EXPECT_TRUE(sim::M().problems.empty()) << "misuse:\n" << Join(sim::M().problems);
    }

    static void Fresh() {
        sim::Reset();
        sim::AddDirectory("C:\\Windows");
        sim::AddDirectory("C:\\Windows\\inf");
        // Windows' own INF files are always there.
        sim::AddFile(Inf("machine.inf"), "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    }

    static int Run() { return Tidewell64Main(0, nullptr, nullptr); }
    static std::vector<std::string> Msgs() { return sim::Messages(kPrefix); }

    // A node whose driver was installed from pInfName, with that INF and its
    // .pnf in the inf folder when the name is a plain file name.
    static sim::Device &Node(const std::string &id, const GUID &cls,
                             std::initializer_list<std::string> hwids, const std::string &infName,
                             bool attached = true) {
        if (!infName.empty() && infName.find('\\') == std::string::npos) {
            sim::AddFile(Inf(infName), "[Version]\n");
            std::string stem = infName.substr(0, infName.rfind('.'));
            sim::AddFile(Inf(stem + ".pnf"));
            sim::M().driverStore.insert(infName);
        }
        sim::Device &d = sim::AddDevice(id, cls, hwids, attached);
        d.hasDriverKey = true;
        d.driverKey["InfPath"] = sim::Sz(infName);
        return d;
    }

    static bool Removed(const std::string &id) {
        const sim::Device *d = sim::FindDevice(id);
        return d != nullptr && d->removed;
    }

    // Device and package events, "removed:<id>", "uninstalled:<inf>", "deleted:<path>".
    static std::vector<std::string> Effects() {
        std::vector<std::string> out;
        for (const auto &e : sim::M().events) {
            if (e.kind == sim::Event::DeviceRemoved) out.push_back("removed:" + e.text);
            if (e.kind == sim::Event::PackageUninstalled) out.push_back("uninstalled:" + e.text);
            if (e.kind == sim::Event::FileDeleted) out.push_back("deleted:" + e.text);
        }
        return out;
    }
};

// ---- the whole run ----

TEST_F(Tidewell64Test, RemovesProductNodesAndTheirPackagesOnly) {
    Node("USB\\VID_1F3C&PID_3A41\\A", GUID_DEVCLASS_USB, {"USB\\VID_1F3C&PID_3A41&REV_0100"},
         "oem5.inf");
    Node("USB\\VID_1F3C&PID_3A42&MI_01\\B", GUID_DEVCLASS_MODEM, {"Other\\Thing", kTarget2},
         "OEM12.INF", false);
    Node("USB\\VID_046D&PID_C52B\\C", GUID_DEVCLASS_USB, {"USB\\VID_046D&PID_C52B"}, "oem7.inf");
    // The product's INF files that no node names: a published one goes with
    // its package after the nodes; one under its vendor's name is left to
    // the uninstaller's sweep.
    const std::string models = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                               "Omrak=Models\r\n[Models]\r\nModem=M,USB\\VID_1F3C&PID_3A42&MI_01\r\n";
    sim::AddFile(Inf("oem9.inf"), models, FILE_ATTRIBUTE_READONLY);
    sim::AddFile(Inf("oem9.pnf"));
    sim::M().driverStore.insert("oem9.inf");
    sim::AddFile(Inf("omrakmdm.inf"), models);
    char arg0[] = "Tidewell64.exe", arg1[] = "/quiet";
    char *argv[] = {arg0, arg1, nullptr};

    EXPECT_EQ(0, Tidewell64Main(2, argv, nullptr));
    // Before anything else, later DLL loads are kept to the system folder.
    ASSERT_FALSE(sim::M().events.empty());
    EXPECT_EQ(sim::Event::DllDirectoriesSet, sim::M().events[0].kind);
    EXPECT_EQ("0x800", sim::M().events[0].text);
    EXPECT_EQ((std::vector<std::string>{kStart, Found("USB\\VID_1F3C&PID_3A41&REV_0100"),
                                        InfPath("oem5.inf"), Uninstalled("oem5.inf"), kRemoved,
                                        Found("Other\\Thing"), InfPath("OEM12.INF"),
                                        Uninstalled("OEM12.INF"), kRemoved,
                                        Uninstalled("oem9.inf")}),
              Msgs());
    // Read, uninstall, remove: per node, the package goes before its node
    // (its .inf and .pnf with it), so that a run ended between the two
    // leaves a node naming it for the next run.
    EXPECT_EQ((std::vector<std::string>{"deleted:C:\\Windows\\inf\\oem5.inf",
                                        "deleted:C:\\Windows\\inf\\oem5.pnf", "uninstalled:oem5.inf",
                                        "removed:USB\\VID_1F3C&PID_3A41\\A",
                                        "deleted:C:\\Windows\\inf\\OEM12.INF",
                                        "deleted:C:\\Windows\\inf\\OEM12.pnf", "uninstalled:OEM12.INF",
                                        "removed:USB\\VID_1F3C&PID_3A42&MI_01\\B",
                                        "deleted:C:\\Windows\\inf\\oem9.inf",
                                        "deleted:C:\\Windows\\inf\\oem9.pnf", "uninstalled:oem9.inf"}),
              Effects());
    EXPECT_FALSE(sim::FileExists(Inf("oem5.inf")));
    EXPECT_FALSE(sim::FileExists(Inf("oem5.pnf")));
    EXPECT_FALSE(sim::FileExists(Inf("OEM12.INF")));
    EXPECT_FALSE(Removed("USB\\VID_046D&PID_C52B\\C"));
    EXPECT_TRUE(sim::FileExists(Inf("oem7.inf")));
    EXPECT_TRUE(sim::FileExists(Inf("omrakmdm.inf")));
    // The uninstaller did the port check before: no port is opened, only the
    // log and, for reading, INF files.
    for (const auto &open : sim::Arguments("CreateFileA"))
        EXPECT_TRUE(open == "C:\\Windows\\Omrak.log access=0x10084 share=7" ||
                    (open.compare(0, 15, "C:\\Windows\\inf\\") == 0 &&
                     open.find(" access=0x80000000 ") != std::string::npos))
            << open;
}

TEST_F(Tidewell64Test, WithoutProductNodesOnlyTheFirstMessage) {
    Node("USB\\VID_046D&PID_C52B\\C", GUID_DEVCLASS_USB, {"USB\\VID_046D&PID_C52B"}, "oem7.inf");

    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart}), Msgs());
    EXPECT_TRUE(Effects().empty());
}

TEST_F(Tidewell64Test, NoDeviceSetEndsQuietlyWithZero) {
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    sim::FailCall("SetupDiGetClassDevsA", 0);

    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart}), Msgs());
    EXPECT_TRUE(sim::FileExists(Inf("oem5.inf")));
}

TEST_F(Tidewell64Test, RemovalRunsQuietly) {
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");

    EXPECT_EQ(0, Run());
    const sim::Device *d = sim::FindDevice("USB\\A");
    ASSERT_TRUE(d && d->removed);
    EXPECT_NE(0u, d->removedWithFlags & DI_QUIETINSTALL);
}

// ---- which INF names are taken out ----

TEST_F(Tidewell64Test, InboxAndNonOemInfNamesAreNeverTouched) {
    struct Case {
        const char *infName;
        const char *message;
    } cases[] = {
        {"usb.inf", "Find composite device\n"},
        {"USBSTOR.INF", "Find composite device\n"},
        {"xusb.inf22", "Find composite device\n"},
        {"mdmgen.inf", "Not an OEM INF: [mdmgen.inf]\n"},
        {"oem.inf", "Not an OEM INF: [oem.inf]\n"},
        {"oem5.inf.bak", "Not an OEM INF: [oem5.inf.bak]\n"},
        {"..\\system32\\oem5.inf", "Not an OEM INF: [..\\system32\\oem5.inf]\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.infName);
        Fresh();
        sim::AddFile(Inf(c.infName), "[Version]\n");
        Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, c.infName);

        EXPECT_EQ(0, Run());
        EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), c.message, kRemoved}), Msgs());
        EXPECT_TRUE(Removed("USB\\A")) << "the node goes all the same";
        EXPECT_TRUE(sim::FileExists(Inf(c.infName)));
        EXPECT_EQ(0, sim::Calls("SetupUninstallOEMInfA"));
        EXPECT_EQ(0, sim::Calls("DeleteFileA"));
        EXPECT_TRUE(sim::OpenResources().empty()) << Join(sim::OpenResources());
    }
}

TEST_F(Tidewell64Test, UnreadableInfPathStillRemovesTheNode) {
    sim::Device &noKey = Node("USB\\NOKEY", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    noKey.hasDriverKey = false;
    Node("USB\\NOVALUE", GUID_DEVCLASS_USB, {kTarget2}, "oem6.inf").driverKey.clear();

    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1),
                                        "Open Registry failed, Error code: 0xe0000204\n", kRemoved,
                                        Found(kTarget2), "RegQueryValueEx for 'InfPath' failed!\n",
                                        "Error code: 0x2\n", kRemoved}),
              Msgs());
    EXPECT_TRUE(Removed("USB\\NOKEY"));
    EXPECT_TRUE(Removed("USB\\NOVALUE"));
    EXPECT_EQ(0, sim::Calls("SetupUninstallOEMInfA"));
    EXPECT_TRUE(sim::FileExists(Inf("oem5.inf")));
}

// ---- when the platform refuses ----

// A package the store refuses to give up while its node uses it (one that
// runs from the store, or any refusal) is tried once more when the node is
// gone. A published INF is deleted by hand only where the store holds no
// package of it; a package still refused stays whole, for a later run.
TEST_F(Tidewell64Test, RefusedPackageIsTriedAgainOnceItsNodeIsGone) {
    struct Case {
        const char *what;
        std::function<void()> setUp;
        std::vector<std::string> messages;  // after the InfPath line
        std::vector<std::string> effects;
    } cases[] = {
        {"runs from the store", [] { sim::M().dirId13Packages.insert("oem5.inf"); },
         {"SetupUninstallOEMInfA failed, Error code: 0xe000023d\n", kRemoved, Uninstalled("oem5.inf")},
         {"removed:USB\\A", "deleted:C:\\Windows\\inf\\oem5.inf",
          "deleted:C:\\Windows\\inf\\oem5.pnf", "uninstalled:oem5.inf"}},
        {"on ARM64, which ignores the force flag", [] { sim::M().nativeMachine = IMAGE_FILE_MACHINE_ARM64; },
         {"SetupUninstallOEMInfA failed, Error code: 0xe000023d\n", kRemoved, Uninstalled("oem5.inf")},
         {"removed:USB\\A", "deleted:C:\\Windows\\inf\\oem5.inf",
          "deleted:C:\\Windows\\inf\\oem5.pnf", "uninstalled:oem5.inf"}},
        {"refused twice", [] { sim::FailCall("SetupUninstallOEMInfA", 0, ERROR_ACCESS_DENIED); },
         {"SetupUninstallOEMInfA failed, Error code: 0x5\n", kRemoved,
          "Driver package kept: [oem5.inf], Error code: 0x5\n"},
         {"removed:USB\\A"}},
        {"not an installed OEM INF", [] { sim::M().driverStore.clear(); },
         {"INF file deleted: [oem5.inf]\n", kRemoved},
         {"deleted:C:\\Windows\\inf\\oem5.inf", "removed:USB\\A"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fresh();
        Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
        sim::AddFile(Inf("oem5.inf"), "[Version]\n", FILE_ATTRIBUTE_READONLY);
        c.setUp();

        EXPECT_EQ(0, Run());
        std::vector<std::string> want = {kStart, Found(kTarget1), InfPath("oem5.inf")};
        want.insert(want.end(), c.messages.begin(), c.messages.end());
        EXPECT_EQ(want, Msgs());
        EXPECT_EQ(c.effects, Effects());
        // Never a package whose published INF is gone.
        EXPECT_TRUE(!sim::M().driverStore.count("oem5.inf") || sim::FileExists(Inf("oem5.inf")));
    }
}

TEST_F(Tidewell64Test, TwoNodesOfOnePackage) {
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    Node("USB\\B", GUID_DEVCLASS_PORTS, {kTarget2}, "oem5.inf");

    EXPECT_EQ(0, Run());
    // The second finds the package gone: nothing left to try.
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), InfPath("oem5.inf"),
                                        Uninstalled("oem5.inf"), kRemoved, Found(kTarget2),
                                        InfPath("oem5.inf"),
                                        "SetupUninstallOEMInfA failed, Error code: 0x2\n", kRemoved}),
              Msgs());
    EXPECT_TRUE(Removed("USB\\A"));
    EXPECT_TRUE(Removed("USB\\B"));
}

TEST_F(Tidewell64Test, FailedRemovalIsTracedAndThePackageStillGoes) {
    Node("USB\\STUCK", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf").removeError =
        ERROR_ACCESS_DENIED;
    Node("USB\\NEXT", GUID_DEVCLASS_USB, {kTarget2}, "oem6.inf");

    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), InfPath("oem5.inf"),
                                        Uninstalled("oem5.inf"), "Remove failed! Error code: 0x5\n",
                                        Found(kTarget2), InfPath("oem6.inf"),
                                        Uninstalled("oem6.inf"), kRemoved}),
              Msgs());
    EXPECT_FALSE(Removed("USB\\STUCK"));
    EXPECT_TRUE(Removed("USB\\NEXT"));
}

TEST_F(Tidewell64Test, InstallParameterFailuresAreTracedAndTheRunGoesOn) {
    // Before the removal: the node is removed all the same, without the quiet flag.
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    sim::FailCall("SetupDiGetDeviceInstallParamsA", 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), InfPath("oem5.inf"),
                                        Uninstalled("oem5.inf"),
                                        "SetupDiGetDeviceInstallParamsA failed, Error code: 0x57\n",
                                        kRemoved}),
              Msgs());
    EXPECT_EQ(0, sim::Calls("SetupDiSetDeviceInstallParamsA"));
    EXPECT_EQ(0u, sim::FindDevice("USB\\A")->removedWithFlags & DI_QUIETINSTALL);

    Fresh();
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    sim::FailCall("SetupDiSetDeviceInstallParamsA", 1, ERROR_INVALID_FLAGS);
    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), InfPath("oem5.inf"),
                                        Uninstalled("oem5.inf"),
                                        "SetupDiSetDeviceInstallParamsA failed, Error code: 0x3ec\n",
                                        kRemoved}),
              Msgs());

    // After the removal (Wine fails this read for a removed node): no reboot claimed.
    Fresh();
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf").removeNeedsFlags = DI_NEEDREBOOT;
    sim::FailCall("SetupDiGetDeviceInstallParamsA", 2, ERROR_NO_SUCH_DEVINST);
    EXPECT_EQ(0, Run());
    EXPECT_EQ((std::vector<std::string>{kStart, Found(kTarget1), InfPath("oem5.inf"),
                                        Uninstalled("oem5.inf"), kRemoved,
                                        "SetupDiGetDeviceInstallParamsA failed, Error code: 0xe000020b\n"}),
              Msgs());
}

// ---- the reboot request ----

TEST_F(Tidewell64Test, RebootNeededIsTracedOnceAtTheEnd) {
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf").removeNeedsFlags = DI_NEEDREBOOT;
    Node("USB\\B", GUID_DEVCLASS_USB, {kTarget1}, "oem6.inf").removeNeedsFlags = DI_NEEDRESTART;
    Node("USB\\C", GUID_DEVCLASS_USB, {kTarget1}, "oem7.inf");

    // The uninstaller reads it from the exit code.
    EXPECT_EQ((int)ERROR_SUCCESS_REBOOT_REQUIRED, Run());
    auto msgs = Msgs();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ("Reboot needed\n", msgs.back());
    EXPECT_EQ(1, std::count(msgs.begin(), msgs.end(), std::string("Reboot needed\n")));

    // A restart asked for by one node only, not the last one, still counts.
    Fresh();
    Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf").removeNeedsFlags = DI_NEEDRESTART;
    Node("USB\\B", GUID_DEVCLASS_USB, {kTarget1}, "oem6.inf");
    EXPECT_EQ((int)ERROR_SUCCESS_REBOOT_REQUIRED, Run());
    EXPECT_EQ("Reboot needed\n", Msgs().back());

    // A node whose removal failed asks for nothing, whatever it would have.
    Fresh();
    sim::Device &stuck = Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf");
    stuck.removeNeedsFlags = DI_NEEDREBOOT;
    stuck.removeError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(0, Run());
    msgs = Msgs();
    EXPECT_EQ(0, std::count(msgs.begin(), msgs.end(), std::string("Reboot needed\n")));
}

// ---- any single failure: exit code 0 (3010 with the restart asked for), nothing left open ----

TEST_F(Tidewell64Test, EveryFailingCallLeavesNothingOpen) {
    auto setUp = [] {
        Fresh();
        Node("USB\\A", GUID_DEVCLASS_USB, {kTarget1}, "oem5.inf").removeNeedsFlags = DI_NEEDREBOOT;
        Node("USB\\B", GUID_DEVCLASS_MODEM, {kTarget2}, "usb.inf");
        Node("USB\\C", GUID_DEVCLASS_PORTS, {"USB\\VID_046D&PID_C52B"}, "oem7.inf");
    };
    setUp();
    ASSERT_EQ((int)ERROR_SUCCESS_REBOOT_REQUIRED, Run());
    const int total = sim::FallibleCalls();
    ASSERT_GT(total, 10);
    for (int n = 1; n <= total; ++n) {
        setUp();
        sim::FailFallibleCall(n);
        SCOPED_TRACE("failing call " + std::to_string(n));
        const int code = Run();
        const auto msgs = Msgs();
        const bool reboot = std::count(msgs.begin(), msgs.end(), std::string("Reboot needed\n")) != 0;
        EXPECT_EQ(reboot ? (int)ERROR_SUCCESS_REBOOT_REQUIRED : 0, code);
        EXPECT_TRUE(sim::OpenResources().empty()) << Join(sim::OpenResources());
        EXPECT_TRUE(sim::M().problems.empty()) << Join(sim::M().problems);
        EXPECT_FALSE(Removed("USB\\C"));
        EXPECT_TRUE(sim::FileExists(Inf("oem7.inf")));
    }
}

}  // namespace
