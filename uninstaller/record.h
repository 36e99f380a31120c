// The run record that deployment systems and support read:
// HKLM\SOFTWARE\Omrak\Device Tools, always in the 64-bit registry view.
#ifndef UNINSTALLER_RECORD_H
#define UNINSTALLER_RECORD_H

#include <windows.h>

extern const char RecordKey[];  // "SOFTWARE\\Omrak\\Device Tools", below HKLM

// The local time now, ISO 8601 with its offset from UTC where Windows gives
// it ("2026-12-07T14:46:32+01:00"), for LastRun.
void LastRunText(char *pText, int cbText);

// Writes the record of a run, its result last: the old one goes first, so
// that a record left half written never reads as the last run's word.
// pLeft is the multi-string of things left (cbLeft bytes, its closing NUL
// included); bReboot whether a removal of this run asked for a restart.
// Only the run log hears of a failure.
void WriteRecord(const char *pResult, const char *pLeft, DWORD cbLeft, const char *pLastRun,
                 DWORD bReboot);

#endif
