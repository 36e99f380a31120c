// The run record in the registry, where deployment systems and support read
// it, and where the uninstaller writes it at the end of every run.
#include "record.h"

#include "../common/runlog.h"
#include "../common/trace.h"

const char RecordKey[] = "SOFTWARE\\Omrak\\Device Tools";

static void LogRecordFailure(const char *pCall, LONG status)
{
    char line[TRACE_BUFFER_SIZE];

    FormatText(line, sizeof(line), "(run record) not written: %s failed, Error code: 0x%x", pCall,
               (DWORD)status);
    RunLogLine(NULL, line);
}

void LastRunText(char *pText, int cbText)
{
    TIME_ZONE_INFORMATION zone;
    SYSTEMTIME now;
    DWORD zoneId;
    LONG bias;
    int offset;

    GetLocalTime(&now);
    zoneId = GetTimeZoneInformation(&zone);
    FormatText(pText, cbText, "%04d-%02d-%02dT%02d:%02d:%02d", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
    if (zoneId == TIME_ZONE_ID_INVALID)
        return;
    bias = zone.Bias + (zoneId == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                        : zoneId == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                          : 0);
    offset = bias <= 0 ? -bias : bias;
    FormatText(pText + lstrlenA(pText), cbText - lstrlenA(pText), "%c%02d:%02d",
               bias <= 0 ? '+' : '-', offset / 60, offset % 60);
}

void WriteRecord(const char *pResult, const char *pLeft, DWORD cbLeft, const char *pLastRun,
                 DWORD bReboot)
{
    DWORD reboot = bReboot != 0;
    HKEY hKey;
    LONG status;

    status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                             KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &hKey, NULL);
    if (status != ERROR_SUCCESS) {
        LogRecordFailure("RegCreateKeyExA", status);
        return;
    }
    status = RegDeleteValueA(hKey, "Result");
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogRecordFailure("RegDeleteValueA", status);
    } else if ((status = RegSetValueExA(hKey, "Left", 0, REG_MULTI_SZ, (const BYTE *)pLeft,
                                        cbLeft)) != ERROR_SUCCESS ||
               (status = RegSetValueExA(hKey, "Version", 0, REG_SZ, (const BYTE *)RELEASE_VERSION,
                                        (DWORD)sizeof(RELEASE_VERSION))) != ERROR_SUCCESS ||
               (status = RegSetValueExA(hKey, "LastRun", 0, REG_SZ, (const BYTE *)pLastRun,
                                        (DWORD)lstrlenA(pLastRun) + 1)) != ERROR_SUCCESS ||
               (status = RegSetValueExA(hKey, "RebootRequired", 0, REG_DWORD,
                                        (const BYTE *)&reboot, sizeof(reboot))) != ERROR_SUCCESS ||
               (status = RegSetValueExA(hKey, "Result", 0, REG_SZ, (const BYTE *)pResult,
                                        (DWORD)lstrlenA(pResult) + 1)) != ERROR_SUCCESS) {
        LogRecordFailure("RegSetValueExA", status);
    }
    RegCloseKey(hKey);
}

