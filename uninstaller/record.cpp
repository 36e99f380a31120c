// The run record in the registry, where deployment systems and support read
// it, and where the uninstaller writes it at the end of every run.
#include "record.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

typedef ULONGLONG(WINAPI *LPFN_GETTICKCOUNT64)(void);

const char RecordKey[] = "SOFTWARE\\Omrak\\Device Tools";

// Two runs whose start times of Windows lie this close run in one Windows
// session (the clock may be set between them).
#define SAME_SESSION_SECONDS 120

static void LogRecordFailure(const char *pWhat, const char *pCall, LONG status)
{
    char line[TRACE_BUFFER_SIZE];

    FormatText(line, sizeof(line), "(run record) %s: %s failed, Error code: 0x%x", pWhat, pCall,
               (DWORD)status);
    RunLogLine(NULL, line);
}

// ISO 8601 to the second; the length written.
static int TimeText(char *pText, int cbText, const SYSTEMTIME *pTime)
{
    FormatText(pText, cbText, "%04d-%02d-%02dT%02d:%02d:%02d", pTime->wYear, pTime->wMonth,
               pTime->wDay, pTime->wHour, pTime->wMinute, pTime->wSecond);
    return lstrlenA(pText);
}

void LastRunText(char *pText, int cbText)
{
    TIME_ZONE_INFORMATION zone;
    SYSTEMTIME now;
    DWORD zoneId;
    LONG bias;
    int cch;

    GetLocalTime(&now);
    zoneId = GetTimeZoneInformation(&zone);
    cch = TimeText(pText, cbText, &now);
    if (zoneId == TIME_ZONE_ID_INVALID)
        return;
    bias = zone.Bias + (zoneId == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                        : zoneId == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                          : 0);
    FormatText(pText + cch, cbText - cch, "%c%02d:%02d", bias <= 0 ? '+' : '-',
               (bias <= 0 ? -bias : bias) / 60, (bias <= 0 ? -bias : bias) % 60);
}

// When Windows started, UTC, as RebootBootTime holds it
// ("2026-12-07T05:02:10Z"), moved by offset seconds: the time now less the
// time since the start, GetTickCount64's, or on Windows XP, which lacks it,
// GetTickCount's, which wraps after 49.7 days. Such texts sort as their
// times do.
static void BootTimeText(char *pText, int cbText, LONGLONG offset)
{
    LPFN_GETTICKCOUNT64 fnGetTickCount64;
    FILETIME time;
    SYSTEMTIME st;
    ULONGLONG ticks;
    int cch;

    GetSystemTimeAsFileTime(&time);
    fnGetTickCount64 = (LPFN_GETTICKCOUNT64)(void (*)(void))FindFunction("kernel32",
                                                                        "GetTickCount64");
    ticks = (((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime) -
            (fnGetTickCount64 != NULL ? fnGetTickCount64() : GetTickCount()) * 10000ULL +
            (ULONGLONG)(offset * 10000000);
    time.dwLowDateTime = (DWORD)ticks;
    time.dwHighDateTime = (DWORD)(ticks >> 32);
    pText[0] = 0;
    if (FileTimeToSystemTime(&time, &st) && (cch = TimeText(pText, cbText, &st)) < cbText - 1)
        FormatText(pText + cch, cbText - cch, "Z");
}

static int InOrder(const char *pFirst, const char *pSecond)
{
    while (*pFirst != 0 && *pFirst == *pSecond)
        pFirst++, pSecond++;
    return (BYTE)*pFirst <= (BYTE)*pSecond;
}

// A failed read, not a value that is missing or not ours.
static int ReadFailed(LONG status)
{
    return status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_MORE_DATA;
}

// RebootRequired: 0 where there is none of ours (missing, or of another
// type or size), REBOOT_UNREAD where it cannot be read.
static DWORD RebootValue(HKEY hKey)
{
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD cb = sizeof(value);
    LONG status;

    status = RegQueryValueExA(hKey, "RebootRequired", NULL, &type, (BYTE *)&value, &cb);
    if (status == ERROR_SUCCESS && type == REG_DWORD && cb == sizeof(value))
        return value;
    return ReadFailed(status) ? REBOOT_UNREAD : 0;
}

// Whether RebootRequired stays as it is: a 1 set in this Windows session
// (RebootBootTime within SAME_SESSION_SECONDS of this run's), or a value
// that cannot be read, which may be a 1 that is true. A 1 of an earlier
// session, or of a release before RebootBootTime, takes the run's answer.
static int KeepsReboot(HKEY hKey)
{
    char set[24];
    char earliest[24];
    char latest[24];
    DWORD value = RebootValue(hKey);
    DWORD type = REG_NONE;
    DWORD cb = sizeof(set) - 1;
    LONG status;

    if (value != 1)
        return value == REBOOT_UNREAD;
    status = RegQueryValueExA(hKey, "RebootBootTime", NULL, &type, (BYTE *)set, &cb);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return ReadFailed(status);
    set[cb] = 0;
    BootTimeText(earliest, sizeof(earliest), -SAME_SESSION_SECONDS);
    BootTimeText(latest, sizeof(latest), SAME_SESSION_SECONDS);
    return InOrder(earliest, set) && InOrder(set, latest);
}

static LONG SetText(HKEY hKey, const char *pName, const char *pText)
{
    return RegSetValueExA(hKey, pName, 0, REG_SZ, (const BYTE *)pText, (DWORD)lstrlenA(pText) + 1);
}

int DeleteResult(void)
{
    const char *pCall = "RegOpenKeyExA";
    HKEY hKey;
    LONG status;

    status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                           &hKey);
    if (status == ERROR_SUCCESS) {
        pCall = "RegDeleteValueA";
        status = RegDeleteValueA(hKey, "Result");
        RegCloseKey(hKey);
    }
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return 1;
    LogRecordFailure("Result not deleted", pCall, status);
    return 0;
}

void WriteRecord(const char *pResult, const char *pLeft, DWORD cbLeft, const char *pLastRun,
                 DWORD bReboot)
{
    DWORD reboot = bReboot != 0;
    char bootTime[24];
    HKEY hKey;
    LONG status;
    int keep;

    status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                             KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, NULL, &hKey,
                             NULL);
    if (status != ERROR_SUCCESS) {
        LogRecordFailure("not written", "RegCreateKeyExA", status);
        return;
    }
    // A restart asked for is still due until Windows has started again.
    keep = !reboot && KeepsReboot(hKey);
    if (reboot)
        BootTimeText(bootTime, sizeof(bootTime), 0);
    status = RegDeleteValueA(hKey, "Result");
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogRecordFailure("not written", "RegDeleteValueA", status);
    } else if ((status = RegSetValueExA(hKey, "Left", 0, REG_MULTI_SZ, (const BYTE *)pLeft,
                                        cbLeft)) != ERROR_SUCCESS ||
               (status = SetText(hKey, "Version", RELEASE_VERSION)) != ERROR_SUCCESS ||
               (status = SetText(hKey, "LastRun", pLastRun)) != ERROR_SUCCESS ||
               (!keep && (status = RegSetValueExA(hKey, "RebootRequired", 0, REG_DWORD,
                                                  (const BYTE *)&reboot, sizeof(reboot))) !=
                             ERROR_SUCCESS) ||
               (reboot && (status = SetText(hKey, "RebootBootTime", bootTime)) != ERROR_SUCCESS) ||
               (status = SetText(hKey, "Result", pResult)) != ERROR_SUCCESS) {
        LogRecordFailure("not written", "RegSetValueExA", status);
    }
    RegCloseKey(hKey);
}

void ReadRecord(char *pResult, DWORD cbResult, DWORD *pReboot)
{
    DWORD type = REG_NONE;
    DWORD cb = cbResult - 1;
    HKEY hKey;

    pResult[0] = 0;
    *pReboot = REBOOT_UNREAD;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &hKey) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExA(hKey, "Result", NULL, &type, (BYTE *)pResult, &cb) != ERROR_SUCCESS ||
        type != REG_SZ)
        cb = 0;
    pResult[cb] = 0;
    *pReboot = RebootValue(hKey);
    RegCloseKey(hKey);
}
