// Reading the inf folder: the walk over %WINDIR%\inf\*.inf and the reading
// of one INF file that decides whether it names the product. The
// uninstaller's sweep and its 64-bit sibling judge files by the same rules.
#ifndef COMMON_INFSCAN_H
#define COMMON_INFSCAN_H

#include <windows.h>
#include <setupapi.h>

// 1 when pName is "oem" + decimal digits + ".inf", letter case ignored: the
// only names Windows gives the third-party INF files it copies to its inf
// folder, the published names of driver packages.
int IsOemInfName(const char *pName);

// The first comma-separated field of the line at pContext, NUL included:
// its size in *pcbNeeded, copied into pField only when cbField holds it.
// Result 1 when the line text was read (also when nothing was copied), 0
// when it was not; *pcbNeeded is then left as it was.
int GetFirstField(PINFCONTEXT pContext, char *pField, DWORD cbField, DWORD *pcbNeeded);

// Follows the first line of [Manufacturer] of the open INF file to the
// models section it names (undecorated, exactly as written) and reads that
// section's lines in file order. Result 1 at the first line whose text names
// a target hardware ID: *ppLine then holds that text, NUL-terminated, in a
// heap block the caller releases with LocalFree. Result 0 otherwise, with
// nothing held. A line that cannot be read is passed over; one that cannot
// even be sized ends the section.
int FindTargetModelsLine(HINF hInf, char **ppLine);

// Runs once per entry of the search; pFullPath is the entry's full path,
// pFileName its name in the folder.
typedef void (*INF_ENTRY_ACTION)(const char *pFullPath, const char *pFileName, void *pContext);

// Searches %WINDIR%\inf\*.inf and runs Action on every entry the search
// delivers, in its order, files it deleted meanwhile included. An entry whose
// full path would not fit 260 bytes is passed over. Traces its own failures:
// a buffer that cannot be allocated, a search that finds nothing.
void WalkInfFolder(INF_ENTRY_ACTION Action, void *pContext);

#endif
