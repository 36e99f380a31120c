#include <windows.h>

#include "dllsearch.h"

typedef BOOL(WINAPI *LPFN_SETDEFAULTDLLDIRECTORIES)(DWORD DirectoryFlags);

void LimitDllSearch(void)
{
    HMODULE hKernel32;
    LPFN_SETDEFAULTDLLDIRECTORIES fnSetDefaultDllDirectories;

    // Looked up at run time: Windows without the loader update lacks it.
    hKernel32 = GetModuleHandleA("kernel32");
    if (hKernel32 == NULL)
        return;
    fnSetDefaultDllDirectories = (LPFN_SETDEFAULTDLLDIRECTORIES)(void (*)(void))GetProcAddress(
        hKernel32, "SetDefaultDllDirectories");
    if (fnSetDefaultDllDirectories == NULL)
        return;
    fnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
