// TidewellDeploy: the uninstaller as deployment systems run it. It deletes
// the run record's Result, starts Tidewell.exe from its own folder and waits
// for it, reads the record Tidewell left, and returns the code that Intune
// and Configuration Manager act on: 1618 (retry) for "refused", 3010 (soft
// reboot) while RebootRequired is 1, 0 for "clean", 1603 (failure) for
// anything else. Tidewell.exe itself always ends with 0.
#include <windows.h>

#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/hwid.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..TidewellDeploy - Omrak";

static const char UninstallerFileName[] = "Tidewell.exe";

// Reads Result into pResult (cbResult bytes; empty where there is none or it
// cannot be read) and RebootRequired into *pReboot.
static void ReadRecord(char *pResult, DWORD cbResult, DWORD *pReboot)
{
    DWORD type = REG_NONE;
    DWORD cb = cbResult - 1;
    HKEY hKey;

    pResult[0] = 0;
    *pReboot = REBOOT_UNREAD;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &hKey) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExA(hKey, "Result", NULL, &type, (BYTE *)pResult, &cb) != ERROR_SUCCESS ||
        type != REG_SZ)
        cb = 0;
    pResult[cb] = 0;
    *pReboot = ReadReboot(hKey);
    RegCloseKey(hKey);
}

// Starts Tidewell.exe from our own folder, never from the working folder,
// its window hidden, and waits for its end. A signed TidewellDeploy.exe
// starts only a Tidewell.exe signed by its own publisher. NULL when it ran
// and ended with 0, else why not.
static const char *RunUninstaller(void)
{
    char self[MAX_PATH];
    char folder[MAX_PATH];
    char fullName[MAX_PATH];
    char line[TRACE_BUFFER_SIZE];
    const char *pReason = "CreateProcess failed";
    HANDLE hProgram = INVALID_HANDLE_VALUE;
    DWORD exitCode = STILL_ACTIVE;
    DWORD code = 0;
    int started = 0;

    ProgramBeside(UninstallerFileName, self, folder, fullName);
    if (!IsSelfSigned() || OpenTrustedProgram(self, fullName, &hProgram, &pReason, &code))
        started = StartProgram(fullName, NULL, TRUE, &exitCode, &code);
    if (hProgram != INVALID_HANDLE_VALUE)
        CloseHandle(hProgram);
    if (!started) {
        Trace("%s not started: %s, Error code: 0x%x\n", UninstallerFileName, pReason, code);
        return "Tidewell.exe not started";
    }
    // STILL_ACTIVE where its exit code cannot be read.
    FormatText(line, sizeof(line), "== %s exit code: %u", UninstallerFileName, exitCode);
    RunLogLine(NULL, line);
    return exitCode == 0 ? NULL : "Tidewell.exe did not end with 0";
}

int main(int argc, char **argv, char **envp)
{
    char result[16];
    char line[TRACE_BUFFER_SIZE];
    const char *pWhy;
    DWORD reboot = REBOOT_UNREAD;
    int code = ERROR_INSTALL_FAILURE;

    (void)argc;
    (void)argv;
    (void)envp;

    LimitDllSearch();
    OpenRunLog("TidewellDeploy");
    // Where the old word cannot go (a run that is not elevated), no word read
    // afterwards could be trusted: nothing is started.
    if (!DeleteResult()) {
        pWhy = "the old Result not deleted";
    } else if ((pWhy = RunUninstaller()) != NULL) {
    } else {
        ReadRecord(result, sizeof(result), &reboot);
        if (reboot == REBOOT_UNREAD)
            FormatText(line, sizeof(line), "== read: Result %s, RebootRequired not read",
                       result[0] != 0 ? result : "(none)");
        else
            FormatText(line, sizeof(line), "== read: Result %s, RebootRequired %u",
                       result[0] != 0 ? result : "(none)", reboot);
        RunLogLine(NULL, line);
        // The first that holds.
        if (SameText(result, "refused")) {
            code = ERROR_INSTALL_ALREADY_RUNNING;
            pWhy = "Result is refused";
        } else if (reboot == 1) {
            code = ERROR_SUCCESS_REBOOT_REQUIRED;
            pWhy = "RebootRequired is 1";
        } else if (SameText(result, "clean") && reboot == 0) {
            code = 0;
            pWhy = "Result is clean";
        } else {
            pWhy = result[0] == 0          ? "no Result"
                   : reboot == REBOOT_UNREAD ? "RebootRequired not read"
                                             : "Result is not clean";
        }
    }
    FormatText(line, sizeof(line), "== return code %d: %s", code, pWhy);
    RunLogLine(NULL, line);
    Trace("Return code: %d\n", code);
    EndRunLog(code);
    return code;
}
