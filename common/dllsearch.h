// Modules: the functions that older Windows versions lack, looked up at run
// time, and where the programs take DLLs from once they run.
#ifndef COMMON_DLLSEARCH_H
#define COMMON_DLLSEARCH_H

#include <windows.h>

// The function pName of the module pModule, which the process has loaded
// already ("kernel32", "setupapi"): GetModuleHandleA, then GetProcAddress.
// NULL when either fails, as on a Windows version without the function.
FARPROC FindFunction(const char *pModule, const char *pName);

// Whether this process runs under WOW64 (a 32-bit process on 64-bit
// Windows, x64 or Arm): 1 with the answer in *pIsWow64, 0 where Windows
// cannot say. IsWow64Process2 answers, where it is missing or fails
// IsWow64Process (both looked up at run time).
int QueryWow64(BOOL *pIsWow64);

// The session this process runs in: 1 with it in *pSession, 0 where
// Windows cannot say (ProcessIdToSessionId, looked up at run time, missing
// or failing).
int QuerySession(DWORD *pSession);

// Restricts every DLL this process loads from now on (SetupAPI's class
// installers and their helpers included) to the system folder, so that no
// DLL is taken from the program's own folder or the current one. Windows 8
// and later have the call, Windows Vista and 7 with their loader update;
// elsewhere, or when it fails, nothing changes and nothing is traced.
// Called first thing in main.
void LimitDllSearch(void);

// A DLL of the system folder that is no KnownDLL (pName: "cfgmgr32.dll"),
// loaded from there alone, never from the program's own folder, where a DLL
// planted under its name would run with the program's rights. Windows
// Vista and 7 without the loader update refuse the search flag; there the
// full path in the system folder is loaded, and that folder is searched
// first for what the DLL needs. NULL, with the last error, when it cannot
// be loaded.
HMODULE LoadSystemLibrary(const char *pName);

#endif
