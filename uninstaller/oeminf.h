// Driver packages and their published INFs, for the uninstaller and its
// 64-bit sibling: which packages other devices use, taking an INF file out,
// the packages a run keeps, the removal of a product node with its package.
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

// A package the run keeps (the device that uses it is among the users).
typedef struct _KEPT_INF {
    char InfName[MAX_PATH];
    DWORD Error;  // the last refusal, or why the devices are not known
    int Shared;   // not tried: another device uses it, or may
} KEPT_INF;

// What a run knows of driver packages: zero at first (INF_WORK work = {}),
// tables that grow as the machine needs, released by FreeInfWork.
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

// Room for one more cbEntry-byte entry in pTable (count entries, room for
// *pRoom): the table, moved to a larger block where it was full, or NULL,
// the table as it was, where no block can be had.
void *GrowTable(void *pTable, DWORD *pRoom, DWORD count, DWORD cbEntry);

// Reads the "InfPath" of the device's driver key (opened with sam) into
// pInfName (MAX_PATH bytes, terminated): 0 where the key did not open
// (*pKeyError: why) or the value could not be read (*pStatus: why).
int ReadInfPath(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, REGSAM sam, char *pInfName,
                DWORD *pKeyError, LONG *pStatus);

// The device's "InfPath" in a 260-byte heap block for the caller when it
// names an OEM INF file; else 0, the reason traced (no driver key, no value,
// an in-box INF such as "usb.inf", any other name).
int OpenDeviceInfName(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, char **ppInfName);

// Reads which published INF every device that is not the product's was
// installed from ("InfPath"), present or not, once per run: such a package
// stays, as a forced uninstall would take that device's driver too. 0 when
// a device could not be read: every package may then be another's.
int FindOtherInfUsers(INF_WORK *pWork);

// What became of an INF file that was to go.
#define INF_KEPT 0         // its deletion by hand failed, or it was gone before: *pError says why
#define INF_UNINSTALLED 1  // its driver package left the store, the .inf and .pnf with it
#define INF_DELETED 2      // deleted by hand
#define INF_SHARED 3       // not tried: another device uses its package, or may
#define INF_REFUSED 4      // the package stays in the store: refused, or the uninstall not found
#define INF_GONE(outcome) ((outcome) == INF_UNINSTALLED || (outcome) == INF_DELETED)

// Takes the INF file pFullPath out of the inf folder, read-only or not. An
// OEM INF ("oem<N>.inf") is a driver package's published name: the forced
// SetupUninstallOEMInfA takes the package out of the store with its .inf
// and .pnf (the .inf deleted alone would leave the package installed, and
// past any later uninstall). It is deleted by hand only where no store holds
// it. A package another device uses is not touched; a refusal leaves the
// file, with its attributes, and its package, listed as kept. Other names
// are deleted by hand. A file already gone is kept silently (*pError 2).
int RemoveInfFile(INF_WORK *pWork, const char *pFullPath, DWORD *pError);

// Lists a package the run keeps (error: why), or forgets it once it went
// (bGone). One the list cannot hold is traced at once.
void NoteKept(INF_WORK *pWork, const char *pInfName, int bGone, DWORD error, int bShared);

// Traces a published INF taken out: by the store's uninstall, or by hand.
void TraceTaken(const char *pInfName, int outcome);

// Traces each package the run keeps, once, with why ("Driver package kept:
// [oem<N>.inf], ..."): its last refusal's error, or the device that uses it.
void TraceKeptInfs(const INF_WORK *pWork);

// Why the run keeps the package of pInfName ("kept: error 0x...", "kept:
// used by <instance ID>", "kept: other devices not known"), or empty; the
// result says which.
#define KEPT_NOT_KNOWN 0
#define KEPT_REFUSED 1
#define KEPT_FOR_OTHER_DEVICE 2
#define KEPT_USERS_NOT_KNOWN 3
int KeptWhy(const INF_WORK *pWork, const char *pInfName, char *pWhy, int cbWhy);

// %WINDIR%\inf\<pInfName> in a 260-byte heap block for the caller, or NULL
// (*pError: why; traced but for a path that does not fit).
char *InfFolderPath(const char *pInfName, DWORD *pError);

// Removes every product node, of any class, attached or not, with its
// driver package: the package first, while the node names it, then the node;
// a package refused while its node used it is tried again once it is gone.
// bSibling: with Tidewell64's traces, else the uninstaller's (its reboot
// check's failures to the run log only). 1 when Windows asks for a restart.
int RemoveProductNodes(INF_WORK *pWork, int bSibling);

#endif
