// Tidewell64: the uninstaller's 64-bit sibling. On 64-bit Windows only a
// 64-bit process can remove devices through the class installer, and only
// one can be sure to change the driver store, so the uninstaller starts this
// program and sweeps the inf folder itself once it has ended. For each
// product node: take its driver package out of the driver store, then
// remove the node quietly; a package the node still holds goes once the node
// is gone. Then every published INF of the inf folder that names the
// product, by any of its models sections, leaves the store the same way, so
// that the uninstaller's 32-bit sweep never meets one it could only delete
// by hand. Exit code 0, or 3010 (ERROR_SUCCESS_REBOOT_REQUIRED) when a
// removal asked Windows for a restart.
#include <windows.h>
#include <setupapi.h>

#include "oeminf.h"

#include "../common/devscan.h"
#include "../common/dllsearch.h"
#include "../common/infscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Tidewell64 - Omrak";

// Asks the class installers to show no dialog: nobody watches the run.
static void SetQuietInstall(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    SP_DEVINSTALL_PARAMS_A params = {};

    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params)) {
        Trace("SetupDiGetDeviceInstallParamsA failed, Error code: 0x%x\n", GetLastError());
        return;
    }
    params.Flags |= DI_QUIETINSTALL;
    if (!SetupDiSetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params))
        Trace("SetupDiSetDeviceInstallParamsA failed, Error code: 0x%x\n", GetLastError());
}

// 1 when the removal left the device asking for a reboot or a restart.
static int NeedsReboot(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    SP_DEVINSTALL_PARAMS_A params = {};

    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params)) {
        Trace("SetupDiGetDeviceInstallParamsA failed, Error code: 0x%x\n", GetLastError());
        return 0;
    }
    return (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

// Traces what became of a published INF the node named.
static void TraceOutcome(const char *pInfName, int outcome, DWORD error)
{
    if (INF_GONE(outcome))
        TraceTaken(pInfName, outcome);
    else if (outcome == INF_KEPT || outcome == INF_REFUSED)
        Trace("SetupUninstallOEMInfA failed, Error code: 0x%x\n", error);
}

static int RemoveNodeAndPackage(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                                const char *pHwIds, DWORD cbHwIds, void *pContext)
{
    int *pNeedReboot = (int *)pContext;
    char firstHwid[TRACE_BUFFER_SIZE];
    HKEY hKey;
    char *pInfName = NULL;
    char *pFullPath = NULL;
    int outcome = INF_KEPT;
    DWORD error = 0;

    CopyFirstHwid(firstHwid, sizeof(firstHwid), pHwIds, cbHwIds);
    Trace("Found! [%s]\n", firstHwid);
    // The package goes first, while the node still names it: a run ended
    // between the two then leaves a node that the next run removes, never
    // a package that no node names any more.
    if (OpenDeviceInfName(hDevInfo, pDevInfoData, &hKey, &pInfName)) {
        RegCloseKey(hKey);
        Trace("InfPath: [%s]\n", pInfName);
        pFullPath = InfFolderPath(pInfName, &error);
        if (pFullPath != NULL) {
            outcome = RemoveInfFile(pFullPath, &error);
            TraceOutcome(pInfName, outcome, error);
        }
    }
    SetQuietInstall(hDevInfo, pDevInfoData);
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, pDevInfoData)) {
        Trace("Remove failed! Error code: 0x%x\n", GetLastError());
    } else {
        Trace("SetupDiCallClassInstaller successful\n");
        if (NeedsReboot(hDevInfo, pDevInfoData))
            *pNeedReboot = 1;
    }
    // A package that runs from the store stays, forced or not, while a node
    // uses it: now that the node is gone it may go. One that is gone
    // already has nothing left to try.
    if (pFullPath != NULL && outcome == INF_REFUSED) {
        outcome = RemoveInfFile(pFullPath, &error);
        TraceTaken(pInfName, outcome);
    }
    if (pFullPath != NULL)
        LocalFree(pFullPath);
    if (pInfName != NULL)
        LocalFree(pInfName);
    return 1;
}

int main(int argc, char **argv, char **envp)
{
    int needReboot = 0;

    (void)argc;
    (void)argv;
    (void)envp;

    LimitDllSearch();
    OpenRunLog("Tidewell64");
    Trace("Uninstall Device for 64bit OS\n");
    // Which packages other devices use, before any package is touched.
    FindOtherInfUsers();
    ScanProductNodes(RemoveNodeAndPackage, &needReboot);
    RemovePublishedInfs(FALSE);
    TraceKeptInfs();
    if (needReboot)
        Trace("Reboot needed\n");
    // The uninstaller reads the restart from the exit code.
    EndRunLog(needReboot ? ERROR_SUCCESS_REBOOT_REQUIRED : 0);
    return needReboot ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
}
