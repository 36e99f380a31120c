// Tidewell: refuses while the product's ports are in use, removes the
// product's device nodes and OEM INF files, then sweeps the inf folder.
#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Tidewell - Omrak";

int main(int argc, char **argv, char **envp)
{
    (void)argc;
    (void)argv;
    (void)envp;

    LimitDllSearch();
    Trace("Uninstall Device\n");
    if (!CheckPortBusy(0) || !CheckPortBusy(1)) {
        MessageBoxA(NULL, "Please close all program", "Uninstall Drv", MB_OK);
        return 0;
    }
    if (!IsWow64())
        RemoveTargetDevices();
    else
        HandOff64();
    if (g_RemovedDevices != 2) {
        Trace("Need search..\n");
        SweepInfFolder();
    }
    return 0;
}
