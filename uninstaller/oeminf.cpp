#include "oeminf.h"

#include "../common/hwid.h"
#include "../common/trace.h"

typedef BOOL(WINAPI *LPFN_SETUPUNINSTALLOEMINFA)(PCSTR InfFileName, DWORD Flags, PVOID Reserved);

void FreeInfWork(INF_WORK *pWork)
{
    const INF_WORK none = {};

    LocalFree(pWork->pUsers);
    LocalFree(pWork->pKept);
    *pWork = none;
}

void *GrowTable(void *pTable, DWORD *pRoom, DWORD count, DWORD cbEntry)
{
    DWORD room;
    BYTE *pGrown;
    DWORD i;

    if (count < *pRoom)
        return pTable;
    room = *pRoom != 0 ? *pRoom * 2 : 16;
    if (room <= *pRoom || (SIZE_T)room * cbEntry / cbEntry != room) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    pGrown = (BYTE *)LocalAlloc(LMEM_ZEROINIT, (SIZE_T)room * cbEntry);
    if (pGrown == NULL)
        return NULL;
    for (i = 0; i < count * cbEntry; i++)
        pGrown[i] = ((const BYTE *)pTable)[i];
    LocalFree(pTable);
    *pRoom = room;
    return pGrown;
}

int ReadInfPath(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, REGSAM sam, char *pInfName,
                DWORD *pKeyError, LONG *pStatus)
{
    HKEY hKey;
    DWORD type = 0;
    DWORD cbValue = MAX_PATH;
    DWORD i;

    *pKeyError = 0;
    *pStatus = ERROR_SUCCESS;
    hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, sam);
    if (hKey == (HKEY)INVALID_HANDLE_VALUE) {
        *pKeyError = GetLastError();
        return 0;
    }
    for (i = 0; i < MAX_PATH; i++)
        pInfName[i] = 0;
    *pStatus = RegQueryValueExA(hKey, "InfPath", NULL, &type, (LPBYTE)pInfName, &cbValue);
    RegCloseKey(hKey);
    // A value that fills all 260 bytes without a terminator needs one byte more.
    if (*pStatus == ERROR_SUCCESS && !IsTerminated(pInfName, MAX_PATH))
        *pStatus = ERROR_MORE_DATA;
    return *pStatus == ERROR_SUCCESS;
}

int OpenDeviceInfName(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, char **ppInfName)
{
    char *pInfName;
    DWORD keyError = 0;
    LONG status = ERROR_SUCCESS;

    pInfName = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pInfName == NULL) {
        Trace("LocalAlloc for 'pInfName' failed!\n");
        return 0;
    }
    if (!ReadInfPath(hDevInfo, pDevInfoData, KEY_ALL_ACCESS, pInfName, &keyError, &status)) {
        if (keyError != 0) {
            Trace("Open Registry failed, Error code: 0x%8x\n", keyError);
        } else {
            Trace("RegQueryValueEx for 'InfPath' failed!\n");
            Trace("Error code: 0x%x\n", status);
        }
        LocalFree(pInfName);
        return 0;
    }
    if (HwidMatch(pInfName, "usb.inf") || HwidMatch(pInfName, "usbstor.inf")) {
        Trace("Find composite device\n");
        LocalFree(pInfName);
        return 0;
    }
    // Any other name is Windows' own INF (or a tampered value): never deleted.
    if (!IsOemInfName(pInfName)) {
        Trace("Not an OEM INF: [%s]\n", pInfName);
        LocalFree(pInfName);
        return 0;
    }
    *ppInfName = pInfName;
    return 1;
}

// ---- the packages other devices use ----

static INF_USER *FindInfUser(const INF_WORK *pWork, const char *pInfName)
{
    DWORD i;

    for (i = 0; i < pWork->UserCount; i++)
        if (SameText(pWork->pUsers[i].InfName, pInfName))
            return &pWork->pUsers[i];
    return NULL;
}

static KEPT_INF *FindKept(const INF_WORK *pWork, const char *pInfName)
{
    DWORD i;

    for (i = 0; i < pWork->KeptCount; i++)
        if (SameText(pWork->pKept[i].InfName, pInfName))
            return &pWork->pKept[i];
    return NULL;
}

static void MarkUsersUnknown(INF_WORK *pWork, DWORD error)
{
    if (pWork->UsersComplete || pWork->UsersError == 0)
        pWork->UsersError = error != 0 ? error : ERROR_GEN_FAILURE;
    pWork->UsersComplete = 0;
}

// Lists the published INF a device that is not the product's was installed
// from; one without a driver key or "InfPath" uses none.
static void NoteUser(INF_WORK *pWork, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData,
                     int bUnread)
{
    char infName[MAX_PATH];
    INF_USER *pUsers;
    INF_USER *pUser;
    DWORD keyError = 0;
    LONG status = ERROR_SUCCESS;

    if (!ReadInfPath(hDevInfo, pDevInfoData, KEY_READ, infName, &keyError, &status)) {
        if (keyError != 0 && keyError != ERROR_KEY_DOES_NOT_EXIST && keyError != ERROR_FILE_NOT_FOUND)
            MarkUsersUnknown(pWork, keyError);
        // A value longer than the buffer is no published name.
        else if (keyError == 0 && status != ERROR_FILE_NOT_FOUND && status != ERROR_MORE_DATA)
            MarkUsersUnknown(pWork, (DWORD)status);
        return;
    }
    if (!IsOemInfName(infName) || FindInfUser(pWork, infName) != NULL)
        return;
    pUsers = (INF_USER *)GrowTable(pWork->pUsers, &pWork->UserRoom, pWork->UserCount,
                                   sizeof(INF_USER));
    if (pUsers == NULL) {
        MarkUsersUnknown(pWork, GetLastError());
        return;
    }
    pWork->pUsers = pUsers;
    pUser = &pUsers[pWork->UserCount++];
    pUser->Unread = bUnread;
    FormatText(pUser->InfName, sizeof(pUser->InfName), "%s", infName);
    if (!SetupDiGetDeviceInstanceIdA(hDevInfo, pDevInfoData, pUser->InstanceId,
                                     sizeof(pUser->InstanceId), NULL))
        FormatText(pUser->InstanceId, sizeof(pUser->InstanceId), "(instance ID unknown)");
}

static int NoteOtherNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                         DWORD cbHwIds, void *pContext)
{
    (void)pHwIds;
    (void)cbHwIds;
    NoteUser((INF_WORK *)pContext, hDevInfo, pDevInfoData, FALSE);
    return 1;
}

// A device whose hardware IDs cannot be read may be the product's or not:
// its package stays, "maybe used by" it.
static int NoteUnreadNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                          DWORD cbHwIds, void *pContext)
{
    (void)pHwIds;
    (void)cbHwIds;
    NoteUser((INF_WORK *)pContext, hDevInfo, pDevInfoData, TRUE);
    return 1;
}

int FindOtherInfUsers(INF_WORK *pWork)
{
    SCAN_SETUP setup = {};
    int scan;

    pWork->UserCount = 0;
    pWork->UsersRead = 1;
    pWork->UsersComplete = 1;
    pWork->UsersError = 0;
    setup.Flags = DIGCF_ALLCLASSES;  // present or not; the product's nodes are passed over
    setup.OtherAction = NoteOtherNode;
    setup.UnreadAction = NoteUnreadNode;
    setup.pContext = pWork;
    scan = ScanDevices(&setup);
    if (scan == SCAN_NO_SET || scan == SCAN_CUT)
        MarkUsersUnknown(pWork, GetLastError());
    return pWork->UsersComplete;
}

// 1 when a device that is not the product's uses pInfName's package, or may.
static int OtherDeviceUses(INF_WORK *pWork, const char *pInfName)
{
    if (!pWork->UsersRead)
        FindOtherInfUsers(pWork);
    return FindInfUser(pWork, pInfName) != NULL || !pWork->UsersComplete;
}

void NoteKept(INF_WORK *pWork, const char *pInfName, int bGone, DWORD error, int bShared)
{
    KEPT_INF *pKept = FindKept(pWork, pInfName);
    KEPT_INF *pList;

    if (bGone) {
        if (pKept != NULL)
            *pKept = pWork->pKept[--pWork->KeptCount];
        return;
    }
    if (pKept == NULL) {
        pList = (KEPT_INF *)GrowTable(pWork->pKept, &pWork->KeptRoom, pWork->KeptCount,
                                      sizeof(KEPT_INF));
        if (pList == NULL) {
            Trace("Driver package kept: [%s], Error code: 0x%x\n", pInfName, error);
            return;
        }
        pWork->pKept = pList;
        pKept = &pList[pWork->KeptCount++];
        FormatText(pKept->InfName, sizeof(pKept->InfName), "%s", pInfName);
    }
    pKept->Error = error;
    pKept->Shared = bShared;
}

// Why the run keeps pInfName (KEPT_*), with its kept entry and its user or NULL.
static int KeptKind(const INF_WORK *pWork, const char *pInfName, const KEPT_INF **ppKept,
                    const INF_USER **ppUser)
{
    *ppKept = FindKept(pWork, pInfName);
    *ppUser = FindInfUser(pWork, pInfName);
    if (*ppKept != NULL && !(*ppKept)->Shared)
        return KEPT_REFUSED;
    if (*ppUser != NULL)
        return (*ppUser)->Unread ? KEPT_USERS_NOT_KNOWN : KEPT_FOR_OTHER_DEVICE;
    return *ppKept != NULL ? KEPT_USERS_NOT_KNOWN : KEPT_NOT_KNOWN;
}

void TraceKeptInfs(const INF_WORK *pWork)
{
    const KEPT_INF *pKept;
    const INF_USER *pUser;
    DWORD i;

    for (i = 0; i < pWork->KeptCount; i++) {
        const char *pName = pWork->pKept[i].InfName;

        if (KeptKind(pWork, pName, &pKept, &pUser) == KEPT_REFUSED)
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

int KeptWhy(const INF_WORK *pWork, const char *pInfName, char *pWhy, int cbWhy)
{
    const KEPT_INF *pKept;
    const INF_USER *pUser;
    int kind = KeptKind(pWork, pInfName, &pKept, &pUser);

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

static int DeleteByHand(const char *pFullPath, DWORD *pError)
{
    if (DeleteFileA(pFullPath))
        return INF_DELETED;
    *pError = GetLastError();
    return INF_KEPT;
}

// 0 only when Windows says it has no driver store, in System32 nor Sysnative.
static int DriverStoreMayExist(void)
{
    static const char *const systemFolders[] = {"System32", "Sysnative"};
    char path[MAX_PATH];
    DWORD error;
    int i;

    for (i = 0; i < 2; i++) {
        if (!WindowsPath(path, "\\%s\\DriverStore", systemFolders[i]))
            return 1;
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return 1;
        error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return 1;
    }
    return 0;
}

// The published INF's package out of the store (SetupUninstallOEMInfA).
static int UninstallOemInf(const char *pFullPath, const char *pInfName, DWORD *pError)
{
    LPFN_SETUPUNINSTALLOEMINFA fnUninstall;
    HMODULE hSetupApi;

    // setupapi is imported, so loaded: a failure says nothing of the function.
    hSetupApi = GetModuleHandleA("setupapi");
    if (hSetupApi == NULL) {
        *pError = GetLastError();
        return INF_REFUSED;
    }
    fnUninstall = (LPFN_SETUPUNINSTALLOEMINFA)(void (*)(void))GetProcAddress(
        hSetupApi, "SetupUninstallOEMInfA");
    if (fnUninstall == NULL) {
        *pError = GetLastError();
        // Windows before XP lacks it and any driver store: only there does a
        // published INF go by hand. Any other failure keeps it.
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

int RemoveInfFile(INF_WORK *pWork, const char *pFullPath, DWORD *pError)
{
    const char *pFileName = FileNameOf(pFullPath);
    DWORD attributes;
    int outcome;

    if (!IsOemInfName(pFileName)) {
        SetFileAttributesA(pFullPath, FILE_ATTRIBUTE_NORMAL);
        return DeleteByHand(pFullPath, pError);
    }
    if (OtherDeviceUses(pWork, pFileName)) {
        *pError = FindInfUser(pWork, pFileName) != NULL ? ERROR_INF_IN_USE_BY_DEVICES
                                                        : pWork->UsersError;
        NoteKept(pWork, pFileName, FALSE, *pError, TRUE);
        return INF_SHARED;
    }
    // Read-only files go too (Wine's uninstall deletes the file as any
    // other); one that stays gets its attributes back.
    attributes = GetFileAttributesA(pFullPath);
    SetFileAttributesA(pFullPath, FILE_ATTRIBUTE_NORMAL);
    outcome = UninstallOemInf(pFullPath, pFileName, pError);
    // Gone, now or before (a second node of one package): nothing to keep.
    if (INF_GONE(outcome) || (outcome == INF_KEPT && *pError == ERROR_FILE_NOT_FOUND)) {
        NoteKept(pWork, pFileName, TRUE, 0, FALSE);
        return outcome;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && attributes != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesA(pFullPath, attributes);
    if (outcome == INF_REFUSED)
        NoteKept(pWork, pFileName, FALSE, *pError, FALSE);
    return outcome;
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
    // MAX_PATH or more is the size it would need: the buffer was not filled.
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
