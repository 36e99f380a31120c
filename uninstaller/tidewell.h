// Tidewell, the uninstaller: its stages and the routines its main uses.
#ifndef UNINSTALLER_TIDEWELL_H
#define UNINSTALLER_TIDEWELL_H

#include <windows.h>
#include <setupapi.h>

#include "../common/infscan.h"

// Number of OEM INF files the device removal deleted in this run (the
// 64-bit hand-off sets it to 0).
extern DWORD g_RemovedDevices;

// Entry and 64-bit hand-off.
BOOL IsWow64(void);
BOOL OpenAP(const char *pModule, const char *pPath, BOOL bWait);
void HandOff64(void);

// The refusal: the message box "Please close all program", or, where nobody
// could see it, the same text as a trace line.
void ShowRefusal(void);

// Port-busy check: selector 0 probes the Modem class ("AttachedTo"), any
// other value the Ports class ("PortName"). 1: go on; 0: a port is held.
int CheckPortBusy(int nSelector);

// Device removal with OEM INF deletion.
void RemoveTargetDevices(void);
int DeleteDeviceInf(HDEVINFO hDevInfo, SP_DEVINFO_DATA devInfoData);

// INF folder sweep.
void SweepInfFolder(void);
void ScanInfFile(const char *pFileName);

// The run record, at the end of every run: what of the product is left
// (device nodes, published INFs, INF files the sweep takes, packages in the
// driver store without their published INF), one word for it ("clean",
// "left", "refused" after a refusal, "unknown" where the look could not
// finish), written to HKLM\SOFTWARE\Omrak\Device Tools (64-bit view) and to
// the run log. Nothing is removed, nothing traced.
void RecordRun(int bRefused);

// Whether a removal of this run asked Windows for a restart.
extern DWORD g_RebootRequired;
// The sibling's exit code (STILL_ACTIVE while it has not run or cannot be
// read), and the error that kept it from starting (0: none).
extern DWORD g_SiblingExitCode;
extern DWORD g_SiblingStartError;
// Why the sibling was not started, or NULL.
extern const char *g_pSiblingNotStarted;

#endif
