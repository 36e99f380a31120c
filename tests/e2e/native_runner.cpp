// Loads an end-to-end scenario's machine into the simulated layer, runs one
// program in-process and writes what happened.
//
// Input, one instruction a line, fields separated by tabs (the scenario
// driver writes it; README.md beside this file describes the scenarios):
//   windir <path>                     the Windows folder
//   module <path>                     the running program's own file
//   wow64 0|1                         whether the program runs under WOW64
//   program <path>                    another program file beside it
//   device <name> <class GUID> 0|1    node ROOT\<name>\0000, attached or not
//   hwid <entry>                      a hardware-ID entry of the last node
//   key dev|drv                       the last node's hardware / driver key
//   value dev|drv <name> <type> <data>
//                                     type sz, expand_sz, multi_sz ('|'
//                                     between entries), dword or binary (hex)
//   file <name> <attributes hex> [<unix path of the content>]
//   dir <name>                        both in the Windows inf folder
//   port <name> free|held
//   setting all-present               every node counts as attached
//   setting locate-fails              the root device node cannot be located
// Other instructions (the Wine seeder's) are ignored.
//
// Output, fields separated by tabs, texts escaped (\\, \t, \n, \r, \xNN):
//   debug <text>                      one OutputDebugStringA call
//   stdout <text>                     everything written to standard output
//   messagebox <text> <caption> <type hex>
//   exit <code>
//   node <instance ID> 0|1 <hardware-ID entry>...   (1: has a driver key)
//   file <name> <attributes hex>      what is left in the inf folder
//   problem <text>                    a resource left open or misused
#include "native_runner.h"

#include "winsim.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string &line) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) out.push_back(field);
    if (!line.empty() && line.back() == '\t') out.push_back("");
    return out;
}

std::string Escape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

bool ParseGuid(const std::string &text, GUID *g) {
    unsigned long d1;
    unsigned d2, d3, b[8];
    if (sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0],
               &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
        return false;
    g->Data1 = (DWORD)d1;
    g->Data2 = (WORD)d2;
    g->Data3 = (WORD)d3;
    for (int i = 0; i < 8; ++i) g->Data4[i] = (BYTE)b[i];
    return true;
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
        std::vector<BYTE> data;
        for (size_t i = 0; i + 1 < text.size(); i += 2)
            data.push_back((BYTE)strtoul(text.substr(i, 2).c_str(), nullptr, 16));
        *v = sim::Bytes(REG_BINARY, data);
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
    bool keys[2] = {false, false};
    std::vector<std::pair<std::string, sim::RegValue>> values[2];
};

int Bad(const std::string &line) {
    fprintf(stderr, "native runner: cannot load: %s\n", line.c_str());
    return 2;
}

int Load(std::istream &in) {
    std::vector<NodeText> nodes;
    bool allPresent = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> f = Split(line);
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
        } else if (op == "program" && f.size() == 2) {
            sim::AddFile(f[1]);
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
        } else if (op == "dir" && f.size() == 2) {
            sim::AddDirectory(sim::M().windowsDir + "\\inf\\" + f[1]);
        } else if (op == "port" && f.size() == 3) {
            sim::M().ports[f[1]].heldByOther = f[2] == "held";
        } else if (op == "setting" && f.size() == 2) {
            if (f[1] == "all-present")
                allPresent = true;
            else if (f[1] == "locate-fails")
                sim::M().locateResult = CR_FAILURE;
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
        d.hasHardwareIds = !n.hwids.empty();
        std::vector<BYTE> multi;
        for (const std::string &e : n.hwids) {
            multi.insert(multi.end(), e.begin(), e.end());
            multi.push_back(0);
        }
        if (!multi.empty()) multi.push_back(0);
        d.hardwareIds = multi;
        d.hasHardwareKey = n.keys[0];
        d.hasDriverKey = n.keys[1];
        for (const auto &v : n.values[0]) d.hardwareKey[v.first] = v.second;
        for (const auto &v : n.values[1]) d.driverKey[v.first] = v.second;
    }
    return 0;
}

void WriteOutcome(int exitCode, const std::string &out) {
    const sim::Machine &m = sim::M();
    for (const std::string &d : m.debug) printf("debug\t%s\n", Escape(d).c_str());
    if (!out.empty()) printf("stdout\t%s\n", Escape(out).c_str());
    for (const sim::MessageBoxCall &b : m.messageBoxes)
        printf("messagebox\t%s\t%s\t%X\n", Escape(b.text).c_str(), Escape(b.caption).c_str(),
               b.type);
    printf("exit\t%d\n", exitCode);
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
    for (const std::string &r : sim::OpenResources())
        printf("problem\t%s\n", Escape("left open: " + r).c_str());
    for (const std::string &p : m.problems) printf("problem\t%s\n", Escape(p).c_str());
}

}  // namespace

int RunScenario(ProgramMain program) {
    sim::Reset();
    int rc = Load(std::cin);
    if (rc != 0) return rc;
    char name[] = "program";
    char *argv[] = {name, nullptr};
    char *envp[] = {nullptr};
    sim::BeginStdoutCapture();
    int exitCode = program(1, argv, envp);
    std::string out = sim::EndStdoutCapture();
    WriteOutcome(exitCode, out);
    fflush(stdout);
    return 0;
}
