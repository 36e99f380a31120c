#include <initguid.h>
#include <devguid.h>

#include "oeminf.h"

#include "../common/hwid.h"
#include "../common/trace.h"

int OpenDeviceInfName(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, HKEY *phKey,
                      char **ppInfName)
{
    HKEY hKey;
    char *pInfName;
    DWORD type = 0;
    DWORD cbValue = MAX_PATH;
    LONG status;

    hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV,
                                KEY_ALL_ACCESS);
    if (hKey == (HKEY)INVALID_HANDLE_VALUE) {
        Trace("Open Registry failed, Error code: 0x%8x\n", GetLastError());
        return 0;
    }
    pInfName = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pInfName == NULL) {
        Trace("LocalAlloc for 'pInfName' failed!\n");
        RegCloseKey(hKey);
        return 0;
    }
    status = RegQueryValueExA(hKey, "InfPath", NULL, &type, (LPBYTE)pInfName, &cbValue);
    // A value that fills all 260 bytes without a terminator needs one byte more.
    if (status == ERROR_SUCCESS && !IsTerminated(pInfName, MAX_PATH))
        status = ERROR_MORE_DATA;
    if (status != ERROR_SUCCESS) {
        Trace("RegQueryValueEx for 'InfPath' failed!\n");
        Trace("Error code: 0x%x\n", status);
        LocalFree(pInfName);
        RegCloseKey(hKey);
        return 0;
    }
    if (HwidMatch(pInfName, "usb.inf") || HwidMatch(pInfName, "usbstor.inf")) {
        Trace("Find composite device\n");
        LocalFree(pInfName);
        RegCloseKey(hKey);
        return 0;
    }
    // Any other name is one of Windows' own INF files (or a tampered value
    // pointing elsewhere): never deleted.
    if (!IsOemInfName(pInfName)) {
        Trace("Not an OEM INF: [%s]\n", pInfName);
        LocalFree(pInfName);
        RegCloseKey(hKey);
        return 0;
    }
    *phKey = hKey;
    *ppInfName = pInfName;
    return 1;
}

typedef BOOL(WINAPI *LPFN_SETUPUNINSTALLOEMINFA)(PCSTR InfFileName, DWORD Flags, PVOID Reserved);

// ---- the packages other devices use ----

// Published names are "oem<N>.inf": a longer one is not listed, and makes
// the list incomplete.
#define INF_NAME_SIZE 64
#define INF_USERS_MAX 512

// A published INF and the first device (not the product's) installed from it.
typedef struct _INF_USER {
    char InfName[INF_NAME_SIZE];
    char InstanceId[DEVICE_ID_SIZE];
    int Unread;  // its hardware IDs could not be read: it may be the product's
} INF_USER;

static INF_USER g_InfUsers[INF_USERS_MAX];
static DWORD g_InfUserCount;
static int g_InfUsersRead;      // the devices were read in this run
static int g_InfUsersComplete;  // ... every one of them
static DWORD g_InfUsersError;   // why not, otherwise

// ---- the packages the run keeps ----

#define KEPT_INF_MAX 64

// A package the run keeps; the device that uses it, where one does, is in
// g_InfUsers.
typedef struct _KEPT_INF {
    char InfName[INF_NAME_SIZE];
    DWORD Error;  // the last refusal, or why the devices are not known
    int Shared;   // not tried: another device uses it, or may
} KEPT_INF;

static KEPT_INF g_KeptInfs[KEPT_INF_MAX];
static DWORD g_KeptCount;

void ForgetInfWork(void)
{
    g_InfUserCount = 0;
    g_InfUsersRead = 0;
    g_InfUsersComplete = 0;
    g_InfUsersError = 0;
    g_KeptCount = 0;
}

// ASCII letters compared without regard to case, as Windows compares file names.
static int SameName(const char *pA, const char *pB)
{
    return lstrlenA(pA) == lstrlenA(pB) && HwidMatch(pA, pB);
}

static void CopyText(char *pDst, DWORD cbDst, const char *pSrc)
{
    FormatText(pDst, (int)cbDst, "%s", pSrc);
}

static INF_USER *FindInfUser(const char *pInfName)
{
    DWORD i;

    for (i = 0; i < g_InfUserCount; i++)
        if (SameName(g_InfUsers[i].InfName, pInfName))
            return &g_InfUsers[i];
    return NULL;
}

static KEPT_INF *FindKept(const char *pInfName)
{
    DWORD i;

    for (i = 0; i < g_KeptCount; i++)
        if (SameName(g_KeptInfs[i].InfName, pInfName))
            return &g_KeptInfs[i];
    return NULL;
}

static void MarkUsersUnknown(DWORD error)
{
    if (g_InfUsersComplete || g_InfUsersError == 0)
        g_InfUsersError = error != 0 ? error : ERROR_GEN_FAILURE;
    g_InfUsersComplete = 0;
}

// Lists the published INF a device that is not the product's was installed
// from. A device without a driver key or without "InfPath" uses none.
static int NoteUser(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, char *pInfName, int bUnread)
{
    INF_USER *pUser;
    HKEY hKey;
    DWORD type = 0;
    DWORD cbValue = MAX_PATH;
    DWORD error;
    LONG status;
    DWORD i;

    hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (hKey == (HKEY)INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (error != ERROR_KEY_DOES_NOT_EXIST && error != ERROR_FILE_NOT_FOUND)
            MarkUsersUnknown(error);
        return 1;
    }
    for (i = 0; i < MAX_PATH; i++)
        pInfName[i] = 0;
    status = RegQueryValueExA(hKey, "InfPath", NULL, &type, (LPBYTE)pInfName, &cbValue);
    RegCloseKey(hKey);
    // A value longer than the buffer is no published name.
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA)
        return 1;
    if (status != ERROR_SUCCESS) {
        MarkUsersUnknown((DWORD)status);
        return 1;
    }
    if (!IsTerminated(pInfName, MAX_PATH) || !IsOemInfName(pInfName) || FindInfUser(pInfName))
        return 1;
    if (g_InfUserCount == INF_USERS_MAX || lstrlenA(pInfName) >= INF_NAME_SIZE) {
        MarkUsersUnknown(ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
    pUser = &g_InfUsers[g_InfUserCount++];
    pUser->Unread = bUnread;
    CopyText(pUser->InfName, sizeof(pUser->InfName), pInfName);
    if (!SetupDiGetDeviceInstanceIdA(hDevInfo, pDevInfoData, pUser->InstanceId,
                                     sizeof(pUser->InstanceId), NULL))
        CopyText(pUser->InstanceId, sizeof(pUser->InstanceId), "(instance ID unknown)");
    return 1;
}

static int NoteOtherNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                         DWORD cbHwIds, void *pContext)
{
    (void)pHwIds;
    (void)cbHwIds;
    return NoteUser(hDevInfo, pDevInfoData, (char *)pContext, FALSE);
}

// A device whose hardware IDs cannot be read may be another's, or the
// product's: its package stays, and is not taken for another device's.
static int NoteUnreadNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                          DWORD cbHwIds, void *pContext)
{
    (void)pHwIds;
    (void)cbHwIds;
    return NoteUser(hDevInfo, pDevInfoData, (char *)pContext, TRUE);
}

int FindOtherInfUsers(void)
{
    SCAN_SETUP setup = {};
    char infName[MAX_PATH];
    DWORD endError = 0;

    ForgetInfWork();
    g_InfUsersRead = 1;
    g_InfUsersComplete = 1;
    setup.Flags = DIGCF_ALLCLASSES;  // present or not; the product's nodes are passed over
    setup.OtherAction = NoteOtherNode;
    setup.UnreadAction = NoteUnreadNode;
    setup.pEndError = &endError;
    setup.pContext = infName;
    setup.DoneResult = 1;
    if (!ScanDevices(&setup))
        MarkUsersUnknown(GetLastError());
    else if (endError != ERROR_NO_MORE_ITEMS)
        MarkUsersUnknown(endError);
    return g_InfUsersComplete;
}

// 1 when a device that is not the product's uses the package of pInfName,
// or may: it is in g_InfUsers, or the devices are not all known.
static int OtherDeviceUses(const char *pInfName)
{
    if (!g_InfUsersRead)
        FindOtherInfUsers();
    return FindInfUser(pInfName) != NULL || !g_InfUsersComplete;
}

// Lists a package the run keeps, or forgets it once it went after all. One
// the list cannot hold is traced at once, so that none goes unsaid.
static void NoteKept(const char *pInfName, int bGone, DWORD error, int bShared)
{
    KEPT_INF *pKept = FindKept(pInfName);

    if (bGone) {
        if (pKept != NULL)
            *pKept = g_KeptInfs[--g_KeptCount];
        return;
    }
    if (pKept == NULL) {
        if (g_KeptCount == KEPT_INF_MAX || lstrlenA(pInfName) >= INF_NAME_SIZE) {
            Trace("Driver package kept: [%s], Error code: 0x%x\n", pInfName, error);
            return;
        }
        pKept = &g_KeptInfs[g_KeptCount++];
        CopyText(pKept->InfName, sizeof(pKept->InfName), pInfName);
    }
    pKept->Error = error;
    pKept->Shared = bShared;
}

// Why the run keeps pInfName, as far as it knows: KEPT_*, with its entry in
// *ppKept (or NULL) and the device that uses it in *ppUser (or NULL).
static int KeptKind(const char *pInfName, const KEPT_INF **ppKept, const INF_USER **ppUser)
{
    *ppKept = FindKept(pInfName);
    *ppUser = FindInfUser(pInfName);
    if (*ppKept != NULL && !(*ppKept)->Shared)
        return KEPT_REFUSED;
    if (*ppUser != NULL)
        return (*ppUser)->Unread ? KEPT_USERS_NOT_KNOWN : KEPT_FOR_OTHER_DEVICE;
    return *ppKept != NULL ? KEPT_USERS_NOT_KNOWN : KEPT_NOT_KNOWN;
}

void TraceKeptInfs(void)
{
    const KEPT_INF *pKept;
    const INF_USER *pUser;
    DWORD i;

    for (i = 0; i < g_KeptCount; i++) {
        const char *pName = g_KeptInfs[i].InfName;

        if (KeptKind(pName, &pKept, &pUser) == KEPT_REFUSED)
            Trace("Driver package kept: [%s], Error code: 0x%x\n", pName, pKept->Error);
        else if (pUser != NULL)
            Trace(pUser->Unread ? "Driver package kept: [%s], maybe used by: %s\n"
                                : "Driver package kept: [%s], used by: %s\n",
                  pName, pUser->InstanceId);
        else
            Trace("Driver package kept: [%s], other devices not known, Error code: 0x%x\n", pName,
                  pKept->Error);
    }
}

int KeptWhy(const char *pInfName, char *pWhy, int cbWhy)
{
    const KEPT_INF *pKept;
    const INF_USER *pUser;
    int kind = KeptKind(pInfName, &pKept, &pUser);

    pWhy[0] = 0;
    if (kind == KEPT_REFUSED)
        FormatText(pWhy, cbWhy, "kept: error 0x%x", pKept->Error);
    else if (pUser != NULL)
        FormatText(pWhy, cbWhy, pUser->Unread ? "kept: maybe used by %s" : "kept: used by %s",
                   pUser->InstanceId);
    else if (pKept != NULL)
        FormatText(pWhy, cbWhy, "kept: other devices not known, error 0x%x", pKept->Error);
    return kind;
}

void TraceTaken(const char *pInfName, int outcome)
{
    if (outcome == INF_UNINSTALLED)
        Trace("SetupUninstallOEMInfA successful: [%s]\n", pInfName);
    else if (outcome == INF_DELETED)
        Trace("INF file deleted: [%s]\n", pInfName);
}

// ---- taking a file out ----

// The file name at the end of a path.
static const char *NameOfPath(const char *pPath)
{
    const char *pName = pPath;
    const char *p;

    for (p = pPath; *p != 0; p++)
        if (*p == '\\')
            pName = p + 1;
    return pName;
}

static int DeleteByHand(const char *pFullPath, DWORD *pError)
{
    if (DeleteFileA(pFullPath))
        return INF_DELETED;
    *pError = GetLastError();
    return INF_KEPT;
}

// 0 only when Windows says that it has no driver store folder: neither in
// System32 nor, for a 32-bit process on 64-bit Windows, in Sysnative.
static int DriverStoreMayExist(void)
{
    static const char *const systemFolders[] = {"System32", "Sysnative"};
    char path[MAX_PATH];
    char windowsDir[MAX_PATH];
    UINT cch;
    DWORD error;
    int i;

    cch = GetWindowsDirectoryA(windowsDir, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return 1;
    for (i = 0; i < 2; i++) {
        if (!FormatText(path, MAX_PATH, "%s\\%s\\DriverStore", windowsDir, systemFolders[i]))
            return 1;
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return 1;
        error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return 1;
    }
    return 0;
}

// The published INF's package out of the driver store, through
// SetupUninstallOEMInfA looked up at run time.
static int UninstallOemInf(const char *pFullPath, const char *pInfName, DWORD *pError)
{
    LPFN_SETUPUNINSTALLOEMINFA fnUninstall;
    HMODULE hSetupApi;

    // This program imports setupapi, so it is loaded: a failure to find it
    // says nothing about the function.
    hSetupApi = GetModuleHandleA("setupapi");
    if (hSetupApi == NULL) {
        *pError = GetLastError();
        return INF_REFUSED;
    }
    fnUninstall = (LPFN_SETUPUNINSTALLOEMINFA)(void (*)(void))GetProcAddress(
        hSetupApi, "SetupUninstallOEMInfA");
    if (fnUninstall == NULL) {
        *pError = GetLastError();
        // Windows before XP lacks it, and has no driver store either: only
        // there does a published INF go by hand. Any other failure of the
        // look-up keeps it.
        if (*pError == ERROR_PROC_NOT_FOUND && !DriverStoreMayExist())
            return DeleteByHand(pFullPath, pError);
        return INF_REFUSED;
    }
    if (fnUninstall(pInfName, SUOI_FORCEDELETE, NULL))
        return INF_UNINSTALLED;
    *pError = GetLastError();
    if (*pError == ERROR_NOT_AN_INSTALLED_OEM_INF)
        return DeleteByHand(pFullPath, pError);
    return *pError == ERROR_FILE_NOT_FOUND ? INF_KEPT : INF_REFUSED;
}

int RemoveInfFile(const char *pFullPath, DWORD *pError)
{
    const char *pFileName = NameOfPath(pFullPath);
    DWORD attributes;
    int outcome;

    if (!IsOemInfName(pFileName)) {
        SetFileAttributesA(pFullPath, FILE_ATTRIBUTE_NORMAL);
        return DeleteByHand(pFullPath, pError);
    }
    if (OtherDeviceUses(pFileName)) {
        *pError = FindInfUser(pFileName) != NULL ? ERROR_INF_IN_USE_BY_DEVICES : g_InfUsersError;
        NoteKept(pFileName, FALSE, *pError, TRUE);
        return INF_SHARED;
    }
    // Read-only files go too; Wine's uninstall deletes the published file as
    // any other and would be refused. A file that stays gets its attributes
    // back.
    attributes = GetFileAttributesA(pFullPath);
    SetFileAttributesA(pFullPath, FILE_ATTRIBUTE_NORMAL);
    outcome = UninstallOemInf(pFullPath, pFileName, pError);
    // Gone, now or before (a second node of one package): nothing is left
    // to keep.
    if (INF_GONE(outcome) || (outcome == INF_KEPT && *pError == ERROR_FILE_NOT_FOUND)) {
        NoteKept(pFileName, TRUE, 0, FALSE);
        return outcome;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && attributes != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesA(pFullPath, attributes);
    if (outcome == INF_REFUSED)
        NoteKept(pFileName, FALSE, *pError, FALSE);
    return outcome;
}

static void RemoveIfProducts(const char *pFullPath, const char *pFileName, DWORD dwAttributes,
                             void *pContext)
{
    INF_PRINT print;
    HINF hInf;
    UINT errorLine = 0;
    char *pLine;
    DWORD error = 0;
    int outcome;

    (void)pContext;
    if (!IsOemInfName(pFileName) || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    // Only a file whose bytes may name the product is read as an INF; one
    // that cannot be read so is read as an INF all the same.
    if (ReadInfPrint(pFullPath, &print) && !print.MayNameProduct)
        return;
    hInf = SetupOpenInfFileA(pFullPath, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
    if (hInf == INVALID_HANDLE_VALUE)
        return;
    if (FindProductModelsLine(hInf, &pLine, &error)) {
        LocalFree(pLine);
        outcome = RemoveInfFile(pFullPath, &error);
        TraceTaken(pFileName, outcome);
    }
    SetupCloseInfFile(hInf);
}

int RemovePublishedInfs(int bQuiet)
{
    return WalkInfFolder(RemoveIfProducts, NULL, bQuiet);
}

char *InfFolderPath(const char *pInfName, DWORD *pError)
{
    char *pWinDir;
    char *pFullPath;
    UINT cchWinDir;

    pWinDir = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pWinDir == NULL) {
        *pError = GetLastError();
        Trace("Malloc buffer for pFilePath failed\n");
        return NULL;
    }
    pFullPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pFullPath == NULL) {
        *pError = GetLastError();
        Trace("Malloc failed\n");
        LocalFree(pWinDir);
        return NULL;
    }
    cchWinDir = GetWindowsDirectoryA(pWinDir, MAX_PATH);
    // A result of MAX_PATH or more is the size the folder would need: the
    // buffer was not filled.
    if (cchWinDir == 0 || cchWinDir >= MAX_PATH) {
        *pError = cchWinDir == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        Trace("Get current path failed!\n");
        LocalFree(pFullPath);
        LocalFree(pWinDir);
        return NULL;
    }
    if (!FormatText(pFullPath, MAX_PATH, "%s\\inf\\%s", pWinDir, pInfName)) {
        // Cut, it would name another file.
        *pError = ERROR_FILENAME_EXCED_RANGE;
        LocalFree(pFullPath);
        LocalFree(pWinDir);
        return NULL;
    }
    LocalFree(pWinDir);
    return pFullPath;
}

void ScanProductNodes(SCAN_ACTION Action, void *pContext)
{
    SCAN_SETUP setup = {};

    setup.pClassGuid = &GUID_DEVCLASS_USB;  // all classes: the GUID does not narrow the set
    setup.Flags = DIGCF_ALLCLASSES;
    setup.Action = Action;
    setup.pContext = pContext;
    setup.NoSetResult = 0;
    setup.ReadFailResult = 0;
    setup.DoneResult = 0;
    ScanDevices(&setup);
}
