// Tidewell64: the uninstaller's 64-bit sibling. On 64-bit Windows only a
// 64-bit process can remove devices through the class installer, so the
// uninstaller starts this program for the removal and sweeps the inf folder
// itself once it has ended. For each product node: read its OEM INF name,
// take the driver package out of the driver store (or, failing that, at
// least delete its INF file), then remove the node quietly.
#include <windows.h>
#include <setupapi.h>

#include "oeminf.h"

#include "../common/devscan.h"
#include "../common/dllsearch.h"
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

// Takes the package out of the driver store with its .inf and .pnf; where
// the platform refuses, the INF file at least goes, as in the uninstaller.
static void UninstallPackage(const char *pInfName)
{
    if (SetupUninstallOEMInfA(pInfName, SUOI_FORCEDELETE, NULL)) {
        Trace("SetupUninstallOEMInfA successful: [%s]\n", pInfName);
        return;
    }
    DWORD error = 0;

    Trace("SetupUninstallOEMInfA failed, Error code: 0x%x\n", GetLastError());
    if (!DeleteInfFile(pInfName, FALSE, &error))
        Trace("Delete INF failed, Error code: 0x%x\n", error);
}

static int RemoveNodeAndPackage(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                                const char *pHwIds, DWORD cbHwIds, void *pContext)
{
    int *pNeedReboot = (int *)pContext;
    char firstHwid[TRACE_BUFFER_SIZE];
    HKEY hKey;
    char *pInfName = NULL;

    CopyFirstHwid(firstHwid, sizeof(firstHwid), pHwIds, cbHwIds);
    Trace("Found! [%s]\n", firstHwid);
    // The package goes first, while the node still names it: a run ended
    // between the two then leaves a node that the next run removes, never
    // a package that no node names any more. It goes also when the node
    // stays: the product is being uninstalled, and the node then falls back
    // to no driver.
    if (OpenDeviceInfName(hDevInfo, pDevInfoData, &hKey, &pInfName)) {
        RegCloseKey(hKey);
        Trace("InfPath: [%s]\n", pInfName);
        UninstallPackage(pInfName);
        LocalFree(pInfName);
    }
    SetQuietInstall(hDevInfo, pDevInfoData);
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, pDevInfoData)) {
        Trace("Remove failed! Error code: 0x%x\n", GetLastError());
    } else {
        Trace("SetupDiCallClassInstaller successful\n");
        if (NeedsReboot(hDevInfo, pDevInfoData))
            *pNeedReboot = 1;
    }
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
    ScanProductNodes(RemoveNodeAndPackage, &needReboot);
    if (needReboot)
        Trace("Reboot needed\n");
    EndRunLog(0);
    return 0;
}
