// Shared set-up of the uninstaller's tests: a fresh simulated machine with a
// Windows folder, the counter at 0, and after every test the check that the
// run left nothing open and misused nothing.
#ifndef TESTS_UNIT_TIDEWELL_FIXTURE_H
#define TESTS_UNIT_TIDEWELL_FIXTURE_H

#include <gtest/gtest.h>

#include <devguid.h>

#include <functional>
#include <string>
#include <vector>

#include "uninstaller/oeminf.h"
#include "uninstaller/tidewell.h"
#include "winsim.h"

int TidewellMain(int argc, char **argv, char **envp);

namespace tw {

const char kPrefix[] = "..Tidewell - Omrak";
const char kTarget1[] = "USB\\Vid_1F3C&Pid_3A41";
const char kTarget2[] = "USB\\Vid_1F3C&Pid_3A42";
const char kInfDir[] = "C:\\Windows\\inf";

inline std::string Join(const std::vector<std::string> &lines) {
    std::string out;
    for (const auto &l : lines) out += "  [" + l + "]\n";
    return out;
}

class TidewellTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        run = RUN();
        run.SiblingExitCode = STILL_ACTIVE;
        sim::AddDirectory("C:\\Windows");
        sim::AddDirectory(kInfDir);
    }

    void TearDown() override {
        FreeRun(&run);
        ExpectNothingOpen();
    }

    // The state of a run, as main hands it to the stages a test calls.
    RUN run;

    // After a run: nothing left open and no misuse of the platform.
    static void ExpectNothingOpen() {
        EXPECT_TRUE(sim::OpenResources().empty()) << "left open:\n" << Join(sim::OpenResources());
        EXPECT_TRUE(sim::M().problems.empty()) << "misuse:\n" << Join(sim::M().problems);
    }

    // After a normal run, the same run again once per fallible call it made,
    // on the machine setUp() builds, with that one call failing: each must
    // leave nothing open and misuse nothing; check() adds its own assertions.
    void FailEachCallInTurn(const std::function<void()> &setUp, const std::function<void()> &run,
                            const std::function<void()> &check) {
        const int total = sim::FallibleCalls();
        for (int n = 1; n <= total; ++n) {
            SetUp();
            setUp();
            sim::FailFallibleCall(n);
            run();
            EXPECT_TRUE(sim::OpenResources().empty())
                << "failing call " << n << " (" << sim::FallibleLog()[n - 1] << ")\n"
                << Join(sim::OpenResources());
            EXPECT_TRUE(sim::M().problems.empty()) << "failing call " << n;
            check();
        }
    }

    int RunTidewell() { return TidewellMain(0, nullptr, nullptr); }

    // Trace messages with their prefix line taken off; bare lines as "bare:...".
    static std::vector<std::string> Msgs() { return sim::Messages(kPrefix); }

    static bool HasMsg(const std::string &m) {
        for (const auto &x : Msgs())
            if (x == m) return true;
        return false;
    }

    static size_t IndexOfMsg(const std::string &m) {
        auto msgs = Msgs();
        for (size_t i = 0; i < msgs.size(); ++i)
            if (msgs[i] == m) return i;
        return std::string::npos;
    }

    static std::string InfPath(const std::string &name) { return std::string(kInfDir) + "\\" + name; }

    // A device whose driver was installed from the INF file pInfName (a file
    // of that name is put into the inf folder when withFile is set, and an
    // OEM INF's package into the driver store).
    static sim::Device &AddInstalled(const std::string &id, const GUID &cls,
                                     std::initializer_list<std::string> hwids,
                                     const std::string &infName, bool attached = true,
                                     bool withFile = true) {
        sim::Device &d = sim::AddDevice(id, cls, hwids, attached);
        d.hasDriverKey = true;
        d.driverKey["InfPath"] = sim::Sz(infName);
        if (withFile) sim::AddFile(InfPath(infName), "[Version]\n");
        if (withFile && IsOemInfName(infName.c_str()))
            sim::M().driverStore.insert(infName);
        return d;
    }

    // A modem or serial-port device whose hardware key names its port.
    static sim::Device &AddPortDevice(const std::string &id, const GUID &cls,
                                      std::initializer_list<std::string> hwids,
                                      const std::string &valueName, const std::string &port,
                                      bool attached = true) {
        sim::Device &d = sim::AddDevice(id, cls, hwids, attached);
        d.hasHardwareKey = true;
        d.hardwareKey[valueName] = sim::Sz(port);
        return d;
    }

    static void AddPort(const std::string &name, bool held) { sim::M().ports[name].heldByOther = held; }

    static bool Removed(const std::string &id) {
        const sim::Device *d = sim::FindDevice(id);
        return d && d->removed;
    }

    // A value of the run record, as text (a DWORD as its number, a
    // multi-string's entries joined by "|"); "(none)" when it is not there.
    static std::string RecordValue(const std::string &value) {
        auto key = sim::M().registry.find("SOFTWARE\\Omrak\\Device Tools");
        if (key == sim::M().registry.end() || !key->second.count(value)) return "(none)";
        const sim::RegValue &v = key->second.at(value);
        if (v.type == REG_DWORD) return std::to_string(*(const DWORD *)v.data.data());
        std::string text(v.data.begin(), v.data.end());
        while (!text.empty() && text.back() == 0) text.pop_back();
        for (auto &c : text)
            if (c == 0) c = '|';
        return text;
    }

    // Positions of the events of one kind (and text, when given).
    static std::vector<size_t> EventsOf(sim::Event::Kind kind, const std::string &text = "") {
        std::vector<size_t> at;
        const auto &ev = sim::M().events;
        for (size_t i = 0; i < ev.size(); ++i)
            if (ev[i].kind == kind && (text.empty() || ev[i].text == text)) at.push_back(i);
        return at;
    }
};

}  // namespace tw

#endif
