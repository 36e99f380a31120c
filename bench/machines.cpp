#include "machines.h"

#include <devguid.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <utility>

#include "shapes.h"

namespace machines {

namespace {

// Setup classes of the other nodes, by the shape of their hardware IDs.
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kNetClass = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kBluetoothClass = {0xe0cbf06c, 0xcd8b, 0x4647, {0xbb, 0x8a, 0x26, 0x3b, 0x43, 0xf0, 0xf9, 0x74}};

const GUID &ClassOf(size_t n) {
    switch (n % 7) {
    case 1: return kNetClass;
    case 2: return kHidClass;
    case 3: return GUID_DEVCLASS_MODEM;  // the vendor's other products
    case 4: return kSystemClass;
    case 6: return kBluetoothClass;
    default: return GUID_DEVCLASS_USB;
    }
}

std::vector<BYTE> Bytes(const std::string &s) { return std::vector<BYTE>(s.begin(), s.end()); }

}  // namespace

void Fresh() {
    sim::Reset();
    sim::AddDirectory("C:\\Windows");
    sim::AddDirectory(kInfDir);
}

TreeFacts AddTree(size_t nodes, size_t productEvery, size_t driverlessEvery,
                  size_t bigPropertyBytes) {
    TreeFacts facts;
    facts.nodes = nodes;
    auto &devices = sim::M().devices;
    devices.reserve(devices.size() + nodes);
    size_t products = 0;
    for (size_t n = 0; n < nodes; ++n) {
        sim::Device d;
        char id[64];
        std::vector<std::string> hwids = shapes::HardwareIds(n, productEvery);
        d.hardwareIds = Bytes(shapes::MultiSz(hwids));
        if (shapes::IsProductDevice(n, productEvery)) {
            bool modem = products % 2 == 0;
            char port[16];
            snprintf(port, sizeof port, "COM%u", (unsigned)(3 + products % 200));
            sim::M().ports[port];  // free
            d.classGuid = modem ? GUID_DEVCLASS_MODEM : GUID_DEVCLASS_PORTS;
            d.hasHardwareKey = true;
            d.hardwareKey[modem ? "AttachedTo" : "PortName"] = sim::Sz(port);
            d.hasDriverKey = !(driverlessEvery && products % driverlessEvery == 0);
            if (d.hasDriverKey) d.driverKey["InfPath"] = sim::Sz(kProductInf);
            snprintf(id, sizeof id, "USB\\VID_1F3C&PID_3A4%c&MI_0%u\\6&%x&0&000%u",
                     hwids[0][20], modem ? 2u : 3u, (unsigned)n, modem ? 2u : 3u);
            ++products;
        } else {
            d.classGuid = ClassOf(n);
            d.hasDriverKey = true;
            d.driverKey["InfPath"] = sim::Sz("oem3.inf");
            snprintf(id, sizeof id, "ROOT\\DEVICE\\%06u", (unsigned)n);
        }
        d.instanceId = id;
        facts.largestProperty = std::max(facts.largestProperty, d.hardwareIds.size());
        devices.push_back(std::move(d));
    }
    if (bigPropertyBytes > 0 && nodes > 1) {
        // A node with a long list of hardware IDs, none of them the product's.
        size_t n = shapes::IsProductDevice(1, productEvery) ? 2 : 1;
        std::vector<std::string> hwids;
        size_t bytes = 1;
        for (unsigned i = 0; bytes < bigPropertyBytes; ++i) {
            char entry[64];
            snprintf(entry, sizeof entry, "ACPI\\VEN_BIG&DEV_%04X&SUBSYS_%08X", i, i * 2654435761u);
            hwids.push_back(entry);
            bytes += strlen(entry) + 1;
        }
        devices[devices.size() - nodes + n].hardwareIds = Bytes(shapes::MultiSz(hwids));
        facts.largestProperty = std::max(facts.largestProperty, bytes);
    }
    facts.productNodes = products;
    if (products > 0)
        sim::AddFile(std::string(kInfDir) + "\\" + kProductInf, "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n");
    return facts;
}

FolderFacts AddInfFolder(size_t files, size_t bigLineBytes) {
    FolderFacts facts;
    facts.files = files;
    for (size_t n = 0; n < files; ++n) {
        shapes::InfShape inf = shapes::Inf(n, n == 0 ? bigLineBytes : 0);
        facts.lines += inf.lines;
        facts.ruleLineTextCalls += shapes::RuleLineTextCalls(inf);
        if (inf.hasModelsSection) facts.largestLine = std::max(facts.largestLine, inf.longestModelsLine);
        sim::AddFile(std::string(kInfDir) + "\\" + inf.name, inf.content);
    }
    return facts;
}

void Rewind() {
    sim::EndProcess();
    sim::NewProcess();
}

NodeCalls CountNodeCalls(size_t productEvery) {
    NodeCalls out;
    const auto &log = sim::FallibleLog();
    size_t nodes = sim::M().devices.size();
    std::vector<size_t> calls(nodes, 0), reads(nodes, 0);
    size_t node = 0;
    bool inNode = false;
    for (const auto &api : log) {
        if (api == "SetupDiEnumDeviceInfo") {
            node = inNode ? node + 1 : 0;
            inNode = true;
        }
        if (!inNode || node >= nodes) continue;
        ++calls[node];
        if (api == "SetupDiGetDeviceRegistryPropertyA") ++reads[node];
    }
    out.nodes = nodes;
    out.minPlain = (size_t)-1;
    for (size_t n = 0; n < nodes; ++n) {
        if (shapes::IsProductDevice(n, productEvery)) {
            out.productCalls += calls[n];
            ++out.productNodes;
        } else {
            out.maxPlain = std::max(out.maxPlain, calls[n]);
            out.minPlain = std::min(out.minPlain, calls[n]);
            out.plainPropertyReads += reads[n];
        }
    }
    if (out.minPlain == (size_t)-1) out.minPlain = 0;
    return out;
}

}  // namespace machines
