// Fault sweep: a program's whole run over a rich machine is first made once
// to count its fallible platform calls, then repeated once per call with that
// one call failing. Every run must end cleanly (nothing open, no misuse of the
// platform, the usual exit code, nothing touched that is not the product's)
// and must write the message that the failing call's place prescribes.
//
// The file is built once per program (each links its own program library);
// SWEEP_TIDEWELL, SWEEP_TIDEWELL64, SWEEP_ZORVANE or SWEEP_DEPLOY selects which.
#include <gtest/gtest.h>

#include <devguid.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "winsim.h"

#if defined(SWEEP_TIDEWELL)
#include "uninstaller/tidewell.h"
int TidewellMain(int argc, char **argv, char **envp);
int Tidewell64Main(int argc, char **argv, char **envp);  // the real sibling, a process of its own
#elif defined(SWEEP_TIDEWELL64)
int Tidewell64Main(int argc, char **argv, char **envp);
#elif defined(SWEEP_ZORVANE)
int ZorvaneMain(int argc, char **argv, char **envp);
#elif defined(SWEEP_DEPLOY)
int DeployMain(int argc, char **argv, char **envp);
#else
#error "SWEEP_TIDEWELL, SWEEP_TIDEWELL64, SWEEP_ZORVANE or SWEEP_DEPLOY must be defined"
#endif

namespace {

const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kHidClass = {0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

const char kInf[] = "C:\\Windows\\inf\\";
const char kRunLog[] = "C:\\Windows\\Omrak.log";
const char kSibling[] = "C:\\Program Files\\Omrak\\Tidewell64.exe";

// ---------------------------------------------------------------------------
// The machine: product and foreign device nodes of several classes, ports,
// OEM and in-box INF files, files that are not INF files, a directory that
// looks like one. What belongs to the product is recorded beside it.

struct Ownership {
    std::set<std::string, sim::CaseLess> productNodes;  // carry a target hardware ID
    std::set<std::string, sim::CaseLess> driverlessProductNodes;
    std::set<std::string, sim::CaseLess> productFiles;  // the uninstaller may delete these
};

std::string ProductInf(const std::string &modelsLine) {
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\nProvider=%Mfg%\r\n\r\n"
           "[Manufacturer]\r\n%Mfg%=Omrak,NTx86,NTamd64\r\n\r\n"
           "[Omrak]\r\n" + modelsLine + "\r\n\r\n"
           "[Modem_Install]\r\nAddReg=Modem_AddReg\r\n\r\n"
           "[Strings]\r\nMfg=\"Omrak\"\r\nModem=\"Omrak USB Modem\"\r\n";
}

sim::Device &Product(Ownership &own, const std::string &id, const GUID &cls,
                     std::initializer_list<std::string> hwids, bool attached = true) {
    own.productNodes.insert(id);
    return sim::AddDevice(id, cls, hwids, attached);
}

void BuildMachine(Ownership &own) {
    sim::AddDirectory("C:\\Windows");
    sim::AddDirectory("C:\\Windows\\inf");
    sim::AddDirectory("C:\\Windows\\system32");
    sim::AddDirectory("C:\\Windows\\system32\\drivers");
    sim::AddDirectory("C:\\Windows\\system32\\DriverStore");
    sim::AddDirectory("C:\\Program Files");
    sim::AddDirectory("C:\\Program Files\\Omrak");
    sim::AddFile("C:\\Program Files\\Omrak\\Tidewell.exe", "MZ");
    sim::AddFile(kSibling, "MZ");
    sim::AddFile("C:\\Windows\\system32\\drivers\\omrakusb.sys", "MZ");

    // Devices, in enumeration order.
    sim::Device *d;
    d = &Product(own, "USB\\VID_1F3C&PID_3A41&MI_00\\6&1", GUID_DEVCLASS_MODEM,
                 {"usb\\vid_1f3c&pid_3a41&rev_0100&mi_00", "USB\\Vid_1F3C&Pid_3A41&MI_00"});
    d->hasHardwareKey = true;
    d->hardwareKey["AttachedTo"] = sim::Sz("COM7");
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("oem12.inf");

    d = &sim::AddDevice("ROOT\\MODEM\\0000", GUID_DEVCLASS_MODEM, {"MDMGEN\\GEN56K"});
    d->hasHardwareKey = true;
    d->hardwareKey["AttachedTo"] = sim::Sz("COM1");
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("mdmgen.inf");

    d = &Product(own, "USB\\VID_1F3C&PID_3A42&MI_02\\6&2", GUID_DEVCLASS_PORTS,
                 {"USB\\VID_1F3C&PID_3A42&REV_0100&MI_02", "USB\\VID_1F3C&PID_3A42&MI_02"});
    d->hasHardwareKey = true;
    d->hardwareKey["PortName"] = sim::Sz("COM8");
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("oem13.inf");

    d = &sim::AddDevice("ACPI\\PNP0501\\1", GUID_DEVCLASS_PORTS, {"ACPI\\PNP0501", "*PNP0501"});
    d->hasHardwareKey = true;
    d->hardwareKey["PortName"] = sim::Sz("COM1");
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("msports.inf");

    // The composite parent, installed from an in-box INF.
    d = &Product(own, "USB\\VID_1F3C&PID_3A41\\5&3", GUID_DEVCLASS_USB,
                 {"USB\\VID_1F3C&PID_3A41&REV_0100", "USB\\VID_1F3C&PID_3A41"});
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("usb.inf");

    d = &Product(own, "USB\\VID_1F3C&PID_3A42\\5&4", GUID_DEVCLASS_USB, {"USB\\Vid_1F3C&Pid_3A42"},
                 false);
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("oem14.inf");

    // A tampered "InfPath" that climbs out of the inf folder.
    d = &Product(own, "USB\\VID_1F3C&PID_3A41&MI_04\\6&5", kNetClass,
                 {"USB\\VID_1F3C&PID_3A41&MI_04"});
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("..\\system32\\drivers\\omrakusb.sys");

    // Left without a driver, not attached: the device-setup program's target.
    Product(own, "USB\\VID_1F3C&PID_3A42&MI_01\\6&6", kHidClass,
            {"HID\\VID_1F3C&PID_3A42", "USB\\VID_1F3C&PID_3A42&MI_01"}, false);
    own.driverlessProductNodes.insert("USB\\VID_1F3C&PID_3A42&MI_01\\6&6");

    sim::AddDevice("ROOT\\LEGACY_BEEP\\0000", kNetClass, {});  // no hardware IDs at all

    d = &sim::AddDevice("USB\\ROOT_HUB30\\4&7", GUID_DEVCLASS_USB,
                        {"USB\\ROOT_HUB30&VID8086&PID1E31", "USB\\ROOT_HUB30"});
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("usbhub3.inf");

    // One digit away from the product, installed from a package that names
    // the product too; its driver key spells the published name in capitals.
    d = &sim::AddDevice("USB\\VID_1F3C&PID_3A43\\5&8", GUID_DEVCLASS_USB,
                        {"USB\\Vid_1F3C&Pid_3A43"}, false);
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("OEM22.INF");

    // A driver key without "InfPath".
    d = &Product(own, "USB\\VID_1F3C&PID_3A41&MI_06\\6&9", kHidClass,
                 {"USB\\VID_1F3C&PID_3A41&MI_06"}, false);
    d->hasDriverKey = true;

    // A second node installed from the same OEM INF as the modem.
    d = &Product(own, "USB\\VID_1F3C&PID_3A41&MI_00\\7&A", GUID_DEVCLASS_MODEM,
                 {"USB\\Vid_1F3C&Pid_3A41&MI_00"}, false);
    d->hasDriverKey = true;
    d->driverKey["InfPath"] = sim::Sz("OEM12.INF");

    // Driverless too, but its removal is refused.
    d = &Product(own, "USB\\VID_1F3C&PID_3A42&MI_03\\6&B", kHidClass,
                 {"USB\\VID_1F3C&PID_3A42&MI_03"}, false);
    d->removeError = ERROR_ACCESS_DENIED;
    own.driverlessProductNodes.insert("USB\\VID_1F3C&PID_3A42&MI_03\\6&B");

    sim::M().ports["COM1"] = sim::Port();
    sim::M().ports["COM7"] = sim::Port();
    sim::M().ports["COM8"] = sim::Port();

    // INF files. The product's: bound to devices, read-only, or left over
    // from an earlier installation.
    auto productFile = [&](const std::string &name, const std::string &content, DWORD attr) {
        sim::AddFile(kInf + name, content, attr);
        own.productFiles.insert(kInf + name);
    };
    productFile("oem12.inf", ProductInf("%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A41&MI_00"),
                FILE_ATTRIBUTE_ARCHIVE);
    productFile("oem13.inf", ProductInf("%Modem%=Modem_Install,USB\\VID_1F3C&PID_3A42&MI_02"),
                FILE_ATTRIBUTE_READONLY);
    productFile("oem14.inf", ProductInf("%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A42"),
                FILE_ATTRIBUTE_ARCHIVE);
    productFile("oem20.inf",
                ProductInf("\"Omrak Port\"=Port_Install,,USB\\VID_1F3C&PID_3A42&MI_02&Col01"),
                FILE_ATTRIBUTE_ARCHIVE);
    productFile("oem21.inf", ProductInf("%Modem%=Modem_Install,usb\\vid_1f3c&pid_3a41"),
                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    // Published INFs of the product that the sweep does not read (a second
    // [Manufacturer] line, decorated sections only): the store work takes
    // them, on 64-bit Windows the sibling.
    productFile("oem6.inf",
                "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                "[Manufacturer]\r\nOther=OtherModels\r\nOmrak=OmrakModels\r\n"
                "[OtherModels]\r\nGeneric=Gen_Install,USB\\VID_0000&PID_0001\r\n"
                "[OmrakModels]\r\nModem=Modem_Install,USB\\Vid_1F3C&Pid_3A41\r\n",
                FILE_ATTRIBUTE_ARCHIVE);
    productFile("oem7.inf",
                "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                "[Manufacturer]\r\nOmrak=Omrak,NTamd64\r\n"
                "[Omrak.NTamd64]\r\nModem=Modem_Install,USB\\Vid_1F3C&Pid_3A41\r\n",
                FILE_ATTRIBUTE_ARCHIVE);
    // Only the byte look's UTF-16 and line-continuation patterns let the
    // store work read these two.
    const std::string decorated = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n"
                                  "Omrak=Omrak,NTamd64\r\n[Omrak.NTamd64]\r\nModem=Modem_Install,";
    std::string utf16 = "\xff\xfe";
    for (char c : decorated + "USB\\Vid_1F3C&Pid_3A42\r\n") utf16 += {c, '\0'};
    productFile("oem23.inf", utf16, FILE_ATTRIBUTE_ARCHIVE);
    productFile("oem24.inf", decorated + "USB\\Vid_1F\\\r\n3C&Pid_3A41\r\n", FILE_ATTRIBUTE_ARCHIVE);

    // Shared with the maker's other model: it stays.
    sim::AddFile(std::string(kInf) + "oem22.inf",
                 ProductInf("%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A41\r\n"
                            "%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A43"));
    // Not the product's: the maker's other model alone.
    sim::AddFile(std::string(kInf) + "oem5.inf",
                 ProductInf("%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A43"));
    sim::AddFile(std::string(kInf) + "usb.inf",
                 "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n%Gen%=Generic\r\n"
                 "[Generic]\r\n%Hub%=HUB,USB\\ROOT_HUB\r\n[Strings]\r\nGen=\"(Standard)\"\r\n"
                 "Hub=\"USB Root Hub\"\r\n");
    sim::AddFile(std::string(kInf) + "mdmgen.inf",
                 "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nGeneric=Gen\r\n"
                 "[Gen]\r\nModem=M,MDMGEN\\GEN56K\r\n");
    sim::AddFile(std::string(kInf) + "msports.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    sim::AddFile(std::string(kInf) + "notes.inf", "These are not INF lines.\r\nUSB\\Vid_1F3C&Pid_3A41\r\n");
    sim::AddFile(std::string(kInf) + "empty.inf", "");
    sim::AddDirectory(std::string(kInf) + "backup.inf");
    // The precompiled forms of the product's INFs: they leave with their packages.
    for (const char *pnf : {"oem12.pnf", "oem13.pnf", "oem14.pnf", "oem20.pnf", "oem21.pnf"})
        productFile(pnf, "binary", FILE_ATTRIBUTE_ARCHIVE);
    // Every OEM INF is the published name of a package in the driver store;
    // two have their folder there, with a copy of the INF, and another maker's
    // package has one too.
    for (const char *name : {"oem5.inf", "oem6.inf", "oem7.inf", "oem12.inf", "oem13.inf",
                             "oem14.inf", "oem20.inf", "oem21.inf", "oem22.inf", "oem23.inf",
                             "oem24.inf"})
        sim::M().driverStore.insert(name);
    const std::string repository = "C:\\Windows\\system32\\DriverStore\\FileRepository";
    sim::AddDirectory(repository);
    for (const char *name : {"oem7.inf", "oem13.inf"}) {
        const std::string folder = repository + "\\omrak" + name + "_x86_1f3c";
        sim::AddDirectory(folder);
        sim::AddFile(folder + "\\omrak.inf", sim::M().files[kInf + std::string(name)].content);
        sim::M().storeFolders[name] = folder;
        own.productFiles.insert(folder);  // they go with their packages
        own.productFiles.insert(folder + "\\omrak.inf");
    }
    sim::AddDirectory(repository + "\\printer.inf_x86_0001");
    sim::AddFile(repository + "\\printer.inf_x86_0001\\printer.inf",
                 "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nP=P\r\n");
    // A folder not named after its INF: the record searches it.
    sim::AddDirectory(repository + "\\scanner_x86_0002");
    sim::AddFile(repository + "\\scanner_x86_0002\\scanner.inf",
                 "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nS=S\r\n");
}

// The 64-bit sibling as the uninstaller sees it: it removes the product's
// nodes and their OEM INF files while the uninstaller waits. It works on the
// machine directly, so it makes no platform call that could be failed.
void SiblingRun() {
    for (auto &d : sim::M().devices) {
        if (d.removed) continue;
        std::string ids = sim::Lower(std::string(d.hardwareIds.begin(), d.hardwareIds.end()));
        if (ids.find("usb\\vid_1f3c&pid_3a41") == std::string::npos &&
            ids.find("usb\\vid_1f3c&pid_3a42") == std::string::npos)
            continue;
        auto it = d.driverKey.find("InfPath");
        if (d.hasDriverKey && it != d.driverKey.end()) {
            std::string name(it->second.data.begin(), it->second.data.end());
            name = name.c_str();
            std::string path = kInf + name;
            // The package leaves the store with its .inf and .pnf.
            if (sim::Lower(name).compare(0, 3, "oem") == 0 && sim::FileExists(path)) {
                std::string pnf = path.substr(0, path.size() - 4) + ".pnf";
                for (const std::string &p : {path, pnf}) {
                    if (!sim::FileExists(p)) continue;
                    sim::M().files.erase(p);
                    sim::M().events.push_back({sim::Event::FileDeleted, p});
                }
                sim::M().driverStore.erase(name);
            }
        }
        d.removed = true;
        d.hasDriverKey = d.hasHardwareKey = false;
        sim::M().events.push_back({sim::Event::DeviceRemoved, d.instanceId});
    }
}

// ---------------------------------------------------------------------------
// Places: which call of which stage a fallible call is. Within a device scan
// a call is counted from the device's enumeration on (the nth LocalAlloc of a
// device is always the same buffer); elsewhere from the stage's start.

struct Place {
    std::string stage;
    std::string api;
    int nth;
    std::string Text() const { return stage + "/" + api + "/" + std::to_string(nth); }
};

typedef std::function<std::string(const std::string &api, const std::string &stage,
                                  const std::string &prev, std::map<std::string, int> &opened)>
    StageRule;

// The run log's calls are places of their own, outside the stages: its
// opening (from the Windows folder's look-up to the first call of another
// kind) and the WriteFile of each line, wherever a line is written.
const std::set<std::string> kRunLogOpening = {
    "GetSystemWindowsDirectoryA", "CreateFileA", "GetFileInformationByHandle", "GetFileAttributesA",
    "SetFileAttributesA", "MultiByteToWideChar", "SetFileInformationByHandle", "MoveFileExA",
    "GetModuleHandleA", "GetProcAddress", "ProcessIdToSessionId", "IsWow64Process2", "IsWow64Process",
    "OpenProcessToken", "GetTokenInformation", "WriteFile"};

std::vector<Place> Classify(const std::vector<std::string> &log, const StageRule &rule) {
    std::vector<Place> places;
    std::string stage = "start", prev;
    std::map<std::string, int> opened;  // how often each api opened a stage
    std::map<std::string, int> inUnit, logCalls;
    bool logOpening = false;
    for (const auto &api : log) {
        logOpening = api == "GetSystemWindowsDirectoryA" || (logOpening && kRunLogOpening.count(api));
        if (logOpening || api == "WriteFile") {
            places.push_back({"log", api, ++logCalls[api]});
            continue;
        }
        std::string next = rule(api, stage, prev, opened);
        if (next != stage) {
            stage = next;
            inUnit.clear();
        }
        if (api == "SetupDiEnumDeviceInfo") inUnit.clear();
        places.push_back({stage, api, ++inUnit[api]});
        prev = api;
    }
    return places;
}

// ---------------------------------------------------------------------------
// What each place prescribes.

struct Expect {
    // The messages the failure writes, in order (a trailing "*" matches any
    // rest); empty for a place that fails silently.
    std::vector<std::string> messages;
    bool refuses = false;              // the uninstaller refuses (box or, unseen, trace)
    int boxes = -1;                    // message boxes, where not as the scenario's refusal shows
    const char *stdoutText = nullptr;  // standard output, when it differs from the normal run's
    std::vector<std::string> forbiddenCalls;  // calls the failure must leave out
    // The run is the normal run: the same messages, removals, deletions.
    bool unchanged = false;
    // The messages come at the run's end, later than where it departs.
    bool later = false;
    // Packages may be kept ("Driver package kept: [...]"), and nothing else
    // said: a failure to read which packages other devices use.
    bool mayKeep = false;
    // The run record's result, where it is not the normal run's; "(none)":
    // none written.
    const char *result = nullptr;
};

struct Table {
    std::map<std::string, Expect> byPlace;  // "stage/api/nth", nth 0 for every occurrence
    const Expect *Find(const Place &p) const {
        auto it = byPlace.find(p.Text());
        if (it == byPlace.end()) it = byPlace.find(p.stage + "/" + p.api + "/0");
        return it == byPlace.end() ? nullptr : &it->second;
    }
    void Add(const std::string &stage, const std::string &api, int nth, Expect e) {
        byPlace[stage + "/" + api + "/" + std::to_string(nth)] = e;
    }
};

Expect Silent(bool refuses = false) {
    Expect e;
    e.refuses = refuses;
    return e;
}
Expect Says(std::vector<std::string> messages, bool refuses = false) {
    Expect e;
    e.messages = messages;
    e.refuses = refuses;
    return e;
}
Expect SaysLater(std::vector<std::string> messages) {
    Expect e = Says(messages);
    e.later = true;
    return e;
}
Expect MayKeep() {
    Expect e;
    e.mayKeep = true;
    e.result = "*";  // whatever is kept is left; the record only must not say clean then
    return e;
}
// A failure of the run record's own calls: the run is the normal run, and
// the record says so (result) or, where it cannot be written, holds none.
Expect Records(const char *result) {
    Expect e;
    e.unchanged = true;
    e.result = result;  // null: the normal run's
    return e;
}

// The DLL search restricted at the start of main: a failure changes nothing.
// Nor does any failure of the run log, which is only a copy.
void AddDllSearch(Table &t) {
    for (const char *api : {"GetModuleHandleA", "GetProcAddress", "SetDefaultDllDirectories"})
        t.Add("dlls", api, 0, Silent());
    for (const auto &api : kRunLogOpening) {
        t.Add("log", api, 0, Silent());
        t.byPlace["log/" + api + "/0"].unchanged = true;
    }
}

bool IsFailureMessage(const std::string &m) {
    return m.find("fail") != std::string::npos || m.find("INVALID_HANDLE_VALUE") == 0 ||
           m.find("Error code") != std::string::npos;
}

bool MessageMatches(const std::string &actual, const std::string &expected) {
    if (!expected.empty() && expected.back() == '*')
        return actual.compare(0, expected.size() - 1, expected, 0, expected.size() - 1) == 0;
    return actual == expected;
}

// ---------------------------------------------------------------------------
// One run of a program over a fresh machine.

struct Outcome {
    int exitCode = -1;
    std::vector<std::string> messages;
    std::vector<std::string> fallible;
    std::vector<std::string> removed;
    std::vector<std::string> deleted;
    std::vector<std::string> packages;   // driver packages uninstalled (INF names)
    std::vector<std::string> lostNodes;  // nodes there before the run and gone after it
    std::vector<std::string> lostFiles;  // files there before the run and gone after it
    std::vector<std::string> lostPackages;  // driver-store packages gone after the run
    std::vector<std::string> orphans;       // packages left whose published .inf is gone
    std::string result = "(none)";          // the run record's result
    std::string reboot;                     // and its RebootRequired, "(none)" or its bytes
    std::vector<std::string> open;
    std::vector<std::string> problems;
    size_t messageBoxes = 0;
    size_t refusals = 0;  // message boxes and the refusal's text traced instead
    bool ended = false;   // the process ended before the program did
    bool childEnded = false;  // a program it started was ended before its end
    std::string stdoutText;
    std::map<std::string, int> calls;  // every call of the run, fallible or not
};

bool HasMessage(const Outcome &o, const std::string &message) {
    for (const auto &m : o.messages)
        if (m == message) return true;
    return false;
}

struct Scenario {
    std::string name;
    std::string prefix;
    int exitCode;
    // The normal run refuses where nobody sees a box (its text is traced);
    // otherwise it goes through and every refusal a failure causes is a box.
    bool refuses = false;
    // What a run started again after one cut short may write that one whole
    // run does not (a trailing "*" matches any rest).
    std::vector<std::string> secondRunMayWrite;
    std::function<void(Ownership &)> setUp;
    std::function<int()> run;
    StageRule stages;
    Table table;
    // Which nodes and files the program may remove or delete.
    std::function<bool(const Ownership &, const std::string &)> mayRemove;
    std::function<bool(const Ownership &, const std::string &)> mayDelete;
    bool records = false;     // the program writes the run record
    std::string rebootBefore;  // RebootRequired's bytes before the run, of this Windows session
    bool rebootExit = false;  // exit code 3010 when it traced "Reboot needed\n"
    // A deployment system's return code: 0 only where the record says clean
    // and asks for no restart, else 1603, 1618 or 3010.
    bool deploys = false;
};

// One run of the program on the machine as it is. A process ended on the
// way has no exit code; Windows then releases what it held.
Outcome Run(const Scenario &s) {
    std::vector<std::string> filesBefore;
    for (const auto &f : sim::M().files) filesBefore.push_back(f.second.path);
    const std::set<std::string, sim::CaseLess> storeBefore = sim::M().driverStore;
    Outcome o;
    sim::BeginStdoutCapture();
    try {
        o.exitCode = s.run();
    } catch (const sim::ProcessEnded &) {
        o.ended = true;
        sim::EndProcess();
    }
    o.stdoutText = sim::EndStdoutCapture();
    o.messages = sim::Messages(s.prefix);
    o.fallible = sim::FallibleLog();
    for (const auto &e : sim::M().events) {
        if (e.kind == sim::Event::DeviceRemoved) o.removed.push_back(e.text);
        if (e.kind == sim::Event::FileDeleted) o.deleted.push_back(e.text);
        if (e.kind == sim::Event::PackageUninstalled) o.packages.push_back(e.text);
        if (e.kind == sim::Event::ProcessTerminated) o.childEnded = true;
    }
    for (const auto &d : sim::M().devices)
        if (d.removed) o.lostNodes.push_back(d.instanceId);
    for (const auto &path : filesBefore)
        if (!sim::FileExists(path) && !(path == kRunLog && sim::FileExists("C:\\Windows\\Omrak.old.log")))
            o.lostFiles.push_back(path);  // (a log over its limit is renamed)
    for (const auto &name : storeBefore)
        if (!sim::M().driverStore.count(name)) o.lostPackages.push_back(name);
    for (const auto &name : sim::M().driverStore)
        if (!sim::FileExists(kInf + name)) o.orphans.push_back(name);
    auto record = sim::M().registry.find("SOFTWARE\\Omrak\\Device Tools");
    if (record != sim::M().registry.end() && record->second.count("Result"))
        o.result = std::string((const char *)record->second["Result"].data.data());
    o.reboot = record == sim::M().registry.end() || !record->second.count("RebootRequired")
                   ? "(none)"
                   : std::string(record->second["RebootRequired"].data.begin(),
                                 record->second["RebootRequired"].data.end());
    o.open = sim::OpenResources();
    o.problems = sim::M().problems;
    o.messageBoxes = sim::M().messageBoxes.size();
    o.refusals = o.messageBoxes;
    for (const auto &m : o.messages)
        if (m == "Please close all program\n") ++o.refusals;
    for (const auto &api : o.fallible) ++o.calls[api];
    return o;
}

// A run over a fresh machine, with one call failing (failCall), or the
// process ending right before or right after one call (endCall, endAfter).
Outcome RunOnce(const Scenario &s, Ownership &own, int failCall, int endCall = 0,
                bool endAfter = false) {
    sim::Reset();
    own = Ownership();
    s.setUp(own);
    if (failCall > 0) sim::FailFallibleCall(failCall);
    if (endCall > 0) sim::EndProcessAt(endCall, endAfter);
    return Run(s);
}

std::string Join(const std::vector<std::string> &v) {
    std::string out;
    for (const auto &s : v) out += "  [" + s + "]\n";
    return out;
}

// Failure messages by their text; a message that is followed by the name of
// what failed ("pFileName: %s") is counted together with that name.
std::map<std::string, int> FailureCounts(const std::vector<std::string> &messages) {
    std::map<std::string, int> n;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (!IsFailureMessage(messages[i])) continue;
        std::string key = messages[i];
        if (i + 1 < messages.size() && messages[i + 1].compare(0, 11, "pFileName: ") == 0)
            key += "|" + messages[i + 1].substr(11);
        ++n[key];
    }
    return n;
}

// A file the normal run deleted before its sweep, which a run that failed
// earlier leaves for the sweep to examine.
bool LeftForTheSweep(const Outcome &base, const std::string &failureKey) {
    size_t bar = failureKey.find('|');
    if (bar == std::string::npos) return false;
    std::string path = failureKey.substr(bar + 1);
    for (const auto &d : base.deleted)
        if (sim::Lower(d) == sim::Lower(path)) return true;
    return false;
}

// Checks that hold for every run, faulted or not.
void CheckClean(const Scenario &s, const Ownership &own, const Outcome &o, const std::string &what) {
    if (!o.ended && s.deploys)
        EXPECT_TRUE(o.exitCode == 0 ? o.result == "clean" && o.reboot == std::string(4, '\0')
                                    : o.exitCode == 1603 || o.exitCode == 1618 || o.exitCode == 3010)
            << what << ": return code " << o.exitCode << ", the record says " << o.result;
    else if (!o.ended)
        EXPECT_EQ(s.rebootExit && HasMessage(o, "Reboot needed\n") ? (int)ERROR_SUCCESS_REBOOT_REQUIRED
                                                                   : s.exitCode,
                  o.exitCode)
            << what;
    EXPECT_TRUE(o.open.empty()) << what << ": left open:\n" << Join(o.open);
    EXPECT_TRUE(o.problems.empty()) << what << ": platform misuse:\n" << Join(o.problems);
    for (const auto &id : o.removed)
        EXPECT_TRUE(s.mayRemove(own, id)) << what << ": removed a node that is not to go: " << id;
    for (const auto &path : o.deleted)
        EXPECT_TRUE(s.mayDelete(own, path)) << what << ": deleted a file that is not to go: " << path;
    for (const auto &name : o.packages)
        EXPECT_TRUE(s.mayDelete(own, kInf + name)) << what << ": uninstalled a package that is not to go: " << name;
    // Whatever way a node or file went, it must have been one that may go.
    for (const auto &id : o.lostNodes)
        EXPECT_TRUE(s.mayRemove(own, id)) << what << ": lost a node that is not to go: " << id;
    for (const auto &path : o.lostFiles)
        EXPECT_TRUE(s.mayDelete(own, path)) << what << ": lost a file that is not to go: " << path;
    for (const auto &name : o.lostPackages)
        EXPECT_TRUE(s.mayDelete(own, kInf + name)) << what << ": lost a package that is not to go: " << name;
    // No package is ever left in the store without its published INF.
    EXPECT_TRUE(o.orphans.empty()) << what << ": packages without their published INF:\n"
                                   << Join(o.orphans);
    // The record never says "clean" while something of the product is left.
    if (o.result == "clean") {
        for (const auto &d : sim::M().devices)
            EXPECT_FALSE(own.productNodes.count(d.instanceId) && !d.removed)
                << what << ": clean, yet the node " << d.instanceId << " is left";
        for (const auto &path : own.productFiles)
            EXPECT_FALSE(sim::FileExists(path)) << what << ": clean, yet " << path << " is left";
    }
    // A restart asked for in this Windows session stays asked for, whatever fails.
    if (!s.rebootBefore.empty())
        EXPECT_EQ(s.rebootBefore, o.reboot) << what << ": RebootRequired changed";
    if (o.refusals) {
        EXPECT_TRUE(o.removed.empty()) << what << ": removed a node after refusing";
        EXPECT_TRUE(o.deleted.empty()) << what << ": deleted a file after refusing";
    }
}

// The messages the failure must have written: they cover the first message in
// which the run departs from the normal run (a failure can write what the
// normal run wrote at that point, so the departure may lie inside them).
void CheckMessages(const Expect &e, const Outcome &base, const Outcome &o, const std::string &what) {
    const auto &m = o.messages;
    size_t d = 0;
    while (d < m.size() && d < base.messages.size() && m[d] == base.messages[d]) ++d;
    bool departs = d < m.size() || d < base.messages.size();
    if (e.messages.empty()) {
        // A silent place: no failure message that the normal run did not write.
        auto now = FailureCounts(m), before = FailureCounts(base.messages);
        for (const auto &f : now)
            if (!LeftForTheSweep(base, f.first) &&
                !(e.mayKeep && f.first.compare(0, 22, "Driver package kept: [") == 0))
                EXPECT_LE(f.second, before[f.first])
                << what << ": fails silently, yet wrote [" << f.first << "]\nTrace:\n" << Join(m);
        return;
    }
    size_t len = e.messages.size();
    bool found = false;
    size_t from = departs ? (d + 1 >= len ? d + 1 - len : 0) : 0;
    size_t to = departs && !e.later ? d : (m.size() >= len ? m.size() - len : 0);
    for (size_t i = from; i <= to && !found && i + len <= m.size(); ++i) {
        bool all = true;
        for (size_t k = 0; k < len && all; ++k) all = MessageMatches(m[i + k], e.messages[k]);
        found = all;
    }
    EXPECT_TRUE(found) << what << ": expected\n" << Join(e.messages) << "where the run departs ("
                       << d << ") from the normal run; trace:\n" << Join(m);
}

int Sweep(const Scenario &s) {
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    CheckClean(s, own, base, s.name + ", normal run");
    EXPECT_EQ(s.refuses ? 1u : 0u, base.refusals) << "the normal run's refusal";
    EXPECT_EQ(0u, base.messageBoxes) << "the normal run shows no box";
    const int calls = (int)base.fallible.size();
    std::vector<Place> places = Classify(base.fallible, s.stages);

    std::set<std::string> unknown;
    int runs = 0;
    for (int n = 1; n <= calls; ++n) {
        const Place &place = places[n - 1];
        const Expect *e = s.table.Find(place);
        if (!e) {
            unknown.insert(place.Text());
            continue;
        }
        Outcome o = RunOnce(s, own, n);
        ++runs;
        std::string what = s.name + ", call " + std::to_string(n) + " (" + place.Text() + ") failing";
        // The same run up to the failing call: the call failed is the one classified.
        if (o.fallible.size() < (size_t)n || base.fallible[n - 1] != o.fallible[n - 1]) {
            ADD_FAILURE() << what << ": the run did not repeat the normal run up to that call";
            continue;
        }
        CheckClean(s, own, o, what);
        EXPECT_EQ(e->refuses ? 1u : 0u, o.refusals) << what;
        const size_t boxes = e->boxes >= 0 ? (size_t)e->boxes : (e->refuses && !s.refuses ? 1 : 0);
        EXPECT_EQ(boxes, o.messageBoxes) << what;
        EXPECT_EQ(e->stdoutText ? std::string(e->stdoutText) : base.stdoutText, o.stdoutText) << what;
        CheckMessages(*e, base, o, what);
        for (const auto &api : e->forbiddenCalls)
            EXPECT_EQ(0, o.calls[api]) << what << ": " << api << " must not follow";
        if (e->unchanged)
            EXPECT_TRUE(o.messages == base.messages && o.removed == base.removed &&
                        o.deleted == base.deleted && o.packages == base.packages)
                << what << ": the run differs from the normal run; trace:\n" << Join(o.messages);
        // A failure that makes the run refuse, or go on where it refused,
        // changes its word as the refusal does.
        // A look that fails says "unknown", or, where the normal run leaves
        // something and the look still found it, "left".
        if (s.records && e->result && std::string(e->result) == "unknown")
            EXPECT_TRUE(o.result == "unknown" || (o.result == base.result && base.result != "clean"))
                << what << ": " << o.result;
        else if (s.records && e->result && std::string(e->result) != "*")
            EXPECT_EQ(e->result, o.result) << what;
        else if (s.records && e->refuses != s.refuses && e->refuses)
            EXPECT_EQ("refused", o.result) << what;
        else if (s.records && e->unchanged && e->refuses == s.refuses)
            EXPECT_EQ(base.result, o.result) << what;
    }
    std::string list;
    for (const auto &u : unknown) list += "  " + u + "\n";
    EXPECT_TRUE(unknown.empty()) << s.name << ": places without an expectation:\n" << list;
    int logCalls = 0;
    for (const auto &p : places) logCalls += p.stage == "log";
    std::printf("fault sweep %s: %d fallible calls (%d of the run log), %d runs with one call failing\n",
                s.name.c_str(), calls, logCalls, runs);
    return runs;
}

// Two failing calls in one run: the call n and the one d calls later in the
// normal run (by its api and occurrence, wherever the faulted run reaches it).
// And a persistent fault: every call of one api failing from the first on.
// Neither has one prescribed message; every run must still end cleanly.
int SweepMoreFaults(const Scenario &s) {
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    const int calls = (int)base.fallible.size();
    std::map<std::string, int> seen;
    std::vector<int> occurrence(calls);
    for (int i = 0; i < calls; ++i) occurrence[i] = ++seen[base.fallible[i]];
    int runs = 0;
    for (int n = 1; n <= calls; ++n) {
        for (int d : {1, 5}) {
            int m = n + d;
            if (m > calls) continue;
            const std::string &api = base.fallible[m - 1];
            // RunOnce resets the machine: the second fault comes with the set-up.
            Scenario twice = s;
            twice.setUp = [&](Ownership &o) {
                s.setUp(o);
                sim::FailCall(api, occurrence[m - 1]);
            };
            Outcome o = RunOnce(twice, own, n);
            ++runs;
            CheckClean(s, own, o, s.name + ", calls " + std::to_string(n) + " and " +
                                      std::to_string(m) + " (" + api + ") failing");
        }
    }
    for (const auto &api : seen) {
        Scenario always = s;
        always.setUp = [&](Ownership &o) {
            s.setUp(o);
            sim::FailCall(api.first, 0);
        };
        Outcome o = RunOnce(always, own, 0);
        ++runs;
        CheckClean(s, own, o, s.name + ", every " + api.first + " failing");
    }
    std::printf("fault sweep %s: %d runs with two calls or every call of one api failing\n",
                s.name.c_str(), runs);
    return runs;
}

// ---------------------------------------------------------------------------
// A run cut short, then run again: the process ends right before each
// fallible call of the normal run, and separately right after it has taken
// effect; the same program then runs again on the machine as it was left,
// and must leave it exactly as one uninterrupted run does.

// What a run leaves for the next one.
struct State {
    std::set<std::string> nodes;          // instance IDs of the nodes still there
    std::map<std::string, DWORD> files;   // path, lower case: attributes
    std::set<std::string> store;          // driver-store packages, lower case
    bool operator==(const State &o) const {
        return nodes == o.nodes && files == o.files && store == o.store;
    }
};

State Snapshot() {
    State st;
    for (const auto &d : sim::M().devices)
        if (!d.removed) st.nodes.insert(d.instanceId);
    for (const auto &f : sim::M().files) st.files[sim::Lower(f.second.path)] = f.second.attributes;
    for (const auto &p : sim::M().driverStore) st.store.insert(sim::Lower(p));
    return st;
}

std::string Difference(const State &want, const State &got) {
    std::string out;
    auto side = [&](const std::set<std::string> &a, const std::set<std::string> &b, const char *what) {
        for (const auto &x : a)
            if (!b.count(x)) out += std::string("  ") + what + " " + x + "\n";
    };
    side(want.nodes, got.nodes, "node gone:");
    side(got.nodes, want.nodes, "node left:");
    side(want.store, got.store, "package gone:");
    side(got.store, want.store, "package left:");
    for (const auto &f : want.files) {
        auto it = got.files.find(f.first);
        if (it == got.files.end()) out += "  file gone: " + f.first + "\n";
        else if (it->second != f.second) out += "  attributes changed: " + f.first + "\n";
    }
    for (const auto &f : got.files)
        if (!want.files.count(f.first)) out += "  file left: " + f.first + "\n";
    return out;
}

int SweepEndings(const Scenario &s) {
    Ownership own;
    const Outcome clean = RunOnce(s, own, 0);
    const State cleanEnd = Snapshot();
    const int calls = (int)clean.fallible.size();
    int runs = 0, sweepDiffers = 0, writesMore = 0;
    for (int k = 1; k <= calls; ++k) {
        for (bool after : {false, true}) {
            std::string what = s.name + ", ended " + (after ? "after" : "before") + " call " +
                               std::to_string(k) + " (" + clean.fallible[k - 1] + ")";
            Outcome first = RunOnce(s, own, 0, k, after);
            EXPECT_TRUE(first.ended || first.childEnded || (after && k == calls))
                << what << ": the process went on";
            CheckClean(s, own, first, what + ", cut short");
            sim::NewProcess();
            Outcome second = Run(s);
            ++runs;
            EXPECT_FALSE(second.ended) << what;
            CheckClean(s, own, second, what + ", run again");
            const State end = Snapshot();
            EXPECT_TRUE(end == cleanEnd) << what << ": run again, it leaves the machine otherwise "
                                         << "than one whole run:\n" << Difference(cleanEnd, end);
            sweepDiffers += HasMessage(second, "Need search..\n") != HasMessage(clean, "Need search..\n");
            bool differs = false;
            for (const auto &m : second.messages) {
                if (HasMessage(clean, m)) continue;
                differs = true;
                bool stated = false;
                for (const auto &p : s.secondRunMayWrite) stated = stated || MessageMatches(m, p);
                EXPECT_TRUE(stated) << what << ": run again, it writes [" << m
                                    << "], which one whole run does not";
            }
            writesMore += differs;
        }
    }
    EXPECT_EQ(0, sweepDiffers) << s.name << ": second runs that sweep where one whole run does "
                                          "not, or the other way round";
    std::printf("runs cut short %s: %d calls, %d runs cut short and run again, all converging; "
                "%d second runs write what one whole run does not\n",
                s.name.c_str(), calls, runs, writesMore);
    return runs;
}

// A second run after a clean one only looks: it removes and deletes
// nothing and writes what it writes on the machine without the product.
// Every removal succeeds here, so that one run leaves nothing to do.
void CheckSecondRunOnlyLooks(Scenario s) {
    auto setUp = s.setUp;
    s.setUp = [setUp](Ownership &own) {
        setUp(own);
        for (auto &d : sim::M().devices) d.removeError = 0;
    };
    Ownership own;
    const Outcome clean = RunOnce(s, own, 0);
    const State cleanEnd = Snapshot();
    sim::NewProcess();
    const Outcome again = Run(s);
    EXPECT_EQ(s.exitCode, again.exitCode) << s.name;
    EXPECT_TRUE(again.removed.empty()) << s.name << ": removed\n" << Join(again.removed);
    EXPECT_TRUE(again.deleted.empty()) << s.name << ": deleted\n" << Join(again.deleted);
    EXPECT_TRUE(again.packages.empty()) << s.name << ": uninstalled\n" << Join(again.packages);
    EXPECT_TRUE(Snapshot() == cleanEnd) << s.name << Difference(cleanEnd, Snapshot());
    EXPECT_TRUE(again.open.empty()) << s.name << Join(again.open);
    // The same machine with the product taken off by hand.
    sim::Reset();
    own = Ownership();
    s.setUp(own);
    for (auto &d : sim::M().devices)
        if (own.productNodes.count(d.instanceId)) d.removed = true;
    for (const auto &path : own.productFiles) {
        sim::M().files.erase(path);
        std::string name = path.substr(std::string(kInf).size());
        sim::M().driverStore.erase(name);
    }
    const Outcome without = Run(s);
    EXPECT_EQ(without.messages, again.messages) << s.name << ": run again after a clean run:\n"
                                               << Join(again.messages) << "without the product:\n"
                                               << Join(without.messages);
    EXPECT_EQ(without.stdoutText, again.stdoutText) << s.name;
}

// ---------------------------------------------------------------------------
#if defined(SWEEP_TIDEWELL)

const char kPrefix[] = "..Tidewell - Omrak";

int RunTidewell() { return TidewellMain(0, nullptr, nullptr); }

std::string TidewellStages(const std::string &api, const std::string &stage,
                           const std::string &prev, std::map<std::string, int> &opened) {
    // The run record comes last, from its clock on; the last run's Result
    // goes first.
    if (stage == "record" || api == "GetTimeZoneInformation") return "record";
    if (stage == "dlls" && api == "RegOpenKeyExA") return "unrecord";
    // On 32-bit Windows the store work follows the sweep's walk.
    if (stage == "sweep" && prev == "FindNextFileA" && api != "SetupOpenInfFileA") return "store";
    static const char *scans[] = {"modem", "ports", "users", "removal"};
    if (api == "SetupDiGetClassDevsA") {
        int k = opened[api]++;
        return k < 4 ? scans[k] : "unexpected";
    }
    // The first look-up in kernel32 restricts the DLL search, the one after
    // the reading of other devices' packages is the WOW64 check; later
    // module look-ups belong to the stage that makes them.
    if (api == "GetModuleHandleA" && stage == "start") return "dlls";
    if (api == "GetModuleHandleA" && stage == "users") return "wow";
    if (api == "GetModuleFileNameA") return "handoff";
    if (api == "GetProcessWindowStation") return "refusal";
    // The sweep starts with its first buffer: after the removal's last
    // enumeration, or after the hand-off.
    if (api == "LocalAlloc" &&
        ((stage == "removal" && prev == "SetupDiEnumDeviceInfo") || stage == "handoff"))
        return "sweep";
    return stage;
}

Table TidewellTable(bool wow64) {
    Table t;
    AddDllSearch(t);
    for (const char *pass : {"modem", "ports"}) {
        t.Add(pass, "SetupDiGetClassDevsA", 0, Silent());
        t.Add(pass, "SetupDiEnumDeviceInfo", 0, Silent());
        t.Add(pass, "SetupDiGetDeviceRegistryPropertyA", 0, Silent(true));
        t.Add(pass, "LocalAlloc", 1, Silent(true));  // the hardware-ID buffer
        t.Add(pass, "SetupDiOpenDevRegKey", 0,
              Says({"Open Registry failed, Error code: 0x       5\n, line: 307"}, true));
        t.Add(pass, "LocalAlloc", 2, Says({"Malloc failed, line: 313"}, true));
        t.Add(pass, "RegQueryValueExA", 0,
              Says({"RegQueryValueEx failed, line: 337!\n", "Error code: 0x5\n"}));
        t.Add(pass, "LocalAlloc", 3, Says({"Malloc failed, line: 348"}, true));
        t.Add(pass, "CreateFileA", 0, Says({"Port Name: \\\\.\\COM*",
                                             "Open port failed, error code: 0x5, line: 366\n"}, true));
    }
    // Reading which packages other devices use: where it fails, the
    // packages that could be another device's are kept.
    for (const char *api : {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInfo",
                            "SetupDiGetDeviceRegistryPropertyA", "LocalAlloc", "SetupDiOpenDevRegKey",
                            "RegQueryValueExA", "SetupDiGetDeviceInstanceIdA"})
        t.Add("users", api, 0, MayKeep());
    // Without an answer from IsWow64Process the removal runs in this process.
    Expect thirtyTwoBit = wow64 ? Says({"Delete file in Skarnel\n",
                                        "File full path: C:\\Windows\\inf\\oem12.inf\n"})
                                : Silent();
    for (const char *api : {"GetModuleHandleA", "GetProcAddress", "IsWow64Process"})
        t.Add("wow", api, 0, thirtyTwoBit);
    // IsWow64Process2's look-up or call failing: IsWow64Process answers.
    for (const char *api : {"GetModuleHandleA", "GetProcAddress", "IsWow64Process2"}) {
        t.Add("wow", api, 1, Silent());
        t.byPlace[std::string("wow/") + api + "/1"].unchanged = true;
    }

    t.Add("removal", "SetupDiGetClassDevsA", 0, Silent());
    t.Add("removal", "SetupDiEnumDeviceInfo", 0, Silent());
    t.Add("removal", "SetupDiGetDeviceRegistryPropertyA", 0, Silent());
    t.Add("removal", "LocalAlloc", 1, Silent());
    t.Add("removal", "SetupDiOpenDevRegKey", 0, Says({"Open Registry failed, Error code: 0x       5\n"}));
    t.Add("removal", "LocalAlloc", 2, Says({"LocalAlloc for 'pInfName' failed!\n"}));
    t.Add("removal", "RegQueryValueExA", 0,
          Says({"RegQueryValueEx for 'InfPath' failed!\n", "Error code: 0x5\n"}));
    t.Add("removal", "LocalAlloc", 3, Says({"Malloc buffer for pFilePath failed\n"}));
    t.Add("removal", "LocalAlloc", 4, Says({"Malloc failed\n"}));
    t.Add("removal", "GetWindowsDirectoryA", 0, Says({"Get current path failed!\n"}));
    // The OEM INF's uninstall, looked up at run time: where the look-up or
    // the uninstall fails, the file and its package stay. The removal tries
    // once more when the node is gone; the sweep keeps it.
    // On 32-bit Windows the store work then takes it after all.
    for (const char *api : {"GetModuleHandleA", "GetProcAddress", "SetupUninstallOEMInfA"}) {
        t.Add("removal", api, 0, Silent());
        t.Add("sweep", api, 0,
              Says({wow64 ? "Driver package kept: [oem2*" : "SetupUninstallOEMInfA successful: [oem2*"}));
    }
    for (const char *stage : {"removal", "sweep"})
        t.Add(stage, "GetFileAttributesA", 0, Silent());
    t.Add("removal", "SetFileAttributesA", 0, Silent());
    t.Add("removal", "DeleteFileA", 0, Silent());
    t.Add("removal", "SetupDiCallClassInstaller", 0, Says({"Remove failed!\n"}));

    t.Add("handoff", "GetModuleFileNameA", 0,
          Says({"Module path: [], line: 1126", "Halvex64 full name: [], line: 1128"}));
    t.byPlace["handoff/GetModuleFileNameA/0"].stdoutText = "CreateProcess failed (2).\n";
    t.Add("handoff", "CreateProcessA", 0, Says({"bare:CreateProcess failed"}));
    t.byPlace["handoff/CreateProcessA/0"].stdoutText = "CreateProcess failed (2).\n";
    t.Add("handoff", "WaitForSingleObject", 0, Silent());
    t.Add("handoff", "GetExitCodeProcess", 0, Records(nullptr));  // no restart known

    // Where nobody would see the refusal's box its text is traced; a failing
    // call leaves that unknown, and the box is shown.
    for (const char *api : {"GetProcessWindowStation", "GetUserObjectInformationA",
                            "GetModuleHandleA", "GetProcAddress", "ProcessIdToSessionId"}) {
        t.Add("refusal", api, 0, Silent(true));
        t.byPlace[std::string("refusal/") + api + "/0"].boxes = 1;
    }

    t.Add("sweep", "LocalAlloc", 1, Says({"Malloc failed, line: 360\n"}));
    t.Add("sweep", "LocalAlloc", 2, Says({"Malloc failed, line: 366\n"}));
    t.Add("sweep", "LocalAlloc", 3, Says({"Malloc failed, line: 372\n"}));
    // Buffers of one INF file, and the run's lists: a package the kept list
    // cannot hold is traced at once.
    t.Add("sweep", "LocalAlloc", 0, Silent());
    t.byPlace["sweep/LocalAlloc/0"].mayKeep = true;
    t.Add("sweep", "GetWindowsDirectoryA", 0, Silent());
    t.Add("sweep", "FindFirstFileA", 0, Says({"Get file list failed, line: 383\n"}));
    t.Add("sweep", "FindNextFileA", 0, Silent());
    t.Add("sweep", "SetupOpenInfFileA", 0,
          Says({"INVALID_HANDLE_VALUE, line: 210", "pFileName: C:\\Windows\\inf\\*"}));
    for (const char *api : {"SetupFindFirstLineA", "SetupFindNextLine", "SetupGetLineTextA",
                            "SetFileAttributesA", "DeleteFileA"})
        t.Add("sweep", api, 0, Silent());
    t.Add("removal", "SetupDiGetDeviceInstallParamsA", 0, Silent());  // only the run log hears

    // The store work: a package refused is kept.
    for (const char *api : {"GetFileAttributesA", "SetFileAttributesA"})
        t.Add("store", api, 0, Silent());
    for (const char *api : {"GetModuleHandleA", "GetProcAddress", "SetupUninstallOEMInfA"})
        t.Add("store", api, 0, SaysLater({"Driver package kept: [oem*"}));

    // The run record: a look that fails says "unknown", never "clean"; a
    // record that cannot be written holds no result; the clock changes no word.
    for (const char *api : {"LocalAlloc", "SetupDiGetClassDevsA", "SetupDiEnumDeviceInfo",
                            "SetupDiGetDeviceRegistryPropertyA", "GetWindowsDirectoryA", "FindFirstFileA", "FindNextFileA", "CreateFileA",
                            "ReadFile", "SetupOpenInfFileA", "SetupFindFirstLineA",
                            "SetupFindNextLine", "SetupGetLineTextA"})
        t.Add("record", api, 0, Records("unknown"));
    // A node left whose instance ID cannot be read is left all the same.
    for (const char *api : {"GetTimeZoneInformation", "SetupDiGetDeviceInstanceIdA"})
        t.Add("record", api, 0, Records(nullptr));
    for (const char *api : {"RegCreateKeyExA", "RegDeleteValueA", "RegSetValueExA"})
        t.Add("record", api, 0, Records("(none)"));
    // The last run's Result that cannot be deleted at the start goes at the
    // end; RebootRequired that cannot be read stays, as does a 1 of this
    // session whose start time of Windows cannot be read or is found through
    // GetTickCount alone.
    for (const char *api : {"RegOpenKeyExA", "RegDeleteValueA"})
        t.Add("unrecord", api, 0, Records(nullptr));
    for (const char *api : {"RegQueryValueExA", "GetModuleHandleA", "GetProcAddress"})
        t.Add("record", api, 0, Records(nullptr));
    return t;
}

// The real Tidewell64: a 64-bit process.
void RealSibling() {
    sim::M().wow64 = sim::Wow64False;
    sim::SetExitCode(Tidewell64Main(0, nullptr, nullptr));
}

// On 64-bit Windows the sibling is the stand-in above, or with realSibling
// the real one; refusedInWow64 says whether the driver store refuses a
// 32-bit process there.
Scenario TidewellScenario(bool wow64, bool realSibling = false, bool refusedInWow64 = true) {
    Scenario s;
    s.name = wow64 ? "Tidewell on 64-bit Windows" : "Tidewell on 32-bit Windows";
    if (realSibling) s.name += ", the real sibling";
    if (wow64 && !refusedInWow64) s.name += ", the store not refusing WOW64";
    s.prefix = kPrefix;
    s.exitCode = 0;
    s.setUp = [wow64, realSibling, refusedInWow64](Ownership &own) {
        BuildMachine(own);
        sim::M().wow64 = wow64 ? sim::Wow64True : sim::Wow64False;
        // 32-bit Windows before 10 1709, without IsWow64Process2.
        if (!wow64) sim::M().nativeMachine = IMAGE_FILE_MACHINE_I386;
        sim::M().noIsWow64Process2 = !wow64;
        sim::M().uninstallRefusedInWow64 = refusedInWow64;
        sim::M().programs[kSibling] = realSibling ? RealSibling : SiblingRun;
        // An earlier run of this Windows session asked for a restart.
        sim::RegKey &record = sim::M().registry["SOFTWARE\\Omrak\\Device Tools"];
        record["Result"] = sim::Sz("left");
        record["RebootRequired"] = sim::Bytes(REG_DWORD, {1, 0, 0, 0});
        record["RebootBootTime"] = sim::Sz("2026-03-17T06:37:30Z");
        // On 32-bit Windows every node goes, so that the run ends clean and a
        // look that fails must say so.
        if (!wow64)
            for (auto &d : sim::M().devices) d.removeError = 0;
    };
    s.run = RunTidewell;
    s.records = true;
    s.rebootBefore = std::string("\1\0\0\0", 4);
    s.stages = TidewellStages;
    s.table = TidewellTable(wow64);
    s.mayRemove = [](const Ownership &own, const std::string &id) {
        return own.productNodes.count(id) != 0;
    };
    s.mayDelete = [](const Ownership &own, const std::string &path) {
        return own.productFiles.count(path) != 0;
    };
    return s;
}

TEST(FaultSweep, TidewellOn32BitWindows) {
    Scenario s = TidewellScenario(false);
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    // The normal run reaches every stage: removal, composite and tampered
    // "InfPath" values, a failed removal-free deletion, and the sweep.
    EXPECT_TRUE(HasMessage(base, "Port Name: \\\\.\\COM7"));
    EXPECT_TRUE(HasMessage(base, "Port Name: \\\\.\\COM8"));
    EXPECT_TRUE(HasMessage(base, "Find composite device\n"));
    EXPECT_TRUE(HasMessage(base, "Need search..\n"));
    EXPECT_TRUE(sim::FileExists("C:\\Windows\\system32\\drivers\\omrakusb.sys"));
    // The sweep takes the leftover product INFs, the store work those it
    // does not read, and nothing else.
    for (const char *gone : {"oem20.inf", "oem21.inf", "oem6.inf", "oem7.inf"})
        EXPECT_FALSE(sim::FileExists(kInf + std::string(gone))) << gone;
    for (const char *kept : {"oem5.inf", "oem22.inf", "usb.inf", "notes.inf"})
        EXPECT_TRUE(sim::FileExists(kInf + std::string(kept))) << kept;
    // Each product INF left through the store's uninstall: its package went
    // with it and no package is left naming a missing file.
    EXPECT_EQ((std::vector<std::string>{"oem12.inf", "oem13.inf", "oem14.inf", "oem20.inf",
                                        "oem21.inf", "oem23.inf", "oem24.inf", "oem6.inf",
                                        "oem7.inf"}),
              base.lostPackages);
    EXPECT_TRUE(base.orphans.empty()) << Join(base.orphans);
    EXPECT_EQ("clean", base.result);
    EXPECT_FALSE(sim::FileExists(kInf + std::string("oem12.pnf")));
    EXPECT_GT(Sweep(s), 50);
    EXPECT_GT(SweepMoreFaults(s), 100);
}

// A refusal in session 0, where the box would be seen by nobody: the product
// modem's port is held. Failures that let the run go on meet a machine
// whose removal and sweep write no failure of their own.
TEST(FaultSweep, TidewellRefusingUnseen) {
    Scenario s = TidewellScenario(false);
    s.name = "Tidewell refusing in session 0";
    s.refuses = true;
    s.rebootBefore.clear();  // no earlier record
    // The DLL search restricted or not, the run still refuses; the record
    // comes after the refusal and says so, whatever its look found.
    for (auto &e : s.table.byPlace) {
        if (e.first.compare(0, 5, "dlls/") == 0 || e.first.compare(0, 4, "log/") == 0 ||
            e.first.compare(0, 7, "record/") == 0 || e.first.compare(0, 9, "unrecord/") == 0)
            e.second.refuses = true;
        if (e.first.compare(0, 7, "record/") == 0 && e.second.result &&
            std::string(e.second.result) == "unknown")
            e.second.result = "refused";
    }
    s.setUp = [](Ownership &own) {
        sim::AddDirectory("C:\\Windows");
        sim::AddDirectory("C:\\Windows\\inf");
        sim::Device &d = Product(own, "USB\\VID_1F3C&PID_3A41&MI_00\\6&1", GUID_DEVCLASS_MODEM,
                                 {"USB\\Vid_1F3C&Pid_3A41&MI_00"});
        d.hasHardwareKey = true;
        d.hardwareKey["AttachedTo"] = sim::Sz("COM7");
        d.hasDriverKey = true;
        d.driverKey["InfPath"] = sim::Sz("oem12.inf");
        sim::M().ports["COM7"].heldByOther = true;
        sim::AddFile(kInf + std::string("oem12.inf"), ProductInf("Modem=M,USB\\Vid_1F3C&Pid_3A41"));
        own.productFiles.insert(kInf + std::string("oem12.inf"));
        sim::AddFile(kInf + std::string("usb.inf"), "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
        sim::M().sessionId = 0;
    };
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    EXPECT_EQ("Please close all program\n", base.messages.back());
    EXPECT_EQ(2, base.calls["ProcessIdToSessionId"]);  // the run log's header, the refusal
    EXPECT_GT(Sweep(s), 10);
}

TEST(FaultSweep, TidewellOn64BitWindowsWithSibling) {
    Scenario s = TidewellScenario(true);
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    ASSERT_EQ(1u, sim::M().processStarts.size());
    EXPECT_EQ(kSibling, sim::M().processStarts[0].application);
    EXPECT_EQ(own.productNodes.size(), base.removed.size()) << "the sibling removed the nodes";
    EXPECT_GT(Sweep(s), 20);
    EXPECT_GT(SweepMoreFaults(s), 40);
}

// A signed uninstaller checks its sibling first: every failure on the way
// fails closed, with one line of its own, no start, and the sweep as after
// a failed start.
TEST(FaultSweep, TidewellOn64BitWindowsSigned) {
    Scenario s = TidewellScenario(true);
    s.name += ", signed";
    auto setUp = s.setUp;
    s.setUp = [setUp](Ownership &own) {
        setUp(own);
        for (const char *path : {"C:\\Program Files\\Omrak\\Tidewell.exe", kSibling})
            sim::M().files[path].signature = {"CN=Publisher A", "CN=Code Signing CA"};
    };
    auto refused = [](const std::string &reason, std::vector<std::string> before = {}) {
        before.push_back("Tidewell64.exe not started: " + reason + ", Error code: 0x*");
        Expect e = Says(before);
        e.messages.push_back("Need search..\n");
        e.forbiddenCalls = {"CreateProcessA"};
        return e;
    };
    for (const auto &p : std::vector<std::pair<std::string, std::string>>{
             {"LoadLibraryExA/1", "wintrust.dll not loaded"}, {"LoadLibraryExA/2", "crypt32.dll not loaded"},
             {"GetProcAddress/0", "signature functions not found"}, {"CreateFileA/1", "file not opened"},
             {"CreateFileA/2", "own file not opened"}, {"MultiByteToWideChar/1", "own signature check failed"},
             {"WinVerifyTrust/1", "own signature check failed"},
             {"WTHelperProvDataFromStateData/1", "own signer not read"},
             {"WTHelperGetProvSignerFromChain/1", "own signer not read"},
             {"MultiByteToWideChar/2", "signature check failed"}, {"WinVerifyTrust/2", "signature check failed"},
             {"WTHelperProvDataFromStateData/2", "signer not read"},
             {"WTHelperGetProvSignerFromChain/2", "signer not read"},
             {"CertCompareCertificateName/0", "signed by another publisher"}})
        s.table.byPlace["handoff/" + p.first] = refused(p.second);
    s.table.byPlace["handoff/GetModuleFileNameA/0"] = refused(
        "file not opened", {"Module path: [], line: 1126", "Halvex64 full name: [], line: 1128"});
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    EXPECT_EQ(2, base.calls["WinVerifyTrust"]) << "ours and the sibling's";
    EXPECT_EQ(own.productNodes.size(), base.removed.size()) << "the sibling started";
    EXPECT_GT(Sweep(s), 40);
    EXPECT_GT(SweepMoreFaults(s), 80);
}

TEST(RunCutShort, TidewellOn32BitWindows) { EXPECT_GT(SweepEndings(TidewellScenario(false)), 400); }

TEST(RunCutShort, TidewellOn64BitWindowsWithSibling) {
    for (bool refused : {true, false})
        EXPECT_GT(SweepEndings(TidewellScenario(true, true, refused)), 600);
}

// Without its sibling the uninstaller's sweep meets the product's published
// INFs: no package loses its published INF, whether the store refuses the
// 32-bit process or not, and a later run with the sibling ends as one
// whole run does.
TEST(RunCutShort, TidewellOn64BitWindowsWithoutSiblingThenWithIt) {
    for (bool refused : {true, false}) {
        Scenario s = TidewellScenario(true, true, refused);
        Ownership own;
        RunOnce(s, own, 0);
        const State whole = Snapshot();
        Scenario missing = s;
        missing.setUp = [&](Ownership &o) {
            s.setUp(o);
            sim::M().files.erase(kSibling);
        };
        const Outcome alone = RunOnce(missing, own, 0);
        CheckClean(s, own, alone, s.name + ", without the sibling");
        EXPECT_TRUE(alone.orphans.empty()) << s.name << Join(alone.orphans);
        for (const char *stem : {"oem12", "oem13", "oem14", "oem20", "oem21"}) {
            const std::string inf = std::string(stem) + ".inf";
            const bool whole = sim::M().driverStore.count(inf) && sim::FileExists(kInf + inf) &&
                               sim::FileExists(kInf + std::string(stem) + ".pnf");
            if (refused) EXPECT_TRUE(whole) << s.name << ": " << inf << " not kept whole";
        }
        sim::AddFile(kSibling, "MZ");
        sim::NewProcess();
        ::Run(s);
        EXPECT_TRUE(Snapshot() == whole) << s.name << Difference(whole, Snapshot());
    }
}

TEST(RunCutShort, SecondRunAfterACleanOneOnlyLooks) {
    for (bool wow64 : {false, true}) CheckSecondRunOnlyLooks(TidewellScenario(wow64, wow64));
}

#elif defined(SWEEP_TIDEWELL64)

std::string Tidewell64Stages(const std::string &api, const std::string &stage,
                             const std::string &prev, std::map<std::string, int> &opened) {
    if (api == "GetModuleHandleA" && stage == "start") return "dlls";
    if (api == "SetupDiGetClassDevsA") return opened[api]++ == 0 ? "users" : "removal";
    // The sweep starts with its first buffer, after the last enumeration.
    if (api == "LocalAlloc" && stage == "removal" && prev == "SetupDiEnumDeviceInfo") return "sweep";
    return stage;
}

Table Tidewell64Table() {
    Table t;
    AddDllSearch(t);
    for (const char *api : {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInfo",
                            "SetupDiGetDeviceRegistryPropertyA", "LocalAlloc", "SetupDiOpenDevRegKey",
                            "RegQueryValueExA", "SetupDiGetDeviceInstanceIdA"})
        t.Add("users", api, 0, MayKeep());
    t.Add("removal", "SetupDiGetClassDevsA", 0, Silent());
    t.Add("removal", "SetupDiEnumDeviceInfo", 0, Silent());
    t.Add("removal", "SetupDiGetDeviceRegistryPropertyA", 0, Silent());
    t.Add("removal", "LocalAlloc", 1, Silent());  // the hardware-ID buffer: the scan ends
    t.Add("removal", "SetupDiOpenDevRegKey", 0, Says({"Open Registry failed, Error code: 0x       5\n"}));
    t.Add("removal", "LocalAlloc", 2, Says({"LocalAlloc for 'pInfName' failed!\n"}));
    t.Add("removal", "RegQueryValueExA", 0,
          Says({"RegQueryValueEx for 'InfPath' failed!\n", "Error code: 0x5\n"}));
    t.Add("removal", "SetupDiGetDeviceInstallParamsA", 0,
          Says({"SetupDiGetDeviceInstallParamsA failed, Error code: 0x57\n"}));
    t.Add("removal", "SetupDiSetDeviceInstallParamsA", 0,
          Says({"SetupDiSetDeviceInstallParamsA failed, Error code: 0x57\n"}));
    t.Add("removal", "SetupDiCallClassInstaller", 0, Says({"Remove failed! Error code: 0x5\n"}));
    // A refused uninstall is tried again once the node is gone.
    t.Add("removal", "SetupUninstallOEMInfA", 0, Says({"SetupUninstallOEMInfA failed, Error code: 0x5\n"}));
    // The INF's full path.
    t.Add("removal", "LocalAlloc", 3, Says({"Malloc buffer for pFilePath failed\n"}));
    t.Add("removal", "LocalAlloc", 4, Says({"Malloc failed\n"}));
    t.Add("removal", "GetWindowsDirectoryA", 0, Says({"Get current path failed!\n"}));
    // The uninstall not found: the package stays, and the node's is tried
    // again once the node is gone.
    t.Add("removal", "GetModuleHandleA", 0, Says({"SetupUninstallOEMInfA failed, Error code: 0x7e\n"}));
    t.Add("removal", "GetProcAddress", 0, Says({"SetupUninstallOEMInfA failed, Error code: 0x7f\n"}));
    for (const char *api : {"GetModuleHandleA", "GetProcAddress"})
        t.Add("sweep", api, 0, SaysLater({"Driver package kept: [oem*"}));
    for (const char *stage : {"removal", "sweep"}) {
        for (const char *api : {"GetFileAttributesA", "SetFileAttributesA", "DeleteFileA"})
            t.Add(stage, api, 0, Silent());
    }
    t.Add("sweep", "LocalAlloc", 1, Says({"Malloc failed, line: 360\n"}));
    t.Add("sweep", "LocalAlloc", 2, Says({"Malloc failed, line: 366\n"}));
    t.Add("sweep", "LocalAlloc", 3, Says({"Malloc failed, line: 372\n"}));
    // Buffers of one INF file, and the run's lists: a package the kept list
    // cannot hold is traced at once.
    t.Add("sweep", "LocalAlloc", 0, Silent());
    t.byPlace["sweep/LocalAlloc/0"].mayKeep = true;
    t.Add("sweep", "FindFirstFileA", 0, Says({"Get file list failed, line: 383\n"}));
    // The sweep leaves the files it cannot read to the uninstaller's; one
    // whose bytes cannot be read is read as an INF all the same.
    for (const char *api : {"CreateFileA", "ReadFile"})
        t.Add("sweep", api, 0, Silent());
    for (const char *api : {"GetWindowsDirectoryA", "FindNextFileA", "SetupOpenInfFileA",
                            "SetupFindFirstLineA", "SetupFindNextLine", "SetupGetLineTextA"})
        t.Add("sweep", api, 0, Silent());
    t.Add("sweep", "SetupUninstallOEMInfA", 0, SaysLater({"Driver package kept: [oem*"}));
    return t;
}

Scenario Tidewell64Scenario() {
    Scenario s;
    s.name = "Tidewell64";
    s.prefix = "..Tidewell64 - Omrak";
    s.exitCode = 0;
    s.setUp = [](Ownership &own) {
        BuildMachine(own);
        sim::M().wow64 = sim::Wow64False;  // a 64-bit process
        // One removal that asks for a reboot, so that its check is reached.
        for (auto &d : sim::M().devices)
            if (d.instanceId == "USB\\VID_1F3C&PID_3A42\\5&4") d.removeNeedsFlags = DI_NEEDREBOOT;
    };
    s.run = [] { return Tidewell64Main(0, nullptr, nullptr); };
    s.rebootExit = true;
    s.stages = Tidewell64Stages;
    s.table = Tidewell64Table();
    s.mayRemove = [](const Ownership &own, const std::string &id) {
        return own.productNodes.count(id) != 0;
    };
    // The product's published INFs, those its nodes name and those the sweep
    // finds.
    s.mayDelete = [](const Ownership &own, const std::string &path) {
        return own.productFiles.count(path) != 0;
    };
    return s;
}

TEST(FaultSweep, Tidewell64) {
    Scenario s = Tidewell64Scenario();
    Ownership own;
    Outcome base = RunOnce(s, own, 0);
    // The normal run meets a package gone before (the second node of
    // oem12.inf), the reboot check, and in its sweep the product's packages
    // that no node names, by any of their models sections.
    EXPECT_TRUE(HasMessage(base, "SetupUninstallOEMInfA failed, Error code: 0x2\n"));
    EXPECT_TRUE(HasMessage(base, "Reboot needed\n"));
    EXPECT_EQ((std::vector<std::string>{"oem12.inf", "oem13.inf", "oem14.inf", "oem20.inf",
                                        "oem21.inf", "oem23.inf", "oem24.inf", "oem6.inf",
                                        "oem7.inf"}),
              base.packages);
    EXPECT_GT(Sweep(s), 50);
    EXPECT_GT(SweepMoreFaults(s), 100);
}

TEST(RunCutShort, Tidewell64) {
    EXPECT_GT(SweepEndings(Tidewell64Scenario()), 200);
    CheckSecondRunOnlyLooks(Tidewell64Scenario());
}

#elif defined(SWEEP_ZORVANE)

const char kPrefix[] = "..Zorvane64 - Omrak";

std::string ZorvaneStages(const std::string &api, const std::string &stage, const std::string &,
                          std::map<std::string, int> &) {
    if (api == "GetModuleHandleA") return "dlls";
    if (api == "SetupDiGetClassDevsA") return "purge";
    if (api == "LoadLibraryExA") return "refresh";
    return stage;
}

Table ZorvaneTable() {
    Table t;
    AddDllSearch(t);
    t.Add("purge", "SetupDiGetClassDevsA", 0, Silent());
    t.Add("purge", "SetupDiEnumDeviceInfo", 0, Silent());
    // The two reads of the hardware IDs and the buffer between them: the scan ends.
    t.Add("purge", "SetupDiGetDeviceRegistryPropertyA", 1, Silent());
    t.Add("purge", "LocalAlloc", 1, Silent());
    t.Add("purge", "SetupDiGetDeviceRegistryPropertyA", 2, Silent());
    t.Add("purge", "LocalAlloc", 2, Says({"Malloc failed\n"}));
    // The driver read failing otherwise than with "no such property": left alone.
    t.Add("purge", "SetupDiGetDeviceRegistryPropertyA", 3, Silent());
    t.Add("purge", "SetupDiCallClassInstaller", 0, Says({"Found! [*", "Remove failed!\n"}));
    // The configuration manager's library (either way of loading it), its
    // locate function and the locate itself: the locate fails.
    Expect notLocated = Says({"Get device node failed, return"});
    notLocated.forbiddenCalls = {"CM_Locate_DevNode_ExA", "CM_Reenumerate_DevNode_Ex"};
    t.Add("refresh", "LoadLibraryExA", 0, notLocated);
    t.Add("refresh", "GetSystemDirectoryA", 0, notLocated);
    t.Add("refresh", "GetProcAddress", 1, notLocated);
    t.Add("refresh", "CM_Locate_DevNode_ExA", 0, Says({"Get device node failed, return"}));
    t.byPlace["refresh/CM_Locate_DevNode_ExA/0"].forbiddenCalls = {"CM_Reenumerate_DevNode_Ex"};
    // The re-enumeration function or call: not traced.
    t.Add("refresh", "GetProcAddress", 2, Silent());
    t.byPlace["refresh/GetProcAddress/2"].forbiddenCalls = {"CM_Reenumerate_DevNode_Ex"};
    t.Add("refresh", "CM_Reenumerate_DevNode_Ex", 0, Silent());
    return t;
}

// searchFlags false: a Windows without the loader's search flags, where the
// library is loaded by its full path in the system folder.
Scenario ZorvaneScenario(bool searchFlags) {
    Scenario s;
    s.name = searchFlags ? "Zorvane64" : "Zorvane64 without the loader's search flags";
    s.prefix = kPrefix;
    s.exitCode = 1;
    s.setUp = [searchFlags](Ownership &own) {
        BuildMachine(own);
        sim::M().loaderSearchFlags = searchFlags;
        // A run log over its limit, its older part read-only: it is renamed first.
        if (searchFlags) sim::AddFile(kRunLog, std::string(1024 * 1024 + 1, '.'));
        if (searchFlags) sim::AddFile("C:\\Windows\\Omrak.old.log", "", FILE_ATTRIBUTE_READONLY);
        // A product node whose driver read fails otherwise: it keeps its node.
        sim::Device &d = Product(own, "USB\\VID_1F3C&PID_3A41&MI_08\\6&C", kHidClass,
                                 {"USB\\VID_1F3C&PID_3A41&MI_08"});
        d.driverReadError = ERROR_INSUFFICIENT_BUFFER;
    };
    s.run = [] { return ZorvaneMain(0, nullptr, nullptr); };
    s.stages = ZorvaneStages;
    s.table = ZorvaneTable();
    s.mayRemove = [](const Ownership &own, const std::string &id) {
        return own.driverlessProductNodes.count(id) != 0;
    };
    s.mayDelete = [](const Ownership &, const std::string &) { return false; };
    return s;
}

TEST(FaultSweep, Zorvane64) {
    for (bool searchFlags : {true, false}) {
        Scenario s = ZorvaneScenario(searchFlags);
        Ownership own;
        Outcome base = RunOnce(s, own, 0);
        ASSERT_EQ(1u, base.removed.size());
        EXPECT_EQ("USB\\VID_1F3C&PID_3A42&MI_01\\6&6", base.removed[0]);
        // The normal run re-enumerates: its library was found either way.
        EXPECT_TRUE(HasMessage(base, "Refresh device node"));
        EXPECT_EQ(searchFlags ? 0 : 1, base.calls["GetSystemDirectoryA"]);
        EXPECT_GT(Sweep(s), 50);
        EXPECT_GT(SweepMoreFaults(s), 100);
    }
}

TEST(RunCutShort, Zorvane64) {
    EXPECT_GT(SweepEndings(ZorvaneScenario(true)), 100);
    CheckSecondRunOnlyLooks(ZorvaneScenario(true));
}

#elif defined(SWEEP_DEPLOY)

const char kDeploy[] = "C:\\Program Files\\Omrak\\TidewellDeploy.exe";
const char kUninstaller[] = "C:\\Program Files\\Omrak\\Tidewell.exe";

// Tidewell as TidewellDeploy sees it: it leaves the record of a clean run
// that asks for no restart, made on the machine directly, so that none of
// its calls can be failed.
void UninstallerRun() {
    sim::RegKey &record = sim::M().registry["SOFTWARE\\Omrak\\Device Tools"];
    record["RebootRequired"] = sim::Bytes(REG_DWORD, {0, 0, 0, 0});
    record["Result"] = sim::Sz("clean");
}

std::string DeployStages(const std::string &api, const std::string &stage, const std::string &,
                         std::map<std::string, int> &opened) {
    if (api == "GetModuleHandleA" && stage == "start") return "dlls";
    if (api == "RegOpenKeyExA") return opened[api]++ == 0 ? "unrecord" : "read";
    if (api == "GetModuleFileNameA") return "uninstaller";
    return stage;
}

// Every failure of its own ends in 1603; nothing is started where the old
// Result cannot be deleted.
Table DeployTable() {
    Table t;
    AddDllSearch(t);
    const Expect failed = Says({"Return code: 1603\n"});
    for (const char *api : {"RegOpenKeyExA", "RegDeleteValueA"}) {
        t.Add("unrecord", api, 0, failed);
        t.byPlace[std::string("unrecord/") + api + "/0"].forbiddenCalls = {"CreateProcessA"};
    }
    for (const char *api : {"GetModuleFileNameA", "CreateProcessA"})
        t.Add("uninstaller", api, 0, Says({"Tidewell.exe not started: CreateProcess failed, Error code: 0x2\n",
                                           "Return code: 1603\n"}));
    for (const char *api : {"WaitForSingleObject", "GetExitCodeProcess"})
        t.Add("uninstaller", api, 0, failed);
    for (const char *api : {"RegOpenKeyExA", "RegQueryValueExA"}) t.Add("read", api, 0, failed);
    return t;
}

TEST(FaultSweep, TidewellDeploy) {
    Scenario s;
    s.name = "TidewellDeploy";
    s.prefix = "..TidewellDeploy - Omrak";
    s.deploys = true;
    s.setUp = [](Ownership &) {
        for (const char *dir : {"C:\\Windows", "C:\\Program Files", "C:\\Program Files\\Omrak"})
            sim::AddDirectory(dir);
        sim::AddFile(kUninstaller, "MZ");
        sim::AddFile(kDeploy, "MZ");
        sim::M().moduleFileName = kDeploy;
        sim::M().wow64 = sim::Wow64True;
        sim::M().x86Programs.insert(kUninstaller);
        sim::M().programs[kUninstaller] = UninstallerRun;
        sim::M().registry["SOFTWARE\\Omrak\\Device Tools"]["Result"] = sim::Sz("left");
    };
    s.run = [] { return DeployMain(0, nullptr, nullptr); };
    s.stages = DeployStages;
    s.table = DeployTable();
    s.mayRemove = s.mayDelete = [](const Ownership &, const std::string &) { return false; };
    Ownership own;
    EXPECT_EQ(0, RunOnce(s, own, 0).exitCode);
    EXPECT_GT(Sweep(s), 15);
    EXPECT_GT(SweepMoreFaults(s), 30);
}

#endif

}  // namespace
