// The refusal while a port of the product is in use: one message box, where
// someone can see it.
#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

typedef DWORD(WINAPI *LPFN_WTSGETACTIVECONSOLESESSIONID)(void);

// 1 when the process runs in session 0 while the console shows another.
// Since Vista nobody logs on to session 0 (services, and what deployment
// systems start as SYSTEM, run there): a window there is never seen, even on
// a station that calls itself visible. On XP session 0 is the console
// user's. Where the functions are missing (2000) or fail, nothing follows.
static int InUnseenSession(void)
{
    LPFN_WTSGETACTIVECONSOLESESSIONID fnConsoleSession;
    DWORD session = 0;

    if (!QuerySession(&session))
        return 0;
    fnConsoleSession = (LPFN_WTSGETACTIVECONSOLESESSIONID)(void (*)(void))FindFunction(
        "kernel32", "WTSGetActiveConsoleSessionId");
    if (fnConsoleSession == NULL)
        return 0;
    return session == 0 && fnConsoleSession() != 0;
}

// 1 when nobody can see a window of this process: its window station has no
// visible display surfaces, or its session is unseen. Flags that cannot be
// read show the box.
static int DisplayUnseen(void)
{
    HWINSTA hStation;
    USEROBJECTFLAGS flags;
    DWORD cbNeeded = 0;

    hStation = GetProcessWindowStation();  // not to be closed
    if (hStation == NULL)
        return 0;
    if (!GetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags), &cbNeeded))
        return 0;
    if (!(flags.dwFlags & WSF_VISIBLE))
        return 1;
    return InUnseenSession();
}

void ShowRefusal(void)
{
    // A box nobody can dismiss would keep an unattended run waiting for
    // ever: its text goes to the trace instead.
    if (DisplayUnseen()) {
        Trace("Please close all program\n");
        return;
    }
    // Logged before it is shown: a run ended while its box waits says so.
    RunLogLine(NULL, "(message box) Please close all program");
    MessageBoxA(NULL, "Please close all program", "Uninstall Drv", MB_OK);
}
