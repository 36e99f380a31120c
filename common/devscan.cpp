#include <initguid.h>
#include <devguid.h>

#include "devscan.h"

#include "hwid.h"

// Length of the entry at pEntry, bounded by the end of the data.
static DWORD EntryLength(const char *pEntry, const char *pEnd)
{
    DWORD n = 0;

    while (pEntry + n < pEnd && pEntry[n] != 0)
        n++;
    return n;
}

// 1 when an entry names a target hardware ID; the walk stops at the first
// empty entry or the end of the data.
static int HasTargetHwid(const char *pHwIds, DWORD cbHwIds)
{
    const char *pEnd = pHwIds + cbHwIds;
    const char *pEntry = pHwIds;

    while (pEntry < pEnd && *pEntry != 0) {
        DWORD cch = EntryLength(pEntry, pEnd);

        if (MatchTargetHwid(pEntry, cch))
            return 1;
        pEntry += cch + 1;
    }
    return 0;
}

int ScanDevices(const SCAN_SETUP *pSetup)
{
    HDEVINFO hDevInfo;
    SP_DEVINFO_DATA devInfoData;
    DWORD index;
    DWORD error = 0;
    int result = SCAN_WHOLE;

    hDevInfo = SetupDiGetClassDevsA(pSetup->pClassGuid, NULL, NULL, pSetup->Flags);
    if (hDevInfo == INVALID_HANDLE_VALUE)
        return SCAN_NO_SET;

    devInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
    for (index = 0;; index++) {
        char *pHwIds = NULL;
        DWORD cbData = 0;
        DWORD cbBuffer = 0;
        int readFailed = 0;
        int stop = 0;

        // A failure ends the devices, whatever its error.
        if (!SetupDiEnumDeviceInfo(hDevInfo, index, &devInfoData)) {
            error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS)
                result = SCAN_CUT;
            break;
        }

        while (!SetupDiGetDeviceRegistryPropertyA(hDevInfo, &devInfoData, SPDRP_HARDWAREID, NULL,
                                                  (PBYTE)pHwIds, cbData, &cbData)) {
            DWORD error = GetLastError();

            if (error == ERROR_INVALID_DATA)
                break;  // no hardware IDs: pass the device over
            // A size that does not grow would be asked for for ever: failed.
            if (error == ERROR_INSUFFICIENT_BUFFER && cbData > cbBuffer) {
                LocalFree(pHwIds);
                pHwIds = (char *)LocalAlloc(LMEM_ZEROINIT, cbData);
                cbBuffer = pHwIds != NULL ? cbData : 0;
                if (pHwIds != NULL)
                    continue;
                // Without a buffer the read cannot be repeated: it failed.
            }
            readFailed = 1;
            break;
        }
        if (readFailed) {
            LocalFree(pHwIds);
            if (pSetup->UnreadAction != NULL &&
                pSetup->UnreadAction(hDevInfo, &devInfoData, NULL, 0, pSetup->pContext))
                continue;
            result = SCAN_STOPPED;
            break;
        }
        if (pHwIds != NULL && HasTargetHwid(pHwIds, cbData)) {
            if (pSetup->Action != NULL &&
                !pSetup->Action(hDevInfo, &devInfoData, pHwIds, cbData, pSetup->pContext))
                stop = 1;
        } else if (pSetup->OtherAction != NULL) {
            if (!pSetup->OtherAction(hDevInfo, &devInfoData, pHwIds, pHwIds != NULL ? cbData : 0,
                                     pSetup->pContext))
                stop = 1;
        }
        LocalFree(pHwIds);
        if (stop) {
            result = SCAN_STOPPED;
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(hDevInfo);
    // Why the enumeration failed, for the caller.
    if (result == SCAN_CUT)
        SetLastError(error);
    return result;
}

void CopyFirstHwid(char *pDst, DWORD cbDst, const char *pHwIds, DWORD cbHwIds)
{
    DWORD n = 0;

    if (cbDst == 0)
        return;
    while (n + 1 < cbDst && n < cbHwIds && pHwIds[n] != 0) {
        pDst[n] = pHwIds[n];
        n++;
    }
    pDst[n] = 0;
}

void ScanProductNodes(SCAN_ACTION Action, void *pContext)
{
    SCAN_SETUP setup = {};

    setup.pClassGuid = &GUID_DEVCLASS_USB;  // all classes: the GUID does not narrow the set
    setup.Flags = DIGCF_ALLCLASSES;
    setup.Action = Action;
    setup.pContext = pContext;
    ScanDevices(&setup);
}
