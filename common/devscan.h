// The device scan: one loop over a SetupAPI device information set that hands
// every device naming a target hardware ID to its user's action.
#ifndef COMMON_DEVSCAN_H
#define COMMON_DEVSCAN_H

#include <windows.h>
#include <setupapi.h>

// Runs once per matching device, with its hardware-ID multi-string (cbHwIds
// bytes, terminators not guaranteed): 1 goes on, 0 ends the scan.
typedef int (*SCAN_ACTION)(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                           const char *pHwIds, DWORD cbHwIds, void *pContext);

// Members not set are zero (SCAN_SETUP setup = {}): no action.
typedef struct _SCAN_SETUP {
    const GUID *pClassGuid;  // for SetupDiGetClassDevsA (ignored with DIGCF_ALLCLASSES)
    DWORD Flags;             // DIGCF_* flags
    SCAN_ACTION Action;      // NULL: matching devices are passed over
    void *pContext;          // handed to the action unchanged
    // Runs once per device that names no target hardware ID (with NULL and
    // 0 where it has none), as the action does.
    SCAN_ACTION OtherAction;
    // Runs, with NULL and 0, for a device whose hardware IDs cannot be read,
    // as the action does. NULL: the scan ends there.
    SCAN_ACTION UnreadAction;
} SCAN_SETUP;

// How a scan ended.
#define SCAN_STOPPED 0  // an action ended it, or a hardware-ID read failed
#define SCAN_WHOLE 1    // every device was visited
#define SCAN_CUT 2      // the enumeration failed otherwise than at its end (GetLastError: why)
#define SCAN_NO_SET 3   // the device information set could not be built

int ScanDevices(const SCAN_SETUP *pSetup);

// The scan of every node of every class, attached or not, for Action.
void ScanProductNodes(SCAN_ACTION Action, void *pContext);

// The first entry of a hardware-ID buffer into pDst, cut to fit, terminated.
void CopyFirstHwid(char *pDst, DWORD cbDst, const char *pHwIds, DWORD cbHwIds);

#endif
