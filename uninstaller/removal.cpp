// Device removal: every node of the product, of any setup class and attached
// or not, loses its OEM INF file and is then removed.
#include "tidewell.h"

#include "oeminf.h"

#include "../common/devscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

DWORD g_RemovedDevices = 0;
DWORD g_RebootRequired = 0;

// Takes out the OEM INF file the device was installed from, tracing its
// path. *ppFullPath keeps that path (a heap block for the caller) for a
// second try once the node is gone. The outcome is RemoveInfFile's.
static int TakeDeviceInf(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, char **ppFullPath,
                         DWORD *pError)
{
    HKEY hKey;
    char *pInfName;
    char *pFullPath;
    int outcome;

    *ppFullPath = NULL;
    if (!OpenDeviceInfName(hDevInfo, pDevInfoData, &hKey, &pInfName))
        return INF_KEPT;
    pFullPath = InfFolderPath(pInfName, pError);
    RegCloseKey(hKey);
    LocalFree(pInfName);
    if (pFullPath == NULL)
        return INF_KEPT;
    Trace("Delete file in Skarnel\n");
    Trace("File full path: %s\n", pFullPath);
    outcome = RemoveInfFile(pFullPath, pError);
    *ppFullPath = pFullPath;
    return outcome;
}

int DeleteDeviceInf(HDEVINFO hDevInfo, SP_DEVINFO_DATA devInfoData)
{
    char *pFullPath;
    DWORD error = 0;
    int outcome;

    outcome = TakeDeviceInf(hDevInfo, &devInfoData, &pFullPath, &error);
    if (pFullPath != NULL)
        LocalFree(pFullPath);
    return INF_GONE(outcome);
}

// Whether the removal asked Windows for a restart, for the run record. Only
// the run log hears of a failure: the debug output stays the removal's.
static void CheckReboot(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    SP_DEVINSTALL_PARAMS_A params;
    char line[TRACE_BUFFER_SIZE];
    BYTE *p;
    DWORD i;

    for (p = (BYTE *)&params, i = 0; i < sizeof(params); i++)
        p[i] = 0;
    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params)) {
        FormatText(line, sizeof(line),
                   "(reboot check) SetupDiGetDeviceInstallParamsA failed, Error code: 0x%x",
                   GetLastError());
        RunLogLine(NULL, line);
        return;
    }
    if (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART))
        g_RebootRequired = 1;
}

static int RemoveDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                        DWORD cbHwIds, void *pContext)
{
    char *pFullPath;
    DWORD error = 0;
    int outcome;

    (void)pHwIds;
    (void)cbHwIds;
    (void)pContext;
    // The INF goes first, while the driver key that names it still exists.
    outcome = TakeDeviceInf(hDevInfo, pDevInfoData, &pFullPath, &error);
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, pDevInfoData))
        Trace("Remove failed!\n");
    else
        CheckReboot(hDevInfo, pDevInfoData);
    // A package refused while the node used it (one that runs from the
    // driver store stays, forced or not) may go now that the node is gone.
    // One that is gone already has nothing left to try.
    if (pFullPath != NULL && outcome == INF_REFUSED)
        outcome = RemoveInfFile(pFullPath, &error);
    if (INF_GONE(outcome))
        g_RemovedDevices++;
    if (pFullPath != NULL)
        LocalFree(pFullPath);
    return 1;
}

void RemoveTargetDevices(void)
{
    ScanProductNodes(RemoveDevice, NULL);
}
