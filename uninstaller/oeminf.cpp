#include <initguid.h>
#include <devguid.h>

#include "oeminf.h"

#include "../common/dllsearch.h"
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

int RemoveInfFile(const char *pFullPath, int bFinal, DWORD *pError)
{
    const char *pFileName = NameOfPath(pFullPath);
    LPFN_SETUPUNINSTALLOEMINFA fnUninstall;

    // Read-only files go too; Wine's uninstall deletes the published file as
    // any other and would be refused.
    SetFileAttributesA(pFullPath, FILE_ATTRIBUTE_NORMAL);
    if (!IsOemInfName(pFileName))
        return DeleteByHand(pFullPath, pError);
    // Looked up at run time: Windows versions before XP, which have no
    // driver store either, do not have it.
    fnUninstall = (LPFN_SETUPUNINSTALLOEMINFA)(void (*)(void))FindFunction(
        "setupapi", "SetupUninstallOEMInfA");
    if (fnUninstall == NULL)
        return DeleteByHand(pFullPath, pError);
    if (fnUninstall(pFileName, SUOI_FORCEDELETE, NULL))
        return INF_UNINSTALLED;
    *pError = GetLastError();
    if (*pError == ERROR_NOT_AN_INSTALLED_OEM_INF)
        return DeleteByHand(pFullPath, pError);
    if (*pError != ERROR_FILE_NOT_FOUND && bFinal)
        Trace("Driver package kept: [%s], Error code: 0x%x\n", pFileName, *pError);
    return INF_KEPT;
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

BOOL DeleteInfFile(const char *pInfName, DWORD *pError)
{
    char *pFullPath;
    int outcome;

    pFullPath = InfFolderPath(pInfName, pError);
    if (pFullPath == NULL)
        return FALSE;
    Trace("Delete file in Skarnel\n");
    Trace("File full path: %s\n", pFullPath);
    outcome = RemoveInfFile(pFullPath, TRUE, pError);
    LocalFree(pFullPath);
    return outcome != INF_KEPT;
}

void ScanProductNodes(SCAN_ACTION Action, void *pContext)
{
    SCAN_SETUP setup;

    setup.pClassGuid = &GUID_DEVCLASS_USB;  // all classes: the GUID does not narrow the set
    setup.Flags = DIGCF_ALLCLASSES;
    setup.Action = Action;
    setup.pContext = pContext;
    setup.NoSetResult = 0;
    setup.ReadFailResult = 0;
    setup.DoneResult = 0;
    ScanDevices(&setup);
}
