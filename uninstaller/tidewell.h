// Tidewell, the uninstaller: its stages, the routines its main uses, and
// the state of a run that main owns and hands to each stage.
#ifndef UNINSTALLER_TIDEWELL_H
#define UNINSTALLER_TIDEWELL_H

#include <windows.h>
#include <setupapi.h>

#include "oeminf.h"

// An INF file of the inf folder that names the product, as the walk of the
// folder found it.
typedef struct _INF_FOUND {
    char Path[MAX_PATH];  // its full path
    int Rule;             // INF_SWEEP_RULE or INF_WIDER_RULE
    int Published;        // an oem<N>.inf, a driver package's published name
    int Gone;             // taken out in this run
    int Printed;          // Print holds its bytes' print (the run record's)
    INF_PRINT Print;
} INF_FOUND;

// A run of the uninstaller. Zero at its start (RUN run = {}) but for the
// sibling's exit code; FreeRun releases what it holds.
typedef struct _RUN {
    INF_WORK Infs;              // the packages other devices use, those kept
    // The walk of the inf folder, one per run: every file that names the
    // product, and whether the walk read every entry.
    INF_FOUND *pFound;
    DWORD FoundCount;
    DWORD FoundRoom;
    int Walked;
    int WalkWhole;
    DWORD SiblingExitCode;      // STILL_ACTIVE while it has not run or cannot be read
    DWORD SiblingStartError;    // what kept it from starting (0: nothing)
    const char *pSiblingNotStarted;  // why it was not started, or NULL
    int RebootRequired;         // a removal of this run asked for a restart
} RUN;

void FreeRun(RUN *pRun);

// Entry and 64-bit hand-off.
BOOL IsWow64(void);
// Starts pModule and, when bWait, waits for its end; its exit code goes to
// *pExitCode, what kept it from starting to *pError.
BOOL OpenAP(const char *pModule, const char *pPath, BOOL bWait, DWORD *pExitCode, DWORD *pError);
void HandOff64(RUN *pRun);

// The refusal: the message box "Please close all program", or, where nobody
// could see it, the same text as a trace line.
void ShowRefusal(void);

// Port-busy check: selector 0 probes the Modem class ("AttachedTo"), any
// other value the Ports class ("PortName"). 1: go on; 0: a port is held.
int CheckPortBusy(int nSelector);

// Device removal with OEM INF deletion, in this process (32-bit Windows).
void RemoveTargetDevices(RUN *pRun);

// INF folder sweep: every file of %WINDIR%\inf\*.inf whose models section
// names the product is taken out, and what each file says of the product
// goes to the run. ScanInfFile is one file of it.
void SweepInfFolder(RUN *pRun);
void ScanInfFile(RUN *pRun, const char *pFileName);
// The same walk without the sweep's traces and without taking anything, for
// the run record of a run that made no sweep.
void LookAtInfFolder(RUN *pRun);
// The store work on 32-bit Windows, after the sweep: every published INF the
// walk found naming the product by any of its models sections and still
// there leaves the store, one trace line for each taken.
void TakePublishedInfs(RUN *pRun);

// The run record, at the end of every run: what of the product is left
// (device nodes, published INFs, INF files the sweep takes, packages in the
// driver store without their published INF), one word for it ("clean",
// "left", "refused" after a refusal, "unknown" where the look could not
// finish), written to HKLM\SOFTWARE\Omrak\Device Tools (64-bit view) and to
// the run log. Nothing is removed, nothing traced.
void RecordRun(RUN *pRun, int bRefused);

#endif
