#include "dllsearch.h"

typedef BOOL(WINAPI *LPFN_SETDEFAULTDLLDIRECTORIES)(DWORD DirectoryFlags);

FARPROC FindFunction(const char *pModule, const char *pName)
{
    HMODULE hModule;

    hModule = GetModuleHandleA(pModule);
    if (hModule == NULL)
        return NULL;
    return GetProcAddress(hModule, pName);
}

void LimitDllSearch(void)
{
    LPFN_SETDEFAULTDLLDIRECTORIES fnSetDefaultDllDirectories;

    // Windows without the loader update lacks it.
    fnSetDefaultDllDirectories = (LPFN_SETDEFAULTDLLDIRECTORIES)(void (*)(void))FindFunction(
        "kernel32", "SetDefaultDllDirectories");
    if (fnSetDefaultDllDirectories == NULL)
        return;
    fnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
