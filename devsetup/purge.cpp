#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "zorvane.h"

#include "../common/devscan.h"
#include "../common/dllsearch.h"
#include "../common/trace.h"

#define DRIVER_KEY_BUFFER_SIZE 512

typedef CONFIGRET(WINAPI *LPFN_CM_LOCATE_DEVNODE_EXA)(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID,
                                                     ULONG ulFlags, HMACHINE hMachine);
typedef CONFIGRET(WINAPI *LPFN_CM_REENUMERATE_DEVNODE_EX)(DEVINST dnDevInst, ULONG ulFlags,
                                                         HMACHINE hMachine);

// Removes the device when it has no driver key.
static int RemoveIfDriverless(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                              const char *pHwIds, DWORD cbHwIds, void *pContext)
{
    char firstHwid[TRACE_BUFFER_SIZE];
    BYTE *pDriverKey;
    DWORD cbNeeded = 0;
    BOOL driverRead;
    DWORD error;

    (void)pContext;
    pDriverKey = (BYTE *)LocalAlloc(LMEM_ZEROINIT, DRIVER_KEY_BUFFER_SIZE);
    if (pDriverKey == NULL) {
        Trace("Malloc failed\n");
        return 1;
    }
    driverRead = SetupDiGetDeviceRegistryPropertyA(hDevInfo, pDevInfoData, SPDRP_DRIVER, NULL,
                                                   pDriverKey, DRIVER_KEY_BUFFER_SIZE, &cbNeeded);
    error = driverRead ? ERROR_SUCCESS : GetLastError();
    // Only "no such property" means driverless; any other answer leaves the device alone.
    if (!driverRead && error == ERROR_INVALID_DATA) {
        // The first entry, which need not be the one that matched.
        CopyFirstHwid(firstHwid, sizeof(firstHwid), pHwIds, cbHwIds);
        Trace("Found! [%s]\n", firstHwid);
        if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, pDevInfoData))
            Trace("Remove failed!\n");
        else
            Trace("SetupDiCallClassInstaller successful, line: %d\n", 285);
    }
    LocalFree(pDriverKey);
    return 1;
}

void PurgeDriverlessDevices(void)
{
    SCAN_SETUP setup = {};

    setup.Flags = DIGCF_ALLCLASSES;
    setup.Action = RemoveIfDriverless;
    ScanDevices(&setup);
}

void RefreshDeviceTree(void)
{
    HMODULE hCfgMgr;
    LPFN_CM_LOCATE_DEVNODE_EXA fnLocate = NULL;
    LPFN_CM_REENUMERATE_DEVNODE_EX fnReenumerate = NULL;
    DEVINST root = 0;

    // A library or function that cannot be had counts as its call failing.
    hCfgMgr = LoadSystemLibrary("cfgmgr32.dll");
    if (hCfgMgr != NULL) {
        fnLocate = (LPFN_CM_LOCATE_DEVNODE_EXA)(void (*)(void))GetProcAddress(
            hCfgMgr, "CM_Locate_DevNode_ExA");
        fnReenumerate = (LPFN_CM_REENUMERATE_DEVNODE_EX)(void (*)(void))GetProcAddress(
            hCfgMgr, "CM_Reenumerate_DevNode_Ex");
    }
    if (fnLocate == NULL || fnLocate(&root, NULL, CM_LOCATE_DEVNODE_NORMAL, NULL) != CR_SUCCESS) {
        Trace("Get device node failed, return");
    } else {
        Trace("Refresh device node");
        if (fnReenumerate != NULL)
            fnReenumerate(root, CM_REENUMERATE_NORMAL, NULL);
    }
    if (hCfgMgr != NULL)
        FreeLibrary(hCfgMgr);
}
