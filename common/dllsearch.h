// Modules: functions older Windows versions lack, looked up at run time, and
// where the programs take DLLs from.
#ifndef COMMON_DLLSEARCH_H
#define COMMON_DLLSEARCH_H

#include <windows.h>

// The function pName of the loaded module pModule ("kernel32"), or NULL, as
// on a Windows version without it.
FARPROC FindFunction(const char *pModule, const char *pName);

// Whether this process runs under WOW64 (on 64-bit Windows, x64 or Arm): 1
// with the answer in *pIsWow64, 0 where Windows cannot say. IsWow64Process2
// answers, else IsWow64Process (both looked up at run time).
int QueryWow64(BOOL *pIsWow64);

// This process's session: 1 with it in *pSession, 0 where Windows cannot say.
int QuerySession(DWORD *pSession);

// Restricts every DLL this process loads from now on (SetupAPI's class
// installers included) to the system folder, never the program's own or the
// current one; where Windows lacks the call (Vista and 7 without the loader
// update), nothing changes. Called first thing in main.
void LimitDllSearch(void);

// A DLL of the system folder that is no KnownDLL ("cfgmgr32.dll"), loaded
// from there alone, never from the program's folder, where a planted one
// would run with our rights (by its full path where Windows refuses the
// search flag). NULL, with the last error, when it cannot be loaded.
HMODULE LoadSystemLibrary(const char *pName);

#endif
