#include "dllsearch.h"

#include "format.h"

typedef BOOL(WINAPI *LPFN_SETDEFAULTDLLDIRECTORIES)(DWORD DirectoryFlags);
typedef BOOL(WINAPI *LPFN_ISWOW64PROCESS)(HANDLE hProcess, PBOOL pbWow64Process);
typedef BOOL(WINAPI *LPFN_ISWOW64PROCESS2)(HANDLE hProcess, USHORT *pProcessMachine,
                                           USHORT *pNativeMachine);
typedef BOOL(WINAPI *LPFN_PROCESSIDTOSESSIONID)(DWORD dwProcessId, DWORD *pSessionId);

FARPROC FindFunction(const char *pModule, const char *pName)
{
    HMODULE hModule;

    hModule = GetModuleHandleA(pModule);
    if (hModule == NULL)
        return NULL;
    return GetProcAddress(hModule, pName);
}

int QueryWow64(BOOL *pIsWow64)
{
    LPFN_ISWOW64PROCESS2 fnIsWow64Process2;
    LPFN_ISWOW64PROCESS fnIsWow64Process;
    USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;

    // Windows 10 1709 and later: the one answer that holds on Windows on
    // Arm too, where IsWow64Process says FALSE to an x86 process under
    // WOW64. A process that runs natively has no process machine.
    fnIsWow64Process2 = (LPFN_ISWOW64PROCESS2)(void (*)(void))FindFunction("kernel32",
                                                                          "IsWow64Process2");
    if (fnIsWow64Process2 != NULL &&
        fnIsWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
        *pIsWow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
        return 1;
    }
    // Older Windows versions do not have it.
    fnIsWow64Process = (LPFN_ISWOW64PROCESS)(void (*)(void))FindFunction("kernel32",
                                                                        "IsWow64Process");
    return fnIsWow64Process != NULL && fnIsWow64Process(GetCurrentProcess(), pIsWow64);
}

int QuerySession(DWORD *pSession)
{
    LPFN_PROCESSIDTOSESSIONID fnProcessIdToSessionId;

    // Windows 2000 does not have it.
    fnProcessIdToSessionId = (LPFN_PROCESSIDTOSESSIONID)(void (*)(void))FindFunction(
        "kernel32", "ProcessIdToSessionId");
    return fnProcessIdToSessionId != NULL &&
           fnProcessIdToSessionId(GetCurrentProcessId(), pSession);
}

void LimitDllSearch(void)
{
    LPFN_SETDEFAULTDLLDIRECTORIES fnSetDefaultDllDirectories;

    // Windows without the loader update lacks it.
    fnSetDefaultDllDirectories = (LPFN_SETDEFAULTDLLDIRECTORIES)(void (*)(void))FindFunction(
        "kernel32", "SetDefaultDllDirectories");
    if (fnSetDefaultDllDirectories != NULL)
        fnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const char *pName)
{
    char path[MAX_PATH];
    UINT cchDir;
    HMODULE hModule;

    hModule = LoadLibraryExA(pName, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (hModule != NULL || GetLastError() != ERROR_INVALID_PARAMETER)
        return hModule;
    cchDir = GetSystemDirectoryA(path, MAX_PATH);
    if (cchDir == 0 || cchDir >= MAX_PATH)
        return NULL;
    if (!FormatText(path + cchDir, MAX_PATH - cchDir, "\\%s", pName))
        return NULL;
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}
