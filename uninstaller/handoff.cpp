// Where the device removal runs: here on 32-bit Windows, on 64-bit Windows
// in the sibling of our own folder that the hand-off starts.
#include <stdio.h>

#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

static const char SiblingFileName[] = "Tidewell64.exe";

BOOL IsWow64(void)
{
    BOOL bIsWow64 = FALSE;

    if (!QueryWow64(&bIsWow64))
        return FALSE;
    return bIsWow64;
}

void RemoveTargetDevices(RUN *pRun)
{
    if (RemoveProductNodes(&pRun->Infs, FALSE))
        pRun->RebootRequired = 1;
}

BOOL OpenAP(const char *pModule, const char *pPath, BOOL bWait, DWORD *pExitCode, DWORD *pError)
{
    char note[TRACE_BUFFER_SIZE];

    TraceBare("---OpenAP---");
    Trace("pModule: %s\n", pModule);
    Trace("pPath: %s\n", pPath);
    if (!StartProgram(pModule, pPath, bWait, pExitCode, pError)) {
        printf("CreateProcess failed (%d).\n", (int)*pError);
        // Nobody reads the standard output of an unattended run: the log
        // keeps the error code.
        FormatText(note, sizeof(note), "(stdout) CreateProcess failed (%d).", (int)*pError);
        RunLogLine(NULL, note);
        TraceBare("CreateProcess failed");
        return FALSE;
    }
    return TRUE;
}

void HandOff64(RUN *pRun)
{
    char fullName[MAX_PATH];
    char folder[MAX_PATH];
    char self[MAX_PATH];
    HANDLE hSibling = INVALID_HANDLE_VALUE;

    Trace("Uninstall for 64bit OS, line: %d", 1123);
    ProgramBeside(SiblingFileName, self, folder, fullName);
    Trace("Module path: [%s], line: %d", folder, 1126);
    Trace("Halvex64 full name: [%s], line: %d", fullName, 1128);
    // A signed uninstaller starts only a sibling signed by its publisher, an
    // unsigned one (a development build) any; its exit code says whether
    // Windows asks for a restart.
    if (IsSelfSigned() && !OpenTrustedProgram(self, fullName, &hSibling,
                                              &pRun->pSiblingNotStarted, &pRun->SiblingStartError))
        Trace("Tidewell64.exe not started: %s, Error code: 0x%x\n", pRun->pSiblingNotStarted,
              pRun->SiblingStartError);
    else if (!OpenAP(fullName, NULL, TRUE, &pRun->SiblingExitCode, &pRun->SiblingStartError))
        pRun->pSiblingNotStarted = "CreateProcess failed";
    if (hSibling != INVALID_HANDLE_VALUE)
        CloseHandle(hSibling);
}
