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

// The file name at the end of a path.
const char *FileNameOf(const char *pPath);

// The first comma-separated field of the line at pContext, NUL included:
// its size in *pcbNeeded, copied into pField only when cbField holds it.
// Result 1 when the line text was read (also when nothing was copied), 0
// when it was not; *pcbNeeded is then left as it was.
int GetFirstField(PINFCONTEXT pContext, char *pField, DWORD cbField, DWORD *pcbNeeded);

// The sweep's rule: follows the first line of [Manufacturer] of the open INF
// file to the models section it names (undecorated, exactly as written) and
// reads that section's lines in file order. Result 1 at the first line whose
// text names a target hardware ID: *ppLine then holds that text,
// NUL-terminated, in a heap block the caller releases with LocalFree. Result
// 0 otherwise, with nothing held. A line that cannot be read is passed over;
// one that cannot even be sized ends the section. The first failure of a
// call that does not merely say "not there" is kept in *pError, 0 when the
// whole file was read: a 0 result then says nothing.
int FindTargetModelsLine(HINF hInf, char **ppLine, DWORD *pError);

// The wider rule: every models section that any line of [Manufacturer]
// names, undecorated and with each decoration the line lists
// ("Omrak.NTamd64", "Omrak.NTamd64.10.0...16299"), whatever the machine.
// Result 1 at the first line whose text names a target hardware ID, with
// that text in *ppLine as FindTargetModelsLine gives it; 0 otherwise. A
// failure of a call that does not merely say "not there" (a section or a
// line) is kept in *pError, 0 when the whole file was read: a 0 result then
// says nothing.
int FindProductModelsLine(HINF hInf, char **ppLine, DWORD *pError);

// What an INF file says of the product, by the one reading every program
// makes of it.
#define INF_NAMES_NOTHING 0
#define INF_SWEEP_RULE 1  // a line of the section the sweep's rule reads
#define INF_WIDER_RULE 2  // only a line of another models section

// Reads the open INF file by the sweep's rule and, for a published INF
// (bPublished), by the wider rule where the sweep's finds nothing. *ppLine
// holds the sweep rule's line as FindTargetModelsLine gives it, NULL for
// other results. *pError: the first failure of a read, 0 when the file was
// read whole; INF_NAMES_NOTHING then says nothing.
int JudgeInf(HINF hInf, int bPublished, char **ppLine, DWORD *pError);

// Opens an INF file as every program opens one (SetupOpenInfFileA with
// INF_STYLE_OLDNT | INF_STYLE_WIN4).
HINF OpenInf(const char *pFullPath);

// 1 when SetupAPI refused to open a file because it is no INF file at all,
// so that it names nothing; any other refusal leaves it unread.
int IsNoInf(DWORD error);

// Size, checksum and a first look at a file's raw bytes: whether they may
// name the product at all. Only a file whose bytes hold the vendor number
// "1F3C" and a product number, "3A41" or "3A42" (any letter case, as ANSI or
// UTF-16 text), each whole or up to a line continuation that could split it
// ("1\", "1F\", "1F3\"; "3\", "3A\", "3A4\"), can name a target hardware
// ID. (A number put together from [Strings] pieces would not be seen.)
typedef struct _INF_PRINT {
    DWORD Size;
    DWORD Sum;          // FNV-1a of the bytes, where it was asked for
    int MayNameProduct;
} INF_PRINT;

// Reads the file pFullPath once (with bSum, its checksum too). Result 1 with
// *pPrint filled, 0 when the file could not be read, with the reason in
// GetLastError.
int ReadInfPrint(const char *pFullPath, INF_PRINT *pPrint, int bSum);

// Runs once per entry of the search; pFullPath is the entry's full path,
// pFileName its name in the folder, dwAttributes its attributes.
typedef void (*INF_ENTRY_ACTION)(const char *pFullPath, const char *pFileName,
                                 DWORD dwAttributes, void *pContext);

// Searches %WINDIR%\inf\*.inf and runs Action on every entry the search
// delivers, in its order, files it deleted meanwhile included. An entry whose
// full path would not fit 260 bytes is passed over. Unless bQuiet, traces
// its own failures: a buffer that cannot be allocated, a search that finds
// nothing. Result 1 when the whole folder was walked (also when it holds no
// entry), 0 otherwise.
int WalkInfFolder(INF_ENTRY_ACTION Action, void *pContext, int bQuiet);

#endif
