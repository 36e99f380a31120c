// The refusal while a port of the product is in use: one message box, where
// someone can see it.
#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

typedef DWORD(WINAPI *LPFN_WTSGETACTIVECONSOLESESSIONID)(void);

// 1 when the process runs in session 0 while the console shows another
// session. Since Windows Vista nobody logs on to session 0: services and
// the programs that deployment systems start as SYSTEM run there, and a
// window on its desktop is never seen, even on a window station that calls
// itself visible. On Windows XP session 0 is the console user's own. The
// two functions are looked up at run time: Windows 2000 lacks them, and
// where they are missing or fail, nothing is concluded.
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
// visible display surfaces (a service's, or one made for an unattended run),
// or it runs in a session nobody sees. When the flags cannot be read the
// box is shown.
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
