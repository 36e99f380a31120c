#include <initguid.h>
#include <devguid.h>

#include "oeminf.h"

#include "../common/dllsearch.h"
#include "../common/hwid.h"
#include "../common/trace.h"

static int SameLetter(char c, char lower)
{
    return c == lower || c == lower - 'a' + 'A';
}

int IsOemInfName(const char *pName)
{
    int i = 3;

    if (!SameLetter(pName[0], 'o') || !SameLetter(pName[1], 'e') || !SameLetter(pName[2], 'm'))
        return 0;
    if (pName[i] < '0' || pName[i] > '9')
        return 0;
    while (pName[i] >= '0' && pName[i] <= '9')
        i++;
    return pName[i] == '.' && SameLetter(pName[i + 1], 'i') && SameLetter(pName[i + 2], 'n') &&
           SameLetter(pName[i + 3], 'f') && pName[i + 4] == 0;
}

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

// SetupUninstallOEMInfA, forced: looked up at run time, since Windows
// versions before XP do not have it.
static BOOL UninstallOemInf(const char *pFileName)
{
    LPFN_SETUPUNINSTALLOEMINFA fnUninstall;

    fnUninstall = (LPFN_SETUPUNINSTALLOEMINFA)(void (*)(void))FindFunction(
        "setupapi", "SetupUninstallOEMInfA");
    if (fnUninstall == NULL)
        return FALSE;
    return fnUninstall(pFileName, SUOI_FORCEDELETE, NULL);
}

// Deletes the file read-only or not; on failure *pError is DeleteFileA's error.
static BOOL DeleteByHand(const char *pFullPath, DWORD *pError)
{
    BOOL result;

    SetFileAttributesA(pFullPath, FILE_ATTRIBUTE_NORMAL);
    result = DeleteFileA(pFullPath);
    if (!result)
        *pError = GetLastError();
    return result;
}

BOOL RemoveInfFile(const char *pFullPath, const char *pFileName, DWORD *pError)
{
    if (IsOemInfName(pFileName) && UninstallOemInf(pFileName))
        return TRUE;
    return DeleteByHand(pFullPath, pError);
}

BOOL DeleteInfFile(const char *pInfName, int bUninstall, DWORD *pError)
{
    char *pWinDir;
    char *pFullPath;
    UINT cchWinDir;
    BOOL result;

    pWinDir = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pWinDir == NULL) {
        *pError = GetLastError();
        Trace("Malloc buffer for pFilePath failed\n");
        return 0;
    }
    pFullPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pFullPath == NULL) {
        *pError = GetLastError();
        Trace("Malloc failed\n");
        LocalFree(pWinDir);
        return 0;
    }
    cchWinDir = GetWindowsDirectoryA(pWinDir, MAX_PATH);
    // A result of MAX_PATH or more is the size the folder would need: the
    // buffer was not filled.
    if (cchWinDir == 0 || cchWinDir >= MAX_PATH) {
        *pError = cchWinDir == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        Trace("Get current path failed!\n");
        LocalFree(pFullPath);
        LocalFree(pWinDir);
        return 0;
    }
    if (!FormatText(pFullPath, MAX_PATH, "%s\\inf\\%s", pWinDir, pInfName)) {
        // Cut, it would name another file.
        *pError = ERROR_FILENAME_EXCED_RANGE;
        LocalFree(pFullPath);
        LocalFree(pWinDir);
        return 0;
    }
    Trace("Delete file in Skarnel\n");
    Trace("File full path: %s\n", pFullPath);
    if (bUninstall)
        result = RemoveInfFile(pFullPath, pInfName, pError);
    else
        result = DeleteByHand(pFullPath, pError);
    LocalFree(pFullPath);
    LocalFree(pWinDir);
    return result;
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
