// Reading the inf folder: the walk over %WINDIR%\inf\*.inf and the one
// reading of an INF file by which every program judges whether it names the
// product.
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

// The wider rule: every models section that any line of [Manufacturer]
// names, undecorated and with each decoration the line lists
// ("Omrak.NTamd64", "Omrak.NTamd64.10.0...16299"), whatever the machine.
// Result 1 at the first line whose text names a target hardware ID: *ppLine
// holds that text in a heap block for the caller (LocalFree); 0 otherwise.
// *pError: the first failure of a read, 0 when the file was read whole (a
// 0 result then says nothing).
int FindProductModelsLine(HINF hInf, char **ppLine, DWORD *pError);

// What an INF file says of the product, by the one reading every program
// makes of it.
#define INF_NAMES_NOTHING 0
#define INF_SWEEP_RULE 1  // a line of the section the sweep's rule reads
#define INF_WIDER_RULE 2  // only a line of another models section

// Reads the open INF file by the sweep's rule (the models section the first
// line of [Manufacturer] names, undecorated, exactly as written, its lines
// in file order; a line that cannot be read is passed over, one that cannot
// even be sized ends the section) and, for a published INF (bPublished),
// by the wider rule where the sweep's finds nothing. *ppLine: the sweep
// rule's line, as FindProductModelsLine gives one, else NULL; *pError as
// FindProductModelsLine's.
int JudgeInf(HINF hInf, int bPublished, char **ppLine, DWORD *pError);

// Opens an INF file as every program opens one (SetupOpenInfFileA with
// INF_STYLE_OLDNT | INF_STYLE_WIN4).
HINF OpenInf(const char *pFullPath);

// 1 when SetupAPI refused a file as no INF at all: it names nothing.
int IsNoInf(DWORD error);

// Size, checksum and a first look at a file's raw bytes: only one that
// holds the vendor number "1F3C" and a product number, "3A41" or "3A42"
// (any letter case, ANSI or UTF-16), each whole or up to a line continuation
// that could split it ("1\", "1F\", "1F3\"; "3\", "3A\", "3A4\"), can name
// the product. (A number put together from [Strings] pieces is not seen.)
typedef struct _INF_PRINT {
    DWORD Size;
    DWORD Sum;          // FNV-1a of the bytes, where it was asked for
    int MayNameProduct;
} INF_PRINT;

// Reads the file pFullPath once (with bSum, its checksum too): 0, with the
// reason in GetLastError, when it cannot be read.
int ReadInfPrint(const char *pFullPath, INF_PRINT *pPrint, int bSum);

// Runs once per entry of the search, with its full path, name and attributes.
typedef void (*INF_ENTRY_ACTION)(const char *pFullPath, const char *pFileName,
                                 DWORD dwAttributes, void *pContext);

// Runs Action on every entry %WINDIR%\inf\*.inf delivers, in its order, one
// whose full path would not fit 260 bytes passed over. Unless bQuiet, traces
// its own failures (a buffer, a search that finds nothing). Result 1 when
// the whole folder was walked (also when it holds no entry).
int WalkInfFolder(INF_ENTRY_ACTION Action, void *pContext, int bQuiet);

#endif
