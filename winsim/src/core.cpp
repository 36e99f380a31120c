// The simulated machine, its handle table, fault points and accounting.
#include "internal.h"

#include <devguid.h>
#include <setupapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

extern "C" {
const GUID GUID_DEVCLASS_MODEM = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID GUID_DEVCLASS_PORTS = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID GUID_DEVCLASS_USB = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
}

namespace sim {

namespace {

Machine g_machine;

struct FaultRule {
    std::string api;
    int nth;
    DWORD error;
};

struct OtherProgram {
    std::string api;
    int nth;
    std::function<void()> work;
};

struct FaultState {
    std::vector<FaultRule> rules;
    std::vector<OtherProgram> others;  // at work before a call of this one
    std::map<std::string, int> calls;
    std::vector<std::string> fallibleLog;
    int failFallible = 0;
    int endAt = 0;          // the process ends at this fallible call
    bool endAfter = false;  // ... after it has taken effect
    bool endPending = false;
    std::string endAfterMessage;  // ends once this has been written
    std::map<std::string, std::function<void()>> before;  // another program's action, by api
} g_faults;

void EndNowIfPending() {
    if (!g_faults.endPending) return;
    g_faults.endPending = false;
    throw ProcessEnded();
}

int g_process = 1;

// Another program's work, due before this call of api: it runs with fault
// plans and call counts of its own, under a process number of its own.
void RunOtherProgram(const char *api) {
    auto &others = g_faults.others;
    for (size_t i = 0; i < others.size(); ++i) {
        auto count = g_faults.calls.find(api);
        if (others[i].api != api || (count == g_faults.calls.end() ? 0 : count->second) + 1 != others[i].nth)
            continue;
        std::function<void()> work = std::move(others[i].work);
        others.erase(others.begin() + i);
        FaultState paused = std::move(g_faults);
        g_faults = FaultState();
        const int process = g_process;
        const DWORD lastError = GetLastError();
        g_process = process + 1000;
        work();
        g_process = process;
        g_faults = std::move(paused);
        SetLastError(lastError);
        return;
    }
}

struct HandleTable {
    std::map<uintptr_t, detail::Object> open;
    uintptr_t next = 0x1000;
} g_handles;

struct HeapState {
    std::map<void *, size_t> blocks;
    std::map<void *, int> owners;  // the process each block belongs to
    size_t now = 0;
    size_t peak = 0;
} g_heap;

int g_savedStdout = -1;
FILE *g_captureFile = nullptr;

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

bool CaseLess::operator()(const std::string &a, const std::string &b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = (unsigned char)Fold(a[i]), y = (unsigned char)Fold(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string Lower(const std::string &s) {
    std::string r = s;
    for (auto &c : r) c = Fold(c);
    return r;
}

RegValue Sz(const std::string &text) {
    RegValue v;
    v.type = REG_SZ;
    v.data.assign(text.begin(), text.end());
    v.data.push_back(0);
    return v;
}

RegValue Bytes(DWORD type, const std::vector<BYTE> &data) {
    RegValue v;
    v.type = type;
    v.data = data;
    return v;
}

std::vector<BYTE> MultiSz(std::initializer_list<std::string> entries) {
    std::vector<BYTE> out;
    for (const auto &e : entries) {
        out.insert(out.end(), e.begin(), e.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

Machine &M() { return g_machine; }

void Reset() {
    fflush(stdout);
    g_machine = Machine();
    g_faults = FaultState();
    detail::ResetHandles();
    detail::ResetFiles();
    detail::ResetInf();
    detail::ResetLibraries();
    detail::ResetTrust();
}

Device &AddDevice(const std::string &instanceId, const GUID &classGuid,
                  std::initializer_list<std::string> hardwareIds, bool attached) {
    Device d;
    d.instanceId = instanceId;
    d.classGuid = classGuid;
    d.attached = attached;
    d.hasHardwareIds = hardwareIds.size() != 0;
    if (d.hasHardwareIds) d.hardwareIds = MultiSz(hardwareIds);
    g_machine.devices.push_back(d);
    return g_machine.devices.back();
}

File &AddFile(const std::string &path, const std::string &content, DWORD attributes) {
    File f;
    f.path = path;
    f.content = content;
    f.attributes = attributes;
    std::string key = detail::NormalPath(path);
    g_machine.files[key] = std::move(f);
    return g_machine.files[key];
}

File &AddDirectory(const std::string &path) {
    return AddFile(path, "", FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string &path) { return detail::FindFile(path) != nullptr; }

const Device *FindDevice(const std::string &instanceId) {
    for (const auto &d : g_machine.devices)
        if (!CaseLess()(d.instanceId, instanceId) && !CaseLess()(instanceId, d.instanceId))
            return &d;
    return nullptr;
}

void FailCall(const std::string &api, int nth, DWORD error) {
    g_faults.rules.push_back({api, nth, error});
}

int Calls(const std::string &api) {
    auto it = g_faults.calls.find(api);
    return it == g_faults.calls.end() ? 0 : it->second;
}

std::vector<std::string> Arguments(const std::string &api) {
    std::vector<std::string> out;
    for (const auto &a : g_machine.arguments)
        if (a.first == api) out.push_back(a.second);
    return out;
}

int FallibleCalls() { return (int)g_faults.fallibleLog.size(); }
const std::vector<std::string> &FallibleLog() { return g_faults.fallibleLog; }
void FailFallibleCall(int nth) { g_faults.failFallible = nth; }
void BeforeCall(const std::string &api, std::function<void()> action) {
    g_faults.before[api] = std::move(action);
}

std::vector<std::string> OpenResources() { return detail::OpenResourcesOf(0); }

void OtherProgramBefore(const std::string &api, int nth, std::function<void()> work) {
    g_faults.others.push_back({api, nth, std::move(work)});
}

void EndProcessAt(int nth, bool after) {
    g_faults.endAt = nth;
    g_faults.endAfter = after;
}

void EndProcessAfterMessage(const std::string &text) { g_faults.endAfterMessage = text; }

void EndProcess() {
    g_faults.endAt = 0;
    g_faults.endPending = false;
    detail::ReleaseProcess();
}

namespace detail {

void ReleaseProcess() {
    const int process = g_process;
    std::vector<std::pair<uintptr_t, detail::Kind>> open;
    for (const auto &h : g_handles.open)
        if (h.second.process == process) open.push_back({h.first, h.second.kind});
    for (const auto &h : open) {
        HANDLE handle = (HANDLE)h.first;
        if (!g_handles.open.count(h.first)) continue;  // gone with another (a thread with its process)
        switch (h.second) {
        case detail::KProcess:
        case detail::KThread:
        case detail::KPort:
        case detail::KFile:
        case detail::KToken:
            CloseHandle(handle);
            break;
        case detail::KFind:
            FindClose(handle);
            break;
        case detail::KKey:
            RegCloseKey((HKEY)handle);
            break;
        case detail::KDevInfo:
            SetupDiDestroyDeviceInfoList(handle);
            break;
        case detail::KInf:
            SetupCloseInfFile(handle);
            break;
        case detail::KModule:
            detail::Release(handle, detail::KModule, "process end");
            break;
        case detail::KTrust:
            detail::CloseTrustState(handle);
            break;
        }
    }
    detail::ResetLibraries();  // its modules are unloaded
    std::vector<void *> blocks;
    for (const auto &b : g_heap.owners)
        if (b.second == process) blocks.push_back(b.first);
    for (void *b : blocks) {
        detail::HeapRemove(b);
        free(b);
    }
}

}  // namespace detail

void NewProcess() {
    Machine &m = g_machine;
    m.events.clear();
    m.debug.clear();
    m.messageBoxes.clear();
    m.processStarts.clear();
    m.cmCalls.clear();
    m.problems.clear();
    m.arguments.clear();
    m.libraryLoads.clear();
    m.defaultDllDirectories = 0;
    m.processId += 4;
    g_faults = FaultState();
    g_heap.peak = g_heap.now;
    SetLastError(0);
}

size_t HeapBytesNow() { return g_heap.now; }
size_t HeapBytesPeak() { return g_heap.peak; }

std::vector<std::string> Messages(const std::string &prefix) {
    std::vector<std::string> out;
    const auto &d = g_machine.debug;
    for (size_t i = 0; i < d.size(); ++i) {
        if (d[i] == prefix) {
            if (i + 1 < d.size() && d[i + 1] != prefix) {
                out.push_back(d[i + 1]);
                ++i;
            } else {
                out.push_back("prefix without message");
            }
        } else {
            out.push_back("bare:" + d[i]);
        }
    }
    return out;
}

void BeginStdoutCapture() {
    fflush(stdout);
    g_captureFile = tmpfile();
    g_savedStdout = dup(1);
    dup2(fileno(g_captureFile), 1);
}

std::string EndStdoutCapture() {
    fflush(stdout);
    dup2(g_savedStdout, 1);
    close(g_savedStdout);
    std::string text;
    rewind(g_captureFile);
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, g_captureFile)) > 0) text.append(buf, n);
    fclose(g_captureFile);
    g_captureFile = nullptr;
    return text;
}

namespace detail {

HANDLE NewHandle(Kind kind, const std::string &what, void *data) {
    uintptr_t value = g_handles.next;
    g_handles.next += 4;
    g_handles.open[value] = Object{kind, what, data, g_process};
    return (HANDLE)value;
}

Object *Lookup(HANDLE h, Kind kind) {
    auto it = g_handles.open.find((uintptr_t)h);
    if (it == g_handles.open.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

bool Release(HANDLE h, Kind kind, const char *api) {
    auto it = g_handles.open.find((uintptr_t)h);
    if (it == g_handles.open.end() || it->second.kind != kind) {
        char text[128];
        snprintf(text, sizeof text, "%s on a handle that is not open: %p", api, h);
        Problem(text);
        return false;
    }
    g_handles.open.erase(it);
    return true;
}

void Problem(const std::string &text) { g_machine.problems.push_back(text); }

void ResetHandles() {
    for (auto &b : g_heap.blocks) free(b.first);
    g_heap = HeapState();
    g_handles = HandleTable();
    g_process = 1;
}

int CurrentProcess() { return g_process; }

// process 0: every process's.
std::vector<std::string> OpenResourcesOf(int process) {
    std::vector<std::string> out;
    for (const auto &h : g_handles.open)
        if (process == 0 || h.second.process == process) out.push_back(h.second.what);
    for (const auto &b : g_heap.blocks)
        if (process == 0 || g_heap.owners[b.first] == process)
            out.push_back("heap block of " + std::to_string(b.second) + " bytes");
    return out;
}
void SetCurrentProcess(int process) { g_process = process; }

void ForgetPendingEnd() {
    g_faults.endPending = false;
    if (g_faults.endAt <= (int)g_faults.fallibleLog.size()) g_faults.endAt = 0;
}

void HeapAdd(void *p, size_t size) {
    g_heap.blocks[p] = size;
    g_heap.owners[p] = g_process;
    g_heap.now += size;
    g_heap.peak = std::max(g_heap.peak, g_heap.now);
}

bool HeapRemove(void *p) {
    auto it = g_heap.blocks.find(p);
    if (it == g_heap.blocks.end()) return false;
    g_heap.now -= it->second;
    g_heap.blocks.erase(it);
    g_heap.owners.erase(p);
    return true;
}

bool Fault(const char *api, DWORD defaultError, DWORD *pError) {
    EndNowIfPending();
    RunOtherProgram(api);
    auto action = g_faults.before.find(api);
    if (action != g_faults.before.end()) {
        std::function<void()> act = std::move(action->second);
        g_faults.before.erase(action);
        act();
    }
    if (g_faults.endAt == (int)g_faults.fallibleLog.size() + 1) {
        if (!g_faults.endAfter) throw ProcessEnded();
        g_faults.endPending = true;  // once this call has returned
    }
    int n = ++g_faults.calls[api];
    g_faults.fallibleLog.push_back(api);
    bool fail = g_faults.failFallible == (int)g_faults.fallibleLog.size();
    DWORD error = defaultError;
    for (const auto &r : g_faults.rules) {
        if (r.api == api && (r.nth == 0 || r.nth == n)) {
            fail = true;
            if (r.error) error = r.error;
        }
    }
    if (fail && pError) *pError = error;
    return fail;
}

void Note(const char *api) {
    EndNowIfPending();
    ++g_faults.calls[api];
}

void Written(const std::string &debugText) {
    if (!g_faults.endAfterMessage.empty() && debugText == g_faults.endAfterMessage)
        g_faults.endPending = true;
}

void Log(Event::Kind kind, const std::string &text) { g_machine.events.push_back({kind, text}); }

void Arguments(const char *api, const std::string &text) {
    g_machine.arguments.push_back({api, text});
}

void CheckBuffer(const char *api, const void *p, size_t size) {
    if (!p || !size) return;
    const char *c = (const char *)p;
    auto it = g_heap.blocks.upper_bound((void *)c);
    if (it == g_heap.blocks.begin()) return;
    --it;
    const char *start = (const char *)it->first;
    if (c >= start + it->second) return;  // not in a heap block: a local buffer
    if (c + size > start + it->second) {
        char text[160];
        snprintf(text, sizeof text, "%s: a buffer size of %zu bytes where the block holds %zu",
                 api, size, (size_t)(start + it->second - c));
        Problem(text);
    }
}

std::string NormalPath(const std::string &path) {
    std::vector<std::string> parts;
    std::string cur;
    std::string p = path;
    for (auto &c : p)
        if (c == '/') c = '\\';
    size_t i = 0;
    std::string root;
    if (p.size() >= 2 && p[1] == ':') {
        root = p.substr(0, 2);
        i = 2;
    }
    for (; i <= p.size(); ++i) {
        if (i == p.size() || p[i] == '\\') {
            if (cur == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!cur.empty() && cur != ".") {
                parts.push_back(cur);
            }
            cur.clear();
        } else {
            cur += p[i];
        }
    }
    std::string out = root;
    for (const auto &s : parts) out += "\\" + s;
    return out;
}

std::string ParentOf(const std::string &normalPath) {
    size_t k = normalPath.rfind('\\');
    return k == std::string::npos ? std::string() : normalPath.substr(0, k);
}

std::string NameOf(const std::string &normalPath) {
    size_t k = normalPath.rfind('\\');
    return k == std::string::npos ? normalPath : normalPath.substr(k + 1);
}

std::string ProgramPath(const std::string &path) {
    std::string p = NormalPath(path);
    if (g_machine.wow64 != Wow64True) return p;
    std::string win = NormalPath(g_machine.windowsDir) + "\\";
    if (Lower(p).compare(0, win.size(), Lower(win)) != 0) return p;
    std::string rest = p.substr(win.size());
    size_t end = rest.find('\\');
    std::string first = Lower(rest.substr(0, end));
    std::string tail = end == std::string::npos ? "" : rest.substr(end);
    if (first == "system32") return win + "SysWOW64" + tail;
    if (first == "sysnative") return win + "System32" + tail;
    return p;
}

File *FindFile(const std::string &path) {
    auto it = g_machine.files.find(NormalPath(path));
    return it == g_machine.files.end() ? nullptr : &it->second;
}

}  // namespace detail
}  // namespace sim
