// Tidewell: refuses while the product's ports are in use, removes the
// product's device nodes and OEM INF files, then sweeps the inf folder.
#include "tidewell.h"

#include "oeminf.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Tidewell - Omrak";

int main(int argc, char **argv, char **envp)
{
    (void)argc;
    (void)argv;
    (void)envp;

    LimitDllSearch();
    OpenRunLog("Tidewell");
    Trace("Uninstall Device\n");
    if (!CheckPortBusy(0) || !CheckPortBusy(1)) {
        ShowRefusal();
        EndRunLog(0);
        return 0;
    }
    // Which packages other devices use, before any package is touched.
    FindOtherInfUsers();
    if (!IsWow64())
        RemoveTargetDevices();
    else
        HandOff64();
    // The sweep runs whatever the removal counted. Two deletions do not show
    // that nothing of the product is left: a run cut short and started again
    // counts only what is left of its work, and the product's INF files that
    // no node names any more are found by the sweep alone.
    Trace("Need search..\n");
    SweepInfFolder();
    TraceKeptInfs();
    EndRunLog(0);
    return 0;
}
