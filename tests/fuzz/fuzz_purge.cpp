// The device-setup program over arbitrary hardware-ID property bytes: it
// removes exactly the nodes that name a target in their walk and have no
// driver, shows each one's first entry (cut to the trace buffer, never read
// past the data), asks for the re-enumeration whatever happened, and leaves
// nothing open.
#include <devguid.h>

#include <set>
#include <string>
#include <vector>

#include "winsim.h"

#include "fuzz_input.h"

int ZorvaneMain(int argc, char **argv, char **envp);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const GUID *classes[] = {&GUID_DEVCLASS_USB, &GUID_DEVCLASS_PORTS, &GUID_DEVCLASS_MODEM};
    FuzzInput in{data, size};
    sim::Reset();
    size_t count = 1 + in.Byte() % 4;
    std::set<std::string> expectRemoved;
    std::vector<std::string> expectFound;
    bool stopped = false;
    for (size_t i = 0; i < count; ++i) {
        uint8_t f = in.Byte();
        std::vector<uint8_t> ids = i + 1 == count ? in.Rest() : in.Bytes(700);
        std::string id = "USB\\FUZZ\\" + std::to_string(i);
        sim::Device &d = sim::AddDevice(id, *classes[f % 3], {}, (f & 4) != 0);
        d.hasHardwareIds = (f & 8) == 0;
        d.hardwareIds.assign(ids.begin(), ids.end());
        d.hardwareIdReadError = (f & 0x30) == 0x30 ? ERROR_GEN_FAILURE : 0;
        d.hasDriverKey = (f & 0x40) != 0;
        d.removeError = (f & 0x80) ? ERROR_ACCESS_DENIED : 0;
        if (stopped) continue;
        if (d.hardwareIdReadError) {
            stopped = true;  // the scan ends at this node
            continue;
        }
        if (!d.hasHardwareIds || d.hasDriverKey || !WalkFindsTarget(ids)) continue;
        size_t len = 0;
        while (len < ids.size() && ids[len] != 0) ++len;
        std::string message = "Found! [" + std::string((const char *)ids.data(), len) + "]\n";
        expectFound.push_back(message.substr(0, 127));
        if (!d.removeError) expectRemoved.insert(id);
    }

    FuzzCheck(ZorvaneMain(0, nullptr, nullptr) == 1, "the exit code");
    std::set<std::string> removed;
    bool reenumerated = false;
    for (const auto &e : sim::M().events) {
        if (e.kind == sim::Event::DeviceRemoved) removed.insert(e.text);
        if (e.kind == sim::Event::Reenumerated) reenumerated = true;
    }
    FuzzCheck(removed == expectRemoved, "the nodes removed");
    FuzzCheck(reenumerated, "no re-enumeration");
    std::vector<std::string> found;
    for (const auto &m : sim::Messages("..Zorvane64 - Omrak"))
        if (m.compare(0, 8, "Found! [") == 0) found.push_back(m);
    FuzzCheck(found == expectFound, "the \"Found!\" messages");
    FuzzCheck(sim::OpenResources().empty(), "the purge left something open");
    FuzzCheck(sim::M().problems.empty(), "the purge misused the platform");
    return 0;
}
