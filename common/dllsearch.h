// Where the programs take DLLs from once they run: the system folder only.
#ifndef COMMON_DLLSEARCH_H
#define COMMON_DLLSEARCH_H

// Restricts every DLL this process loads from now on (SetupAPI's class
// installers and their helpers included) to the system folder, so that no
// DLL is taken from the program's own folder or the current one. Windows 8
// and later have the call, Windows Vista and 7 with their loader update;
// elsewhere, or when it fails, nothing changes and nothing is traced.
// Called first thing in main.
void LimitDllSearch(void);

#endif
