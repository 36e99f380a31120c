// Registry values of arbitrary bytes and types for "AttachedTo", "PortName"
// and "InfPath" (unterminated, over-long, paths that climb out of the inf
// folder, device names): the port-busy check and the removal run over them.
// The check refuses exactly when the value names no port that opens; the
// removal deletes at most the one OEM INF file of the inf folder that the
// value names; nothing is left open.
#include <devguid.h>

#include <set>
#include <string>
#include <vector>

#include "uninstaller/tidewell.h"
#include "winsim.h"

#include "fuzz_input.h"

// The uninstaller's trace prefix is defined beside its main: link that in.
int TidewellMain(int argc, char **argv, char **envp);
__attribute__((used)) static int (*const g_programMain)(int, char **, char **) = TidewellMain;

namespace {

const char *const kFiles[] = {
    "C:\\Windows\\inf\\oem1.inf",  "C:\\Windows\\inf\\OEM2.INF", "C:\\Windows\\inf\\oem30.inf",
    "C:\\Windows\\inf\\usb.inf",   "C:\\Windows\\inf\\oem4.pnf", "C:\\Windows\\inf\\oem5.inf.bak",
    "C:\\Windows\\win.ini",        "C:\\Windows\\system32\\drivers\\usbser.sys",
    "C:\\boot.ini",                "C:\\Windows\\inf\\a.inf",
};

// The value as the programs may use it: read into 260 zeroed bytes, a
// string only when a NUL comes within them.
bool AsString(const std::vector<uint8_t> &v, std::string *s) {
    if (v.size() > MAX_PATH) return false;  // the read itself fails
    size_t len = 0;
    while (len < v.size() && v[len] != 0) ++len;
    if (len == MAX_PATH) return false;
    *s = std::string((const char *)v.data(), len);
    return true;
}

bool EqualNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!FuzzSameByte(a[i], b[i])) return false;
    return true;
}

bool IsOemInf(const std::string &s) {
    if (s.size() < 8 || !EqualNoCase(s.substr(0, 3), "oem")) return false;
    size_t i = 3;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i > 3 && EqualNoCase(s.substr(i), ".inf");
}

// 1 when the port check goes on for this value, 0 when it refuses.
int ExpectedPortResult(const std::vector<uint8_t> &v) {
    std::string s;
    if (!AsString(v, &s) || s.size() + 5 > MAX_PATH) return 1;  // unreadable: skipped
    for (const char *free : {"COM1", "COM3"})
        if (EqualNoCase(s, free)) return 1;
    return 0;  // held by another program, or no such port
}

void Build(const std::vector<uint8_t> &attachedTo, DWORD typeA, const std::vector<uint8_t> &portName,
           DWORD typeP, const std::vector<uint8_t> &infPath, DWORD typeI, bool readOnly) {
    sim::Reset();
    for (const char *dir : {"C:\\Windows", "C:\\Windows\\inf", "C:\\Windows\\system32",
                            "C:\\Windows\\system32\\drivers"})
        sim::AddDirectory(dir);
    for (const char *f : kFiles)
        sim::AddFile(f, "[Version]\r\n", readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    sim::M().ports["COM1"] = sim::Port();
    sim::M().ports["COM2"].heldByOther = true;
    sim::M().ports["COM3"] = sim::Port();

    sim::Device &modem = sim::AddDevice("USB\\MODEM\\1", GUID_DEVCLASS_MODEM, {"USB\\Vid_1F3C&Pid_3A41&MI_00"});
    modem.hasHardwareKey = true;
    modem.hardwareKey["AttachedTo"] = sim::Bytes(typeA, attachedTo);
    sim::Device &port = sim::AddDevice("USB\\PORT\\1", GUID_DEVCLASS_PORTS, {"USB\\Vid_1F3C&Pid_3A42&MI_02"});
    port.hasHardwareKey = true;
    port.hardwareKey["PortName"] = sim::Bytes(typeP, portName);
    sim::Device &usb = sim::AddDevice("USB\\DEV\\1", GUID_DEVCLASS_USB, {"USB\\Vid_1F3C&Pid_3A41"}, false);
    usb.hasDriverKey = true;
    usb.driverKey["InfPath"] = sim::Bytes(typeI, infPath);
}

void CheckClean(const char *stage) {
    FuzzCheck(sim::OpenResources().empty(), std::string(stage) + " left something open");
    FuzzCheck(sim::M().problems.empty(), std::string(stage) + " misused the platform");
    for (const auto &p : sim::M().ports)
        FuzzCheck(p.second.openByUs == 0, std::string(stage) + " left a port open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size};
    uint8_t f = in.Byte();
    DWORD types[3];
    for (DWORD &t : types) t = in.Byte() % 12;  // REG_NONE .. REG_QWORD and beyond
    std::vector<uint8_t> attachedTo = in.Bytes(300);
    std::vector<uint8_t> portName = in.Bytes(300);
    std::vector<uint8_t> infPath = in.Rest();
    if (infPath.size() > 400) infPath.resize(400);
    bool readOnly = (f & 1) != 0;

    Build(attachedTo, types[0], portName, types[1], infPath, types[2], readOnly);
    FuzzCheck(CheckPortBusy(0) == ExpectedPortResult(attachedTo), "the Modem pass's result");
    CheckClean("the Modem pass");
    FuzzCheck(CheckPortBusy(1) == ExpectedPortResult(portName), "the Ports pass's result");
    CheckClean("the Ports pass");
    FuzzCheck(sim::M().events.size() == sim::M().debug.size(), "the check removed or deleted something");

    RUN run = {};
    RemoveTargetDevices(&run);
    FreeRun(&run);
    CheckClean("the removal");
    std::set<std::string> deleted;
    for (const auto &e : sim::M().events)
        if (e.kind == sim::Event::FileDeleted) deleted.insert(sim::Lower(e.text));
    std::set<std::string> expected;
    std::string s;
    if (AsString(infPath, &s) && !FuzzContains(s, "usb.inf") && !FuzzContains(s, "usbstor.inf") &&
        IsOemInf(s)) {
        std::string path = "C:\\Windows\\inf\\" + s;
        for (const char *file : kFiles)
            if (EqualNoCase(file, path)) expected.insert(sim::Lower(file));
    }
    FuzzCheck(deleted == expected, "the files deleted by the removal");
    for (const char *file : kFiles)
        FuzzCheck(sim::FileExists(file) != (expected.count(sim::Lower(file)) != 0),
                  std::string("file gone or kept wrongly: ") + file);
    return 0;
}
