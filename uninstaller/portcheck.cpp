// Port-busy check: the uninstaller refuses while a program holds one of the
// product's modem or serial ports open.
#include <initguid.h>
#include <devguid.h>

#include "tidewell.h"

#include "../common/devscan.h"
#include "../common/hwid.h"
#include "../common/trace.h"

// Opens the port whose name the value holds exclusively and closes it again
// at once. 1: free, or a value that is no port name, go on; 0: busy (or not
// provably free), refuse.
static int ProbePort(const char *pValue, LONG status)
{
    char *pPortPath;
    HANDLE hPort;

    if (status != ERROR_SUCCESS) {
        Trace("RegQueryValueEx failed, line: %d!\n", 337);
        Trace("Error code: 0x%x\n", status);
        return 1;
    }
    pPortPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pPortPath == NULL) {
        Trace("Malloc failed, line: %d", 348);
        return 0;
    }
    FormatText(pPortPath, MAX_PATH, "\\\\.\\%s", pValue);
    Trace("Port Name: %s", pPortPath);
    hPort = CreateFileA(pPortPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    LocalFree(pPortPath);
    if (hPort == INVALID_HANDLE_VALUE) {
        Trace("Open port failed, error code: 0x%x, line: %d\n", GetLastError(), 366);
        return 0;
    }
    CloseHandle(hPort);
    return 1;
}

// Reads the device's port name and probes the port. Without the value the
// port cannot be shown to be free.
static int ProbeDevicePort(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                           DWORD cbHwIds, void *pContext)
{
    HKEY hKey;
    char *pValue;
    DWORD type = 0;
    DWORD cbValue = MAX_PATH;
    LONG status;
    int goOn = 0;

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
        Trace("Malloc failed, line: %d", 313);
    } else {
        status = RegQueryValueExA(hKey, (const char *)pContext, NULL, &type, (LPBYTE)pValue,
                                  &cbValue);
        // A value that fills the buffer without a terminator, or whose port
        // path ("\\.\" and the name) would not fit the path buffer, is no
        // port name: it needs more bytes than there are.
        if (status == ERROR_SUCCESS &&
            (!IsTerminated(pValue, MAX_PATH) || lstrlenA(pValue) + 5 > MAX_PATH))
            status = ERROR_MORE_DATA;
        goOn = ProbePort(pValue, status);
    }
    RegCloseKey(hKey);
    LocalFree(pValue);
    return goOn;
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
