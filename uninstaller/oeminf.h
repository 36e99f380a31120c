// Reading a device's OEM INF name and taking INF files out of the inf folder:
// shared by the uninstaller's removal and sweep and by its 64-bit sibling.
#ifndef UNINSTALLER_OEMINF_H
#define UNINSTALLER_OEMINF_H

#include <windows.h>
#include <setupapi.h>

#include "../common/devscan.h"
#include "../common/infscan.h"

// A device instance ID with its NUL (MAX_DEVICE_ID_LEN).
#define DEVICE_ID_SIZE 200

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

// Reads which published INF every device that is not the product's was
// installed from (its driver key's "InfPath"), present or not: one scan of
// the device tree for the run. A package such a device uses stays, and so
// does its published INF: a forced uninstall would take that device's
// driver too. It also forgets the packages an earlier run in this process
// kept. Result 1 when every device was read; 0 when one could not be, and
// every published INF then counts as possibly another device's.
int FindOtherInfUsers(void);

// Forgets what FindOtherInfUsers read and which packages were kept, so that
// the next INF to go reads the devices afresh (for a new run in this
// process).
void ForgetInfWork(void);

// What became of an INF file that was to go.
#define INF_KEPT 0         // its deletion by hand failed, or it was gone before: *pError says why
#define INF_UNINSTALLED 1  // its driver package left the store, the .inf and .pnf with it
#define INF_DELETED 2      // deleted by hand
#define INF_SHARED 3       // not tried: another device uses its package, or may
#define INF_REFUSED 4      // the package stays in the store: refused, or the uninstall not found
#define INF_GONE(outcome) ((outcome) == INF_UNINSTALLED || (outcome) == INF_DELETED)

// Takes the INF file pFullPath out of the inf folder, read-only or not.
// An OEM INF ("oem<N>.inf") is the published name of a driver package:
// SetupUninstallOEMInfA (forced) takes the package out of the driver store
// with its .inf and .pnf. Deleting the .inf alone would leave the package
// installed, for Windows to install again, and past any later uninstall,
// which needs the published name. So an OEM INF is deleted by hand only
// where no store holds it: the uninstall says it is not an installed OEM
// INF, or Windows has no such function and no driver store. A package that
// another device uses is not touched; any refusal (under WOW64, a package
// in use) leaves the file, with its attributes, and its package for a later
// try. Each package kept is listed for TraceKeptInfs. Other names are
// deleted by hand. A file already gone is kept silently (*pError 2).
int RemoveInfFile(const char *pFullPath, DWORD *pError);

// Traces a published INF taken out: by the store's uninstall, or by hand.
void TraceTaken(const char *pInfName, int outcome);

// Traces each package the run keeps, once, with why: "Driver package kept:
// [oem<N>.inf], ..." and the error of its last refusal or the device that
// uses it. A package taken out later in the run is not traced.
void TraceKeptInfs(void);

// Takes out every published INF (oem<N>.inf) of the inf folder that names
// the product by any of its models sections (FindProductModelsLine),
// whatever node it was for: one trace line for each taken (TraceTaken),
// those kept go to TraceKeptInfs. Unless bQuiet, the walk's own failures
// are traced. Result 1 when the whole folder was read.
int RemovePublishedInfs(int bQuiet);

// Why the run keeps the package of pInfName, where it knows: "kept: error
// 0x..." for a refusal, "kept: used by <instance ID>" for a package another
// device uses, "kept: other devices not known" where they could not be read;
// empty otherwise. The result says which.
#define KEPT_NOT_KNOWN 0
#define KEPT_REFUSED 1
#define KEPT_FOR_OTHER_DEVICE 2
#define KEPT_USERS_NOT_KNOWN 3
int KeptWhy(const char *pInfName, char *pWhy, int cbWhy);

// %WINDIR%\inf\<pInfName> in a new 260-byte heap block for the caller, or NULL
// (traced) when a buffer cannot be had, the Windows folder cannot be read or
// the path does not fit; *pError then holds the reason.
char *InfFolderPath(const char *pInfName, DWORD *pError);

#endif
