// The uninstaller's stage flow run as a whole program: refusal, the sweep
// decision, the 64-bit hand-off and its helpers.
#include <string.h>

#include <algorithm>
#include <sstream>
#include <functional>

#include "tidewell_fixture.h"

int Tidewell64Main(int argc, char **argv, char **envp);  // the real sibling
int DeployMain(int argc, char **argv, char **envp);      // TidewellDeploy, which starts us

namespace {

using namespace tw;

const char kFolder[] = "C:\\Program Files\\Omrak";
const char kSibling[] = "C:\\Program Files\\Omrak\\Tidewell64.exe";
const char kSelf[] = "C:\\Program Files\\Omrak\\Tidewell.exe";
const sim::Signature kPublisherA{"CN=Publisher A", "CN=Code Signing CA"};

// ---- refusal by the port-busy check ----

class Refusal : public TidewellTest {
protected:
    void SetUp() override {
        TidewellTest::SetUp();
        // A target device that would be removed if the run went on.
        AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem3.inf");
    }

    // One refusal: the message box, or (box false) its text as the last
    // trace line where nobody could see a box.
    void ExpectRefusedOnce(bool box = true) {
        if (box) {
            ASSERT_EQ(1u, sim::M().messageBoxes.size());
            const auto &b = sim::M().messageBoxes[0];
            EXPECT_TRUE(b.ownerNull);
            EXPECT_EQ("Please close all program", b.text);
            EXPECT_EQ("Uninstall Drv", b.caption);
            EXPECT_EQ((UINT)MB_OK, b.type);
            EXPECT_EQ(sim::Event::MessageBox, sim::M().events.back().kind);
        } else {
            EXPECT_TRUE(sim::M().messageBoxes.empty());
            auto msgs = Msgs();
            ASSERT_FALSE(msgs.empty());
            EXPECT_EQ("Please close all program\n", msgs.back());
            EXPECT_EQ(1, std::count(msgs.begin(), msgs.end(), msgs.back()));
        }
        // Nothing after the refusal: no removal, no deletion, no sweep.
        EXPECT_TRUE(EventsOf(sim::Event::DeviceRemoved).empty());
        EXPECT_TRUE(EventsOf(sim::Event::FileDeleted).empty());
        EXPECT_TRUE(sim::FileExists(InfPath("oem3.inf")));
        EXPECT_FALSE(HasMsg("Need search..\n"));
        EXPECT_EQ(0, sim::Calls("GetModuleFileNameA"));
        EXPECT_EQ("refused", RecordValue("Result"));
        EXPECT_EQ(0u, RecordValue("Left").find("device USB\\VID_1F3C&PID_3A41\\1"));
    }
};

TEST_F(Refusal, BusyModemPortShowsTheBoxAndSkipsThePortsPass) {
    AddPortDevice("MDM\\1", GUID_DEVCLASS_MODEM, {kTarget1}, "AttachedTo", "COM7");
    AddPortDevice("PRT\\1", GUID_DEVCLASS_PORTS, {kTarget2}, "PortName", "COM8");
    AddPort("COM7", true);
    AddPort("COM8", true);

    EXPECT_EQ(0, RunTidewell());
    ExpectRefusedOnce();
    // The Modem pass alone, then the record's look at the nodes.
    EXPECT_EQ(2, sim::Calls("SetupDiGetClassDevsA"));
    EXPECT_FALSE(HasMsg("Port Name: \\\\.\\COM8"));
    EXPECT_EQ("Uninstall Device\n", Msgs().front());
}

TEST_F(Refusal, BusyPortsPortAfterAFreeModemShowsTheBoxOnce) {
    AddPortDevice("MDM\\1", GUID_DEVCLASS_MODEM, {kTarget1}, "AttachedTo", "COM7");
    AddPortDevice("PRT\\1", GUID_DEVCLASS_PORTS, {kTarget2}, "PortName", "COM8");
    AddPort("COM7", false);
    AddPort("COM8", true);

    EXPECT_EQ(0, RunTidewell());
    ExpectRefusedOnce();
    EXPECT_EQ(3, sim::Calls("SetupDiGetClassDevsA"));  // and the record's look at the nodes
    EXPECT_EQ((std::vector<std::string>{"Uninstall Device\n", "Port Name: \\\\.\\COM7",
                                        "Port Name: \\\\.\\COM8",
                                        "Open port failed, error code: 0x5, line: 366\n"}),
              Msgs());
}

// Where the refusal's box would be seen by nobody, its text goes to the trace.
struct Display {
    const char *what;
    void (*setUp)();
    bool box;
};

void PrintTo(const Display &d, std::ostream *os) { *os << d.what; }

class RefusalDisplay : public Refusal, public ::testing::WithParamInterface<Display> {};

TEST_P(RefusalDisplay, BoxOnlyWhereSomeoneCanSeeIt) {
    AddPortDevice("MDM\\1", GUID_DEVCLASS_MODEM, {kTarget1}, "AttachedTo", "COM7");
    AddPort("COM7", true);
    GetParam().setUp();
    EXPECT_EQ(0, RunTidewell());
    ExpectRefusedOnce(GetParam().box);
}

INSTANTIATE_TEST_SUITE_P(
    Stations, RefusalDisplay,
    ::testing::Values(
        Display{"an interactive user's session", [] {}, true},
        Display{"a station without visible display surfaces",
                [] { sim::M().stationVisible = false; }, false},
        Display{"flags that cannot be read", [] {
                    sim::M().stationVisible = false;
                    sim::M().stationFlagsFail = true;
                }, true},
        Display{"no station handle", [] {
                    sim::M().stationVisible = false;
                    sim::FailCall("GetProcessWindowStation");
                }, true},
        Display{"session 0 while the console shows session 1",
                [] { sim::M().sessionId = 0; }, false},
        Display{"session 0 while the console is switching", [] {
                    sim::M().sessionId = 0;
                    sim::M().consoleSessionId = 0xFFFFFFFF;
                }, false},
        Display{"session 0 as the console's own (Windows XP)", [] {
                    sim::M().sessionId = 0;
                    sim::M().consoleSessionId = 0;
                }, true},
        Display{"session 0 on a Windows without the session functions", [] {
                    sim::M().sessionId = 0;
                    sim::M().noSessionFunctions = true;
                }, true},
        Display{"session 0 that cannot be read", [] {
                    sim::M().sessionId = 0;
                    sim::FailCall("ProcessIdToSessionId", 0);
                }, true}));

TEST_F(Refusal, FreePortsLetTheRunGoOnWithoutABox) {
    AddPortDevice("MDM\\1", GUID_DEVCLASS_MODEM, {kTarget1}, "AttachedTo", "COM7");
    AddPortDevice("PRT\\1", GUID_DEVCLASS_PORTS, {kTarget2}, "PortName", "COM8");
    AddPort("COM7", false);
    AddPort("COM8", false);

    EXPECT_EQ(0, RunTidewell());
    EXPECT_TRUE(sim::M().messageBoxes.empty());
    EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A41\\1"));
    EXPECT_EQ(0, sim::M().ports["COM7"].openByUs);
    EXPECT_EQ(0, sim::M().ports["COM8"].openByUs);
}

// ---- the sweep decision on 32-bit Windows ----

class SweepDecision : public TidewellTest, public ::testing::WithParamInterface<int> {};

// Whatever the removal took, two deletions included: a run cut short and
// started again may take two and still leave the product's INF files for
// the sweep.
TEST_P(SweepDecision, SweepRunsWhateverTheRemovalTook) {
    const int deleted = GetParam();
    for (int i = 0; i < deleted; ++i) {
        std::string n = std::to_string(i + 1);
        AddInstalled("USB\\VID_1F3C&PID_3A41\\" + n, GUID_DEVCLASS_USB, {kTarget1},
                     "oem" + n + ".inf");
    }
    // A target node whose INF is already gone.
    AddInstalled("USB\\VID_1F3C&PID_3A42\\9", GUID_DEVCLASS_USB, {kTarget2}, "oem99.inf", true,
                 false);

    EXPECT_EQ(0, RunTidewell());
    EXPECT_EQ((size_t)deleted, EventsOf(sim::Event::FileDeleted).size());
    EXPECT_TRUE(HasMsg("Need search..\n"));
    EXPECT_FALSE(HasMsg("Uninstall for 64bit OS, line: 1123"));
    EXPECT_TRUE(sim::M().processStarts.empty());
    // The sweep comes after the removal stage.
    auto need = EventsOf(sim::Event::Debug, "Need search..\n");
    auto removed = EventsOf(sim::Event::DeviceRemoved);
    ASSERT_EQ(1u, need.size());
    ASSERT_FALSE(removed.empty());
    EXPECT_LT(removed.back(), need[0]);
}

INSTANTIATE_TEST_SUITE_P(Counter, SweepDecision, ::testing::Values(0, 1, 2, 3));

TEST_F(TidewellTest, CommandLineArgumentsChangeNothing) {
    AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    RunTidewell();
    auto plain = Msgs();
    auto removed = EventsOf(sim::Event::DeviceRemoved);
    ExpectNothingOpen();

    SetUp();
    AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    char a0[] = "Tidewell.exe", a1[] = "/s", a2[] = "--keep";
    char *argv[] = {a0, a1, a2, nullptr};
    EXPECT_EQ(0, TidewellMain(3, argv, nullptr));
    EXPECT_EQ(plain, Msgs());
    EXPECT_EQ(removed, EventsOf(sim::Event::DeviceRemoved));
}

// Store INFs are judged by the wider rule: the copy of another model's
// published INF is not left, the copy of an INF whose decorated section
// names the product (which the sweep's rule does not read), with no
// published INF of its bytes, is.
TEST_F(TidewellTest, RecordJudgesStoreCopiesOfInfFolderFilesByTheWiderRule) {
    auto inf = [](const char *id) {
        return std::string("[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                           "M=M,NTamd64\r\n[M.NTamd64]\r\nD=I,") + id + "\r\n";
    };
    const std::string repository = "C:\\Windows\\System32\\DriverStore\\FileRepository";
    for (const char *dir : {"C:\\Windows\\System32", "C:\\Windows\\System32\\DriverStore"})
        sim::AddDirectory(dir);
    sim::AddDirectory(repository);
    sim::AddFile(InfPath("oem3.inf"), inf("USB\\Vid_1F3C&Pid_3A43"));
    sim::AddFile(InfPath("omrak.inf"), inf(kTarget1));
    for (const char *name : {"oem3.inf", "omrak.inf"}) {
        std::string folder = repository + "\\" + name + "_amd64_1";
        sim::AddDirectory(folder);
        sim::AddFile(folder + "\\" + name, sim::M().files[InfPath(name)].content);
    }
    RecordRun(&run, FALSE);
    EXPECT_EQ("left", RecordValue("Result"));
    EXPECT_EQ(repository + "\\omrak.inf_amd64_1\\omrak.inf (no published INF)", RecordValue("Left"));
}

// Before its first trace the uninstaller keeps every later DLL load
// (SetupAPI's class installers among them) to the system folder.
TEST_F(TidewellTest, DllSearchIsRestrictedFirstOfAll) {
    AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
    EXPECT_EQ(0, RunTidewell());
    ASSERT_FALSE(sim::M().events.empty());
    EXPECT_EQ(sim::Event::DllDirectoriesSet, sim::M().events[0].kind);
    EXPECT_EQ("0x800", sim::M().events[0].text) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
}

// ---- telling 64-bit Windows apart ----

class Wow64Detection : public TidewellTest {
protected:
    void RunAndExpect32BitPath() {
        AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");
        EXPECT_EQ(0, RunTidewell());
        EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A41\\1"));
        EXPECT_FALSE(HasMsg("Uninstall for 64bit OS, line: 1123"));
        EXPECT_TRUE(sim::M().processStarts.empty());
    }
};

TEST_F(Wow64Detection, MissingIsWow64ProcessTakesThe32BitPath) {
    sim::M().wow64 = sim::Wow64Absent;
    RunAndExpect32BitPath();
}

TEST_F(Wow64Detection, FailingIsWow64ProcessTakesThe32BitPath) {
    sim::M().wow64 = sim::Wow64Fails;
    RunAndExpect32BitPath();
}

// IsWow64Process answers as documented for each machine (FALSE to an x86
// process on ARM64); IsWow64Process2 decides where Windows has it and it
// answers, IsWow64Process elsewhere.
TEST_F(Wow64Detection, AnswersForEachMachine) {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    struct Row {
        WORD machine;
        sim::Wow64Mode wow64;
        std::function<void()> isWow64Process2;  // missing or failing
        BOOL isWow64Process, isWow64;
    } rows[] = {
        {IMAGE_FILE_MACHINE_AMD64, sim::Wow64True, nullptr, TRUE, TRUE},
        {IMAGE_FILE_MACHINE_AMD64, sim::Wow64True, [] { sim::M().noIsWow64Process2 = true; }, TRUE, TRUE},
        {IMAGE_FILE_MACHINE_AMD64, sim::Wow64True, [] { sim::FailCall("IsWow64Process2", 0); }, TRUE, TRUE},
        {IMAGE_FILE_MACHINE_AMD64, sim::Wow64False, nullptr, FALSE, FALSE},  // a 64-bit process
        {IMAGE_FILE_MACHINE_I386, sim::Wow64False, nullptr, FALSE, FALSE},
        {IMAGE_FILE_MACHINE_ARM64, sim::Wow64True, nullptr, FALSE, TRUE},
        {IMAGE_FILE_MACHINE_ARM64, sim::Wow64True, [] { sim::FailCall("IsWow64Process2", 0); }, FALSE, FALSE},
    };
    for (const Row &r : rows) {
        SetUp();
        sim::M().nativeMachine = r.machine;
        sim::M().wow64 = r.wow64;
        if (r.isWow64Process2) r.isWow64Process2();
        BOOL answer = -1;
        ((IsWow64ProcessFn)GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process"))(GetCurrentProcess(), &answer);
        EXPECT_EQ(r.isWow64Process, answer) << "machine 0x" << std::hex << r.machine;
        EXPECT_EQ(r.isWow64, IsWow64()) << "machine 0x" << std::hex << r.machine;
    }
    EXPECT_TRUE(sim::M().debug.empty());
}

// ---- the 64-bit hand-off ----

class HandOff : public TidewellTest {
protected:
    void SetUp() override {
        TidewellTest::SetUp();
        sim::M().wow64 = sim::Wow64True;
    }

    // The sibling in our folder; its run records what had happened by then.
    void InstallSibling(const std::string &path = kSibling) {
        sim::AddFile(path, "MZ");
        sim::M().programs[path] = [this] {
            sweepCallsWhileSiblingRan = sim::Calls("FindFirstFileA") +
                                        sim::Calls("GetWindowsDirectoryA");
            siblingRuns++;
        };
    }

    // Our file (signed so) and the sibling, signed by publisher A.
    void InstallSigned(const sim::Signature &own) {
        sim::AddDirectory("C:\\Program Files");
        sim::AddDirectory(kFolder);
        InstallSibling();
        sim::AddFile(kSelf, "MZ").signature = own;
        sim::M().files[kSibling].signature = kPublisherA;
    }

    int siblingRuns = 0;
    int sweepCallsWhileSiblingRan = -1;
};

TEST_F(HandOff, SweepAlwaysRunsAfterTheSiblingHasEnded) {
    InstallSibling();
    AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem1.inf");

    EXPECT_EQ(0, RunTidewell());
    EXPECT_EQ(1, siblingRuns);
    EXPECT_EQ(0, sweepCallsWhileSiblingRan);

    // The device removal is the sibling's: nothing removed in this process.
    EXPECT_FALSE(Removed("USB\\VID_1F3C&PID_3A41\\1"));
    EXPECT_TRUE(sim::FileExists(InfPath("oem1.inf")));
    // The two port checks, the reading of which packages other devices use
    // and the record's look at the nodes.
    EXPECT_EQ(4, sim::Calls("SetupDiGetClassDevsA"));

    auto waitEnd = EventsOf(sim::Event::WaitEnd, kSibling);
    auto ended = EventsOf(sim::Event::ProcessEnded, kSibling);
    auto need = EventsOf(sim::Event::Debug, "Need search..\n");
    ASSERT_EQ(1u, waitEnd.size());
    ASSERT_EQ(1u, ended.size());
    ASSERT_EQ(1u, need.size());
    EXPECT_LT(ended[0], waitEnd[0]);
    EXPECT_LT(waitEnd[0], need[0]);

    auto msgs = Msgs();
    ASSERT_GE(msgs.size(), 8u) << Join(msgs);
    EXPECT_EQ((std::vector<std::string>{
                  "Uninstall Device\n",
                  "Uninstall for 64bit OS, line: 1123",
                  "Module path: [C:\\Program Files\\Omrak], line: 1126",
                  "Halvex64 full name: [C:\\Program Files\\Omrak\\Tidewell64.exe], line: 1128",
                  "bare:---OpenAP---",
                  "pModule: C:\\Program Files\\Omrak\\Tidewell64.exe\n",
                  "pPath: (null)\n",
                  "Need search..\n",
              }),
              std::vector<std::string>(msgs.begin(), msgs.begin() + 8));
}

// A published INF of the product that a device of another product also
// uses, on each path that takes packages out: the 32-bit removal and sweep,
// and the sibling's node loop and sweep. The package stays, the product's
// node goes, and the program that met it says so; also where that device
// comes after more devices, each with a package of its own, than any table
// could hold.
struct SharedPath {
    const char *what;
    bool wow64;        // 64-bit Windows, the real sibling beside
    bool productNode;  // a product node names the INF; else only the sweep meets it
    int others = 0;    // devices enumerated before the one that shares it
};

void PrintTo(const SharedPath &p, std::ostream *os) { *os << p.what; }

class SharedPackage : public TidewellTest, public ::testing::WithParamInterface<SharedPath> {
protected:
    // Devices of other products, not attached, each installed from a
    // published INF of its own.
    static void AddOtherDevices(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(1000 + i);
            const std::string inf = "oem" + n + ".inf";
            AddInstalled("ROOT\\OTHER\\" + n, GUID_DEVCLASS_MODEM, {"ROOT\\OTHER"}, inf, false);
            sim::M().files[InfPath(inf)].content = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
        }
    }
};

TEST_P(SharedPackage, IsKeptAndTheProductNodeStillGoes) {
    const SharedPath &p = GetParam();
    sim::M().wow64 = p.wow64 ? sim::Wow64True : sim::Wow64False;
    sim::M().uninstallRefusedInWow64 = false;  // only the other device keeps it
    sim::AddFile(kSibling, "MZ");
    sim::M().programs[kSibling] = [] {
        sim::M().wow64 = sim::Wow64False;
        sim::SetExitCode(Tidewell64Main(0, nullptr, nullptr));
    };
    sim::AddFile(InfPath("oem21.inf"), "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                                       "Omrak=Omrak\r\n[Omrak]\r\nModem=M,USB\\Vid_1F3C&Pid_3A41\r\n"
                                       "Other=M,USB\\Vid_1F3C&Pid_3A50\r\n");
    sim::M().driverStore.insert("oem21.inf");
    AddOtherDevices(p.others);
    AddInstalled("USB\\VID_1F3C&PID_3A50\\1", GUID_DEVCLASS_MODEM, {"USB\\Vid_1F3C&Pid_3A50"},
                 "oem21.inf", false, false);
    if (p.productNode)
        AddInstalled("USB\\VID_1F3C&PID_3A41\\2", GUID_DEVCLASS_USB, {kTarget1}, "oem21.inf",
                     true, false);

    EXPECT_EQ(0, RunTidewell());
    EXPECT_TRUE(sim::FileExists(InfPath("oem21.inf")));
    EXPECT_TRUE(sim::M().driverStore.count("oem21.inf"));
    EXPECT_EQ(0, sim::Calls("SetupUninstallOEMInfA"));
    EXPECT_FALSE(Removed("USB\\VID_1F3C&PID_3A50\\1"));
    if (p.productNode) EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A41\\2"));
    const std::string prefix = p.wow64 ? "..Tidewell64 - Omrak" : kPrefix;
    const auto &d = sim::M().debug;
    // Behind that many devices, why it is kept may read otherwise.
    const std::string kept = std::string("Driver package kept: [oem21.inf], ") +
                             (p.others ? "" : "used by: USB\\VID_1F3C&PID_3A50\\1\n");
    int said = 0;
    for (size_t i = 0; i + 1 < d.size(); ++i)
        said += d[i] == prefix && d[i + 1].compare(0, kept.size(), kept) == 0;
    EXPECT_EQ(1, said) << Join(d);
}

INSTANTIATE_TEST_SUITE_P(Paths, SharedPackage,
                         ::testing::Values(SharedPath{"32-bit removal", false, true},
                                           SharedPath{"32-bit sweep", false, false},
                                           SharedPath{"sibling's node loop", true, true},
                                           SharedPath{"sibling's sweep", true, false},
                                           SharedPath{"32-bit sweep, 600 devices before", false,
                                                      false, 600},
                                           SharedPath{"sibling's node loop, 600 devices before",
                                                      true, true, 600}));

// Where none of those devices uses it, the product's package goes with its
// node. (Kept today, every package then counting as maybe another device's:
// to be enabled once no table limits what the run can know.)
TEST_F(SharedPackage, ProductPackageGoesBehindMoreDevicesThanAnyTableHolds) {
    sim::AddFile(InfPath("oem21.inf"), "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                                       "Omrak=Omrak\r\n[Omrak]\r\nModem=M,USB\\Vid_1F3C&Pid_3A41\r\n");
    sim::M().driverStore.insert("oem21.inf");
    AddOtherDevices(600);
    AddInstalled("USB\\VID_1F3C&PID_3A41\\2", GUID_DEVCLASS_USB, {kTarget1}, "oem21.inf", true, false);

    EXPECT_EQ(0, RunTidewell());
    EXPECT_TRUE(Removed("USB\\VID_1F3C&PID_3A41\\2"));
    EXPECT_FALSE(sim::FileExists(InfPath("oem21.inf")));
    EXPECT_FALSE(sim::M().driverStore.count("oem21.inf"));
    EXPECT_EQ(600u, sim::M().driverStore.size()) << "the other devices' packages stay";
    EXPECT_EQ("clean", RecordValue("Result"));
}

// The run record: what is left after each way a run can end, and its word.
struct RecordCase {
    const char *what;
    void (*setUp)();
    const char *result;
    const char *left;  // the entries, joined by "|"
    const char *reboot;
};

void PrintTo(const RecordCase &c, std::ostream *os) { *os << c.what; }

class RunRecord : public TidewellTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RunRecord, SaysWhatIsLeft) {
    const char *product = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nO=O,NTamd64\r\n"
                          "[O.NTamd64]\r\nModem=M,USB\\Vid_1F3C&Pid_3A41\r\n";
    sim::AddFile("C:\\Program Files\\Omrak\\Tidewell.exe", "MZ");
    sim::AddFile(InfPath("oem3.inf"), product);
    sim::M().driverStore.insert("oem3.inf");
    AddInstalled("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1}, "oem3.inf", true,
                 false).removeNeedsFlags = DI_NEEDREBOOT;
    GetParam().setUp();

    EXPECT_EQ(0, RunTidewell());
    EXPECT_EQ(GetParam().result, RecordValue("Result")) << GetParam().what;
    EXPECT_EQ(GetParam().left, RecordValue("Left")) << GetParam().what;
    EXPECT_EQ(GetParam().reboot, RecordValue("RebootRequired")) << GetParam().what;
    EXPECT_EQ(RELEASE_VERSION, RecordValue("Version"));
    EXPECT_EQ("2026-03-17T09:41:07+01:00", RecordValue("LastRun"));  // the layer's clock and zone
    // The run log ends with the same word and entries.
    std::string logged, wanted = std::string(GetParam().result) + "|" + GetParam().left;
    std::istringstream log(sim::M().files["C:\\Windows\\Omrak.log"].content);
    for (std::string line; std::getline(log, line);) {
        for (const char *key : {"] == result: ", "] == left: "}) {
            size_t at = line.find(key);
            if (at != std::string::npos)
                logged += (logged.empty() ? "" : "|") + line.substr(at + strlen(key), line.size() - at - strlen(key) - 1);
        }
    }
    if (!*GetParam().left) wanted.pop_back();
    EXPECT_EQ(wanted, logged);
}

const char kStore[] = "C:\\Windows\\System32\\DriverStore\\FileRepository";
const char kOrphan[] =
    "C:\\Windows\\System32\\DriverStore\\FileRepository\\omrak.inf_x86_1\\omrak.inf (no published INF)";

// A package in the store whose published INF is gone, its INF as given.
void AddOrphan(const std::string &content) {
    for (const char *dir : {"C:\\Windows\\System32", "C:\\Windows\\System32\\DriverStore", kStore})
        sim::AddDirectory(dir);
    sim::AddDirectory(std::string(kStore) + "\\omrak.inf_x86_1");
    sim::AddFile(std::string(kStore) + "\\omrak.inf_x86_1\\omrak.inf", content);
}

// More things left than Left lists: packages of the product, each kept for
// a device of another product (listed, not counted), then, past the list's
// end, a package without its published INF (counted).
const int kShared = 65;
void ManyLeft() {
    const std::string product = sim::M().files["C:\\Windows\\inf\\oem3.inf"].content;
    for (int i = 0; i < kShared; ++i) {
        const std::string n = std::to_string(100 + i);
        sim::AddFile("C:\\Windows\\inf\\oem" + n + ".inf", product);
        sim::M().driverStore.insert("oem" + n + ".inf");
        sim::Device &d =
            sim::AddDevice("ROOT\\OTHER\\" + n, GUID_DEVCLASS_MODEM, {"ROOT\\OTHER"}, false);
        d.hasDriverKey = true;
        d.driverKey["InfPath"] = sim::Sz("oem" + n + ".inf");
    }
    AddOrphan(product + "; older\r\n");
}
// Left as the record holds it: the first 64, then how many more.
const char *ManyLeftEntries() {
    static std::string left;
    if (left.empty()) {
        for (int n = 100; n < 164; ++n)
            left += "oem" + std::to_string(n) + ".inf (kept: used by ROOT\\OTHER\\" +
                    std::to_string(n) + ")|";
        left += "and " + std::to_string(kShared - 64 + 1) + " more";  // the last of them and the package
    }
    return left.c_str();
}

INSTANTIATE_TEST_SUITE_P(
    Endings, RunRecord,
    ::testing::Values(
        RecordCase{"32-bit Windows, all gone", [] {}, "clean", "", "1"},
        RecordCase{"64-bit Windows without the sibling",
                   [] { sim::M().wow64 = sim::Wow64True; }, "left",
                   "device USB\\VID_1F3C&PID_3A41\\1 (Tidewell64.exe not started: CreateProcess failed, error 0x2)|oem3.inf",
                   "0"},
        RecordCase{"a package the store keeps from a 32-bit process on 64-bit Windows",
                   [] {
                       sim::M().wow64 = sim::Wow64True;
                       sim::AddFile("C:\\Program Files\\Omrak\\Tidewell64.exe", "MZ");
                       sim::M().programs["C:\\Program Files\\Omrak\\Tidewell64.exe"] = [] {
                           sim::M().devices[0].removed = true;  // it takes the node only
                           sim::SetExitCode(ERROR_SUCCESS_REBOOT_REQUIRED);
                       };
                       sim::M().files["C:\\Windows\\inf\\oem3.inf"].content +=
                           "[Manufacturer]\r\nO=O\r\n[O]\r\nModem=M,USB\\Vid_1F3C&Pid_3A41\r\n";
                   },
                   "left", "oem3.inf (kept: error 0xe0000235)", "1"},
        RecordCase{"a package in the store without its published INF",
                   [] { AddOrphan(sim::M().files["C:\\Windows\\inf\\oem3.inf"].content + "; older\r\n"); },
                   "left", kOrphan, "1"},
        RecordCase{"a UTF-16 package in the store without its published INF, the vendor number continued",
                   [] {
                       std::string text = sim::M().files["C:\\Windows\\inf\\oem3.inf"].content;
                       std::string utf16 = "\xff\xfe";
                       text.replace(text.find("1F3C"), 4, "1\\\r\nF3C");
                       for (char c : text) utf16 += {c, '\0'};
                       AddOrphan(utf16);
                   },
                   "left", kOrphan, "1"},
        RecordCase{"more left than listed", ManyLeft, "left", ManyLeftEntries(), "1"},
        RecordCase{"a refusal",
                   [] {
                       sim::Device &m = sim::AddDevice("MDM\\1", GUID_DEVCLASS_MODEM, {kTarget1});
                       m.hasHardwareKey = true;
                       m.hardwareKey["AttachedTo"] = sim::Sz("COM7");
                       sim::M().ports["COM7"].heldByOther = true;
                   },
                   "refused", "device USB\\VID_1F3C&PID_3A41\\1|device MDM\\1|oem3.inf", "0"},
        RecordCase{"an enumeration that fails", [] { sim::FailCall("SetupDiEnumDeviceInfo", 0); },
                   "unknown", "oem3.inf (kept: other devices not known, error 0x8)", "0"},
        // The vendor's INF under its own name, which the sweep's rule takes:
        // the first line of its models section cannot be read, so the file
        // stays, and nothing can say that it does not name the product.
        RecordCase{"an INF of the product whose lines cannot be read",
                   [] {
                       sim::AddFile("C:\\Windows\\inf\\omrakphone.inf",
                                    "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                                    "O=O\r\n[O]\r\nModem=M,USB\\Vid_1F3C&Pid_3A41\r\n");
                       // Its [Manufacturer] line is read twice (size, text), each
                       // time sized first.
                       sim::FailCall("SetupGetLineTextA", 5);
                   },
                   "unknown", "", "1"}));

// TidewellDeploy runs the real Tidewell beside it (an x86 program) and
// returns what the record it leaves says; 32-bit Windows unless a case
// says otherwise.
struct DeployCase {
    const char *what;
    void (*setUp)();
    int code;
    const char *record;  // Result, RebootRequired and RebootBootTime afterwards
    const char *trace;   // TidewellDeploy's trace before its return code
    const char *why;     // its run log's reason for the code
    size_t starts;       // starts of Tidewell.exe tried
};

void PrintTo(const DeployCase &c, std::ostream *os) { *os << c.what; }

class Deploy : public TidewellTest, public ::testing::WithParamInterface<DeployCase> {};

const char kDeploy[] = "C:\\Program Files\\Omrak\\TidewellDeploy.exe";

// The record of an earlier run.
void Recorded(bool reboot, const char *bootTime = nullptr) {
    sim::RegKey &key = sim::M().registry["SOFTWARE\\Omrak\\Device Tools"];
    key["Result"] = sim::Sz("clean");
    key["RebootRequired"] = sim::Bytes(REG_DWORD, {(BYTE)reboot, 0, 0, 0});
    if (bootTime) key["RebootBootTime"] = sim::Sz(bootTime);
}

TEST_P(Deploy, ReturnsTheCodeTheRecordCallsFor) {
    const DeployCase &c = GetParam();
    sim::AddDirectory("C:\\Program Files");
    sim::AddDirectory(kFolder);
    sim::AddFile(kDeploy, "MZ");
    sim::AddFile(kSelf, "MZ");
    sim::M().moduleFileName = kDeploy;
    sim::M().nativeMachine = IMAGE_FILE_MACHINE_I386;
    sim::M().x86Programs.insert(kSelf);
    sim::M().programs[kSelf] = [] { sim::SetExitCode(TidewellMain(0, nullptr, nullptr)); };
    c.setUp();

    const std::string code = std::to_string(c.code);
    EXPECT_EQ(c.code, DeployMain(0, nullptr, nullptr));
    EXPECT_EQ(c.record, RecordValue("Result") + " " + RecordValue("RebootRequired") + " " +
                            RecordValue("RebootBootTime"));
    EXPECT_EQ(c.starts, sim::M().processStarts.size());
    std::string trace, log;
    const auto &d = sim::M().debug;
    for (size_t i = 0; i + 1 < d.size(); ++i)
        if (d[i] == "..TidewellDeploy - Omrak") trace += d[i + 1];
    EXPECT_EQ(c.trace + ("Return code: " + code + "\n"), trace);
    // Its block in the run log (a run that is not elevated writes none),
    // from its header on, ends with the code and why.
    std::istringstream lines(sim::M().files["C:\\Windows\\Omrak.log"].content);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" TidewellDeploy[") != std::string::npos)
            log += line.substr(line.find("] ") + 2, line.size() - line.find("] ") - 3) + "|";
    const std::string tail = "|== return code " + code + ": " + c.why +
                             "|..TidewellDeploy - Omrak  Return code: " + code + "|== exit code " +
                             code + "|";
    if (sim::M().elevated)
        EXPECT_TRUE(log.find("== TidewellDeploy " RELEASE_VERSION ", ") == 0 && log.size() > tail.size() &&
                    log.compare(log.size() - tail.size(), tail.size(), tail) == 0)
            << log;
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Deploy,
    ::testing::Values(
        DeployCase{"clean", [] {}, 0, "clean 0 (none)", "", "Result is clean", 1},
        DeployCase{"refused",
                   [] {
                       sim::Device &m = sim::AddDevice("MDM\\1", GUID_DEVCLASS_MODEM, {kTarget1});
                       m.hasHardwareKey = true;
                       m.hardwareKey["AttachedTo"] = sim::Sz("COM7");
                       sim::M().ports["COM7"].heldByOther = true;
                   },
                   1618, "refused 0 (none)", "", "Result is refused", 1},
        DeployCase{"left on 64-bit Windows without the sibling",
                   [] {
                       sim::M().nativeMachine = IMAGE_FILE_MACHINE_AMD64;
                       sim::M().wow64 = sim::Wow64True;
                       sim::AddDevice("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1});
                   },
                   1603, "left 0 (none)", "", "Result is not clean", 2},
        DeployCase{"unknown", [] { sim::FailCall("SetupDiEnumDeviceInfo", 0); }, 1603,
                   "unknown 0 (none)", "", "Result is not clean", 1},
        DeployCase{"no Result", [] { sim::FailCall("RegSetValueExA", 0); }, 1603,
                   "(none) (none) (none)", "", "no Result", 1},
        DeployCase{"a restart asked for by this run",
                   [] {
                       sim::AddDevice("USB\\VID_1F3C&PID_3A41\\1", GUID_DEVCLASS_USB, {kTarget1})
                           .removeNeedsFlags = DI_NEEDREBOOT;
                   },
                   3010, "clean 1 2026-03-17T06:38:07Z", "", "RebootRequired is 1", 1},
        DeployCase{"a restart asked for earlier in this Windows session",
                   [] { Recorded(true, "2026-03-17T06:37:30Z"); }, 3010,
                   "clean 1 2026-03-17T06:37:30Z", "", "RebootRequired is 1", 1},
        DeployCase{"a restart asked for before Windows started again",
                   [] { Recorded(true, "2026-03-16T22:10:00Z"); }, 0,
                   "clean 0 2026-03-16T22:10:00Z", "", "Result is clean", 1},
        DeployCase{"Tidewell.exe missing",
                   [] {
                       Recorded(false);
                       sim::M().files.erase(kSelf);
                   },
                   1603, "(none) 0 (none)",
                   "Tidewell.exe not started: CreateProcess failed, Error code: 0x2\n",
                   "Tidewell.exe not started", 1},
        DeployCase{"a signed TidewellDeploy.exe beside an unsigned Tidewell.exe",
                   [] { sim::M().files[kDeploy].signature = kPublisherA; }, 1603,
                   "(none) (none) (none)",
                   "Tidewell.exe not started: signature check failed, Error code: 0x800b0100\n",
                   "Tidewell.exe not started", 0},
        DeployCase{"Tidewell.exe ended before its end",
                   [] {
                       Recorded(false);
                       sim::EndProcessAfterMessage("Need search..\n");
                   },
                   1603, "(none) 0 (none)", "", "Tidewell.exe did not end with 0", 1},
        DeployCase{"not elevated",
                   [] {
                       Recorded(false);
                       sim::M().elevated = false;
                   },
                   1603, "clean 0 (none)", "", "the old Result not deleted", 0}));

TEST_F(HandOff, StartsTheSiblingWithExactlyTheseArguments) {
    InstallSibling();
    RunTidewell();
    ASSERT_EQ(1u, sim::M().processStarts.size());
    const sim::ProcessStart &s = sim::M().processStarts[0];
    EXPECT_EQ(kSibling, s.application);
    EXPECT_TRUE(s.commandLineNull);
    EXPECT_TRUE(s.processAttributesNull);
    EXPECT_TRUE(s.threadAttributesNull);
    EXPECT_EQ(TRUE, s.inheritHandles);
    EXPECT_EQ((DWORD)CREATE_NEW_CONSOLE, s.creationFlags);
    EXPECT_TRUE(s.environmentNull);
    EXPECT_TRUE(s.currentDirectoryNull);

    // All zero but cb, dwFlags and wShowWindow.
    const STARTUPINFOA &si = s.startupInfo;
    EXPECT_EQ(sizeof(STARTUPINFOA), (size_t)si.cb);
    EXPECT_EQ((DWORD)STARTF_USESHOWWINDOW, si.dwFlags);
    EXPECT_EQ(SW_HIDE, si.wShowWindow);
    EXPECT_EQ(nullptr, si.lpReserved);
    EXPECT_EQ(nullptr, si.lpDesktop);
    EXPECT_EQ(nullptr, si.lpTitle);
    EXPECT_EQ(0u, si.dwX | si.dwY | si.dwXSize | si.dwYSize | si.dwXCountChars |
                      si.dwYCountChars | si.dwFillAttribute);
    EXPECT_EQ(0, si.cbReserved2);
    EXPECT_EQ(nullptr, si.lpReserved2);
    EXPECT_EQ(nullptr, si.hStdInput);
    EXPECT_EQ(nullptr, si.hStdOutput);
    EXPECT_EQ(nullptr, si.hStdError);

    // Waited for without a time limit; both of its handles closed (and the
    // token's and the run log's).
    EXPECT_EQ(1u, EventsOf(sim::Event::WaitBegin).size());
    EXPECT_EQ(2 + 2, sim::Calls("CloseHandle"));
}

TEST_F(HandOff, MissingSiblingReportsTheFailureAndStillSweeps) {
    sim::BeginStdoutCapture();
    EXPECT_EQ(0, RunTidewell());
    std::string out = sim::EndStdoutCapture();

    EXPECT_EQ("CreateProcess failed (2).\n", out);
    auto msgs = Msgs();
    size_t bare = IndexOfMsg("bare:CreateProcess failed");
    ASSERT_NE(std::string::npos, bare) << Join(msgs);
    EXPECT_EQ("pPath: (null)\n", msgs[bare - 1]);
    EXPECT_EQ("Need search..\n", msgs[bare + 1]);
    EXPECT_EQ(0, sim::Calls("WaitForSingleObject"));
    EXPECT_EQ(2, sim::Calls("CloseHandle"));  // the token's and the run log's
}

TEST_F(HandOff, OtherStartFailuresPrintTheirOwnCode) {
    InstallSibling();
    sim::FailCall("CreateProcessA", 1, ERROR_BAD_EXE_FORMAT);
    sim::BeginStdoutCapture();
    RunTidewell();
    EXPECT_EQ("CreateProcess failed (193).\n", sim::EndStdoutCapture());
    EXPECT_EQ(0, siblingRuns);
    EXPECT_TRUE(HasMsg("Need search..\n"));
}

// An x86 process on Windows on Arm runs under WOW64 too, and hands off:
// Windows 11 runs the x64 sibling under emulation; Windows 10 cannot start
// it, and the sweep follows as after any failed start.
TEST_F(HandOff, OnArmTheSiblingStartsWhereX64IsEmulated) {
    for (bool emulated : {true, false}) {
        SetUp();
        sim::M().nativeMachine = IMAGE_FILE_MACHINE_ARM64;
        sim::M().x64Emulation = emulated;
        InstallSibling();
        siblingRuns = 0;
        sim::BeginStdoutCapture();
        RunTidewell();
        EXPECT_EQ(emulated ? "" : "CreateProcess failed (193).\n", sim::EndStdoutCapture());
        EXPECT_EQ(emulated ? 1 : 0, siblingRuns);
        EXPECT_TRUE(HasMsg("Need search..\n"));
        ExpectNothingOpen();
    }
}

TEST_F(HandOff, ProgramAtADriveRootUsesTheDriveAsItsFolder) {
    sim::M().moduleFileName = "D:\\Tidewell.exe";
    InstallSibling("D:\\Tidewell64.exe");
    RunTidewell();
    EXPECT_TRUE(HasMsg("Module path: [D:], line: 1126")) << Join(Msgs());
    EXPECT_TRUE(HasMsg("Halvex64 full name: [D:\\Tidewell64.exe], line: 1128"));
    ASSERT_EQ(1u, sim::M().processStarts.size());
    EXPECT_EQ("D:\\Tidewell64.exe", sim::M().processStarts[0].application);
    EXPECT_EQ(1, siblingRuns);
}

TEST_F(HandOff, UnreadableModuleNameStartsNoSiblingFromElsewhere) {
    sim::M().moduleFileNameFails = true;
    // Wherever an empty folder could lead, nothing may be started there.
    InstallSibling("\\Tidewell64.exe");
    InstallSibling("Tidewell64.exe");
    sim::BeginStdoutCapture();
    EXPECT_EQ(0, RunTidewell());
    std::string out = sim::EndStdoutCapture();

    EXPECT_EQ(0, siblingRuns);
    EXPECT_TRUE(EventsOf(sim::Event::ProcessStarted).empty());
    EXPECT_TRUE(HasMsg("Module path: [], line: 1126")) << Join(Msgs());
    EXPECT_TRUE(HasMsg("Halvex64 full name: [], line: 1128"));
    EXPECT_EQ(0u, out.find("CreateProcess failed ("));
    EXPECT_TRUE(HasMsg("bare:CreateProcess failed"));
    EXPECT_TRUE(HasMsg("Need search..\n"));
}

TEST_F(HandOff, ModuleNameCutToTheBufferStartsNoSiblingHigherUp) {
    std::string folder = "C:\\Deep\\" + std::string(300, 'd');
    sim::M().moduleFileName = folder + "\\Tidewell.exe";
    // Cut to 259 characters the name ends inside the long folder's name: its
    // last backslash is that of C:\Deep.
    InstallSibling("C:\\Deep\\Tidewell64.exe");
    InstallSibling(folder + "\\Tidewell64.exe");
    sim::BeginStdoutCapture();
    RunTidewell();
    sim::EndStdoutCapture();
    EXPECT_EQ(0, siblingRuns);
    EXPECT_TRUE(EventsOf(sim::Event::ProcessStarted).empty());
    EXPECT_TRUE(HasMsg("Module path: [], line: 1126")) << Join(Msgs());
    EXPECT_TRUE(HasMsg("Need search..\n"));
}

// The sibling's full name needs the folder, a backslash, 14 characters and
// the NUL: a folder of 244 characters is the longest that fits 260 bytes.
TEST_F(HandOff, LongestFolderThatFitsStillStartsTheSibling) {
    std::string folder = "C:\\" + std::string(241, 'f');
    ASSERT_EQ(244u, folder.size());
    sim::M().moduleFileName = folder + "\\T.exe";
    InstallSibling(folder + "\\Tidewell64.exe");
    RunTidewell();
    EXPECT_EQ(1, siblingRuns);
    ASSERT_EQ(1u, sim::M().processStarts.size());
    EXPECT_EQ(259u, sim::M().processStarts[0].application.size());
}

TEST_F(HandOff, FolderTooLongForTheSiblingNameStartsNothing) {
    std::string folder = "C:\\" + std::string(242, 'f');  // one character too many
    sim::M().moduleFileName = folder + "\\T.exe";
    std::string full = folder + "\\Tidewell64.exe";
    // Neither the whole name nor the name cut to the buffer may be started.
    InstallSibling(full);
    InstallSibling(full.substr(0, 259));

    sim::BeginStdoutCapture();
    RunTidewell();
    EXPECT_EQ("CreateProcess failed (2).\n", sim::EndStdoutCapture());
    EXPECT_EQ(0, siblingRuns);
    EXPECT_TRUE(EventsOf(sim::Event::ProcessStarted).empty());
    EXPECT_TRUE(HasMsg("Halvex64 full name: [], line: 1128")) << Join(Msgs());
    // The folder's trace is cut to the trace buffer.
    std::string path = Msgs()[2];
    EXPECT_EQ(127u, path.size());
    EXPECT_EQ(0u, path.find("Module path: [C:\\fff"));
    EXPECT_TRUE(HasMsg("Need search..\n"));
}

// ---- the sibling's signature ----

sim::Signature &SignatureOf(const char *path) { return sim::M().files[path].signature; }

// Both programs signed by publisher A, then the case's change; refusal: the
// reason and code of the one trace line, or null where the sibling starts.
struct SignedCase {
    const char *name;
    std::function<void()> change;
    const char *refusal;
};

class SignedHandOff : public HandOff, public ::testing::WithParamInterface<SignedCase> {};

TEST_P(SignedHandOff, StartsOnlyASiblingOfItsOwnPublisher) {
    InstallSigned(kPublisherA);
    GetParam().change();
    sim::BeginStdoutCapture();
    EXPECT_EQ(0, RunTidewell());
    EXPECT_EQ("", sim::EndStdoutCapture()) << "no start attempted when refused";
    const char *refusal = GetParam().refusal;
    EXPECT_EQ(refusal ? 0 : 1, siblingRuns);
    auto msgs = Msgs();
    size_t at = IndexOfMsg("Halvex64 full name: [C:\\Program Files\\Omrak\\Tidewell64.exe], line: 1128");
    ASSERT_LT(at + 2, msgs.size()) << Join(msgs);
    EXPECT_EQ(refusal ? "Tidewell64.exe not started: " + std::string(refusal) : "bare:---OpenAP---",
              msgs[at + 1]);
    EXPECT_EQ(refusal ? "Need search..\n" : "pModule: C:\\Program Files\\Omrak\\Tidewell64.exe\n",
              msgs[at + 2]);
    for (const auto &e : EventsOf(sim::Event::LibraryLoaded))
        EXPECT_EQ(0u, sim::M().events[e].text.find("C:\\Windows\\system32\\"));
}

const char kUnsigned[] = "signature check failed, Error code: 0x800b0100\n";
const char kOtherPublisher[] = "signed by another publisher, Error code: 0x0\n";

INSTANTIATE_TEST_SUITE_P(
    Sibling, SignedHandOff,
    ::testing::Values(
        SignedCase{"OnePublisher", [] {}, nullptr},
        SignedCase{"Unsigned", [] { SignatureOf(kSibling) = sim::Signature(); }, kUnsigned},
        SignedCase{"OtherPublisher", [] { SignatureOf(kSibling).subject = "CN=Publisher B"; },
                   kOtherPublisher},
        SignedCase{"SameSubjectOtherIssuer", [] { SignatureOf(kSibling).issuer = "CN=Other CA"; },
                   kOtherPublisher},
        SignedCase{"ChangedAfterSigning", [] { SignatureOf(kSibling).changed = true; },
                   "signature check failed, Error code: 0x80096010\n"},
        // Windows alone: Wine accepts any root.
        SignedCase{"UntrustedRoot", [] { SignatureOf(kSibling).trustedRoot = false; },
                   "signature check failed, Error code: 0x800b0109\n"},
        SignedCase{"OwnFileChanged", [] { SignatureOf(kSelf).changed = true; },
                   "own signature check failed, Error code: 0x80096010\n"},
        SignedCase{"NoSibling", [] { sim::M().files.erase(kSibling); },
                   "file not opened, Error code: 0x2\n"},
        SignedCase{"NoWintrust", [] { sim::M().systemDlls.erase("wintrust.dll"); },
                   "wintrust.dll not loaded, Error code: 0x7e\n"},
        SignedCase{"NoCrypt32", [] { sim::M().systemDlls.erase("crypt32.dll"); },
                   "crypt32.dll not loaded, Error code: 0x7e\n"},
        SignedCase{"CallMissing",
                   [] { sim::M().missingExports.insert("WTHelperGetProvSignerFromChain"); },
                   "signature functions not found, Error code: 0x7f\n"},
        SignedCase{"WithoutLoaderSearchFlags", [] { sim::M().loaderSearchFlags = false; }, nullptr},
        // A development build: no check at all, whatever lies beside it.
        SignedCase{"UnsignedUninstaller",
                   [] { SignatureOf(kSelf) = SignatureOf(kSibling) = sim::Signature(); }, nullptr},
        // The x64 build's PE32+ headers are read as well.
        SignedCase{"X64Build",
                   [] {
                       sim::M().imageMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
                       SignatureOf(kSibling) = sim::Signature();
                   },
                   kUnsigned},
        SignedCase{"UnsignedX64Build",
                   [] {
                       sim::M().imageMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
                       SignatureOf(kSelf) = SignatureOf(kSibling) = sim::Signature();
                   },
                   nullptr}),
    [](const ::testing::TestParamInfo<SignedCase> &info) { return std::string(info.param.name); });

// What was checked is what is started: while a signed uninstaller holds
// the sibling's file, another program can neither write it, nor replace it,
// nor delete it. An unsigned one holds nothing.
TEST_F(HandOff, SiblingCannotBeReplacedBetweenTheCheckAndTheStart) {
    for (bool isSigned : {true, false}) {
        SetUp();
        siblingRuns = 0;
        InstallSigned(isSigned ? kPublisherA : sim::Signature());
        sim::AddFile("C:\\Program Files\\Omrak\\planted.exe", "MZ");
        std::vector<bool> done;
        sim::BeforeCall("CreateProcessA", [&] {
            HANDLE h = CreateFileA(kSibling, GENERIC_WRITE, 7, NULL, OPEN_EXISTING, 0, NULL);
            done.push_back(h != INVALID_HANDLE_VALUE);
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            done.push_back(MoveFileExA("C:\\Program Files\\Omrak\\planted.exe", kSibling,
                                       MOVEFILE_REPLACE_EXISTING));
            done.push_back(DeleteFileA(kSibling));
        });
        sim::BeginStdoutCapture();
        RunTidewell();
        sim::EndStdoutCapture();
        EXPECT_EQ(std::vector<bool>(3, !isSigned), done);
        EXPECT_EQ(isSigned ? 1 : 0, siblingRuns);
        ExpectNothingOpen();
    }
}

// ---- Transf2Path ----

class CutPath : public TidewellTest {
protected:
    // 260 bytes for the path and guard bytes after them.
    char buf[MAX_PATH + 16];

    void Fill(const char *path) {
        memset(buf, 0x55, sizeof buf);
        strcpy(buf, path);
    }

    void ExpectZeroTailFrom(size_t end) {
        for (size_t i = end; i < MAX_PATH; ++i) ASSERT_EQ(0, buf[i]) << "byte " << i;
        for (size_t i = MAX_PATH; i < sizeof buf; ++i) ASSERT_EQ(0x55, buf[i]) << "guard " << i;
    }
};

TEST_F(CutPath, NullGivesFalseAndOneTrace) {
    EXPECT_FALSE(Transf2Path(nullptr));
    EXPECT_EQ(std::vector<std::string>{"Transf2Path is null, line: 121"}, Msgs());
}

TEST_F(CutPath, KeepsTheFolderAndZeroesTheRestOfTheBuffer) {
    Fill("C:\\Program Files\\Omrak\\Tidewell.exe");
    EXPECT_TRUE(Transf2Path(buf));
    EXPECT_STREQ("C:\\Program Files\\Omrak", buf);
    ExpectZeroTailFrom(strlen(buf));
    EXPECT_TRUE(sim::M().debug.empty());
}

TEST_F(CutPath, DriveRootLeavesTheDriveAlone) {
    Fill("D:\\prog.exe");
    EXPECT_TRUE(Transf2Path(buf));
    EXPECT_STREQ("D:", buf);
    ExpectZeroTailFrom(2);
}

TEST_F(CutPath, TrailingBackslashIsTheOnlyThingRemoved) {
    Fill("D:\\dir\\");
    EXPECT_TRUE(Transf2Path(buf));
    EXPECT_STREQ("D:\\dir", buf);
    ExpectZeroTailFrom(6);
}

TEST_F(CutPath, PathWithoutBackslashLeavesNothing) {
    Fill("prog.exe");
    EXPECT_FALSE(Transf2Path(buf));
    ExpectZeroTailFrom(0);
}

// A module name cut to the buffer without a terminator (as older Windows
// leaves it): an exact-size block lets AddressSanitizer see any read past it.
TEST_F(CutPath, FullBufferWithoutTerminatorIsNeverReadPast) {
    std::vector<char> block(MAX_PATH, 'a');
    block[100] = '\\';
    EXPECT_TRUE(Transf2Path(block.data()));
    EXPECT_EQ(std::string(100, 'a'), std::string(block.data()));
    for (size_t i = 100; i < MAX_PATH; ++i) ASSERT_EQ(0, block[i]) << "byte " << i;
}

}  // namespace
