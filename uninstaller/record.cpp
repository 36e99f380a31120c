// The run record in the registry, for deployment systems and support.
#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/runlog.h"
#include "../common/trace.h"

typedef ULONGLONG(WINAPI *LPFN_GETTICKCOUNT64)(void);

const char RecordKey[] = "SOFTWARE\\Omrak\\Device Tools";

// Runs whose start times of Windows lie this close (the clock may be set
// between them) run in one Windows session.
#define SAME_SESSION_SECONDS 120

static void LogRecordFailure(const char *pWhat, const char *pCall, LONG status)
{
    char line[TRACE_BUFFER_SIZE];

    FormatText(line, sizeof(line), "(run record) %s: %s failed, Error code: 0x%x", pWhat, pCall,
               (DWORD)status);
    RunLogLine(NULL, line);
}

// ISO 8601 to the second, then pZone.
static void TimeText(char *pText, int cbText, const SYSTEMTIME *pTime, const char *pZone)
{
    FormatText(pText, cbText, "%04d-%02d-%02dT%02d:%02d:%02d%s", pTime->wYear, pTime->wMonth,
               pTime->wDay, pTime->wHour, pTime->wMinute, pTime->wSecond, pZone);
}

void LastRunText(char *pText, int cbText)
{
    TIME_ZONE_INFORMATION zone;
    SYSTEMTIME now;
    char offset[8] = "";
    DWORD zoneId;
    LONG bias;

    GetLocalTime(&now);
    zoneId = GetTimeZoneInformation(&zone);
    if (zoneId != TIME_ZONE_ID_INVALID) {
        bias = zone.Bias + (zoneId == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                            : zoneId == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                              : 0);
        FormatText(offset, sizeof(offset), "%c%02d:%02d", bias <= 0 ? '+' : '-',
                   (bias <= 0 ? -bias : bias) / 60, (bias <= 0 ? -bias : bias) % 60);
    }
    TimeText(pText, cbText, &now, offset);
}

// When Windows started, moved by offset seconds, as RebootBootTime holds it
// (UTC, "2026-12-07T05:02:10Z", which sorts as its time): now less the time
// since the start (GetTickCount64; on XP GetTickCount, which wraps).
static void BootTimeText(char *pText, int cbText, LONGLONG offset)
{
    LPFN_GETTICKCOUNT64 fnGetTickCount64;
    FILETIME time;
    SYSTEMTIME st;
    ULONGLONG ticks;

    GetSystemTimeAsFileTime(&time);
    fnGetTickCount64 = (LPFN_GETTICKCOUNT64)(void (*)(void))FindFunction("kernel32",
                                                                        "GetTickCount64");
    ticks = (((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime) +
            (ULONGLONG)(offset * 10000000) -
            (fnGetTickCount64 != NULL ? fnGetTickCount64() : GetTickCount()) * 10000ULL;
    time.dwLowDateTime = (DWORD)ticks;
    time.dwHighDateTime = (DWORD)(ticks >> 32);
    pText[0] = 0;
    if (FileTimeToSystemTime(&time, &st))
        TimeText(pText, cbText, &st, "Z");
}

static int InOrder(const char *pFirst, const char *pSecond)
{
    while (*pFirst != 0 && *pFirst == *pSecond)
        pFirst++, pSecond++;
    return (BYTE)*pFirst <= (BYTE)*pSecond;
}

// A read that failed, not a value that is missing or not ours.
static int ReadFailed(LONG status)
{
    return status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_MORE_DATA;
}

DWORD ReadReboot(HKEY hKey)
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

// Whether RebootRequired stays: a 1 of this Windows session (RebootBootTime
// within SAME_SESSION_SECONDS of ours), or one that cannot be read, which may
// be true. A 1 of an earlier session takes the run's own answer.
static int KeepsReboot(HKEY hKey)
{
    char set[24];
    char earliest[24];
    char latest[24];
    DWORD value = ReadReboot(hKey);
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
    if ((status = RegSetValueExA(hKey, "Left", 0, REG_MULTI_SZ, (const BYTE *)pLeft, cbLeft)) !=
            ERROR_SUCCESS ||
        (status = SetText(hKey, "Version", RELEASE_VERSION)) != ERROR_SUCCESS ||
        (status = SetText(hKey, "LastRun", pLastRun)) != ERROR_SUCCESS ||
        (!keep && (status = RegSetValueExA(hKey, "RebootRequired", 0, REG_DWORD,
                                           (const BYTE *)&reboot, sizeof(reboot))) != ERROR_SUCCESS) ||
        (reboot && (status = SetText(hKey, "RebootBootTime", bootTime)) != ERROR_SUCCESS) ||
        (status = SetText(hKey, "Result", pResult)) != ERROR_SUCCESS)
        LogRecordFailure("not written", "RegSetValueExA", status);
    RegCloseKey(hKey);
}
