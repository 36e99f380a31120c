// Telling 64-bit Windows apart, and handing the device removal there to the
// 64-bit sibling program in our own folder.
#include <stdio.h>

#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

static const char SiblingFileName[] = "Tidewell64.exe";

DWORD g_SiblingExitCode = STILL_ACTIVE;
DWORD g_SiblingStartError = 0;
const char *g_pSiblingNotStarted = NULL;

BOOL IsWow64(void)
{
    BOOL bIsWow64 = FALSE;

    if (!QueryWow64(&bIsWow64))
        return FALSE;
    return bIsWow64;
}

BOOL Transf2Path(char *pPath)
{
    int i;
    int end;

    if (pPath == NULL) {
        Trace("Transf2Path is null, line: %d", 121);
        return FALSE;
    }
    // The name may fill the whole buffer without a terminator (older Windows
    // leaves a cut module name so): never look past its 260 bytes.
    for (end = 0; end < MAX_PATH - 1 && pPath[end] != 0; end++)
        ;
    for (i = end; i > 0 && pPath[i] != '\\'; i--)
        ;
    if (pPath[i] != '\\') {
        // No folder in it (only when the module name could not be read):
        // nothing is left that could name a folder.
        for (i = 0; i < MAX_PATH; i++)
            pPath[i] = 0;
        return FALSE;
    }
    for (; i < MAX_PATH; i++)
        pPath[i] = 0;
    return TRUE;
}

BOOL OpenAP(const char *pModule, const char *pPath, BOOL bWait)
{
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    char note[TRACE_BUFFER_SIZE];
    DWORD error;
    BYTE *p;
    DWORD i;

    TraceBare("---OpenAP---");
    for (p = (BYTE *)&si, i = 0; i < sizeof(si); i++)
        p[i] = 0;
    for (p = (BYTE *)&pi, i = 0; i < sizeof(pi); i++)
        p[i] = 0;
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    Trace("pModule: %s\n", pModule);
    Trace("pPath: %s\n", pPath);
    if (!CreateProcessA(pModule, NULL, NULL, NULL, TRUE, CREATE_NEW_CONSOLE, NULL, pPath, &si,
                        &pi)) {
        error = GetLastError();
        printf("CreateProcess failed (%d).\n", (int)error);
        // Nobody reads the standard output of an unattended run: the log
        // keeps the error code.
        FormatText(note, sizeof(note), "(stdout) CreateProcess failed (%d).", (int)error);
        RunLogLine(NULL, note);
        TraceBare("CreateProcess failed");
        g_pSiblingNotStarted = "CreateProcess failed";
        g_SiblingStartError = error;
        return FALSE;
    }
    // The sibling says with its exit code whether Windows asks for a
    // restart; it stays STILL_ACTIVE where it cannot be read.
    if (bWait && WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        !GetExitCodeProcess(pi.hProcess, &g_SiblingExitCode))
        g_SiblingExitCode = STILL_ACTIVE;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return TRUE;
}

void HandOff64(void)
{
    char fullName[MAX_PATH];
    char folder[MAX_PATH];
    char self[MAX_PATH];
    HANDLE hSibling = INVALID_HANDLE_VALUE;
    DWORD cchModule;
    int i;

    for (i = 0; i < MAX_PATH; i++)
        fullName[i] = folder[i] = 0;
    Trace("Uninstall for 64bit OS, line: %d", 1123);
    cchModule = GetModuleFileNameA(NULL, folder, MAX_PATH);
    // A name cut to the buffer would be cut at a backslash of some other
    // folder higher up: it is taken as unreadable.
    if (cchModule >= MAX_PATH)
        for (i = 0; i < MAX_PATH; i++)
            folder[i] = 0;
    for (i = 0; i < MAX_PATH; i++)
        self[i] = folder[i];
    Transf2Path(folder);
    Trace("Module path: [%s], line: %d", folder, 1126);
    // Without a folder (the module name could not be read) or when the name
    // does not fit, the full name stays empty and starting it fails: the
    // sibling is only ever started from our own folder.
    if (folder[0] != 0 && !FormatText(fullName, MAX_PATH, "%s\\%s", folder, SiblingFileName))
        fullName[0] = 0;
    Trace("Halvex64 full name: [%s], line: %d", fullName, 1128);
    // A signed uninstaller starts only a sibling signed by its publisher; an
    // unsigned one (a development build) starts it unchecked.
    if (!IsSelfSigned() || OpenTrustedSibling(self, fullName, &hSibling))
        OpenAP(fullName, NULL, TRUE);
    if (hSibling != INVALID_HANDLE_VALUE)
        CloseHandle(hSibling);
    g_RemovedDevices = 0;
}
