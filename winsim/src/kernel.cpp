// kernel32 and user32 of the simulated layer: debug output, last error,
// modules and the DLL search, processes, memory and the message box.
#include "internal.h"

#include <setupapi.h>
#include <wintrust.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

using namespace sim;
using namespace sim::detail;

namespace {

thread_local DWORD g_lastError = 0;
int g_kernel32Tag;
int g_setupapiTag;
int g_stationTag;  // the process's window station: a handle nobody closes
const DWORD kChildProcessId = 0x100;  // a started program's, as CreateProcessA reports it

BOOL WINAPI SimIsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
    DWORD error;
    if (M().wow64 == Wow64Fails || Fault("IsWow64Process", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(M().wow64 == Wow64Fails ? ERROR_ACCESS_DENIED : error);
        return FALSE;
    }
    if (hProcess != GetCurrentProcess() || !Wow64Process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // "If the process is a 32-bit application running under 64-bit Windows
    // 10 on ARM, the value is set to FALSE."
    *Wow64Process = M().wow64 == Wow64True && M().nativeMachine != IMAGE_FILE_MACHINE_ARM64;
    return TRUE;
}

// Windows 10 1709 and later. A WOW64 process has the machine it was built
// for, any other none. Assumption: an x64 process under emulation on ARM64
// is no WOW64 process (IMAGE_FILE_MACHINE_UNKNOWN); only the sibling's run
// log header would tell.
BOOL WINAPI SimIsWow64Process2(HANDLE hProcess, USHORT *pProcessMachine, USHORT *pNativeMachine) {
    DWORD error;
    if (Fault("IsWow64Process2", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (hProcess != GetCurrentProcess() || !pProcessMachine) {
        SetLastError(hProcess != GetCurrentProcess() ? ERROR_INVALID_HANDLE : ERROR_NOACCESS);
        return FALSE;
    }
    *pProcessMachine = M().wow64 == Wow64True ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    if (pNativeMachine) *pNativeMachine = M().nativeMachine;
    return TRUE;
}

BOOL WINAPI SimSetDefaultDllDirectories(DWORD DirectoryFlags) {
    DWORD error;
    if (Fault("SetDefaultDllDirectories", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return FALSE;
    }
    const DWORD valid = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                        LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    if (DirectoryFlags == 0 || (DirectoryFlags & ~valid) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    M().defaultDllDirectories = DirectoryFlags;
    char text[16];
    snprintf(text, sizeof text, "0x%X", DirectoryFlags);
    Log(Event::DllDirectoriesSet, text);
    return TRUE;
}

// ---- loaded libraries ----

const DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                           LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                           LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

struct Library {
    std::string path;  // full path of the module file
    bool system = false;
    HMODULE handle = nullptr;
    int refs = 0;
};

// By full path; each handle's object points at its entry here.
std::map<std::string, Library, CaseLess> g_libraries;

bool SameName(const std::string &a, const std::string &b) {
    return !CaseLess()(a, b) && !CaseLess()(b, a);
}

std::string SystemDir() { return NormalPath(M().windowsDir + "\\system32"); }
std::string ProgramDir() { return ParentOf(NormalPath(M().moduleFileName)); }

// The KnownDLLs the programs use: Windows maps these from the system folder
// whatever the search order says.
bool IsKnownDll(const std::string &name) {
    for (const char *k : {"kernel32.dll", "advapi32.dll", "user32.dll", "setupapi.dll", "msvcrt.dll"})
        if (SameName(name, k)) return true;
    return false;
}

// Whether the module file exists: the system folder's DLLs by the machine's
// list, any other as a file of the machine.
bool ModuleFileExists(const std::string &path, bool *pSystem) {
    *pSystem = SameName(ParentOf(path), SystemDir());
    if (*pSystem) return M().systemDlls.count(NameOf(path)) != 0;
    File *f = FindFile(path);
    return f != nullptr && !(f->attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The full path LoadLibraryExA takes the module from, or empty.
std::string FindModule(const std::string &fileName, DWORD flags, bool *pSystem) {
    if (fileName.find_first_of("\\/") != std::string::npos) {
        // A path: that file alone (only full paths are modelled).
        if (fileName.size() < 3 || fileName[1] != ':') return std::string();
        std::string path = NormalPath(fileName);
        return ModuleFileExists(path, pSystem) ? path : std::string();
    }
    // No extension: ".dll" is added; a trailing point means none.
    std::string name = fileName;
    if (name.find('.') == std::string::npos)
        name += ".dll";
    else if (name.back() == '.')
        name.pop_back();
    // A module of that name already loaded is the one taken.
    for (const auto &l : g_libraries)
        if (SameName(NameOf(l.second.path), name)) {
            *pSystem = l.second.system;
            return l.second.path;
        }
    std::vector<std::string> dirs;
    DWORD search = (flags & kSearchFlags) ? (flags & kSearchFlags) : M().defaultDllDirectories;
    if (search != 0) {
        // Folders added with AddDllDirectory (USER_DIRS) and a DLL's own
        // folder (DLL_LOAD_DIR, with a path only) add nothing here.
        if (search & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
            dirs.push_back(ProgramDir());
        if (search & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
            dirs.push_back(SystemDir());
    } else if (IsKnownDll(name)) {
        dirs.push_back(SystemDir());
    } else {
        // The standard order: the program's own folder first (then the
        // current folder and PATH, which the machine does not have).
        dirs = {ProgramDir(), SystemDir(), NormalPath(M().windowsDir)};
    }
    for (const auto &dir : dirs) {
        std::string path = dir + "\\" + name;
        if (ModuleFileExists(path, pSystem)) return path;
    }
    return std::string();
}

Library *LoadedLibrary(HMODULE h) {
    Object *o = Lookup((HANDLE)h, KModule);
    return o ? (Library *)o->data : nullptr;
}

// The answer of GetWindowsDirectoryA and its kin: the folder and its
// length, or, in a buffer too small for it, the size it needs.
UINT AnswerFolder(const char *api, bool fails, const std::string &dir, LPSTR lpBuffer, UINT uSize) {
    DWORD error;
    if (fails || Fault(api, ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(fails ? ERROR_NOT_ENOUGH_MEMORY : error);
        return 0;
    }
    if (!lpBuffer || dir.size() + 1 > uSize) return (UINT)dir.size() + 1;
    memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return (UINT)dir.size();
}

// The running program's headers as the loader maps them: only what the
// programs read of them, the PE kind and the certificate table's entry.
// Where the table lies in the file and how large it is are made up.
union MappedImage {
    BYTE bytes[0x200];
    IMAGE_DOS_HEADER dos;
} g_image;
const LONG kNtHeaders = 0x80;
static_assert(sizeof(IMAGE_DOS_HEADER) == 64 && sizeof(IMAGE_NT_HEADERS32) == 248 &&
                  sizeof(IMAGE_NT_HEADERS64) == 264,
              "PE headers as Windows lays them out");

HMODULE MapImage() {
    memset(&g_image, 0, sizeof g_image);
    g_image.dos.e_magic = IMAGE_DOS_SIGNATURE;
    g_image.dos.e_lfanew = kNtHeaders;
    File *f = FindFile(M().moduleFileName);
    IMAGE_DATA_DIRECTORY table = {0, 0};
    if (f && !f->signature.subject.empty()) table = {0x9A00, 0x2A48};
    if (M().imageMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        IMAGE_NT_HEADERS64 *nt = (IMAGE_NT_HEADERS64 *)(g_image.bytes + kNtHeaders);
        nt->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
        nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
        nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = table;
    } else {
        IMAGE_NT_HEADERS32 *nt = (IMAGE_NT_HEADERS32 *)(g_image.bytes + kNtHeaders);
        nt->FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
        nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
        nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = table;
    }
    IMAGE_NT_HEADERS32 *nt = (IMAGE_NT_HEADERS32 *)(g_image.bytes + kNtHeaders);
    nt->Signature = IMAGE_NT_SIGNATURE;
    nt->OptionalHeader.Magic = M().imageMagic;
    return (HMODULE)g_image.bytes;
}

// Time as FILETIME counts it: 100-nanosecond ticks since 1601-01-01 (UTC),
// the proleptic Gregorian calendar.
const ULONGLONG kTicksPerSecond = 10000000;
const LONGLONG kDaysFrom1601To1970 = 134774;

ULONGLONG FileTimeOf(const SYSTEMTIME &st) {
    // Days since 1970-01-01 of a civil date (an era is 400 years).
    const LONGLONG y = (LONGLONG)st.wYear - (st.wMonth <= 2);
    const LONGLONG era = y / 400;
    const LONGLONG yoe = y - era * 400;
    const LONGLONG doy = (153 * (st.wMonth + (st.wMonth > 2 ? -3 : 9)) + 2) / 5 + st.wDay - 1;
    const LONGLONG days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return (ULONGLONG)(days + kDaysFrom1601To1970) * 86400 * kTicksPerSecond +
           ((ULONGLONG)st.wHour * 3600 + st.wMinute * 60 + st.wSecond) * kTicksPerSecond +
           (ULONGLONG)st.wMilliseconds * 10000;
}

SYSTEMTIME SystemTimeOf(ULONGLONG t) {
    SYSTEMTIME st{};
    const ULONGLONG seconds = t / kTicksPerSecond;
    const LONGLONG days = (LONGLONG)(seconds / 86400) - kDaysFrom1601To1970 + 719468;
    const LONGLONG era = (days >= 0 ? days : days - 146096) / 146097;
    const LONGLONG doe = days - era * 146097;
    const LONGLONG yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const LONGLONG doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const LONGLONG mp = (5 * doy + 2) / 153;
    st.wDay = (WORD)(doy - (153 * mp + 2) / 5 + 1);
    st.wMonth = (WORD)(mp < 10 ? mp + 3 : mp - 9);
    st.wYear = (WORD)(yoe + era * 400 + (st.wMonth <= 2));
    st.wDayOfWeek = (WORD)((seconds / 86400 + 1) % 7);  // 1601-01-01 was a Monday
    st.wHour = (WORD)(seconds % 86400 / 3600);
    st.wMinute = (WORD)(seconds % 3600 / 60);
    st.wSecond = (WORD)(seconds % 60);
    st.wMilliseconds = (WORD)(t % kTicksPerSecond / 10000);
    return st;
}

ULONGLONG WINAPI SimGetTickCount64(void) {
    Note("GetTickCount64");
    return M().tickCount;
}

struct ProcessData {
    std::string application;
    bool ran = false;
    int handlesOpen = 2;
    DWORD exitCode = STILL_ACTIVE;
};

DWORD g_exitCode = 0;  // what the running child's program set

// A started program runs as a process of its own: its handles, heap blocks,
// loaded modules, last error, DLL search and module name are its own, and
// go when it ends, however it ends. An x86 program runs under WOW64 wherever
// Windows is not x86 itself, an x64 program natively; the starter's kind is
// restored after.
void RunChild(ProcessData *p) {
    if (p->ran) return;
    p->ran = true;
    auto it = M().programs.find(p->application);
    if (it != M().programs.end() && it->second) {
        Machine &m = M();
        const Wow64Mode wow64 = m.wow64;
        const WORD imageMagic = m.imageMagic;
        const bool x86 = m.x86Programs.count(p->application) != 0;
        m.wow64 = x86 && m.nativeMachine != IMAGE_FILE_MACHINE_I386 ? Wow64True : Wow64False;
        m.imageMagic = x86 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC;
        const std::string module = m.moduleFileName;
        const DWORD dllDirectories = m.defaultDllDirectories;
        const DWORD lastError = g_lastError;
        const DWORD processId = m.processId;
        const int parent = CurrentProcess();
        std::map<std::string, Library, CaseLess> libraries;
        libraries.swap(g_libraries);
        m.moduleFileName = p->application;
        m.defaultDllDirectories = 0;
        m.processId = kChildProcessId;
        SetCurrentProcess(parent + 1);
        bool ended = false;
        const DWORD starterExitCode = g_exitCode;
        g_exitCode = 0;
        try {
            it->second();
        } catch (const ProcessEnded &) {
            ended = true;
        }
        p->exitCode = ended ? 1 : g_exitCode;
        g_exitCode = starterExitCode;
        if (ended)
            Log(Event::ProcessTerminated, p->application);
        else
            for (const auto &left : OpenResourcesOf(CurrentProcess()))
                Problem(p->application + " ended with " + left + " still open");
        // An end planned for it is over with it; Windows releases whatever
        // it still held.
        ForgetPendingEnd();
        ReleaseProcess();
        SetCurrentProcess(parent);
        g_libraries.swap(libraries);
        m.processId = processId;
        g_lastError = lastError;
        m.defaultDllDirectories = dllDirectories;
        m.moduleFileName = module;
        m.wow64 = wow64;
        m.imageMagic = imageMagic;
    }
    if (p->exitCode == STILL_ACTIVE) p->exitCode = 0;  // a program the machine does not run
    Log(Event::ProcessEnded, p->application);
}

}  // namespace

extern "C" {

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    Note("OutputDebugStringA");
    std::string text = lpOutputString ? lpOutputString : "";
    M().debug.push_back(text);
    Log(Event::Debug, text);
    Written(text);
    // Windows does not keep the caller's last error: without a debugger its
    // search for a debug-output viewer leaves ERROR_FILE_NOT_FOUND.
    SetLastError(ERROR_FILE_NOT_FOUND);
}

DWORD WINAPI GetLastError(void) { return g_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    // The program itself: Windows answers from the process's own record,
    // which cannot fail.
    if (!lpModuleName) {
        Note("GetModuleHandleA");
        return MapImage();
    }
    DWORD error;
    if (Fault("GetModuleHandleA", ERROR_MOD_NOT_FOUND, &error)) {
        SetLastError(error);
        return nullptr;
    }
    std::string name = Lower(lpModuleName);
    if (name == "kernel32" || name == "kernel32.dll") return (HMODULE)&g_kernel32Tag;
    if (name == "setupapi" || name == "setupapi.dll") return (HMODULE)&g_setupapiTag;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    DWORD error;
    if (Fault("GetProcAddress", ERROR_PROC_NOT_FOUND, &error)) {
        SetLastError(error);
        return nullptr;
    }
    // A value below 0x10000 is an ordinal: none is exported here.
    std::string name = ((uintptr_t)lpProcName >> 16) != 0 ? lpProcName : "";
    Library *l = LoadedLibrary(hModule);
    if (M().missingExports.count(name)) {
        // A Windows without it.
    } else if (hModule == (HMODULE)&g_kernel32Tag) {
        if (name == "IsWow64Process" && M().wow64 != Wow64Absent)
            return (FARPROC)(void (*)(void))SimIsWow64Process;
        if (name == "IsWow64Process2" && M().wow64 != Wow64Absent && !M().noIsWow64Process2)
            return (FARPROC)(void (*)(void))SimIsWow64Process2;
        if (name == "SetFileInformationByHandle")  // Windows Vista and later
            return (FARPROC)(void (*)(void))SimSetFileInformationByHandle;
        if (name == "SetDefaultDllDirectories" && M().loaderSearchFlags)
            return (FARPROC)(void (*)(void))SimSetDefaultDllDirectories;
        if (name == "ProcessIdToSessionId" && !M().noSessionFunctions)
            return (FARPROC)(void (*)(void))ProcessIdToSessionId;
        if (name == "WTSGetActiveConsoleSessionId" && !M().noSessionFunctions)
            return (FARPROC)(void (*)(void))WTSGetActiveConsoleSessionId;
        if (name == "GetTickCount64")  // Windows Vista and later
            return (FARPROC)(void (*)(void))SimGetTickCount64;
    } else if (hModule == (HMODULE)&g_setupapiTag) {
        if (name == "SetupUninstallOEMInfA" && !M().noUninstallOemInf)
            return (FARPROC)(void (*)(void))SetupUninstallOEMInfA;
    } else if (l) {
        if (l->system && SameName(NameOf(l->path), "cfgmgr32.dll")) {
            if (name == "CM_Locate_DevNode_ExA") return (FARPROC)(void (*)(void))CM_Locate_DevNode_ExA;
            if (name == "CM_Reenumerate_DevNode_Ex")
                return (FARPROC)(void (*)(void))CM_Reenumerate_DevNode_Ex;
        }
        if (l->system && SameName(NameOf(l->path), "wintrust.dll")) {
            if (name == "WinVerifyTrust") return (FARPROC)(void (*)(void))WinVerifyTrust;
            if (name == "WTHelperProvDataFromStateData")
                return (FARPROC)(void (*)(void))WTHelperProvDataFromStateData;
            if (name == "WTHelperGetProvSignerFromChain")
                return (FARPROC)(void (*)(void))WTHelperGetProvSignerFromChain;
        }
        if (l->system && SameName(NameOf(l->path), "crypt32.dll") &&
            name == "CertCompareCertificateName")
            return (FARPROC)(void (*)(void))CertCompareCertificateName;
    } else if (hModule != (HMODULE)g_image.bytes) {
        Problem("GetProcAddress on a module that is not loaded");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    LibraryLoad call;
    call.name = lpLibFileName ? lpLibFileName : "";
    call.flags = dwFlags;
    M().libraryLoads.push_back(call);
    DWORD error;
    if (Fault("LoadLibraryExA", ERROR_MOD_NOT_FOUND, &error)) {
        SetLastError(error);
        return nullptr;
    }
    DWORD search = dwFlags & kSearchFlags;
    // Without the loader update Windows refuses the search flags; they never
    // go with LOAD_WITH_ALTERED_SEARCH_PATH; hFile is reserved.
    if (!lpLibFileName || hFile || (search && !M().loaderSearchFlags) ||
        (search && (dwFlags & LOAD_WITH_ALTERED_SEARCH_PATH))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool system = false;
    std::string path = FindModule(lpLibFileName, dwFlags, &system);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    Library &l = g_libraries[path];
    if (l.refs++ == 0) {
        l.path = path;
        l.system = system;
        l.handle = (HMODULE)NewHandle(KModule, "library " + path, &l);
        Log(Event::LibraryLoaded, path);
    }
    M().libraryLoads.back().loaded = path;
    return l.handle;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    Note("FreeLibrary");
    Library *l = LoadedLibrary(hLibModule);
    if (!l) {
        Problem("FreeLibrary of a module that is not loaded");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--l->refs == 0) {
        std::string path = l->path;
        Release((HANDLE)hLibModule, KModule, "FreeLibrary");
        g_libraries.erase(path);
    }
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return (HANDLE)(LONG_PTR)-1; }

DWORD WINAPI GetCurrentProcessId(void) {
    Note("GetCurrentProcessId");
    return M().processId;
}

BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD *pSessionId) {
    DWORD error;
    if (Fault("ProcessIdToSessionId", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (!pSessionId) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (dwProcessId != M().processId) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pSessionId = M().sessionId;
    return TRUE;
}

// 0xFFFFFFFF while no session is attached to the console (it is switching).
DWORD WINAPI WTSGetActiveConsoleSessionId(void) {
    Note("WTSGetActiveConsoleSessionId");
    return M().consoleSessionId;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    DWORD error;
    if (M().moduleFileNameFails || Fault("GetModuleFileNameA", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(M().moduleFileNameFails ? ERROR_NOT_ENOUGH_MEMORY : error);
        return 0;
    }
    if (hModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::string &name = M().moduleFileName;
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (name.size() >= nSize) {
        // Windows Vista and later: cut, NUL-terminated, size returned.
        memcpy(lpFilename, name.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, name.c_str(), name.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)name.size();
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    ProcessStart s;
    s.applicationNull = lpApplicationName == nullptr;
    if (lpApplicationName) s.application = lpApplicationName;
    s.commandLineNull = lpCommandLine == nullptr;
    if (lpCommandLine) s.commandLine = lpCommandLine;
    s.processAttributesNull = lpProcessAttributes == nullptr;
    s.threadAttributesNull = lpThreadAttributes == nullptr;
    s.inheritHandles = bInheritHandles;
    s.creationFlags = dwCreationFlags;
    s.environmentNull = lpEnvironment == nullptr;
    s.currentDirectoryNull = lpCurrentDirectory == nullptr;
    if (lpCurrentDirectory) s.currentDirectory = lpCurrentDirectory;
    if (lpStartupInfo) s.startupInfo = *lpStartupInfo;
    M().processStarts.push_back(s);

    DWORD error;
    if (Fault("CreateProcessA", ERROR_FILE_NOT_FOUND, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (!lpStartupInfo || !lpProcessInformation || lpStartupInfo->cb != sizeof(STARTUPINFOA) ||
        (!lpApplicationName && !lpCommandLine)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string app = lpApplicationName ? lpApplicationName : lpCommandLine;
    File *f = FindFile(app);
    if (!f || (f->attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(f ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // Every Windows runs an x86 program. An x64 program (the 64-bit sibling)
    // 32-bit Windows cannot run, nor Windows 10 on Arm; Windows 11 on Arm
    // runs it under emulation. Assumption: an x64 process there may use the
    // device-installation calls as on x64 Windows (no document says); the
    // layer lets it.
    const WORD machine = M().nativeMachine;
    if (!M().x86Programs.count(app) &&
        (machine == IMAGE_FILE_MACHINE_I386 || (machine == IMAGE_FILE_MACHINE_ARM64 && !M().x64Emulation))) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return FALSE;
    }
    // Assumption (what NT's CreateProcess has long done, not documented):
    // the program's file is opened to be read and run, sharing read and
    // delete, so an open of it that does not share reading refuses the start.
    if (SharingViolation(app, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    ProcessData *p = new ProcessData;
    p->application = app;
    Log(Event::ProcessStarted, app);
    lpProcessInformation->hProcess = NewHandle(KProcess, "process handle of " + app, p);
    lpProcessInformation->hThread = NewHandle(KThread, "thread handle of " + app, p);
    lpProcessInformation->dwProcessId = kChildProcessId;
    lpProcessInformation->dwThreadId = 0x104;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    DWORD error;
    if (Fault("WaitForSingleObject", ERROR_INVALID_HANDLE, &error)) {
        SetLastError(error);
        return WAIT_FAILED;
    }
    Object *o = Lookup(hHandle, KProcess);
    if (!o) o = Lookup(hHandle, KThread);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    ProcessData *p = (ProcessData *)o->data;
    Log(Event::WaitBegin, p->application);
    if (!p->ran && dwMilliseconds != INFINITE) {
        // A finite wait on a program still running: the model lets it finish.
    }
    RunChild(p);
    Log(Event::WaitEnd, p->application);
    return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    DWORD error;
    if (Fault("GetExitCodeProcess", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(hProcess, KProcess);
    if (!o || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = ((ProcessData *)o->data)->exitCode;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    Note("CloseHandle");
    for (Kind k : {KProcess, KThread, KPort, KFind, KFile, KToken}) {
        Object *o = Lookup(hObject, k);
        if (!o) continue;
        if (k == KProcess || k == KThread) {
            ProcessData *p = (ProcessData *)o->data;
            if (k == KProcess) RunChild(p);  // never waited for: it ends on its own
            if (--p->handlesOpen == 0) delete p;
        } else if (k == KPort) {
            Port *port = (Port *)o->data;
            --port->openByUs;
        } else if (k == KFile) {
            CloseFile(o);
        } else if (k == KFind) {
            Problem("CloseHandle on a search handle (FindClose closes those)");
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        Release(hObject, k, "CloseHandle");
        return TRUE;
    }
    Problem("CloseHandle on a handle that is not open");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    DWORD error;
    if (Fault("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return nullptr;
    }
    // Exactly the size asked for, so that AddressSanitizer sees any overrun.
    void *p = malloc(uBytes ? uBytes : 1);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Without LMEM_ZEROINIT the block holds garbage, as on Windows.
    memset(p, (uFlags & LMEM_ZEROINIT) ? 0 : 0xCD, uBytes);
    HeapAdd(p, uBytes);
    return p;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    Note("LocalFree");
    if (!hMem) return nullptr;
    if (!HeapRemove(hMem)) {
        Problem("LocalFree of a block that is not allocated");
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    free(hMem);
    return nullptr;
}

int WINAPI lstrlenA(LPCSTR lpString) {
    Note("lstrlenA");
    return lpString ? (int)strlen(lpString) : 0;
}

// Only the code page that holds the programs' paths is modelled: each byte
// becomes the UTF-16 unit of the same value (Latin-1).
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                               int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    DWORD error;
    if (Fault("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, &error)) {
        SetLastError(error);
        return 0;
    }
    if (CodePage != CP_ACP || dwFlags != 0 || !lpMultiByteStr || cbMultiByte == 0 ||
        cchWideChar < 0) {
        Problem("MultiByteToWideChar: a call that is not modelled");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int n = cbMultiByte < 0 ? (int)strlen(lpMultiByteStr) + 1 : cbMultiByte;
    if (cchWideChar == 0) return n;
    if (n > cchWideChar) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    CheckBuffer("MultiByteToWideChar", lpWideCharStr, (size_t)cchWideChar * sizeof(WCHAR));
    for (int i = 0; i < n; ++i) lpWideCharStr[i] = (unsigned char)lpMultiByteStr[i];
    return n;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    Note("MessageBoxA");
    MessageBoxCall c;
    c.ownerNull = hWnd == nullptr;
    c.text = lpText ? lpText : "";
    c.caption = lpCaption ? lpCaption : "";
    c.type = uType;
    M().messageBoxes.push_back(c);
    Log(Event::MessageBox, c.text);
    return IDOK;
}

HWINSTA WINAPI GetProcessWindowStation(void) {
    DWORD error;
    if (Fault("GetProcessWindowStation", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return nullptr;
    }
    return (HWINSTA)&g_stationTag;
}

BOOL WINAPI GetUserObjectInformationA(HANDLE hObj, int nIndex, PVOID pvInfo, DWORD nLength,
                                      LPDWORD lpnLengthNeeded) {
    DWORD error;
    if (Fault("GetUserObjectInformationA", ERROR_ACCESS_DENIED, &error) || M().stationFlagsFail) {
        SetLastError(M().stationFlagsFail ? ERROR_ACCESS_DENIED : error);
        return FALSE;
    }
    if (hObj != (HANDLE)&g_stationTag) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (nIndex != UOI_FLAGS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpnLengthNeeded) *lpnLengthNeeded = sizeof(USEROBJECTFLAGS);
    if (!pvInfo || nLength < sizeof(USEROBJECTFLAGS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CheckBuffer("GetUserObjectInformationA", pvInfo, nLength);
    USEROBJECTFLAGS *flags = (USEROBJECTFLAGS *)pvInfo;
    flags->fInherit = FALSE;
    flags->fReserved = FALSE;
    flags->dwFlags = M().stationVisible ? WSF_VISIBLE : 0;
    return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return AnswerFolder("GetWindowsDirectoryA", M().windowsDirFails, M().windowsDir, lpBuffer, uSize);
}

// The system's shared Windows folder; a program without the terminal
// server flag on a Remote Desktop Session Host would get a private one from
// GetWindowsDirectoryA (not modelled: the two are the same folder here).
UINT WINAPI GetSystemWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return AnswerFolder("GetSystemWindowsDirectoryA", false, M().windowsDir, lpBuffer, uSize);
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    Note("GetLocalTime");
    *lpSystemTime = M().localTime;
}

// UTC: the local time less its offset.
void WINAPI GetSystemTimeAsFileTime(FILETIME *lpSystemTimeAsFileTime) {
    Note("GetSystemTimeAsFileTime");
    ULONGLONG t = FileTimeOf(M().localTime) - (ULONGLONG)((LONGLONG)M().utcOffsetMinutes * 60 * kTicksPerSecond);
    lpSystemTimeAsFileTime->dwLowDateTime = (DWORD)t;
    lpSystemTimeAsFileTime->dwHighDateTime = (DWORD)(t >> 32);
}

DWORD WINAPI GetTickCount(void) {
    Note("GetTickCount");
    return (DWORD)M().tickCount;  // it wraps after 49.7 days
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime) {
    Note("FileTimeToSystemTime");
    ULONGLONG t = ((ULONGLONG)lpFileTime->dwHighDateTime << 32) | lpFileTime->dwLowDateTime;
    if (t >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpSystemTime = SystemTimeOf(t);
    return TRUE;
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    DWORD error;
    if (Fault("OpenProcessToken", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (ProcessHandle != GetCurrentProcess() || !TokenHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *TokenHandle = NewHandle(KToken, "process token", (void *)(uintptr_t)DesiredAccess);
    return TRUE;
}

// Only the elevation is modelled, as Windows Vista and later answer it
// (Windows XP knows no such class and fails with ERROR_INVALID_PARAMETER).
BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength,
                                PDWORD ReturnLength) {
    DWORD error;
    if (Fault("GetTokenInformation", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(TokenHandle, KToken);
    if (!o || !ReturnLength) {
        SetLastError(o ? ERROR_NOACCESS : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!((uintptr_t)o->data & TOKEN_QUERY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (TokenInformationClass != TokenElevation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *ReturnLength = sizeof(TOKEN_ELEVATION);
    if (!TokenInformation || TokenInformationLength < sizeof(TOKEN_ELEVATION)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CheckBuffer("GetTokenInformation", TokenInformation, TokenInformationLength);
    ((TOKEN_ELEVATION *)TokenInformation)->TokenIsElevated = M().elevated ? 1 : 0;
    return TRUE;
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
    DWORD error;
    if (Fault("GetTimeZoneInformation", ERROR_ACCESS_DENIED, &error) || !lpTimeZoneInformation) {
        SetLastError(lpTimeZoneInformation ? error : ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    // UTC = local time + bias; the daylight bias applies while it is on.
    memset(lpTimeZoneInformation, 0, sizeof *lpTimeZoneInformation);
    lpTimeZoneInformation->Bias = -(M().utcOffsetMinutes - (M().daylightTime ? 60 : 0));
    lpTimeZoneInformation->StandardBias = 0;
    lpTimeZoneInformation->DaylightBias = -60;
    return M().daylightTime ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return AnswerFolder("GetSystemDirectoryA", false, SystemDir(), lpBuffer, uSize);
}

}  // extern "C"

namespace sim {

void SetExitCode(DWORD code) { g_exitCode = code; }

namespace detail {

void ResetLibraries() {
    g_libraries.clear();
    g_exitCode = 0;
}

}  // namespace detail
}  // namespace sim
