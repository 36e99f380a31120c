#include "shapes.h"

#include <stdarg.h>
#include <stdio.h>

namespace shapes {

namespace {

std::string Format(const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A small deterministic mix of n, so that neighbouring files and devices differ.
unsigned Mix(size_t n, unsigned salt) {
    unsigned x = (unsigned)(n * 2654435761u) ^ (salt * 40503u);
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return x;
}

// The product's vendor ID; its other products sit next to the two targets.
const unsigned kVendor = 0x1F3C;

// A product ID of the product's vendor that is not one of the two targets.
unsigned NearMissProduct(size_t n) {
    static const unsigned others[] = {0x3A40, 0x3A43, 0x3A44, 0x3A4A, 0x3A14, 0x3B41, 0x3A04};
    return others[Mix(n, 7) % (sizeof others / sizeof others[0])];
}

const char *const kVendorWords[] = {"Arlen",  "Bextor", "Corvid",  "Dalmere",
                                    "Eskvale", "Fennic", "Galvor", "Hessel"};
const char *const kClasses[][2] = {
    {"Net", "{4d36e972-e325-11ce-bfc1-08002be10318}"},
    {"Ports", "{4d36e978-e325-11ce-bfc1-08002be10318}"},
    {"Modem", "{4d36e96d-e325-11ce-bfc1-08002be10318}"},
    {"HIDClass", "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"},
    {"USB", "{36fc9e60-c465-11cf-8056-444553540000}"},
    {"MEDIA", "{4d36e96c-e325-11ce-bfc1-08002be10318}"},
    {"System", "{4d36e97d-e325-11ce-bfc1-08002be10318}"},
    {"Bluetooth", "{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}"},
};

struct Writer {
    std::string text;
    size_t lines = 0;
    void Line(const std::string &s) {
        text += s;
        text += "\r\n";
        ++lines;
    }
};

// Fields of one models line: the install section, the hardware ID and, for
// some devices, a compatible ID.
std::vector<std::string> ModelFields(size_t n, size_t i, const std::string &install) {
    std::vector<std::string> f;
    f.push_back(install);
    unsigned m = Mix(n * 131 + i, 3);
    switch (m % 6) {
    case 0:
        f.push_back(Format("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X", 0x8086 + m % 64,
                           0x1000 + (m >> 8) % 0xE000, m));
        break;
    case 1:
        f.push_back(Format("HID\\VID_%04X&PID_%04X&MI_%02X&Col%02u", 0x0400 + m % 0x300,
                           (m >> 9) % 0xFFFF, (m >> 4) % 4, 1 + (m >> 6) % 3));
        break;
    case 2:
        // The product's vendor, another of its products.
        f.push_back(Format("USB\\VID_%04X&PID_%04X&MI_%02X", kVendor, NearMissProduct(n + i),
                           (m >> 4) % 4));
        f.push_back("USB\\Class_02&SubClass_02&Prot_01");
        break;
    case 3:
        f.push_back(Format("ACPI\\VEN_%s&DEV_%04X", (m & 1) ? "INT" : "PNP", (m >> 5) % 0xFFFF));
        break;
    default:
        f.push_back(Format("USB\\VID_%04X&PID_%04X&REV_%04X", 0x0400 + m % 0x1800,
                           (m >> 10) % 0xFFFF, (m >> 3) % 0x400));
        break;
    }
    return f;
}

std::string JoinFields(const std::vector<std::string> &fields, const char *separator) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += separator;
        out += fields[i];
    }
    return out;
}

}  // namespace

bool IsProductDevice(size_t n, size_t productEvery) {
    return productEvery != 0 && n % productEvery == productEvery / 2;
}

std::vector<std::string> HardwareIds(size_t n, size_t productEvery) {
    unsigned m = Mix(n, 1);
    unsigned vid = 0x0400 + m % 0x1800, pid = (m >> 12) % 0xFFFF, rev = (m >> 4) % 0x400;
    unsigned mi = (m >> 2) % 4;
    if (IsProductDevice(n, productEvery)) {
        unsigned target = (n / productEvery) % 2 ? 0x3A42 : 0x3A41;
        return {Format("USB\\VID_%04X&PID_%04X&REV_0100&MI_%02X", kVendor, target, mi),
                Format("USB\\VID_%04X&PID_%04X&MI_%02X", kVendor, target, mi),
                "USB\\Class_02&SubClass_02&Prot_01", "USB\\Class_02&SubClass_02"};
    }
    switch (n % 7) {
    case 0:
        return {Format("USB\\VID_%04X&PID_%04X&REV_%04X&MI_%02X", vid, pid, rev, mi),
                Format("USB\\VID_%04X&PID_%04X&MI_%02X", vid, pid, mi),
                Format("USB\\Class_%02X&SubClass_%02X&Prot_%02X", 3 + mi, mi, 1),
                Format("USB\\Class_%02X&SubClass_%02X", 3 + mi, mi)};
    case 1:
        return {Format("PCI\\VEN_8086&DEV_%04X&SUBSYS_%08X&REV_%02X", pid, m, rev % 0x100),
                Format("PCI\\VEN_8086&DEV_%04X&SUBSYS_%08X", pid, m),
                Format("PCI\\VEN_8086&DEV_%04X&CC_%06X", pid, 0x028000 + mi),
                Format("PCI\\VEN_8086&DEV_%04X&CC_%04X", pid, 0x0280 + mi)};
    case 2:
        return {Format("HID\\VID_%04X&PID_%04X&REV_%04X&MI_%02X&Col%02u", vid, pid, rev, mi, 1 + mi),
                Format("HID\\VID_%04X&PID_%04X&MI_%02X&Col%02u", vid, pid, mi, 1 + mi),
                "HID_DEVICE_SYSTEM_KEYBOARD", "HID_DEVICE_UP:0001_U:0006"};
    case 3:
        // The product's vendor, another of its products.
        return {Format("USB\\VID_%04X&PID_%04X&REV_0100&MI_%02X", kVendor, NearMissProduct(n), mi),
                Format("USB\\VID_%04X&PID_%04X&MI_%02X", kVendor, NearMissProduct(n), mi),
                "USB\\Class_02&SubClass_02&Prot_01", "USB\\Class_02&SubClass_02"};
    case 4:
        return {Format("ACPI\\VEN_INT&DEV_%04X", pid), Format("ACPI\\INT%04X", pid),
                Format("*INT%04X", pid), Format("ACPI\\INT%04X&REV_%04X", pid, rev)};
    case 5:
        return {Format("USB\\VID_%04X&PID_%04X&REV_%04X", vid, pid, rev),
                Format("USB\\VID_%04X&PID_%04X", vid, pid), "USB\\Class_08&SubClass_06&Prot_50",
                "USB\\Class_08&SubClass_06"};
    default:
        return {Format("BTHENUM\\{0000111e-0000-1000-8000-00805f9b34fb}_VID&0001%04x_PID&%04x",
                       vid, pid),
                "BTHENUM\\{0000111e-0000-1000-8000-00805f9b34fb}_LOCALMFG&000f",
                "BTHENUM\\{0000111e-0000-1000-8000-00805f9b34fb}",
                "BTHENUM\\GENERIC_HANDSFREE"};
    }
}

std::string MultiSz(const std::vector<std::string> &entries) {
    std::string out;
    for (const auto &e : entries) {
        out += e;
        out.push_back('\0');
    }
    out.push_back('\0');
    return out;
}

InfShape Inf(size_t n, size_t extraModelsLineBytes) {
    InfShape shape;
    shape.widerLineTextCalls = 0;
    unsigned m = Mix(n, 5);
    unsigned kind = n % 10;
    shape.hasManufacturer = kind != 0 || extraModelsLineBytes > 0;
    shape.hasModelsSection =
        extraModelsLineBytes > 0 || (kind != 0 && kind != 1 && kind != 4 && kind != 7);
    // Most files list a few devices; every 25th is a large multi-device INF.
    size_t models = n % 25 == 12 ? 120 : 1 + Mix(n, 9) % 18;
    size_t targetLines = 120 + Mix(n, 11) % 280;

    std::string word = kVendorWords[m % 8];
    std::string vendor = Format("%s%03u", word.c_str(), (unsigned)n);
    std::string svc = Format("%s%03u", Format("%.4s", word.c_str()).c_str(), (unsigned)n);
    for (auto &c : svc) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
    std::string install = Format("%s_Install", svc.c_str());
    const char *const *cls = kClasses[(m >> 3) % 8];
    switch (n % 3) {
    case 0: shape.name = Format("oem%u.inf", 100 + (unsigned)n / 3); break;
    case 1: shape.name = Format("%s.inf", svc.c_str()); break;
    default: shape.name = Format("%s%s.inf", Format("%.3s", cls[0]).c_str(), svc.c_str()); break;
    }
    for (auto &c : shape.name) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
    shape.storeName = n % 3 == 0 ? svc + ".inf" : shape.name;
    shape.driver = svc + ".sys";

    Writer w;
    w.Line(";");
    w.Line(Format("; %s.inf -- %s device driver", svc.c_str(), cls[0]));
    w.Line(Format("; Copyright (c) %s Corporation. All rights reserved.", word.c_str()));
    w.Line(";");
    w.Line("");
    w.Line("[Version]");
    w.Line("Signature   = \"$WINDOWS NT$\"");
    w.Line(Format("Class       = %s", cls[0]));
    w.Line(Format("ClassGuid   = %s", cls[1]));
    w.Line("Provider    = %ProviderName%");
    w.Line(Format("DriverVer   = %02u/%02u/20%02u,%u.%u.%u.%u", 1 + m % 12, 1 + (m >> 4) % 28,
                  10 + (m >> 8) % 15, 1 + m % 10, (m >> 3) % 10, (m >> 5) % 9999, (m >> 7) % 999));
    w.Line(Format("CatalogFile = %s.cat", svc.c_str()));
    w.Line("PnpLockdown = 1");
    w.Line("");
    w.Line("[DestinationDirs]");
    w.Line("DefaultDestDir = 12");
    w.Line(Format("%s_CopyFiles = 13", svc.c_str()));
    w.Line("");
    w.Line("[SourceDisksNames]");
    w.Line("1 = %DiskName%,,,\"\"");
    w.Line("");
    w.Line("[SourceDisksFiles]");
    w.Line(Format("%s.sys = 1,,", svc.c_str()));
    w.Line(Format("%sco.dll = 1,,", svc.c_str()));
    w.Line("");

    std::string mfgLine;
    shape.modelsSection = shape.hasManufacturer ? vendor : "";
    if (shape.hasManufacturer) {
        w.Line("[Manufacturer]");
        // Most manufacturer lines list platform decorations; some name only the section.
        mfgLine = (m >> 11) % 5 == 0 ? Format("%%MfgName%% = %s", vendor.c_str())
                                     : Format("%%MfgName%% = %s, NTx86, NTamd64, NTarm64", vendor.c_str());
        w.Line(mfgLine);
        if ((m >> 13) % 4 == 0) w.Line(Format("%%MfgName%% = %sLegacy, NTamd64", vendor.c_str()));
        // Each line's text, and every line of each section it names that
        // is there (no Legacy section is), in one read.
        shape.widerLineTextCalls = 2 + ((m >> 13) % 4 == 0 ? 2 : 0) +
                                   ((m >> 11) % 5 == 0 ? 0 : 3 * models);
        w.Line("");
    }

    // Models sections: the undecorated one (when there is one) and the
    // decorated ones, with the same devices.
    std::vector<std::string> sections;
    if (shape.hasManufacturer) {
        if (shape.hasModelsSection) sections.push_back(vendor);
        sections.push_back(vendor + ".NTx86");
        sections.push_back(vendor + ".NTamd64");
        sections.push_back(vendor + ".NTarm64");
    }
    shape.modelsLines = 0;
    shape.longestModelsLine = 0;
    for (size_t s = 0; s < sections.size(); ++s) {
        bool undecorated = shape.hasModelsSection && s == 0;
        w.Line("[" + sections[s] + "]");
        if (s > 0) w.Line("; the same devices on this platform");
        for (size_t i = 0; i < models; ++i) {
            std::vector<std::string> fields = ModelFields(n, i, install);
            w.Line(Format("%%Dev%03u.DeviceDesc%% = ", (unsigned)i) + JoinFields(fields, ", "));
            if (undecorated) {
                ++shape.modelsLines;
                size_t bytes = JoinFields(fields, ",").size() + 1;
                if (bytes > shape.longestModelsLine) shape.longestModelsLine = bytes;
            }
        }
        if (undecorated && extraModelsLineBytes > 0) {
            // One device listing many compatible IDs: one long line.
            std::vector<std::string> fields = {install};
            for (unsigned i = 0; JoinFields(fields, ",").size() + 1 < extraModelsLineBytes; ++i)
                fields.push_back(Format("USB\\VID_%04X&PID_%04X&MI_%02X", 0x0400 + i % 0x1800,
                                        (i * 7919) % 0xFFFF, i % 4));
            w.Line("%DevLong.DeviceDesc% = " + JoinFields(fields, ", "));
            ++shape.modelsLines;
            size_t bytes = JoinFields(fields, ",").size() + 1;
            if (bytes > shape.longestModelsLine) shape.longestModelsLine = bytes;
        }
        w.Line("");
    }

    w.Line("[ControlFlags]");
    w.Line("ExcludeFromSelect = *");
    w.Line("");
    w.Line(Format("[%s.NT]", install.c_str()));
    w.Line(Format("CopyFiles = %s_CopyFiles", svc.c_str()));
    w.Line(Format("AddReg    = %s_AddReg", svc.c_str()));
    w.Line("Characteristics = 0x84");
    w.Line("BusType         = 15");
    w.Line("");
    w.Line(Format("[%s.NT.HW]", install.c_str()));
    w.Line(Format("AddReg = %s_HW_AddReg", svc.c_str()));
    w.Line("");
    w.Line(Format("[%s.NT.Services]", install.c_str()));
    w.Line(Format("AddService = %s, 0x00000002, %s_Service_Inst, %s_EventLog_Inst", svc.c_str(),
                  svc.c_str(), svc.c_str()));
    w.Line("");
    w.Line(Format("[%s_Service_Inst]", svc.c_str()));
    w.Line("DisplayName    = %ServiceDesc%");
    w.Line("ServiceType    = 1               ; SERVICE_KERNEL_DRIVER");
    w.Line("StartType      = 3               ; SERVICE_DEMAND_START");
    w.Line("ErrorControl   = 1               ; SERVICE_ERROR_NORMAL");
    w.Line(Format("ServiceBinary  = %%12%%\\%s.sys", svc.c_str()));
    w.Line("LoadOrderGroup = NDIS");
    w.Line("");
    w.Line(Format("[%s_EventLog_Inst]", svc.c_str()));
    w.Line(Format("AddReg = %s_EventLog_AddReg", svc.c_str()));
    w.Line("");
    w.Line(Format("[%s_EventLog_AddReg]", svc.c_str()));
    w.Line("HKR,,EventMessageFile,0x00020000,\"%%SystemRoot%%\\System32\\netevent.dll\"");
    w.Line("HKR,,TypesSupported,0x00010001,7");
    w.Line("");
    w.Line(Format("[%s_CopyFiles]", svc.c_str()));
    w.Line(Format("%s.sys,,,0x00004000", svc.c_str()));
    w.Line(Format("%sco.dll", svc.c_str()));
    w.Line("");
    w.Line(Format("[%s_HW_AddReg]", svc.c_str()));
    w.Line("HKR,,\"UpperFilters\",0x00010000,\"serenum\"");
    w.Line("HKR,,\"SelectiveSuspendEnabled\",0x00000001,0x1");
    w.Line("");
    // Registry lines fill the file up to its size: parameters with their
    // defaults and enumerations, as network and modem INFs carry them.
    w.Line(Format("[%s_AddReg]", svc.c_str()));
    // k counts the parameter lines; each parameter takes four.
    unsigned k = 0;
    for (; k % 4 != 0 || w.lines + models + k / 4 + 8 < targetLines; ++k) {
        unsigned r = Mix(n * 977 + k, 13);
        switch (k % 4) {
        case 0:
            w.Line(Format("HKR, Ndi\\params\\Param%03u, ParamDesc, 0, %%Param%03u%%", k, k));
            break;
        case 1:
            w.Line(Format("HKR, Ndi\\params\\Param%03u, default, 0, \"%u\"", k - 1, r % 4096));
            break;
        case 2:
            w.Line(Format("HKR, Ndi\\params\\Param%03u, type, 0, \"enum\"", k - 2));
            break;
        default:
            w.Line(Format("HKR, Ndi\\params\\Param%03u\\enum, \"%u\", 0, \"Mode %u\"", k - 3, r % 8,
                          r % 8));
            break;
        }
    }
    w.Line("");
    w.Line("[Strings]");
    w.Line(Format("ProviderName = \"%s Corporation\"", word.c_str()));
    w.Line(Format("MfgName      = \"%s\"", word.c_str()));
    w.Line(Format("DiskName     = \"%s Driver Disk\"", word.c_str()));
    w.Line(Format("ServiceDesc  = \"%s %s Service\"", word.c_str(), cls[0]));
    for (size_t i = 0; i < models; ++i)
        w.Line(Format("Dev%03u.DeviceDesc = \"%s %s Device %u\"", (unsigned)i, word.c_str(), cls[0],
                      (unsigned)i));
    if (extraModelsLineBytes > 0) w.Line(Format("DevLong.DeviceDesc = \"%s Multi Device\"", word.c_str()));
    for (unsigned p = 0; p < k; p += 4)
        w.Line(Format("Param%03u = \"Parameter %u\"", p, p / 4));

    shape.content = w.text;
    shape.lines = w.lines;
    return shape;
}

StorePackage Package(size_t n) {
    InfShape inf = Inf(n);
    StorePackage package;
    package.folder = Format("%s_amd64_%08x%08x", inf.storeName.c_str(), Mix(n, 17), Mix(n, 19));
    package.files.push_back({inf.storeName, inf.content});
    // The driver: a PE file's first bytes, then 2 to 8 KB of others; the
    // catalogue: a DER sequence.
    std::string sys = "MZ";
    for (size_t i = 0; sys.size() < 2048 + Mix(n, 23) % 6144; ++i)
        sys.push_back((char)Mix(n * 8191 + i, 29));
    package.files.push_back({inf.driver, sys});
    if (n % 2 == 0)
        package.files.push_back({inf.driver.substr(0, inf.driver.size() - 4) + ".cat",
                                 "0\x82" + sys.substr(0, 900)});
    return package;
}

size_t RuleLineTextCalls(const InfShape &inf) {
    if (!inf.hasManufacturer) return 0;
    size_t sweep = 4 + (inf.hasModelsSection ? 2 * inf.modelsLines : 0);
    // A published INF is read by the wider rule too, its undecorated
    // section once more, each line that fits its buffer in one read.
    bool published = inf.name.compare(0, 3, "oem") == 0;
    return sweep + (published ? inf.widerLineTextCalls + (sweep - 4) / 2 : 0);
}

}  // namespace shapes
