// Driver packages and their published INFs, shared by the uninstaller and
// its 64-bit sibling: which packages other devices use, taking an INF file
// out of the inf folder, the packages a run keeps, and the removal of a
// product node with its package.
#ifndef UNINSTALLER_OEMINF_H
#define UNINSTALLER_OEMINF_H

#include <windows.h>
#include <setupapi.h>

#include "../common/devscan.h"
#include "../common/infscan.h"

// A device instance ID with its NUL (MAX_DEVICE_ID_LEN).
#define DEVICE_ID_SIZE 200

// A published INF and the first device (not the product's) installed from it.
typedef struct _INF_USER {
    char InfName[MAX_PATH];
    char InstanceId[DEVICE_ID_SIZE];
    int Unread;  // its hardware IDs could not be read: it may be the product's
} INF_USER;

// A package the run keeps; the device that uses it, where one does, is
// among the users.
typedef struct _KEPT_INF {
    char InfName[MAX_PATH];
    DWORD Error;  // the last refusal, or why the devices are not known
    int Shared;   // not tried: another device uses it, or may
} KEPT_INF;

// What a run knows of driver packages. Zero before its first use
// (INF_WORK work = {}); its tables grow as the machine needs, and
// FreeInfWork releases them.
typedef struct _INF_WORK {
    INF_USER *pUsers;
    DWORD UserCount;
    DWORD UserRoom;
    int UsersRead;      // the devices were read in this run
    int UsersComplete;  // ... every one of them
    DWORD UsersError;   // why not, otherwise
    KEPT_INF *pKept;
    DWORD KeptCount;
    DWORD KeptRoom;
} INF_WORK;

void FreeInfWork(INF_WORK *pWork);

// Makes room for one more entry of cbEntry bytes in the table pTable, which
// holds count of them and has room for *pRoom: the table, grown into a new
// block where it was full (the old one released), or NULL where no block
// can be had, the table then as it was.
void *GrowTable(void *pTable, DWORD *pRoom, DWORD count, DWORD cbEntry);

// Opens the device's driver key (access sam) and reads its "InfPath" into
// pInfName (MAX_PATH bytes). 1 when it was read, NUL-terminated; 0 otherwise,
// with GetLastError's code in *pKeyError where the key did not open (0 where
// it did) and RegQueryValueExA's answer in *pStatus.
int ReadInfPath(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, REGSAM sam, char *pInfName,
                DWORD *pKeyError, LONG *pStatus);

// Reads the device's "InfPath". Gives 1 when it names an OEM INF file:
// *ppInfName (a 260-byte heap block) then belongs to the caller. Gives 0
// otherwise, with the reason traced and nothing held: no driver key, no
// readable value, an in-box INF ("usb.inf", "usbstor.inf") or any name that
// is not an OEM INF's.
int OpenDeviceInfName(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, char **ppInfName);

// Reads which published INF every device that is not the product's was
// installed from (its driver key's "InfPath"), present or not: one scan of
// the device tree for the run. A package such a device uses stays, and so
// does its published INF: a forced uninstall would take that device's
// driver too. Result 1 when every device was read; 0 when one could not be,
// and every published INF then counts as possibly another device's.
int FindOtherInfUsers(INF_WORK *pWork);

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
int RemoveInfFile(INF_WORK *pWork, const char *pFullPath, DWORD *pError);

// Lists a package the run keeps (error: why), or forgets it once it went
// after all (bGone). One the list cannot hold is traced at once, so that
// none goes unsaid.
void NoteKept(INF_WORK *pWork, const char *pInfName, int bGone, DWORD error, int bShared);

// Traces a published INF taken out: by the store's uninstall, or by hand.
void TraceTaken(const char *pInfName, int outcome);

// Traces each package the run keeps, once, with why: "Driver package kept:
// [oem<N>.inf], ..." and the error of its last refusal or the device that
// uses it. A package taken out later in the run is not traced.
void TraceKeptInfs(const INF_WORK *pWork);

// Why the run keeps the package of pInfName, where it knows: "kept: error
// 0x..." for a refusal, "kept: used by <instance ID>" for a package another
// device uses, "kept: other devices not known" where they could not be read;
// empty otherwise. The result says which.
#define KEPT_NOT_KNOWN 0
#define KEPT_REFUSED 1
#define KEPT_FOR_OTHER_DEVICE 2
#define KEPT_USERS_NOT_KNOWN 3
int KeptWhy(const INF_WORK *pWork, const char *pInfName, char *pWhy, int cbWhy);

// %WINDIR%\inf\<pInfName> in a new 260-byte heap block for the caller, or NULL
// (traced) when a buffer cannot be had, the Windows folder cannot be read or
// the path does not fit; *pError then holds the reason.
char *InfFolderPath(const char *pInfName, DWORD *pError);

// Removes every product node, of any setup class and attached or not, with
// its driver package: the package first, while the node still names it,
// then the node; a package refused while its node used it (one that runs
// from the driver store) is tried again once the node is gone. bSibling:
// with Tidewell64's traces ("Found! [...]", "InfPath: [...]", each outcome,
// each removal's, its reboot check's failures); else with the uninstaller's
// ("Delete file in Skarnel", "File full path: ...", "Remove failed!"; the
// reboot check's failures to the run log only). Result 1 when a removal
// asked Windows for a restart.
int RemoveProductNodes(INF_WORK *pWork, int bSibling);

#endif
