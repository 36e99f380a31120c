// The device scan: one loop over a SetupAPI device information set that hands
// every device naming a target hardware ID to its user's action.
#ifndef COMMON_DEVSCAN_H
#define COMMON_DEVSCAN_H

#include <windows.h>
#include <setupapi.h>

// Runs once per matching device. pHwIds holds the device's hardware-ID
// multi-string, cbHwIds bytes (its terminators are not guaranteed).
// Result: 1 to go on with the next device, 0 to end the scan with result 0.
typedef int (*SCAN_ACTION)(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                           const char *pHwIds, DWORD cbHwIds, void *pContext);

// Members not set are zero (SCAN_SETUP setup = {}): no action, result 0.
typedef struct _SCAN_SETUP {
    const GUID *pClassGuid;  // for SetupDiGetClassDevsA (ignored with DIGCF_ALLCLASSES)
    DWORD Flags;             // DIGCF_* flags
    SCAN_ACTION Action;      // NULL: matching devices are passed over
    void *pContext;          // handed to the action unchanged
    int NoSetResult;         // result when the set cannot be built
    int ReadFailResult;      // result when a hardware-ID read fails unexpectedly
    int DoneResult;          // result after the last device
    // Runs once per device that names no target hardware ID (NULL: none),
    // with its hardware IDs, or NULL and 0 when it has none. Its result
    // counts as the action's.
    SCAN_ACTION OtherAction;
    // Runs, with NULL and 0, for a device whose hardware IDs cannot be read
    // (the read fails unexpectedly, or its buffer cannot be had), and the
    // scan goes on. NULL: the scan ends there with ReadFailResult.
    SCAN_ACTION UnreadAction;
    // Where the error that ended the enumeration goes (NULL: nowhere):
    // ERROR_NO_MORE_ITEMS once every device was visited.
    DWORD *pEndError;
} SCAN_SETUP;

int ScanDevices(const SCAN_SETUP *pSetup);

// Copies the first entry of a hardware-ID buffer into pDst (cut to fit, always
// NUL-terminated), never reading past cbHwIds.
void CopyFirstHwid(char *pDst, DWORD cbDst, const char *pHwIds, DWORD cbHwIds);

#endif
