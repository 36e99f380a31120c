// Telling 64-bit Windows apart, and handing the device removal there to the
// 64-bit sibling program in our own folder.
#include <stdio.h>

#include "tidewell.h"
#include "trust.h"

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

BOOL OpenAP(const char *pModule, const char *pPath, BOOL bWait)
{
    char note[TRACE_BUFFER_SIZE];
    DWORD error = 0;

    TraceBare("---OpenAP---");
    Trace("pModule: %s\n", pModule);
    Trace("pPath: %s\n", pPath);
    // The sibling says with its exit code whether Windows asks for a
    // restart; it stays STILL_ACTIVE where it cannot be read.
    if (!StartProgram(pModule, pPath, bWait, &g_SiblingExitCode, &error)) {
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
    return TRUE;
}

void HandOff64(void)
{
    char fullName[MAX_PATH];
    char folder[MAX_PATH];
    char self[MAX_PATH];
    HANDLE hSibling = INVALID_HANDLE_VALUE;

    Trace("Uninstall for 64bit OS, line: %d", 1123);
    ProgramBeside(SiblingFileName, self, folder, fullName);
    Trace("Module path: [%s], line: %d", folder, 1126);
    Trace("Halvex64 full name: [%s], line: %d", fullName, 1128);
    // A signed uninstaller starts only a sibling signed by its publisher; an
    // unsigned one (a development build) starts it unchecked.
    if (!IsSelfSigned())
        OpenAP(fullName, NULL, TRUE);
    else if (OpenTrustedProgram(self, fullName, &hSibling, &g_pSiblingNotStarted,
                                &g_SiblingStartError))
        OpenAP(fullName, NULL, TRUE);
    else
        Trace("Tidewell64.exe not started: %s, Error code: 0x%x\n", g_pSiblingNotStarted,
              g_SiblingStartError);
    if (hSibling != INVALID_HANDLE_VALUE)
        CloseHandle(hSibling);
    g_RemovedDevices = 0;
}
