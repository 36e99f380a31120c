// The removal of the product's nodes with their driver packages, by the
// uninstaller on 32-bit Windows and by its sibling on 64-bit Windows.
#include "oeminf.h"

#include "../common/devscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

typedef struct _NODE_REMOVAL {
    INF_WORK *pWork;
    int bSibling;    // Tidewell64's traces
    int NeedReboot;  // a removal asked Windows for a restart
} NODE_REMOVAL;

// Reads the device's install parameters; a failure is traced by the sibling,
// the uninstaller's run log alone hears of it.
static int ReadInstallParams(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                             SP_DEVINSTALL_PARAMS_A *pParams, int bTrace)
{
    char line[TRACE_BUFFER_SIZE];

    pParams->cbSize = sizeof(*pParams);
    if (SetupDiGetDeviceInstallParamsA(hDevInfo, pDevInfoData, pParams))
        return 1;
    if (bTrace) {
        Trace("SetupDiGetDeviceInstallParamsA failed, Error code: 0x%x\n", GetLastError());
    } else {
        FormatText(line, sizeof(line),
                   "(reboot check) SetupDiGetDeviceInstallParamsA failed, Error code: 0x%x",
                   GetLastError());
        RunLogLine(NULL, line);
    }
    return 0;
}

// Asks the class installers to show no dialog: nobody watches the run.
static void SetQuietInstall(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData)
{
    SP_DEVINSTALL_PARAMS_A params = {};

    if (!ReadInstallParams(hDevInfo, pDevInfoData, &params, TRUE))
        return;
    params.Flags |= DI_QUIETINSTALL;
    if (!SetupDiSetDeviceInstallParamsA(hDevInfo, pDevInfoData, &params))
        Trace("SetupDiSetDeviceInstallParamsA failed, Error code: 0x%x\n", GetLastError());
}

static int RemoveNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                      DWORD cbHwIds, void *pContext)
{
    NODE_REMOVAL *pRemoval = (NODE_REMOVAL *)pContext;
    const int bSibling = pRemoval->bSibling;
    SP_DEVINSTALL_PARAMS_A params = {};
    char firstHwid[TRACE_BUFFER_SIZE];
    char *pInfName = NULL;
    char *pFullPath = NULL;
    int outcome = INF_KEPT;
    DWORD error = 0;

    if (bSibling) {
        CopyFirstHwid(firstHwid, sizeof(firstHwid), pHwIds, cbHwIds);
        Trace("Found! [%s]\n", firstHwid);
    }
    // The package first, while the node names it: a run ended between the
    // two leaves a node for the next, never a package no node names.
    if (OpenDeviceInfName(hDevInfo, pDevInfoData, &pInfName)) {
        if (bSibling)
            Trace("InfPath: [%s]\n", pInfName);
        pFullPath = InfFolderPath(pInfName, &error);
    }
    if (pFullPath != NULL) {
        if (!bSibling) {
            Trace("Delete file in Skarnel\n");
            Trace("File full path: %s\n", pFullPath);
        }
        outcome = RemoveInfFile(pRemoval->pWork, pFullPath, &error);
        if (bSibling && INF_GONE(outcome))
            TraceTaken(pInfName, outcome);
        else if (bSibling && outcome != INF_SHARED)
            Trace("SetupUninstallOEMInfA failed, Error code: 0x%x\n", error);
    }
    if (bSibling)
        SetQuietInstall(hDevInfo, pDevInfoData);
    if (!SetupDiCallClassInstaller(DIF_REMOVE, hDevInfo, pDevInfoData)) {
        if (bSibling)
            Trace("Remove failed! Error code: 0x%x\n", GetLastError());
        else
            Trace("Remove failed!\n");
    } else {
        if (bSibling)
            Trace("SetupDiCallClassInstaller successful\n");
        // Windows keeps a removed node's install parameters: a restart asked for.
        if (ReadInstallParams(hDevInfo, pDevInfoData, &params, bSibling) &&
            (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)))
            pRemoval->NeedReboot = 1;
    }
    // A package that runs from the store stays, forced or not, while a node
    // uses it: now that the node is gone it may go.
    if (pFullPath != NULL && outcome == INF_REFUSED) {
        outcome = RemoveInfFile(pRemoval->pWork, pFullPath, &error);
        if (bSibling)
            TraceTaken(pInfName, outcome);
    }
    LocalFree(pFullPath);
    LocalFree(pInfName);
    return 1;
}

int RemoveProductNodes(INF_WORK *pWork, int bSibling)
{
    NODE_REMOVAL removal = {pWork, bSibling, 0};

    ScanProductNodes(RemoveNode, &removal);
    return removal.NeedReboot;
}
