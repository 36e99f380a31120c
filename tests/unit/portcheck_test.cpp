// Port-busy check: each present target modem or serial-port device has its
// port opened exclusively and closed again; a port that will not open refuses.
#include "tidewell_fixture.h"

namespace {

using namespace tw;

class PortCheck : public TidewellTest {
protected:
    static sim::Device &AddModem(const std::string &id, const std::string &port,
                                 bool attached = true) {
        return AddPortDevice(id, GUID_DEVCLASS_MODEM, {kTarget1}, "AttachedTo", port, attached);
    }
    static sim::Device &AddSerial(const std::string &id, const std::string &port) {
        return AddPortDevice(id, GUID_DEVCLASS_PORTS, {"ROOT\\X", kTarget2}, "PortName", port);
    }
    static int OpenPorts() {
        int n = 0;
        for (const auto &p : sim::M().ports) n += p.second.openByUs;
        return n;
    }
};

// ---- results ----

TEST_F(PortCheck, NoTargetDeviceGivesOneAndNoTrace) {
    AddPortDevice("MDM\\OTHER", GUID_DEVCLASS_MODEM, {"MDMHAYES\\X"}, "AttachedTo", "COM1");
    AddPort("COM1", true);
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ(1, CheckPortBusy(1));
    EXPECT_TRUE(sim::M().debug.empty());
    EXPECT_EQ(0, sim::Calls("CreateFileA"));
}

TEST_F(PortCheck, BusyPortRefuses) {
    AddModem("MDM\\1", "COM7");
    AddPort("COM7", true);
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_EQ((std::vector<std::string>{"Port Name: \\\\.\\COM7",
                                        "Open port failed, error code: 0x5, line: 366\n"}),
              Msgs());
    // A port that another program holds with sharing, on a driver that
    // allows that, is found busy only by an exclusive open for reading and writing.
    SetUp();
    AddModem("MDM\\1", "COM7");
    sim::M().ports["COM7"].heldShared = true;
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_EQ("Open port failed, error code: 0x20, line: 366\n", Msgs().back());
}

TEST_F(PortCheck, PortThatDoesNotExistCountsAsBusy) {
    AddSerial("PRT\\1", "COM9");
    EXPECT_EQ(0, CheckPortBusy(1));
    EXPECT_EQ("Open port failed, error code: 0x2, line: 366\n", Msgs().back());
}

TEST_F(PortCheck, FreePortIsOpenedExclusivelyAndClosedAtOnce) {
    AddModem("MDM\\1", "COM7");
    AddPort("COM7", false);
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ(std::vector<std::string>{"Port Name: \\\\.\\COM7"}, Msgs());
    EXPECT_EQ(std::vector<std::string>{"\\\\.\\COM7 access=0xC0000000 share=0"},
              sim::Arguments("CreateFileA"));
    EXPECT_EQ(std::vector<std::string>{"scope=1 profile=0 type=1 access=0xF003F"},
              sim::Arguments("SetupDiOpenDevRegKey"));
    EXPECT_EQ(0, OpenPorts());
}

TEST_F(PortCheck, TwoDevicesOnOneFreePortBothPass) {
    // The second open only succeeds if the first was closed again.
    AddModem("MDM\\1", "COM7");
    AddModem("MDM\\2", "COM7");
    AddPort("COM7", false);
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ(2, sim::Calls("CreateFileA"));
}

TEST_F(PortCheck, FirstFreeThenBusyRefusesAfterBothProbes) {
    AddSerial("PRT\\1", "COM3");
    AddSerial("PRT\\2", "COM4");
    AddPort("COM3", false);
    AddPort("COM4", true);
    EXPECT_EQ(0, CheckPortBusy(1));
    EXPECT_EQ((std::vector<std::string>{"Port Name: \\\\.\\COM3", "Port Name: \\\\.\\COM4",
                                        "Open port failed, error code: 0x5, line: 366\n"}),
              Msgs());
    EXPECT_EQ(0, OpenPorts());
}

TEST_F(PortCheck, BusyPortEndsTheCheckBeforeLaterDevices) {
    AddSerial("PRT\\1", "COM4");
    AddSerial("PRT\\2", "COM3");
    AddPort("COM3", false);
    AddPort("COM4", true);
    EXPECT_EQ(0, CheckPortBusy(1));
    EXPECT_EQ(1, sim::Calls("CreateFileA"));
}

TEST_F(PortCheck, KeyThatCannotBeOpenedRefusesEvenWhenOthersAreFree) {
    AddSerial("PRT\\1", "COM3");
    sim::AddDevice("PRT\\NOKEY", GUID_DEVCLASS_PORTS, {kTarget1});
    AddSerial("PRT\\2", "COM4");
    AddPort("COM3", false);
    AddPort("COM4", false);
    EXPECT_EQ(0, CheckPortBusy(1));
    EXPECT_EQ((std::vector<std::string>{"Port Name: \\\\.\\COM3",
                                        "Open Registry failed, Error code: 0xe0000204\n, line: 307"}),
              Msgs());
    EXPECT_EQ(1, sim::Calls("CreateFileA"));
    // The key is opened with every right: a process without administrator
    // rights is refused it, and so the check refuses.
    SetUp();
    AddSerial("PRT\\1", "COM3");
    AddPort("COM3", false);
    sim::M().elevated = false;
    EXPECT_EQ(0, CheckPortBusy(1));
    EXPECT_EQ(std::vector<std::string>{"Open Registry failed, Error code: 0x       5\n, line: 307"},
              Msgs());
}

TEST_F(PortCheck, UnexpectedHardwareIdReadErrorRefuses) {
    AddModem("MDM\\1", "COM7");
    sim::AddDevice("MDM\\BAD", GUID_DEVCLASS_MODEM, {kTarget1}).hardwareIdReadError =
        ERROR_GEN_FAILURE;
    AddPort("COM7", false);
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_EQ(std::vector<std::string>{"Port Name: \\\\.\\COM7"}, Msgs());
}

TEST_F(PortCheck, SetThatCannotBeBuiltLetsTheRunGoOn) {
    AddModem("MDM\\1", "COM7");
    AddPort("COM7", true);
    sim::FailCall("SetupDiGetClassDevsA");
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_TRUE(sim::M().debug.empty());
}

// ---- which devices and which value ----

TEST_F(PortCheck, SelectorPicksClassAndValue) {
    // A modem device carrying both values, a Ports device likewise.
    sim::Device &m = AddModem("MDM\\1", "COM7");
    m.hardwareKey["PortName"] = sim::Sz("COM1");
    sim::Device &p = AddSerial("PRT\\1", "COM8");
    p.hardwareKey["AttachedTo"] = sim::Sz("COM2");
    for (const char *free : {"COM1", "COM2", "COM7", "COM8"}) AddPort(free, false);

    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ(std::vector<std::string>{"Port Name: \\\\.\\COM7"}, Msgs());
    for (int selector : {1, 2, -1}) {
        sim::M().debug.clear();
        EXPECT_EQ(1, CheckPortBusy(selector));
        EXPECT_EQ(std::vector<std::string>{"Port Name: \\\\.\\COM8"}, Msgs()) << selector;
    }
}

TEST_F(PortCheck, DevicesNotAttachedAreNotProbed) {
    AddModem("MDM\\GONE", "COM7", false);
    AddPort("COM7", true);
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_TRUE(sim::M().debug.empty());
    EXPECT_EQ(0, sim::Calls("SetupDiOpenDevRegKey"));
}

// ---- values that cannot be used ----

TEST_F(PortCheck, MissingValueIsTracedAndTheDeviceSkipped) {
    sim::Device &d = AddModem("MDM\\1", "COM7");
    d.hardwareKey.clear();
    AddModem("MDM\\2", "COM8");
    AddPort("COM8", false);
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ((std::vector<std::string>{"RegQueryValueEx failed, line: 337!\n", "Error code: 0x2\n",
                                        "Port Name: \\\\.\\COM8"}),
              Msgs());
}

TEST_F(PortCheck, OtherReadErrorsAreTracedWithTheReadsCode) {
    AddModem("MDM\\1", "COM7");
    sim::FailCall("RegQueryValueExA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ((std::vector<std::string>{"RegQueryValueEx failed, line: 337!\n", "Error code: 0x5\n"}),
              Msgs());
}

TEST_F(PortCheck, UnusableValuesAreTreatedAsUnreadable) {
    sim::Device &full = AddModem("MDM\\FULL", "");
    full.hardwareKey["AttachedTo"] = sim::Bytes(REG_SZ, std::vector<BYTE>(MAX_PATH, 'C'));
    AddModem("MDM\\LONGER", std::string(300, 'C'));
    // 256 characters: "\\.\" and the name would need 261 bytes.
    AddModem("MDM\\NOROOM", std::string(256, 'C'));
    AddPort(std::string(256, 'C'), true);

    EXPECT_EQ(1, CheckPortBusy(0));
    EXPECT_EQ((std::vector<std::string>{"RegQueryValueEx failed, line: 337!\n", "Error code: 0xea\n",
                                        "RegQueryValueEx failed, line: 337!\n", "Error code: 0xea\n",
                                        "RegQueryValueEx failed, line: 337!\n", "Error code: 0xea\n"}),
              Msgs());
    EXPECT_EQ(0, sim::Calls("CreateFileA"));
}

TEST_F(PortCheck, LongestPortNameIsProbedAndItsTraceCut) {
    std::string name(255, 'P');
    AddModem("MDM\\1", name);
    AddPort(name, true);
    EXPECT_EQ(0, CheckPortBusy(0));
    auto msgs = Msgs();
    ASSERT_EQ(2u, msgs.size());
    EXPECT_EQ(127u, msgs[0].size());
    EXPECT_EQ("Port Name: \\\\.\\PPP", msgs[0].substr(0, 18));
}

TEST_F(PortCheck, ValueStoredWithoutTerminatorReadsAsItsText) {
    sim::Device &d = AddModem("MDM\\1", "");
    d.hardwareKey["AttachedTo"] = sim::Bytes(REG_SZ, {'C', 'O', 'M', '7'});
    AddPort("COM7", true);
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_EQ("Port Name: \\\\.\\COM7", Msgs()[0]);
}

// ---- allocations ----

TEST_F(PortCheck, ValueBufferThatCannotBeAllocatedRefuses) {
    AddModem("MDM\\1", "COM7");
    AddModem("MDM\\2", "COM8");
    AddPort("COM7", false);
    AddPort("COM8", false);
    sim::FailCall("LocalAlloc", 2);  // the first is the hardware-ID buffer
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_EQ(std::vector<std::string>{"Malloc failed, line: 313"}, Msgs());
    EXPECT_EQ(0, sim::Calls("RegQueryValueExA"));
}

TEST_F(PortCheck, PathBufferThatCannotBeAllocatedRefuses) {
    AddModem("MDM\\1", "COM7");
    AddPort("COM7", false);
    sim::FailCall("LocalAlloc", 3);
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_EQ(std::vector<std::string>{"Malloc failed, line: 348"}, Msgs());
    EXPECT_EQ(0, sim::Calls("CreateFileA"));
}

TEST_F(PortCheck, HardwareIdBufferThatCannotBeAllocatedRefuses) {
    AddModem("MDM\\1", "COM7");
    AddPort("COM7", false);
    sim::FailCall("LocalAlloc", 1);
    EXPECT_EQ(0, CheckPortBusy(0));
    EXPECT_TRUE(sim::M().debug.empty());
}

// Every fallible call of a pass over a mixed machine made to fail in turn:
// the check releases the key, both buffers, the port and the set whatever fails.
TEST_F(PortCheck, ReleasesEverythingWhicheverCallFails) {
    auto setUp = [] {
        AddModem("MDM\\1", "COM7");
        sim::Device &d = AddModem("MDM\\NOVALUE", "COM7");
        d.hardwareKey.clear();
        AddModem("MDM\\2", "COM8");
        AddPort("COM7", false);
        AddPort("COM8", false);
    };
    setUp();
    ASSERT_EQ(1, CheckPortBusy(0));
    ExpectNothingOpen();
    FailEachCallInTurn(setUp, [] { CheckPortBusy(0); }, [] { EXPECT_EQ(0, OpenPorts()); });
}

}  // namespace
