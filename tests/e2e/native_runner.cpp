// Loads an end-to-end scenario's machine into the simulated layer, runs one
// program in-process and writes what happened.
//
// Input, one instruction a line, fields separated by tabs (the scenario
// driver writes it; README.md beside this file describes the scenarios):
//   windir <path>                     the Windows folder
//   module <path>                     the running program's own file
//   wow64 0|1                         whether the program runs under WOW64
//   station hidden                    its window station has no visible display
//   machine x86|x64                   what Windows runs on (x64 by default)
//   program <path> [x86]              another program file beside it, an x64
//                                     program unless x86 (or a DLL planted there)
//   record <name> <type> <data>       a value of an earlier run's record, in
//                                     HKLM\SOFTWARE\Omrak\Device Tools
//   device <name> <class GUID> 0|1    node ROOT\<name>\0000, attached or not
//   hwid <entry>                      a hardware-ID entry of the last node
//   key dev|drv                       the last node's hardware / driver key
//   value dev|drv <name> <type> <data>
//                                     type sz, expand_sz, multi_sz ('|'
//                                     between entries), dword or binary (hex)
//   file <name> <attributes hex> [<unix path of the content>]
//   dir <name>                        both in the Windows inf folder
//   store <folder>\<name> <unix path of the content>
//                                     a file of the driver store, under
//                                     System32\DriverStore\FileRepository
//   port <name> free|held
//   setting all-present               every node counts as attached
//   setting locate-fails              the root device node cannot be located
//   setting uninstall-in-wow64        the driver store does not refuse WOW64
//   hwraw <hex bytes>                 the last node's hardware IDs as stored
//   rawvalue dev|drv <name> <type> <hex bytes>
//   rawrecord <name> <type> <hex bytes>
//   runs <n>                          the program runs n times, one process
//                                     after the other, on the machine as left
//   end-after <file name> <text>      in the first run, a program of that name
//                                     that the run starts ends right after it
//                                     writes the (escaped) debug text
//   end-after-message <text>          this program ends so
//   signature <path> <subject> <issuer>
//                                     a program file signed by that publisher
//   changed <path>                    ... and changed after it was signed
// Other instructions (the Wine seeder's) are ignored.
//
// A program beside the one that runs can be given a runner of its own
// (--program <file name>=<runner>): when the program under test starts it and
// it runs, the machine as it then is goes to that runner, its debug output
// joins this run's in time order, and the nodes it removed, the files it
// deleted and the record it left are here too; it starts the programs
// beside it in turn through theirs.
//
// Output, fields separated by tabs, texts escaped (\\, \t, \n, \r, \xNN):
//   debug <text>                      one OutputDebugStringA call
//   stdout <text>                     everything written to standard output
//   messagebox <text> <caption> <type hex>
//   exit <code>                       (a run that was ended has none)
//   run <n>                           what follows, up to the next run or the
//                                     machine's state, is the nth run's
//   node <instance ID> 0|1 <hardware-ID entry>...   (1: has a driver key)
//   file <name> <attributes hex>      what is left in the inf folder
//   library <path>                    a DLL the program loaded
//   problem <text>                    a resource left open or misused
//   record <name> <type> <hex bytes>  after each run: a value of the run
//                                     record, HKLM\SOFTWARE\Omrak\Device Tools
#include "native_runner.h"

#include "winsim.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/infscan.h"
#include "report_line.h"

namespace {

std::string Unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'r')
            out += '\r';
        else if (c == 'x' && i + 2 < s.size() + 1) {
            out += (char)strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else
            out += c;
    }
    return out;
}

std::string Hex(const std::vector<BYTE> &data) {
    std::string out;
    char two[3];
    for (BYTE b : data) {
        snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

std::vector<BYTE> FromHex(const std::string &text) {
    std::vector<BYTE> data;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        data.push_back((BYTE)strtoul(text.substr(i, 2).c_str(), nullptr, 16));
    return data;
}

bool MakeValue(const std::string &type, const std::string &text, sim::RegValue *v) {
    if (type == "sz" || type == "expand_sz") {
        *v = sim::Sz(text);
        if (type == "expand_sz") v->type = REG_EXPAND_SZ;
    } else if (type == "multi_sz") {
        std::vector<BYTE> data;
        std::istringstream in(text);
        std::string entry;
        while (std::getline(in, entry, '|')) {
            data.insert(data.end(), entry.begin(), entry.end());
            data.push_back(0);
        }
        data.push_back(0);
        *v = sim::Bytes(REG_MULTI_SZ, data);
    } else if (type == "dword") {
        DWORD d = (DWORD)strtoul(text.c_str(), nullptr, 0);
        *v = sim::Bytes(REG_DWORD, std::vector<BYTE>((BYTE *)&d, (BYTE *)&d + sizeof d));
    } else if (type == "binary") {
        *v = sim::Bytes(REG_BINARY, FromHex(text));
    } else {
        return false;
    }
    return true;
}

// A node as described, made into a device of the layer once complete.
struct NodeText {
    std::string name;
    GUID guid{};
    bool attached = true;
    std::vector<std::string> hwids;
    bool rawHwids = false;
    std::vector<BYTE> hwidBytes;
    bool keys[2] = {false, false};
    std::vector<std::pair<std::string, sim::RegValue>> values[2];
};

int Bad(const std::string &line) {
    fprintf(stderr, "native runner: cannot load: %s\n", line.c_str());
    return 2;
}

const char kRecordKey[] = "SOFTWARE\\Omrak\\Device Tools";

// Runners of programs that the program under test may start, by file name.
std::map<std::string, std::string, sim::CaseLess> g_runners;
// Started programs that end after writing a text, in the first run.
std::map<std::string, std::string, sim::CaseLess> g_endAfter;
int g_runs = 1;
int g_run = 1;

void RunStartedProgram(const std::string &runner, const std::string &module);

int Load(std::istream &in) {
    std::vector<NodeText> nodes;
    bool allPresent = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> f = Split(line, '\t');
        const std::string &op = f[0];
        if (op == "windir" && f.size() == 2) {
            sim::M().windowsDir = f[1];
            sim::AddDirectory(f[1]);
            sim::AddDirectory(f[1] + "\\inf");
        } else if (op == "module" && f.size() == 2) {
            sim::M().moduleFileName = f[1];
            size_t k = f[1].rfind('\\');
            if (k != std::string::npos && k > 2) sim::AddDirectory(f[1].substr(0, k));
            sim::AddFile(f[1]);
        } else if (op == "rawrecord" && f.size() == 4) {
            sim::M().registry[kRecordKey][f[1]] =
                sim::Bytes((DWORD)strtoul(f[2].c_str(), nullptr, 10), FromHex(f[3]));
        } else if (op == "machine" && f.size() == 2) {
            sim::M().nativeMachine = f[1] == "x86" ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
        } else if (op == "record" && f.size() == 4) {
            if (!MakeValue(f[2], f[3], &sim::M().registry[kRecordKey][f[1]])) return Bad(line);
        } else if (op == "program" && (f.size() == 2 || (f.size() == 3 && f[2] == "x86"))) {
            sim::AddFile(f[1]);
            if (f.size() == 3) sim::M().x86Programs.insert(f[1]);
            auto r = g_runners.find(f[1].substr(f[1].rfind('\\') + 1));
            if (r != g_runners.end()) {
                std::string runner = r->second, module = f[1];
                sim::M().programs[module] = [runner, module] { RunStartedProgram(runner, module); };
            }
        } else if ((op == "signature" && f.size() == 4) || (op == "changed" && f.size() == 2)) {
            auto file = sim::M().files.find(f[1]);
            if (file == sim::M().files.end()) return Bad(line);
            if (op == "changed") file->second.signature.changed = true;
            else file->second.signature = sim::Signature{f[2], f[3]};
        } else if (op == "runs" && f.size() == 2 && atoi(f[1].c_str()) >= 1) {
            g_runs = atoi(f[1].c_str());
        } else if (op == "end-after" && f.size() == 3) {
            g_endAfter[f[1]] = Unescape(f[2]);
        } else if (op == "end-after-message" && f.size() == 2) {
            sim::EndProcessAfterMessage(Unescape(f[1]));
        } else if (op == "station" && f.size() == 2 && f[1] == "hidden") {
            sim::M().stationVisible = false;
        } else if (op == "wow64" && f.size() == 2) {
            sim::M().wow64 = f[1] == "1" ? sim::Wow64True : sim::Wow64False;
        } else if (op == "device" && f.size() == 4) {
            NodeText n;
            n.name = f[1];
            if (!ParseGuid(f[2], &n.guid)) return Bad(line);
            n.attached = f[3] == "1";
            nodes.push_back(n);
        } else if (op == "hwid" && f.size() == 2 && !nodes.empty()) {
            nodes.back().hwids.push_back(f[1]);
        } else if (op == "hwraw" && f.size() == 2 && !nodes.empty()) {
            nodes.back().rawHwids = true;
            nodes.back().hwidBytes = FromHex(f[1]);
        } else if (op == "rawvalue" && f.size() == 5 && !nodes.empty()) {
            int which = f[1] == "dev" ? 0 : 1;
            nodes.back().keys[which] = true;
            nodes.back().values[which].push_back(
                {f[2], sim::Bytes((DWORD)strtoul(f[3].c_str(), nullptr, 10), FromHex(f[4]))});
        } else if (op == "key" && f.size() == 2 && !nodes.empty()) {
            nodes.back().keys[f[1] == "dev" ? 0 : 1] = true;
        } else if (op == "value" && f.size() == 5 && !nodes.empty()) {
            int which = f[1] == "dev" ? 0 : 1;
            sim::RegValue v;
            if (!MakeValue(f[3], f[4], &v)) return Bad(line);
            nodes.back().keys[which] = true;
            nodes.back().values[which].push_back({f[2], v});
        } else if (op == "file" && (f.size() == 3 || f.size() == 4)) {
            std::string content;
            if (f.size() == 4 && !f[3].empty()) {
                std::ifstream src(f[3], std::ios::binary);
                if (!src) return Bad(line);
                std::ostringstream all;
                all << src.rdbuf();
                content = all.str();
            }
            sim::AddFile(sim::M().windowsDir + "\\inf\\" + f[1], content,
                         (DWORD)strtoul(f[2].c_str(), nullptr, 16));
            // An OEM INF is the published name of a package in the driver
            // store (Wine, which has no store, uninstalls any such file).
            if (IsOemInfName(f[1].c_str())) sim::M().driverStore.insert(f[1]);
        } else if (op == "store" && f.size() == 3) {
            // A package whose published INF is gone: no published name
            // leads to it, so that nothing takes it out.
            std::string path = sim::M().windowsDir + "\\System32\\DriverStore\\FileRepository\\";
            std::ifstream src(f[2], std::ios::binary);
            if (!src) return Bad(line);
            std::ostringstream all;
            all << src.rdbuf();
            for (size_t k = path.find('\\', sim::M().windowsDir.size() + 1); k != std::string::npos;
                 k = path.find('\\', k + 1))
                sim::AddDirectory(path.substr(0, k));
            sim::AddDirectory(path + f[1].substr(0, f[1].find('\\')));
            sim::AddFile(path + f[1], all.str());
        } else if (op == "dir" && f.size() == 2) {
            sim::AddDirectory(sim::M().windowsDir + "\\inf\\" + f[1]);
        } else if (op == "port" && f.size() == 3) {
            sim::M().ports[f[1]].heldByOther = f[2] == "held";
        } else if (op == "setting" && f.size() == 2) {
            if (f[1] == "all-present")
                allPresent = true;
            else if (f[1] == "locate-fails")
                sim::M().locateResult = CR_FAILURE;
            else if (f[1] == "uninstall-in-wow64")
                sim::M().uninstallRefusedInWow64 = false;
            else
                return Bad(line);
        } else if (op != "attrib") {
            return Bad(line);
        }
    }
    // SetupAPI enumerates root-enumerated nodes in the order of their
    // registry keys, ROOT\<name>\0000, names compared without regard to case.
    std::stable_sort(nodes.begin(), nodes.end(), [](const NodeText &a, const NodeText &b) {
        return sim::CaseLess()(a.name, b.name);
    });
    for (const NodeText &n : nodes) {
        sim::Device &d =
            sim::AddDevice("ROOT\\" + sim::Lower(n.name) + "\\0000", n.guid, {}, true);
        // Instance IDs are kept in capitals.
        for (char &c : d.instanceId) c = (char)toupper((unsigned char)c);
        d.attached = n.attached || allPresent;
        d.hasHardwareIds = !n.hwids.empty() || n.rawHwids;
        std::vector<BYTE> multi;
        for (const std::string &e : n.hwids) {
            multi.insert(multi.end(), e.begin(), e.end());
            multi.push_back(0);
        }
        if (!multi.empty()) multi.push_back(0);
        d.hardwareIds = n.rawHwids ? n.hwidBytes : multi;
        d.hasHardwareKey = n.keys[0];
        d.hasDriverKey = n.keys[1];
        for (const auto &v : n.values[0]) d.hardwareKey[v.first] = v.second;
        for (const auto &v : n.values[1]) d.driverKey[v.first] = v.second;
    }
    return 0;
}

// What one run did; an ended run has no exit code.
void WriteRun(bool ended, int exitCode, const std::string &out) {
    const sim::Machine &m = sim::M();
    for (const std::string &d : m.debug) printf("debug\t%s\n", Escape(d).c_str());
    if (!out.empty()) printf("stdout\t%s\n", Escape(out).c_str());
    for (const sim::MessageBoxCall &b : m.messageBoxes)
        printf("messagebox\t%s\t%s\t%X\n", Escape(b.text).c_str(), Escape(b.caption).c_str(),
               b.type);
    if (!ended) printf("exit\t%d\n", exitCode);
    for (const sim::Event &e : m.events)
        if (e.kind == sim::Event::LibraryLoaded) printf("library\t%s\n", Escape(e.text).c_str());
    for (const std::string &r : sim::OpenResources())
        printf("problem\t%s\n", Escape("left open: " + r).c_str());
    for (const std::string &p : m.problems) printf("problem\t%s\n", Escape(p).c_str());
    // The run record, as reg.exe reads it in the 64-bit view.
    auto record = m.registry.find(kRecordKey);
    if (record != m.registry.end())
        for (const auto &v : record->second)
            printf("record\t%s\t%u\t%s\n", Escape(v.first).c_str(), (unsigned)v.second.type,
                   Hex(v.second.data).c_str());
}

// The machine as the runs left it.
void WriteState() {
    const sim::Machine &m = sim::M();
    for (const sim::Device &d : m.devices) {
        if (d.removed) continue;
        std::string line = "node\t" + Escape(d.instanceId) + "\t" + (d.hasDriverKey ? "1" : "0");
        const std::vector<BYTE> &h = d.hardwareIds;
        if (d.hasHardwareIds) {
            size_t i = 0;
            while (i < h.size() && h[i] != 0) {
                size_t end = i;
                while (end < h.size() && h[end] != 0) ++end;
                line += "\t" + Escape(std::string(h.begin() + i, h.begin() + end));
                i = end + 1;
            }
        }
        printf("%s\n", line.c_str());
    }
    std::string infDir = sim::Lower(m.windowsDir + "\\inf\\");
    for (const auto &f : m.files) {
        std::string lower = sim::Lower(f.second.path);
        if (lower.compare(0, infDir.size(), infDir) != 0) continue;
        std::string name = f.second.path.substr(infDir.size());
        if (name.find('\\') != std::string::npos) continue;
        printf("file\t%s\t%X\n", Escape(name).c_str(), f.second.attributes);
    }
}

// The machine as it is now, in the description form, for a started program's
// runner. File contents go to files of their own under dir.
std::string Describe(const std::string &module, const std::string &dir) {
    const sim::Machine &m = sim::M();
    std::ostringstream out;
    // It runs under WOW64 or not as the layer started it.
    out << "windir\t" << m.windowsDir << "\nmodule\t" << module << "\nwow64\t"
        << (m.wow64 == sim::Wow64True) << "\nmachine\t"
        << (m.nativeMachine == IMAGE_FILE_MACHINE_I386 ? "x86" : "x64") << "\n";
    if (!m.stationVisible) out << "station\thidden\n";
    for (const auto &p : m.programs)
        if (sim::Lower(p.first) != sim::Lower(module))
            out << "program\t" << p.first << (m.x86Programs.count(p.first) ? "\tx86\n" : "\n");
    auto record = m.registry.find(kRecordKey);
    if (record != m.registry.end())
        for (const auto &v : record->second)
            out << "rawrecord\t" << v.first << "\t" << v.second.type << "\t" << Hex(v.second.data)
                << "\n";
    auto end = g_endAfter.find(module.substr(module.rfind('\\') + 1));
    if (g_run == 1 && end != g_endAfter.end())
        out << "end-after-message\t" << Escape(end->second) << "\n";
    for (const sim::Device &d : m.devices) {
        if (d.removed) continue;
        // ROOT\<NAME>\0000: the node's name is the middle part.
        std::string name = d.instanceId.substr(5, d.instanceId.size() - 10);
        char guid[40];
        const GUID &g = d.classGuid;
        snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                 (unsigned)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                 g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
        out << "device\t" << name << "\t" << guid << "\t" << (d.attached ? 1 : 0) << "\n";
        if (d.hasHardwareIds) out << "hwraw\t" << Hex(d.hardwareIds) << "\n";
        const bool has[2] = {d.hasHardwareKey, d.hasDriverKey};
        const sim::RegKey *keys[2] = {&d.hardwareKey, &d.driverKey};
        for (int i = 0; i < 2; ++i) {
            if (!has[i]) continue;
            out << "key\t" << (i == 0 ? "dev" : "drv") << "\n";
            for (const auto &v : *keys[i])
                out << "rawvalue\t" << (i == 0 ? "dev" : "drv") << "\t" << v.first << "\t"
                    << v.second.type << "\t" << Hex(v.second.data) << "\n";
        }
    }
    std::string infDir = sim::Lower(m.windowsDir + "\\inf\\");
    int n = 0;
    for (const auto &f : m.files) {
        std::string lower = sim::Lower(f.second.path);
        if (lower.compare(0, infDir.size(), infDir) != 0) continue;
        std::string name = f.second.path.substr(infDir.size());
        if (name.empty() || name.find('\\') != std::string::npos) continue;
        if (f.second.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            out << "dir\t" << name << "\n";
            continue;
        }
        std::string path = dir + "/content" + std::to_string(n++);
        std::ofstream(path, std::ios::binary) << f.second.content;
        out << "file\t" << name << "\t" << std::hex << f.second.attributes << std::dec << "\t"
            << path << "\n";
    }
    for (const auto &p : m.ports)
        out << "port\t" << p.first << "\t" << (p.second.heldByOther ? "held" : "free") << "\n";
    if (m.locateResult != CR_SUCCESS) out << "setting\tlocate-fails\n";
    return out.str();
}

// Runs a started program through its runner against the machine as it is,
// and takes back what it did.
void RunStartedProgram(const std::string &runner, const std::string &module) {
    std::string program = module.substr(module.rfind('\\') + 1);
    char dir[] = "/tmp/e2e-started-XXXXXX";
    if (!mkdtemp(dir)) {
        sim::M().problems.push_back(program + ": no folder for its run");
        return;
    }
    std::string input = std::string(dir) + "/machine";
    std::ofstream(input) << Describe(module, dir);
    std::string command = "'" + runner + "'";
    for (const auto &r : g_runners) command += " --program '" + r.first + "=" + r.second + "'";
    command += " < '" + input + "'";
    FILE *child = popen(command.c_str(), "r");
    std::string output;
    if (child) {
        char buf[4096];
        size_t got;
        while ((got = fread(buf, 1, sizeof buf, child)) > 0) output.append(buf, got);
        if (pclose(child) != 0) sim::M().problems.push_back(program + ": its runner failed");
    } else {
        sim::M().problems.push_back(program + ": its runner did not start");
    }
    std::string cleanup = std::string("rm -rf '") + dir + "'";
    if (system(cleanup.c_str()) != 0) sim::M().problems.push_back("cannot remove " + std::string(dir));

    std::set<std::string, sim::CaseLess> nodesLeft, filesLeft;
    std::map<std::string, DWORD, sim::CaseLess> attributes;
    std::istringstream lines(output);
    std::string line;
    bool exited = false;
    sim::RegKey record;
    while (std::getline(lines, line)) {
        std::vector<std::string> f = Split(line, '\t');
        if (f[0].empty()) continue;
        std::string text = f.size() > 1 ? Unescape(f[1]) : "";
        if (f[0] == "debug") {
            // Its debug output joins the channel in time order.
            sim::M().debug.push_back(text);
            sim::M().events.push_back({sim::Event::Debug, text});
        } else if (f[0] == "node") {
            nodesLeft.insert(text);
        } else if (f[0] == "file" && f.size() == 3) {
            filesLeft.insert(text);
            attributes[text] = (DWORD)strtoul(f[2].c_str(), nullptr, 16);
        } else if (f[0] == "problem") {
            sim::M().problems.push_back(program + ": " + text);
        } else if (f[0] == "messagebox" && f.size() == 4) {
            sim::M().messageBoxes.push_back(
                {true, text, Unescape(f[2]), (UINT)strtoul(f[3].c_str(), nullptr, 16)});
        } else if (f[0] == "record" && f.size() == 4) {
            record[text] = sim::Bytes((DWORD)strtoul(f[2].c_str(), nullptr, 10), FromHex(f[3]));
        } else if (f[0] == "exit") {
            sim::SetExitCode((DWORD)strtoul(text.c_str(), nullptr, 10));
            exited = true;
        }
    }
    for (sim::Device &d : sim::M().devices) {
        if (d.removed || nodesLeft.count(d.instanceId)) continue;
        d.removed = true;
        d.hasHardwareKey = d.hasDriverKey = false;
        d.hardwareKey.clear();
        d.driverKey.clear();
        sim::M().events.push_back({sim::Event::DeviceRemoved, d.instanceId});
    }
    std::string infDir = sim::Lower(sim::M().windowsDir + "\\inf\\");
    auto &files = sim::M().files;
    for (auto it = files.begin(); it != files.end();) {
        std::string lower = sim::Lower(it->second.path);
        std::string name = it->second.path.substr(std::min(infDir.size(), it->second.path.size()));
        bool inInf = lower.compare(0, infDir.size(), infDir) == 0 && !name.empty() &&
                     name.find('\\') == std::string::npos;
        if (inInf && !filesLeft.count(name)) {
            sim::M().events.push_back({sim::Event::FileDeleted, it->second.path});
            sim::M().driverStore.erase(name);  // it went with its package
            it = files.erase(it);
            continue;
        }
        if (inInf) it->second.attributes = attributes[name];
        ++it;
    }
    // The record as it left it: none where it left no key.
    if (!record.empty() || sim::M().registry.count(kRecordKey)) sim::M().registry[kRecordKey] = record;
    // A run that was ended has no exit code of its own: the layer gives it
    // an ended program's.
    if (!exited) throw sim::ProcessEnded();
}

}  // namespace

int RunScenario(ProgramMain program, int argc, char **argv) {
    sim::Reset();
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i], value = argv[i + 1];
        size_t eq = value.find('=');
        if (option != "--program" || eq == std::string::npos) {
            fprintf(stderr, "usage: %s [--program <file name>=<runner>]... < machine\n", argv[0]);
            return 2;
        }
        g_runners[value.substr(0, eq)] = value.substr(eq + 1);
    }
    int rc = Load(std::cin);
    if (rc != 0) return rc;
    // The program gets no arguments and reads none.
    char name[] = "program";
    char *programArgv[] = {name, nullptr};
    char *envp[] = {nullptr};
    for (g_run = 1; g_run <= g_runs; ++g_run) {
        if (g_run > 1) {
            printf("run\t%d\n", g_run);
            sim::NewProcess();
        }
        int exitCode = 0;
        bool ended = false;
        sim::BeginStdoutCapture();
        try {
            exitCode = program(1, programArgv, envp);
        } catch (const sim::ProcessEnded &) {
            ended = true;  // as when it is killed: Windows releases what it held
            sim::EndProcess();
        }
        std::string out = sim::EndStdoutCapture();
        WriteRun(ended, exitCode, out);
    }
    WriteState();
    fflush(stdout);
    return 0;
}
