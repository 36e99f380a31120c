// Reading a device's OEM INF name and deleting that INF file: shared by the
// uninstaller's removal and by its 64-bit sibling.
#ifndef UNINSTALLER_OEMINF_H
#define UNINSTALLER_OEMINF_H

#include <windows.h>
#include <setupapi.h>

#include "../common/devscan.h"

// 1 when pName is "oem" + decimal digits + ".inf", letter case ignored: the
// only names Windows gives the third-party INF files it copies to its inf folder.
int IsOemInfName(const char *pName);

// Runs the device scan with the removal's settings: every node of every
// setup class, attached or not; Action runs once per product node.
void ScanProductNodes(SCAN_ACTION Action, void *pContext);

// Opens the device's driver key and reads its "InfPath". Gives 1 when the
// value names an OEM INF file: *phKey (open) and *ppInfName (a 260-byte heap
// block) then belong to the caller. Gives 0 otherwise, with the reason traced
// and nothing held: no driver key, no readable value, an in-box INF
// ("usb.inf", "usbstor.inf") or any name that is not an OEM INF's.
int OpenDeviceInfName(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, HKEY *phKey,
                      char **ppInfName);

// Deletes %WINDIR%\inf\<pInfName>, read-only or not. Result: that of
// DeleteFileA, or 0 when the path cannot be composed.
BOOL DeleteInfFile(const char *pInfName);

#endif
