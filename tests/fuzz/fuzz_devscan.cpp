// The device scan over arbitrary hardware-ID property bytes (any size, no
// terminators, empty entries anywhere) through the simulated layer: the
// devices handed to the action, the scan's result, the nodes the removal
// takes and the INF files it deletes all agree with a plain reference walk;
// nothing is left open. The layer hands the property over in a block of
// exactly its size, so any read past it is caught.
#include <devguid.h>

#include <set>
#include <string>
#include <vector>

#include "common/devscan.h"
#include "uninstaller/tidewell.h"
#include "winsim.h"

#include "fuzz_input.h"

// The uninstaller's trace prefix is defined beside its main: link that in.
int TidewellMain(int argc, char **argv, char **envp);
__attribute__((used)) static int (*const g_programMain)(int, char **, char **) = TidewellMain;

namespace {

struct Node {
    std::string id;
    GUID cls;
    bool attached;
    bool hasIds;
    std::vector<uint8_t> ids;
    DWORD readError;
    bool hasDriverKey;
};

std::string InfName(size_t i) { return "oem" + std::to_string(40 + i) + ".inf"; }
std::string InfPathOf(size_t i) { return "C:\\Windows\\inf\\" + InfName(i); }

void Build(const std::vector<Node> &nodes) {
    sim::Reset();
    sim::AddDirectory("C:\\Windows");
    sim::AddDirectory("C:\\Windows\\inf");
    for (size_t i = 0; i < nodes.size(); ++i) {
        const Node &n = nodes[i];
        sim::Device &d = sim::AddDevice(n.id, n.cls, {}, n.attached);
        d.hasHardwareIds = n.hasIds;
        d.hardwareIds.assign(n.ids.begin(), n.ids.end());
        d.hardwareIdReadError = n.readError;
        d.hasDriverKey = n.hasDriverKey;
        if (n.hasDriverKey) d.driverKey["InfPath"] = sim::Sz(InfName(i));
        sim::AddFile(InfPathOf(i), "[Version]\r\n");
    }
}

struct Seen {
    const std::vector<Node> *nodes;
    std::vector<size_t> expected;  // indices the action must see, in order
    size_t next = 0;
};

int Record(HDEVINFO, PSP_DEVINFO_DATA, const char *pHwIds, DWORD cbHwIds, void *pContext) {
    Seen *seen = (Seen *)pContext;
    FuzzCheck(seen->next < seen->expected.size(), "the action ran for a device that names no target");
    const Node &n = (*seen->nodes)[seen->expected[seen->next++]];
    FuzzCheck(cbHwIds == n.ids.size() && memcmp(pHwIds, n.ids.data(), cbHwIds) == 0,
              "the action got other bytes than the device's hardware IDs");
    return 1;
}

// Scans with the given flags and checks the devices handed over and the result.
void ScanAndCheck(const std::vector<Node> &nodes, const GUID *cls, DWORD flags) {
    Build(nodes);
    Seen seen;
    seen.nodes = &nodes;
    int expectedResult = SCAN_WHOLE;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const Node &n = nodes[i];
        if (!(flags & DIGCF_ALLCLASSES) && memcmp(&n.cls, cls, sizeof(GUID)) != 0) continue;
        if ((flags & DIGCF_PRESENT) && !n.attached) continue;
        if (n.readError) {
            expectedResult = SCAN_STOPPED;
            break;
        }
        if (n.hasIds && WalkFindsTarget(n.ids)) seen.expected.push_back(i);
    }
    SCAN_SETUP setup = {};
    setup.pClassGuid = cls;
    setup.Flags = flags;
    setup.Action = Record;
    setup.pContext = &seen;
    FuzzCheck(ScanDevices(&setup) == expectedResult, "the scan's result");
    FuzzCheck(seen.next == seen.expected.size(), "a device naming a target was not handed over");
    FuzzCheck(sim::OpenResources().empty(), "the scan left something open");
    FuzzCheck(sim::M().problems.empty(), "the scan misused the platform");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const GUID *classes[] = {&GUID_DEVCLASS_USB, &GUID_DEVCLASS_PORTS, &GUID_DEVCLASS_MODEM};
    FuzzInput in{data, size};
    std::vector<Node> nodes;
    size_t count = 1 + in.Byte() % 4;
    for (size_t i = 0; i < count; ++i) {
        uint8_t f = in.Byte();
        Node n;
        n.id = "USB\\FUZZ\\" + std::to_string(i);
        n.cls = *classes[f % 3];
        n.attached = (f & 4) != 0;
        n.hasIds = (f & 8) == 0;
        n.readError = (f & 0x30) == 0x30 ? ERROR_GEN_FAILURE : 0;
        n.hasDriverKey = (f & 0x40) != 0;
        n.ids = i + 1 == count ? in.Rest() : in.Bytes(700);
        nodes.push_back(n);
    }

    ScanAndCheck(nodes, &GUID_DEVCLASS_USB, DIGCF_ALLCLASSES);
    ScanAndCheck(nodes, &GUID_DEVCLASS_PORTS, DIGCF_PRESENT);

    // The uninstaller's removal over the same nodes.
    Build(nodes);
    RUN run = {};
    RemoveTargetDevices(&run);
    FreeRun(&run);
    std::set<std::string> removed, deleted, expectRemoved, expectDeleted;
    for (const auto &e : sim::M().events) {
        if (e.kind == sim::Event::DeviceRemoved) removed.insert(e.text);
        if (e.kind == sim::Event::FileDeleted) deleted.insert(e.text);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].readError) break;
        if (!nodes[i].hasIds || !WalkFindsTarget(nodes[i].ids)) continue;
        expectRemoved.insert(nodes[i].id);
        if (nodes[i].hasDriverKey) expectDeleted.insert(InfPathOf(i));
    }
    FuzzCheck(removed == expectRemoved, "the nodes removed");
    FuzzCheck(deleted == expectDeleted, "the INF files deleted");
    FuzzCheck(sim::OpenResources().empty(), "the removal left something open");
    FuzzCheck(sim::M().problems.empty(), "the removal misused the platform");
    return 0;
}
