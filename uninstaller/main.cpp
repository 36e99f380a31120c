// Tidewell: refuses while the product's ports are in use, removes the
// product's device nodes and OEM INF files, then sweeps the inf folder, and
// records what of the product is left.
#include "tidewell.h"


#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Tidewell - Omrak";

int main(int argc, char **argv, char **envp)
{
    RUN run = {};
    BOOL bIsWow64;

    (void)argc;
    (void)argv;
    (void)envp;

    run.SiblingExitCode = STILL_ACTIVE;
    LimitDllSearch();
    OpenRunLog("Tidewell");
    Trace("Uninstall Device\n");
    DeleteResult();  // the last run's word is no answer for this one
    if (!CheckPortBusy(0) || !CheckPortBusy(1)) {
        ShowRefusal();
        RecordRun(&run, TRUE);
        FreeRun(&run);
        EndRunLog(0);
        return 0;
    }
    // Which packages other devices use, before any package is touched.
    FindOtherInfUsers(&run.Infs);
    bIsWow64 = IsWow64();
    if (!bIsWow64)
        RemoveTargetDevices(&run);
    else
        HandOff64(&run);
    // The sweep runs whatever the removal took: a run cut short and started
    // again takes only what is left of its work, and INF files that no node
    // names any more are found by the sweep alone.
    Trace("Need search..\n");
    SweepInfFolder(&run);
    // On 32-bit Windows the product's published INFs that the sweep does not
    // read (decorated models sections) leave the store here; on 64-bit
    // Windows the sibling took them.
    if (!bIsWow64)
        TakePublishedInfs(&run);
    TraceKeptInfs(&run.Infs);
    RecordRun(&run, FALSE);
    FreeRun(&run);
    EndRunLog(0);
    return 0;
}
