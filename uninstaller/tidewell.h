// Tidewell, the uninstaller: its stages, the state of a run that main owns
// and hands to each stage, the run record, and the start of a program of
// ours beside it (which TidewellDeploy shares).
#ifndef UNINSTALLER_TIDEWELL_H
#define UNINSTALLER_TIDEWELL_H

#include <windows.h>
#include <setupapi.h>

#include "oeminf.h"

// An INF file of the inf folder that names the product, as the walk found it:
// a published INF by any models section, another by the sweep's rule.
typedef struct _INF_FOUND {
    char Path[MAX_PATH];  // its full path
    int Published;        // an oem<N>.inf, a driver package's published name
    int Gone;             // taken out in this run
    int Printed;          // Print holds its bytes' print (the run record's)
    INF_PRINT Print;
} INF_FOUND;

// A run of the uninstaller: zero at its start (RUN run = {}) but for the
// sibling's exit code; FreeRun releases what it holds.
typedef struct _RUN {
    INF_WORK Infs;              // the packages other devices use, those kept
    // The one walk of the inf folder: the files that name the product, and
    // whether it read every entry.
    INF_FOUND *pFound;
    DWORD FoundCount;
    DWORD FoundRoom;
    int Walked;     // 0, WALK_SWEEP or WALK_LOOK
    int WalkWhole;
    DWORD SiblingExitCode;      // STILL_ACTIVE while it has not run or cannot be read
    DWORD SiblingStartError;    // what kept it from starting (0: nothing)
    const char *pSiblingNotStarted;  // why it was not started, or NULL
    int RebootRequired;         // a removal of this run asked for a restart
} RUN;

#define WALK_SWEEP 1  // the sweep's walk
#define WALK_LOOK 2   // the record's own, of a run that made no sweep

void FreeRun(RUN *pRun);

// Entry and 64-bit hand-off. OpenAP starts pModule (with bWait waits for its
// exit code; *pError: what kept it from starting).
BOOL IsWow64(void);
BOOL OpenAP(const char *pModule, const char *pPath, BOOL bWait, DWORD *pExitCode, DWORD *pError);
void HandOff64(RUN *pRun);

// The refusal: the message box "Please close all program", or where nobody
// could see it that text traced.
void ShowRefusal(void);

// Port-busy check: selector 0 probes the Modem class ("AttachedTo"), any
// other value the Ports class ("PortName"). 1: go on; 0: a port is held.
int CheckPortBusy(int nSelector);

// Device removal with OEM INF deletion, in this process (32-bit Windows).
void RemoveTargetDevices(RUN *pRun);

// INF folder sweep: every file of %WINDIR%\inf\*.inf whose models section
// names the product is taken out; what each says of the product goes to the
// run. ScanInfFile is one file of it; LookAtInfFolder the same walk, quiet
// and taking nothing, for the record of a run that made no sweep.
void SweepInfFolder(RUN *pRun);
void ScanInfFile(RUN *pRun, const char *pFileName);
void LookAtInfFolder(RUN *pRun);
// The store work on 32-bit Windows, after the sweep: each published INF the
// walk found naming the product, by any models section, leaves the store.
void TakePublishedInfs(RUN *pRun);

// The run record, at the end of every run: what of the product is left
// (nodes, published INFs, INF files the sweep takes, store packages without
// their published INF) and one word for it ("clean", "left", "refused",
// "unknown" where the look could not finish), to the record and the run log.
void RecordRun(RUN *pRun, int bRefused);

// ---- the record: HKLM\SOFTWARE\Omrak\Device Tools, 64-bit view ----

extern const char RecordKey[];

// RebootRequired where it cannot be read.
#define REBOOT_UNREAD 0xFFFFFFFF

// The local time, ISO 8601 with its offset from UTC, for LastRun.
void LastRunText(char *pText, int cbText);

// Deletes Result, so that a run that dies leaves none: 1 when it is gone (a
// missing key or value counts), 0 where Windows refuses (run log only).
int DeleteResult(void);

// Writes the record of a run, Result last: pLeft the multi-string of things
// left (cbLeft bytes), bReboot whether a removal asked for a restart, which
// RebootRequired keeps until Windows has started again (RebootBootTime).
// Only the run log hears of a failure.
void WriteRecord(const char *pResult, const char *pLeft, DWORD cbLeft, const char *pLastRun,
                 DWORD bReboot);

// RebootRequired of the open key: 0 where there is none of ours,
// REBOOT_UNREAD where it cannot be read.
DWORD ReadReboot(HKEY hKey);

// ---- programs of ours beside this one ----

// Cuts the 260-byte path at its last backslash: the folder of a program's
// file. FALSE (traced) for a null argument, and for a path without one,
// which is cleared.
BOOL Transf2Path(char *pPath);

// This program's file name, its folder, and pName's full name in it (MAX_PATH
// each), empty where the module name cannot be read whole or it would not
// fit: nothing is ever started from anywhere but our own folder.
void ProgramBeside(const char *pName, char *pSelf, char *pFolder, char *pFullName);

// Whether this program's PE file carries a certificate table: 1 or 0.
int IsSelfSigned(void);

// Opens pProgram so that nobody can change or replace it, and checks that it
// carries a valid signature of pSelf's publisher. 1: start it, its file open
// in *phProgram until it is started; 0: *ppReason ("file not opened",
// "signed by another publisher", ...) and *pCode say why, nothing traced or
// left open.
int OpenTrustedProgram(const char *pSelf, const char *pProgram, HANDLE *phProgram,
                       const char **ppReason, DWORD *pCode);

// Starts pModule without arguments, its window hidden, in a new console, in
// pPath (NULL: ours); with bWait waits for its exit code (STILL_ACTIVE where
// it cannot be read). 0 with GetLastError's code in *pError. Not traced.
int StartProgram(const char *pModule, const char *pPath, BOOL bWait, DWORD *pExitCode,
                 DWORD *pError);

#endif
