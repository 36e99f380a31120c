// Reading a device's OEM INF name and taking INF files out of the inf folder:
// shared by the uninstaller's removal and sweep and by its 64-bit sibling.
#ifndef UNINSTALLER_OEMINF_H
#define UNINSTALLER_OEMINF_H

#include <windows.h>
#include <setupapi.h>

#include "../common/devscan.h"
#include "../common/infscan.h"

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

// What became of an INF file that was to go.
#define INF_KEPT 0         // still there (or gone before): *pError says why
#define INF_UNINSTALLED 1  // its driver package left the store, the .inf and .pnf with it
#define INF_DELETED 2      // deleted by hand

// Takes the INF file pFullPath out of the inf folder, read-only or not.
// An OEM INF ("oem<N>.inf") is the published name of a driver package:
// SetupUninstallOEMInfA (forced) takes the package out of the driver store
// with its .inf and .pnf. Deleting the .inf alone would leave the package
// installed, for Windows to install again, and past any later uninstall,
// which needs the published name. So an OEM INF is deleted by hand only
// where no store holds it: the uninstall says it is not an installed OEM
// INF, or Windows has no such function. Any other refusal (under WOW64, a
// package in use) leaves the file and its package for a later try; with
// bFinal set that is traced, with the file's name and the error. Other names
// are deleted by hand. A file already gone is kept silently (*pError 2).
int RemoveInfFile(const char *pFullPath, int bFinal, DWORD *pError);

// %WINDIR%\inf\<pInfName> in a new 260-byte heap block for the caller, or NULL
// (traced) when a buffer cannot be had, the Windows folder cannot be read or
// the path does not fit; *pError then holds the reason.
char *InfFolderPath(const char *pInfName, DWORD *pError);

// Traces and takes out %WINDIR%\inf\<pInfName> by RemoveInfFile's rules.
// Result non-zero when the file went; 0 when the path cannot be composed or
// the file stays, with the reason in *pError.
BOOL DeleteInfFile(const char *pInfName, DWORD *pError);

#endif
