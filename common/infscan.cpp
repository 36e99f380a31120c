#include "infscan.h"

#include <string.h>

#include "hwid.h"
#include "trace.h"

int IsOemInfName(const char *pName)
{
    int i = 3;

    if (UpperAscii(pName[0]) != 'O' || UpperAscii(pName[1]) != 'E' || UpperAscii(pName[2]) != 'M')
        return 0;
    if (pName[i] < '0' || pName[i] > '9')
        return 0;
    while (pName[i] >= '0' && pName[i] <= '9')
        i++;
    return SameText(pName + i, ".inf");
}

const char *FileNameOf(const char *pPath)
{
    const char *pName = pPath;
    const char *p;

    for (p = pPath; *p != 0; p++)
        if (*p == '\\')
            pName = p + 1;
    return pName;
}

// The line's text in a new heap block, terminated, its size in *pcbText; NULL
// where it cannot be read (*pcbText 0 where it cannot even be sized).
static char *ReadLineText(PINFCONTEXT pContext, DWORD *pcbText)
{
    char *pText;
    DWORD error;

    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, NULL, 0, pcbText)) {
        *pcbText = 0;
        return NULL;
    }
    pText = (char *)LocalAlloc(LMEM_ZEROINIT, *pcbText + 1);
    if (pText == NULL || SetupGetLineTextA(pContext, NULL, NULL, NULL, pText, *pcbText, NULL))
        return pText;
    error = GetLastError();
    LocalFree(pText);
    SetLastError(error);
    return NULL;
}

int GetFirstField(PINFCONTEXT pContext, char *pField, DWORD cbField, DWORD *pcbNeeded)
{
    DWORD cbText = 0;
    DWORD cbFirst;
    DWORD i;
    char *pText = ReadLineText(pContext, &cbText);

    if (pText == NULL)
        return 0;
    for (cbFirst = 0; cbFirst < cbText && pText[cbFirst] != ','; cbFirst++)
        ;
    pText[cbFirst] = 0;
    cbFirst = cbFirst < cbText ? cbFirst + 1 : cbText;
    if (pField != NULL && cbField >= cbFirst)
        for (i = 0; i < cbFirst; i++)
            pField[i] = pText[i];
    *pcbNeeded = cbFirst;
    LocalFree(pText);
    return 1;
}

// Notes in *pError a failure of a read, the first only.
static void NoteFailure(DWORD *pError, DWORD error)
{
    if (*pError == 0)
        *pError = error != 0 ? error : ERROR_GEN_FAILURE;
}

// Notes a failed search that does not merely say "not there".
static void NoteSearchFailure(DWORD *pError)
{
    DWORD error = GetLastError();

    if (error != ERROR_LINE_NOT_FOUND && error != ERROR_SECTION_NOT_FOUND &&
        error != ERROR_NO_MORE_ITEMS && error != ERROR_SUCCESS)
        NoteFailure(pError, error);
}

// The line's text when it names a target hardware ID (a heap block for the
// caller), else NULL; *pStop where it cannot even be sized, which ends the
// section. The wider rule reads a line that fits a buffer of its own in one
// call; the sweep's rule sizes each line first.
static char *TargetLineText(PINFCONTEXT pContext, int bWider, int *pStop, DWORD *pError)
{
    char text[512];
    DWORD cbLine = 0;
    char *pLine = NULL;

    if (bWider && SetupGetLineTextA(pContext, NULL, NULL, NULL, text, sizeof(text), &cbLine) &&
        cbLine <= sizeof(text)) {
        if (!MatchTargetHwid(text, cbLine))
            return NULL;
        pLine = (char *)LocalAlloc(LMEM_ZEROINIT, cbLine);
        if (pLine == NULL)
            NoteFailure(pError, GetLastError());
        else
            FormatText(pLine, (int)cbLine, "%s", text);
        return pLine;
    }
    if (!bWider || GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        pLine = ReadLineText(pContext, &cbLine);
    else
        cbLine = 0;
    if (pLine == NULL) {
        NoteFailure(pError, GetLastError());
        *pStop = cbLine == 0;
    } else if (!MatchTargetHwid(pLine, cbLine)) {
        LocalFree(pLine);
        pLine = NULL;
    }
    return pLine;
}

// The first line of section pSection that names a target hardware ID, or NULL.
static char *FindInSection(HINF hInf, const char *pSection, int bWider, DWORD *pError)
{
    INFCONTEXT context;
    char *pLine = NULL;
    int stop = 0;
    int more;

    more = SetupFindFirstLineA(hInf, pSection, NULL, &context);
    while (more && (pLine = TargetLineText(&context, bWider, &stop, pError)) == NULL && !stop)
        more = SetupFindNextLine(&context, &context);
    if (!more)
        NoteSearchFailure(pError);
    return pLine;
}

// The field at *pAt up to the next comma, trimmed and cut in place; *pAt
// moves past it. NULL after the last.
static char *NextField(char **pAt)
{
    char *pField = *pAt;
    char *pEnd;
    char *p;

    if (pField == NULL)
        return NULL;
    for (p = pField; *p != 0 && *p != ','; p++)
        ;
    *pAt = *p == ',' ? p + 1 : NULL;
    *p = 0;
    while (*pField == ' ' || *pField == '\t')
        pField++;
    for (pEnd = p; pEnd > pField && (pEnd[-1] == ' ' || pEnd[-1] == '\t'); pEnd--)
        pEnd[-1] = 0;
    return pField;
}

// The models sections one [Manufacturer] line names: its first field, bare
// and with each decoration the others list ("Omrak.NTamd64").
static char *FindInManufacturerLine(HINF hInf, PINFCONTEXT pContext, DWORD *pError)
{
    char section[512];
    DWORD cbText = 0;
    char *pText = ReadLineText(pContext, &cbText);
    char *pAt = pText;
    char *pName;
    char *pDecoration;
    char *pLine = NULL;

    if (pText == NULL) {
        NoteFailure(pError, GetLastError());
        return NULL;
    }
    pName = NextField(&pAt);
    if (pName[0] != 0)
        pLine = FindInSection(hInf, pName, TRUE, pError);
    // A name longer than any section's (255 characters) is no section.
    while (pLine == NULL && pName[0] != 0 && (pDecoration = NextField(&pAt)) != NULL)
        if (pDecoration[0] != 0 && FormatText(section, sizeof(section), "%s.%s", pName, pDecoration))
            pLine = FindInSection(hInf, section, TRUE, pError);
    LocalFree(pText);
    return pLine;
}

int FindProductModelsLine(HINF hInf, char **ppLine, DWORD *pError)
{
    INFCONTEXT context;
    int more;

    *pError = 0;
    *ppLine = NULL;
    more = SetupFindFirstLineA(hInf, "Manufacturer", NULL, &context);
    while (more && (*ppLine = FindInManufacturerLine(hInf, &context, pError)) == NULL)
        more = SetupFindNextLine(&context, &context);
    if (!more)
        NoteSearchFailure(pError);
    return *ppLine != NULL;
}

// The sweep's rule, as JudgeInf reads it.
static int FindTargetModelsLine(HINF hInf, char **ppLine, DWORD *pError)
{
    INFCONTEXT context;
    DWORD cbSection = 0;
    char *pSection = NULL;

    *pError = 0;
    *ppLine = NULL;
    if (!SetupFindFirstLineA(hInf, "Manufacturer", NULL, &context))
        NoteSearchFailure(pError);
    else if (GetFirstField(&context, NULL, 0, &cbSection) &&
             (pSection = (char *)LocalAlloc(LMEM_ZEROINIT, cbSection)) != NULL &&
             GetFirstField(&context, pSection, cbSection, &cbSection))
        *ppLine = FindInSection(hInf, pSection, FALSE, pError);
    else
        NoteFailure(pError, GetLastError());
    LocalFree(pSection);
    return *ppLine != NULL;
}

int JudgeInf(HINF hInf, int bPublished, char **ppLine, DWORD *pError)
{
    char *pWider = NULL;
    DWORD widerError = 0;

    if (FindTargetModelsLine(hInf, ppLine, pError))
        return INF_SWEEP_RULE;
    if (!bPublished)
        return INF_NAMES_NOTHING;
    if (FindProductModelsLine(hInf, &pWider, &widerError)) {
        LocalFree(pWider);
        return INF_WIDER_RULE;
    }
    if (*pError == 0)
        *pError = widerError;
    return INF_NAMES_NOTHING;
}

HINF OpenInf(const char *pFullPath)
{
    UINT errorLine = 0;

    return SetupOpenInfFileA(pFullPath, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
}

int IsNoInf(DWORD error)
{
    return error == ERROR_EXPECTED_SECTION_NAME || error == ERROR_BAD_SECTION_NAME_LINE ||
           error == ERROR_SECTION_NAME_TOO_LONG || error == ERROR_GENERAL_SYNTAX ||
           error == ERROR_WRONG_INF_STYLE || error == ERROR_FILE_INVALID;
}

// ---- raw bytes ----

// Whether the n bytes at p hold the cb-byte pattern at i, letter case aside.
static int BytesAt(const BYTE *p, DWORD n, DWORD i, const char *pattern, DWORD cb)
{
    DWORD k;

    if (i + cb > n)
        return 0;
    for (k = 0; k < cb; k++) {
        if (UpperAscii((char)p[i + k]) != pattern[k])
            return 0;
    }
    return 1;
}

// The vendor number and the two product numbers as ANSI, UTF-16LE and
// UTF-16BE text, and the ends of their beginnings at a line continuation
// (where a backslash at a line's end joins the next line to it).
#define VENDOR_BYTES 1
#define PRODUCT_BYTES 2

static const struct {
    const char *Bytes;
    DWORD Size;
    int Group;
} ProductBytes[] = {
    {"1F3C", 4, VENDOR_BYTES},
    {"1\0F\0" "3\0C\0", 8, VENDOR_BYTES},
    {"\0" "1\0F\0" "3\0C", 8, VENDOR_BYTES},
    {"1\\", 2, VENDOR_BYTES},
    {"1F\\", 3, VENDOR_BYTES},
    {"1F3\\", 4, VENDOR_BYTES},
    {"1\0\\\0", 4, VENDOR_BYTES},
    {"1\0F\0\\\0", 6, VENDOR_BYTES},
    {"1\0F\0" "3\0\\\0", 8, VENDOR_BYTES},
    {"3A41", 4, PRODUCT_BYTES},
    {"3A42", 4, PRODUCT_BYTES},
    {"3\0A\0" "4\0" "1\0", 8, PRODUCT_BYTES},
    {"3\0A\0" "4\0" "2\0", 8, PRODUCT_BYTES},
    {"\0" "3\0A\0" "4\0" "1", 8, PRODUCT_BYTES},
    {"\0" "3\0A\0" "4\0" "2", 8, PRODUCT_BYTES},
    {"3\\", 2, PRODUCT_BYTES},
    {"3A\\", 3, PRODUCT_BYTES},
    {"3A4\\", 4, PRODUCT_BYTES},
    {"3\0\\\0", 4, PRODUCT_BYTES},
    {"3\0A\0\\\0", 6, PRODUCT_BYTES},
    {"3\0A\0" "4\0\\\0", 8, PRODUCT_BYTES},
};

// The groups of the patterns that begin at i of the n bytes at p, added
// to groups.
static int PatternsAt(const BYTE *p, DWORD n, DWORD i, int groups)
{
    DWORD k;

    for (k = 0; k < sizeof(ProductBytes) / sizeof(ProductBytes[0]); k++)
        if (!(groups & ProductBytes[k].Group) &&
            BytesAt(p, n, i, ProductBytes[k].Bytes, ProductBytes[k].Size))
            groups |= ProductBytes[k].Group;
    return groups;
}

// The groups of patterns the n bytes at p hold, added to groups. Every
// pattern begins with "1F", "1\\", "3A", "3\\", "1" or "3" and a NUL
// (UTF-16LE), or a NUL and one of them (UTF-16BE): only where the digit is.
// The product numbers come first: bytes that are a whole file and hold
// none need no look for the vendor's.
static int FindProductBytes(const BYTE *p, DWORD n, int groups, int bWhole)
{
    static const char digits[] = "31";
    static const char letters[] = "AF";
    static const int digitGroups[] = {PRODUCT_BYTES, VENDOR_BYTES};
    const BYTE *q;
    DWORD i;
    BYTE next;
    int d;

    for (d = 0; d < 2 && !(bWhole && d == 1 && !(groups & PRODUCT_BYTES)); d++) {
        for (q = p; !(groups & digitGroups[d]) &&
                    (q = (const BYTE *)memchr(q, digits[d], n - (DWORD)(q - p))) != NULL;
             q++) {
            i = (DWORD)(q - p);
            next = i + 1 < n ? p[i + 1] : 0xFF;
            if (UpperAscii((char)next) != letters[d] && next != '\\' && next != 0)
                continue;
            groups = PatternsAt(p, n, i, groups);
            if (i > 0 && p[i - 1] == 0)
                groups = PatternsAt(p, n, i - 1, groups);
        }
    }
    return groups;
}

// A read of this size takes a whole INF file as a rule, in one call.
#define PRINT_CHUNK 16384
#define PRINT_CARRY 7  // one byte less than the longest pattern

int ReadInfPrint(const char *pFullPath, INF_PRINT *pPrint, int bSum)
{
    BYTE buffer[PRINT_CARRY + PRINT_CHUNK];
    HANDLE hFile;
    DWORD carry = 0;
    DWORD got = 0;
    DWORD total;
    DWORD keep;
    DWORD i;
    DWORD error;
    int groups = 0;

    pPrint->Size = 0;
    pPrint->Sum = 2166136261u;
    pPrint->MayNameProduct = 0;
    hFile = CreateFileA(pFullPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (!ReadFile(hFile, buffer + carry, PRINT_CHUNK, &got, NULL)) {
            error = GetLastError();
            CloseHandle(hFile);
            SetLastError(error);
            return 0;
        }
        for (i = 0; bSum && i < got; i++) {
            pPrint->Sum ^= buffer[carry + i];
            pPrint->Sum *= 16777619u;
        }
        pPrint->Size += got;
        // A pattern may begin in the bytes carried over from the last chunk.
        groups = FindProductBytes(buffer, carry + got, groups, carry == 0 && got < PRINT_CHUNK);
        total = carry + got;
        keep = total < PRINT_CARRY ? total : PRINT_CARRY;
        for (i = 0; i < keep; i++)
            buffer[i] = buffer[total - keep + i];
        carry = keep;
        // A read of a file on disk comes back short only at its end.
    } while (got == PRINT_CHUNK);
    CloseHandle(hFile);
    pPrint->MayNameProduct = groups == (VENDOR_BYTES | PRODUCT_BYTES);
    return 1;
}

// The walk's three buffers.
#define WALK_WINDIR 0
#define WALK_PATTERN 1
#define WALK_ENTRY 2

// The walk, with the Windows folder and the pattern in ppBuffers.
static int WalkEntries(char **ppBuffers, INF_ENTRY_ACTION Action, void *pContext, int bQuiet)
{
    WIN32_FIND_DATAA findData = {};
    HANDLE hFind;
    DWORD error;
    DWORD i;
    int whole;

    hFind = FindFirstFileA(ppBuffers[WALK_PATTERN], &findData);
    if (hFind == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (!bQuiet)
            Trace("Get file list failed, line: %d\n", 383);
        return error == ERROR_FILE_NOT_FOUND;
    }
    do {
        for (i = 0; i < MAX_PATH; i++)
            ppBuffers[WALK_ENTRY][i] = 0;
        // An entry whose full path does not fit would be cut into another
        // file's name: it is passed over.
        if (FormatText(ppBuffers[WALK_ENTRY], MAX_PATH, "%s\\inf\\%s", ppBuffers[WALK_WINDIR],
                       findData.cFileName))
            Action(ppBuffers[WALK_ENTRY], findData.cFileName, findData.dwFileAttributes, pContext);
    } while (FindNextFileA(hFind, &findData));
    whole = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(hFind);
    return whole;
}

int WalkInfFolder(INF_ENTRY_ACTION Action, void *pContext, int bQuiet)
{
    static const int lines[] = {360, 366, 372};
    char *pBuffers[3] = {NULL, NULL, NULL};
    UINT cchWinDir;
    int whole = 0;
    int i;

    for (i = 0; i < 3 && (pBuffers[i] = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH)) != NULL; i++)
        ;
    if (i < 3 && !bQuiet)
        Trace("Malloc failed, line: %d\n", lines[i]);
    // Nothing is composed from a buffer the call did not fill.
    if (i == 3 && (cchWinDir = GetWindowsDirectoryA(pBuffers[WALK_WINDIR], MAX_PATH)) != 0 &&
        cchWinDir < MAX_PATH &&
        FormatText(pBuffers[WALK_PATTERN], MAX_PATH, "%s\\inf\\*.inf", pBuffers[WALK_WINDIR]))
        whole = WalkEntries(pBuffers, Action, pContext, bQuiet);
    for (i = 0; i < 3; i++)
        LocalFree(pBuffers[i]);
    return whole;
}
