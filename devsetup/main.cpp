// Zorvane64: removes the product's device nodes that were left without a
// driver, then has the configuration manager re-enumerate the device tree.
#include "zorvane.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Zorvane64 - Omrak";

int main(int argc, char **argv, char **envp)
{
    (void)argc;
    (void)argv;
    (void)envp;

    LimitDllSearch();
    OpenRunLog("Zorvane64");
    Trace("Setup Device for 64bit OS\n");
    PurgeDriverlessDevices();
    RefreshDeviceTree();
    EndRunLog(1);
    return 1;
}
