// Device removal: every node of the product, of any setup class and attached
// or not, loses its OEM INF file and is then removed.
#include "tidewell.h"

#include "oeminf.h"

#include "../common/devscan.h"
#include "../common/trace.h"

DWORD g_RemovedDevices = 0;

int DeleteDeviceInf(HDEVINFO hDevInfo, SP_DEVINFO_DATA devInfoData)
{
    HKEY hKey;
    char *pInfName;
    DWORD error = 0;
    BOOL result;

    if (!OpenDeviceInfName(hDevInfo, &devInfoData, &hKey, &pInfName))
        return 0;
    result = DeleteInfFile(pInfName, &error);
    RegCloseKey(hKey);
    LocalFree(pInfName);
    return result;
}

static int RemoveDevice(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                        DWORD cbHwIds, void *pContext)
{
    (void)pHwIds;
    (void)cbHwIds;
    (void)pContext;
    // The INF goes first, while the driver key that names it still exists.
    if (DeleteDeviceInf(hDevInfo, *pDevInfoData))
        g_RemovedDevices++;
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, pDevInfoData))
        Trace("Remove failed!\n");
    return 1;
}

void RemoveTargetDevices(void)
{
    ScanProductNodes(RemoveDevice, NULL);
}
