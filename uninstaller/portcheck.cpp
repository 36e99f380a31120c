// Port-busy check: the uninstaller refuses while a program holds one of the
// product's modem or serial ports open.
#include <initguid.h>
#include <devguid.h>

#include "tidewell.h"

#include "../common/devscan.h"
#include "../common/hwid.h"
#include "../common/trace.h"


// Opens the device's port exclusively and closes it again at once.
// 1: free or not readable, go on; 0: busy (or not provably free), refuse.
static int ProbeDevicePort(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                           DWORD cbHwIds, void *pContext)
{
    const char *pValueName = (const char *)pContext;
    HKEY hKey;
    char *pValue;
    char *pPortPath;
    DWORD type = 0;
    DWORD cbValue = MAX_PATH;
    LONG status;
    HANDLE hPort;

    (void)pHwIds;
    (void)cbHwIds;
    hKey = SetupDiOpenDevRegKey(hDevInfo, pDevInfoData, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                KEY_ALL_ACCESS);
    if (hKey == (HKEY)INVALID_HANDLE_VALUE) {
        Trace("Open Registry failed, Error code: 0x%8x\n, line: %d", GetLastError(), 307);
        return 0;
    }
    pValue = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pValue == NULL) {
        // Without the value the port cannot be shown to be free.
        Trace("Malloc failed, line: %d", 313);
        RegCloseKey(hKey);
        return 0;
    }
    status = RegQueryValueExA(hKey, pValueName, NULL, &type, (LPBYTE)pValue, &cbValue);
    // A value that fills the buffer without a terminator is not a port name:
    // it needs one byte more than the buffer has.
    if (status == ERROR_SUCCESS && !IsTerminated(pValue, MAX_PATH))
        status = ERROR_MORE_DATA;
    if (status == ERROR_SUCCESS && lstrlenA(pValue) + 5 > MAX_PATH)
        status = ERROR_MORE_DATA;  // "\\.\" and the name would not fit the path buffer
    if (status != ERROR_SUCCESS) {
        Trace("RegQueryValueEx failed, line: %d!\n", 337);
        Trace("Error code: 0x%x\n", status);
        RegCloseKey(hKey);
        LocalFree(pValue);
        return 1;
    }
    pPortPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pPortPath == NULL) {
        Trace("Malloc failed, line: %d", 348);
        RegCloseKey(hKey);
        LocalFree(pValue);
        return 0;
    }
    FormatText(pPortPath, MAX_PATH, "\\\\.\\%s", pValue);
    Trace("Port Name: %s", pPortPath);
    hPort = CreateFileA(pPortPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (hPort == INVALID_HANDLE_VALUE) {
        Trace("Open port failed, error code: 0x%x, line: %d\n", GetLastError(), 366);
        RegCloseKey(hKey);
        LocalFree(pValue);
        LocalFree(pPortPath);
        return 0;
    }
    RegCloseKey(hKey);
    CloseHandle(hPort);
    LocalFree(pValue);
    LocalFree(pPortPath);
    return 1;
}

int CheckPortBusy(int nSelector)
{
    SCAN_SETUP setup = {};

    if (nSelector == 0) {
        setup.pClassGuid = &GUID_DEVCLASS_MODEM;
        setup.pContext = (void *)"AttachedTo";
    } else {
        setup.pClassGuid = &GUID_DEVCLASS_PORTS;
        setup.pContext = (void *)"PortName";
    }
    setup.Flags = DIGCF_PRESENT;
    setup.Action = ProbeDevicePort;
    // A class whose devices cannot be listed holds no port; an enumeration
    // that fails ends the devices.
    return ScanDevices(&setup) != SCAN_STOPPED;
}
