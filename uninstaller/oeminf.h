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

// Takes the INF file pFullPath (named pFileName, without folder) out of the
// inf folder. An OEM INF ("oem<N>.inf") is the published name of a driver
// package: SetupUninstallOEMInfA takes the package out of the driver store
// with its .inf and .pnf. Deleting the .inf alone would leave the package
// installed, for Windows to install again, and its store record naming a
// missing file. Where the uninstall fails (refused under WOW64, an older
// Windows without it, a file it cannot delete), and for any other name, the
// file is deleted by hand, read-only or not. Result: non-zero when the file
// went; on failure *pError holds DeleteFileA's error.
BOOL RemoveInfFile(const char *pFullPath, const char *pFileName, DWORD *pError);

// Traces and deletes %WINDIR%\inf\<pInfName>: through RemoveInfFile when
// bUninstall is set, otherwise by hand only. Result non-zero when the file
// went; 0 when the path cannot be composed or the deletion failed, with the
// error of the call that failed in *pError.
BOOL DeleteInfFile(const char *pInfName, int bUninstall, DWORD *pError);

#endif
