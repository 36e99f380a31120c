// The device scan: which devices reach the action, how often, with what
// hardware-ID data, and each way out of the loop with its result.
#include <string.h>

#include "common/devscan.h"
#include "tidewell_fixture.h"

namespace {

using namespace tw;

struct Visit {
    std::string instanceId;
    std::vector<BYTE> hwids;  // the bytes handed to the action
};

struct Recorder {
    std::vector<Visit> visits;
    int stopAfter = 0;  // end the scan on this visit (1-based); 0: never
};

int Record(HDEVINFO set, PSP_DEVINFO_DATA dev, const char *pHwIds, DWORD cbHwIds, void *ctx) {
    (void)set;
    Recorder *r = (Recorder *)ctx;
    // The programs' SetupAPI subset has no instance-ID read; the layer's
    // DevInst is the device's index plus 2.
    size_t at = dev->DevInst - 2;
    EXPECT_LT(at, sim::M().devices.size());
    if (at >= sim::M().devices.size()) return 1;
    const sim::Device &d = sim::M().devices[at];
    r->visits.push_back({d.instanceId, std::vector<BYTE>(pHwIds, pHwIds + cbHwIds)});
    return r->stopAfter == (int)r->visits.size() ? 0 : 1;
}

class DeviceScan : public TidewellTest {
protected:
    Recorder rec;

    int Scan(DWORD flags = DIGCF_ALLCLASSES, const GUID *cls = &GUID_DEVCLASS_USB) {
        SCAN_SETUP s = {};
        s.pClassGuid = cls;
        s.Flags = flags;
        s.Action = Record;
        s.pContext = &rec;
        return ScanDevices(&s);
    }

    std::vector<std::string> Visited() const {
        std::vector<std::string> ids;
        for (const auto &v : rec.visits) ids.push_back(v.instanceId);
        return ids;
    }

    static sim::Device &AddRaw(const std::string &id, const std::string &bytes) {
        sim::Device &d = sim::AddDevice(id, GUID_DEVCLASS_USB, {});
        d.hasHardwareIds = true;
        d.hardwareIds.assign(bytes.begin(), bytes.end());
        return d;
    }
};

// ---- which devices reach the action ----

TEST_F(DeviceScan, EmptySetEndsAfterTheFirstEnumeration) {
    EXPECT_EQ(SCAN_WHOLE, Scan());
    EXPECT_TRUE(rec.visits.empty());
    EXPECT_EQ(1, sim::Calls("SetupDiEnumDeviceInfo"));
    EXPECT_EQ(0, sim::Calls("SetupDiGetDeviceRegistryPropertyA"));
    EXPECT_EQ(1, sim::Calls("SetupDiDestroyDeviceInfoList"));
}

TEST_F(DeviceScan, DeviceWithoutHardwareIdsIsSkippedWithoutAllocating) {
    sim::AddDevice("ROOT\\NOIDS\\0", GUID_DEVCLASS_USB, {});
    sim::AddDevice("USB\\T\\1", GUID_DEVCLASS_USB, {kTarget1});
    EXPECT_EQ(SCAN_WHOLE, Scan());
    EXPECT_EQ(std::vector<std::string>{"USB\\T\\1"}, Visited());
    // One read for the first device; a probe and a read for the second.
    EXPECT_EQ(3, sim::Calls("SetupDiGetDeviceRegistryPropertyA"));
    EXPECT_EQ(1, sim::Calls("LocalAlloc"));
}

TEST_F(DeviceScan, EachMatchingDeviceRunsTheActionOnceWhateverItsEntries) {
    sim::AddDevice("A", GUID_DEVCLASS_USB, {"USB\\VID_0000&PID_0000", "USB\\Other"});
    sim::AddDevice("LATER", GUID_DEVCLASS_USB, {"USB\\Composite", "ROOT\\X", kTarget1});
    sim::AddDevice("BOTH", GUID_DEVCLASS_USB, {kTarget2, kTarget1});
    sim::AddDevice("TWICE", GUID_DEVCLASS_USB,
                   {"usb\\vid_1f3c&pid_3a41&rev_0001", "USB\\VID_1F3C&PID_3A41"});
    sim::AddDevice("SECOND", GUID_DEVCLASS_USB, {"USB\\VID_1F3C&PID_3A42&MI_02"});
    sim::AddDevice("EMPTYFIRST", GUID_DEVCLASS_USB, {"", kTarget1});
    sim::AddDevice("NEAR", GUID_DEVCLASS_USB, {"USB\\Vid_1F3C&Pid_3A43", "USB\\Vid_1F3C&Pid_3A4"});
    EXPECT_EQ(SCAN_WHOLE, Scan());
    EXPECT_EQ((std::vector<std::string>{"LATER", "BOTH", "TWICE", "SECOND"}), Visited());
}

TEST_F(DeviceScan, ActionGetsTheWholeDataAsRead) {
    sim::AddDevice("LATER", GUID_DEVCLASS_USB, {"ROOT\\X", kTarget2});
    Scan();
    ASSERT_EQ(1u, rec.visits.size());
    EXPECT_EQ(sim::MultiSz({"ROOT\\X", kTarget2}), rec.visits[0].hwids);
}

TEST_F(DeviceScan, SetupArgumentsDecideTheSet) {
    sim::AddDevice("MODEM", GUID_DEVCLASS_MODEM, {kTarget1});
    sim::AddDevice("GONE", GUID_DEVCLASS_MODEM, {kTarget1}, false);
    sim::AddDevice("PORT", GUID_DEVCLASS_PORTS, {kTarget1});
    sim::AddDevice("USBGONE", GUID_DEVCLASS_USB, {kTarget1}, false);

    Scan(DIGCF_PRESENT, &GUID_DEVCLASS_MODEM);
    EXPECT_EQ(std::vector<std::string>{"MODEM"}, Visited());

    rec.visits.clear();
    Scan(DIGCF_ALLCLASSES, &GUID_DEVCLASS_USB);
    EXPECT_EQ((std::vector<std::string>{"MODEM", "GONE", "PORT", "USBGONE"}), Visited());

    rec.visits.clear();
    Scan(DIGCF_ALLCLASSES, nullptr);
    EXPECT_EQ(4u, rec.visits.size());
}

// ---- data that does not end as a multi-string should ----

TEST_F(DeviceScan, DataWithoutTheFinalEmptyEntryStopsAtTheEnd) {
    AddRaw("NOFINAL", std::string("ROOT\\X\0USB\\Vid_1F3C&Pid_3A41", 29) + '\0');
    AddRaw("NOFINAL_MISS", std::string("ROOT\\X\0ROOT\\Y", 13) + '\0');
    Scan();
    EXPECT_EQ(std::vector<std::string>{"NOFINAL"}, Visited());
}

// LocalAlloc blocks are exactly the size read, so a read past the data is an
// overflow that the sanitizer build reports.
TEST_F(DeviceScan, EntryWithoutItsTerminatorIsBoundedByTheData) {
    AddRaw("WHOLE", std::string(kTarget1));                        // the ID, no NUL at all
    AddRaw("CUT", std::string("ROOT\\X\0USB\\Vid_1F3C&Pid_3A4", 27));  // a prefix, no NUL
    AddRaw("ONEBYTE", "U");
    Scan();
    EXPECT_EQ(std::vector<std::string>{"WHOLE"}, Visited());
    ASSERT_EQ(1u, rec.visits.size());
    EXPECT_EQ(strlen(kTarget1), rec.visits[0].hwids.size());
}

// ---- ways out ----

TEST_F(DeviceScan, SetThatCannotBeBuiltEndsAtOnce) {
    sim::AddDevice("T", GUID_DEVCLASS_USB, {kTarget1});
    sim::FailCall("SetupDiGetClassDevsA");
    EXPECT_EQ(SCAN_NO_SET, Scan());
    EXPECT_TRUE(rec.visits.empty());
    EXPECT_EQ(0, sim::Calls("SetupDiEnumDeviceInfo"));
    EXPECT_EQ(0, sim::Calls("SetupDiDestroyDeviceInfoList"));
}

TEST_F(DeviceScan, UnexpectedReadErrorEndsTheScan) {
    sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
    sim::AddDevice("BAD", GUID_DEVCLASS_USB, {kTarget1}).hardwareIdReadError = ERROR_GEN_FAILURE;
    sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget1});
    EXPECT_EQ(SCAN_STOPPED, Scan());
    EXPECT_EQ(std::vector<std::string>{"T1"}, Visited());
    EXPECT_EQ(2, sim::Calls("SetupDiEnumDeviceInfo"));
}

TEST_F(DeviceScan, ReadErrorAfterTheBufferWasAllocatedReleasesIt) {
    sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
    sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget1});
    // The probe succeeds in reporting the size, the read itself fails.
    sim::FailCall("SetupDiGetDeviceRegistryPropertyA", 2, ERROR_NO_SUCH_DEVINST);
    EXPECT_EQ(SCAN_STOPPED, Scan());
    EXPECT_TRUE(rec.visits.empty());
    EXPECT_EQ(1, sim::Calls("LocalAlloc"));
}

// A driver that answers a too-small read with a size no larger than the
// buffer it was given would have the read asked for again for ever.
TEST_F(DeviceScan, SizeThatDoesNotGrowEndsTheScanAsAFailedRead) {
    for (int lie : {0, 1, 5}) {
        SetUp();
        rec = Recorder();
        sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
        sim::AddDevice("LIAR", GUID_DEVCLASS_USB, {kTarget1}).hardwareIdRequiredSize = lie;
        sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget1});
        EXPECT_EQ(SCAN_STOPPED, Scan()) << lie;
        EXPECT_EQ(std::vector<std::string>{"T1"}, Visited()) << lie;
        // T1's two reads; the probe and at most one read at the size asked for.
        EXPECT_LE(sim::Calls("SetupDiGetDeviceRegistryPropertyA"), 4) << lie;
        EXPECT_EQ(0u, sim::HeapBytesNow()) << lie;
    }
}

TEST_F(DeviceScan, FailedAllocationEndsTheScanWithoutANullBufferRead) {
    sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
    sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget1});
    sim::FailCall("LocalAlloc", 1);
    EXPECT_EQ(SCAN_STOPPED, Scan());
    EXPECT_TRUE(rec.visits.empty());
    EXPECT_EQ(1, sim::Calls("SetupDiGetDeviceRegistryPropertyA"));  // the size probe alone
}

TEST_F(DeviceScan, EnumerationFailureOfAnyKindIsTheEnd) {
    sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
    sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget1});
    sim::FailCall("SetupDiEnumDeviceInfo", 2, ERROR_INVALID_HANDLE);
    EXPECT_EQ(SCAN_CUT, Scan());
    EXPECT_EQ(std::vector<std::string>{"T1"}, Visited());
}

TEST_F(DeviceScan, ActionEndingTheScanGivesZero) {
    sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
    sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget2});
    sim::AddDevice("T3", GUID_DEVCLASS_USB, {kTarget2});
    rec.stopAfter = 2;
    EXPECT_EQ(SCAN_STOPPED, Scan());
    EXPECT_EQ((std::vector<std::string>{"T1", "T2"}), Visited());
    EXPECT_EQ(2, sim::Calls("SetupDiEnumDeviceInfo"));
}

TEST_F(DeviceScan, ScanItselfWritesNoTrace) {
    sim::AddDevice("T1", GUID_DEVCLASS_USB, {kTarget1});
    sim::AddDevice("BAD", GUID_DEVCLASS_USB, {kTarget1}).hardwareIdReadError = ERROR_GEN_FAILURE;
    Scan();
    EXPECT_TRUE(sim::M().debug.empty());
}

// Every fallible call of a scan over several devices made to fail in turn:
// whatever fails, the scan releases what it took.
TEST_F(DeviceScan, ReleasesEverythingWhicheverCallFails) {
    auto setUp = [] {
        sim::AddDevice("NOIDS", GUID_DEVCLASS_USB, {});
        sim::AddDevice("T1", GUID_DEVCLASS_USB, {"ROOT\\X", kTarget1});
        sim::AddDevice("OTHER", GUID_DEVCLASS_USB, {"ROOT\\Y"});
        sim::AddDevice("T2", GUID_DEVCLASS_USB, {kTarget2});
    };
    setUp();
    Scan();
    ExpectNothingOpen();
    ASSERT_GT(sim::FallibleCalls(), 8);
    FailEachCallInTurn(
        setUp,
        [this] {
            rec.visits.clear();
            Scan();
        },
        [this] { EXPECT_LE(rec.visits.size(), 2u); });
}

// ---- the first entry, as the device-setup program prints it ----

TEST(CopyFirstHwid, CopiesTheFirstEntryCutToTheDestination) {
    auto data = sim::MultiSz({"USB\\VID_1F3C&PID_3A41", "USB\\Other"});
    char dst[8];
    memset(dst, 'x', sizeof dst);
    CopyFirstHwid(dst, 8, (const char *)data.data(), (DWORD)data.size());
    EXPECT_STREQ("USB\\VID", dst);

    char big[64];
    CopyFirstHwid(big, sizeof big, (const char *)data.data(), (DWORD)data.size());
    EXPECT_STREQ("USB\\VID_1F3C&PID_3A41", big);
}

TEST(CopyFirstHwid, StopsAtTheEndOfDataWithoutTerminator) {
    std::vector<char> data = {'A', 'B', 'C'};  // exact size: no byte after it
    char dst[16];
    memset(dst, 'x', sizeof dst);
    CopyFirstHwid(dst, sizeof dst, data.data(), (DWORD)data.size());
    EXPECT_STREQ("ABC", dst);
    CopyFirstHwid(dst, sizeof dst, data.data(), 0);
    EXPECT_STREQ("", dst);
    dst[0] = 'x';
    CopyFirstHwid(dst, 0, data.data(), 3);  // no room at all: nothing written
    EXPECT_EQ('x', dst[0]);
}

}  // namespace
