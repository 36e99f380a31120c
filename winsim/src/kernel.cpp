// kernel32 and user32 of the simulated layer: debug output, last error,
// modules, processes, memory and the message box.
#include "internal.h"

#include <setupapi.h>

#include <stdlib.h>
#include <string.h>

using namespace sim;
using namespace sim::detail;

namespace {

thread_local DWORD g_lastError = 0;
int g_kernel32Tag;
int g_setupapiTag;
int g_stationTag;  // the process's window station: a handle nobody closes
const DWORD kProcessId = 0x200;

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
    *Wow64Process = M().wow64 == Wow64True ? TRUE : FALSE;
    return TRUE;
}

struct ProcessData {
    std::string application;
    bool ran = false;
    int handlesOpen = 2;
};

void RunChild(ProcessData *p) {
    if (p->ran) return;
    p->ran = true;
    auto it = M().programs.find(p->application);
    if (it != M().programs.end() && it->second) it->second();
    Log(Event::ProcessEnded, p->application);
}

}  // namespace

extern "C" {

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    Note("OutputDebugStringA");
    std::string text = lpOutputString ? lpOutputString : "";
    M().debug.push_back(text);
    Log(Event::Debug, text);
    // Windows does not keep the caller's last error: without a debugger its
    // search for a debug-output viewer leaves ERROR_FILE_NOT_FOUND.
    SetLastError(ERROR_FILE_NOT_FOUND);
}

DWORD WINAPI GetLastError(void) { return g_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    DWORD error;
    if (Fault("GetModuleHandleA", ERROR_MOD_NOT_FOUND, &error)) {
        SetLastError(error);
        return nullptr;
    }
    if (!lpModuleName) return (HMODULE)&M();  // the program itself
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
    std::string name = lpProcName ? lpProcName : "";
    if (hModule == (HMODULE)&g_kernel32Tag) {
        if (name == "IsWow64Process" && M().wow64 != Wow64Absent)
            return (FARPROC)(void (*)(void))SimIsWow64Process;
        if (name == "ProcessIdToSessionId" && !M().noSessionFunctions)
            return (FARPROC)(void (*)(void))ProcessIdToSessionId;
        if (name == "WTSGetActiveConsoleSessionId" && !M().noSessionFunctions)
            return (FARPROC)(void (*)(void))WTSGetActiveConsoleSessionId;
    }
    if (hModule == (HMODULE)&g_setupapiTag && name == "SetupUninstallOEMInfA" &&
        !M().noUninstallOemInf)
        return (FARPROC)(void (*)(void))SetupUninstallOEMInfA;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

HANDLE WINAPI GetCurrentProcess(void) { return (HANDLE)(LONG_PTR)-1; }

DWORD WINAPI GetCurrentProcessId(void) {
    Note("GetCurrentProcessId");
    return kProcessId;
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
    if (dwProcessId != kProcessId) {
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
    ProcessData *p = new ProcessData;
    p->application = app;
    Log(Event::ProcessStarted, app);
    lpProcessInformation->hProcess = NewHandle(KProcess, "process handle of " + app, p);
    lpProcessInformation->hThread = NewHandle(KThread, "thread handle of " + app, p);
    lpProcessInformation->dwProcessId = 0x100;
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

BOOL WINAPI CloseHandle(HANDLE hObject) {
    Note("CloseHandle");
    for (Kind k : {KProcess, KThread, KPort, KFind}) {
        Object *o = Lookup(hObject, k);
        if (!o) continue;
        if (k == KProcess || k == KThread) {
            ProcessData *p = (ProcessData *)o->data;
            if (k == KProcess) RunChild(p);  // never waited for: it ends on its own
            if (--p->handlesOpen == 0) delete p;
        } else if (k == KPort) {
            Port *port = (Port *)o->data;
            --port->openByUs;
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
    DWORD error;
    if (M().windowsDirFails || Fault("GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(M().windowsDirFails ? ERROR_NOT_ENOUGH_MEMORY : error);
        return 0;
    }
    const std::string &dir = M().windowsDir;
    if (!lpBuffer || dir.size() + 1 > uSize) return (UINT)dir.size() + 1;  // size needed
    memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return (UINT)dir.size();
}

}  // extern "C"
