// The run record that deployment systems and support read:
// HKLM\SOFTWARE\Omrak\Device Tools, always in the 64-bit registry view.
#ifndef UNINSTALLER_RECORD_H
#define UNINSTALLER_RECORD_H

#include <windows.h>

extern const char RecordKey[];  // "SOFTWARE\\Omrak\\Device Tools", below HKLM

// ReadRecord's RebootRequired where it cannot be read.
#define REBOOT_UNREAD 0xFFFFFFFF

// The local time now, ISO 8601 with its offset from UTC where Windows gives
// it ("2026-12-07T14:46:32+01:00"), for LastRun.
void LastRunText(char *pText, int cbText);

// Deletes the record's Result, so that a run that dies or never starts
// leaves none: 1 when it is gone (a missing key or value counts as
// deleted); 0 where Windows refuses (a run that is not elevated), which
// only the run log hears of.
int DeleteResult(void);

// Writes the record of a run, its result last (the run deleted the old one
// when it started), so that a record left half written never reads as the
// last run's word. pLeft is the multi-string of things left (cbLeft bytes, its closing NUL
// included); bReboot whether a removal of this run asked for a restart,
// which RebootRequired keeps until Windows has started again (with
// RebootBootTime, when Windows had started as it was asked for). Only the
// run log hears of a failure.
void WriteRecord(const char *pResult, const char *pLeft, DWORD cbLeft, const char *pLastRun,
                 DWORD bReboot);

// Reads Result into pResult (cbResult bytes; empty where there is none or
// it cannot be read) and RebootRequired into *pReboot (0 where there is
// none, REBOOT_UNREAD where it cannot be read).
void ReadRecord(char *pResult, DWORD cbResult, DWORD *pReboot);

#endif
