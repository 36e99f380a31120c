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

int GetFirstField(PINFCONTEXT pContext, char *pField, DWORD cbField, DWORD *pcbNeeded)
{
    DWORD cbText = 0;
    DWORD cbFirst;
    DWORD i;
    char *pText;

    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, NULL, 0, &cbText))
        return 0;
    pText = (char *)LocalAlloc(LMEM_ZEROINIT, cbText);
    if (pText == NULL)
        return 0;
    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, pText, cbText, NULL)) {
        LocalFree(pText);
        return 0;
    }
    cbFirst = cbText;
    for (i = 0; i < cbText; i++) {
        if (pText[i] == ',') {
            pText[i] = 0;
            cbFirst = i + 1;
            break;
        }
    }
    if (pField != NULL && cbField >= cbFirst) {
        for (i = 0; i < cbFirst; i++)
            pField[i] = pText[i];
    }
    *pcbNeeded = cbFirst;
    LocalFree(pText);
    return 1;
}

// Notes in *pError (when there is one) a failure of a call that does not
// merely say "not there", the first only.
static void NoteFailure(DWORD *pError, DWORD error)
{
    if (pError != NULL && *pError == 0)
        *pError = error != 0 ? error : ERROR_GEN_FAILURE;
}

// 1 when a failed search for a section or line only says it is not there.
static int NotThere(DWORD error)
{
    return error == ERROR_LINE_NOT_FOUND || error == ERROR_SECTION_NOT_FOUND ||
           error == ERROR_NO_MORE_ITEMS || error == ERROR_SUCCESS;
}

// The text of the line at pContext when it names a target hardware ID (a
// heap block for the caller), else NULL. *pStop is set when the line text
// cannot even be sized: the models section ends there. Every failure is
// noted in *pError.
static char *TargetLineText(PINFCONTEXT pContext, int bWider, int *pStop, DWORD *pError)
{
    char text[512];
    DWORD cbLine = 0;
    char *pLine;

    // The wider rule reads a line that fits into a buffer of its own at
    // once; the sweep's rule sizes each line first.
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
    if (bWider && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        NoteFailure(pError, GetLastError());
        *pStop = 1;
        return NULL;
    }
    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, NULL, 0, &cbLine)) {
        NoteFailure(pError, GetLastError());
        *pStop = 1;
        return NULL;
    }
    pLine = (char *)LocalAlloc(LMEM_ZEROINIT, cbLine);
    if (pLine == NULL) {
        NoteFailure(pError, GetLastError());
        return NULL;
    }
    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, pLine, cbLine, NULL)) {
        NoteFailure(pError, GetLastError());
    } else if (IsTerminated(pLine, cbLine) && MatchTargetHwid(pLine, cbLine)) {
        return pLine;
    }
    LocalFree(pLine);
    return NULL;
}

// The first line of section pSection that names a target hardware ID, or
// NULL; failures other than a missing section go to *pError.
static char *FindInSection(HINF hInf, const char *pSection, int bWider, DWORD *pError)
{
    INFCONTEXT context;
    char *pLine = NULL;
    int stop = 0;

    if (!SetupFindFirstLineA(hInf, pSection, NULL, &context)) {
        if (!NotThere(GetLastError()))
            NoteFailure(pError, GetLastError());
        return NULL;
    }
    for (;;) {
        pLine = TargetLineText(&context, bWider, &stop, pError);
        if (pLine != NULL || stop)
            break;
        if (!SetupFindNextLine(&context, &context)) {
            if (!NotThere(GetLastError()))
                NoteFailure(pError, GetLastError());
            break;
        }
    }
    return pLine;
}

// The whole text of the line at pContext in a heap block, or NULL.
static char *LineText(PINFCONTEXT pContext, DWORD *pError)
{
    DWORD cbText = 0;
    char *pText;

    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, NULL, 0, &cbText)) {
        NoteFailure(pError, GetLastError());
        return NULL;
    }
    pText = (char *)LocalAlloc(LMEM_ZEROINIT, cbText + 1);
    if (pText == NULL) {
        NoteFailure(pError, GetLastError());
        return NULL;
    }
    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, pText, cbText, NULL)) {
        NoteFailure(pError, GetLastError());
        LocalFree(pText);
        return NULL;
    }
    pText[cbText] = 0;
    return pText;
}

// The field of pText from *pAt up to the next comma, blanks around it left
// out: NUL-terminated in place; *pAt moves past it. NULL after the last.
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

// The models sections that one [Manufacturer] line names: its first field,
// undecorated and with each decoration the further fields list
// ("Omrak.NTamd64"). The first matching line in pLine.
static char *FindInManufacturerLine(HINF hInf, PINFCONTEXT pContext, DWORD *pError)
{
    char *pText;
    char *pAt;
    char *pName;
    char *pDecoration;
    char *pSection;
    char *pLine;
    int cbSection;

    pText = LineText(pContext, pError);
    if (pText == NULL)
        return NULL;
    pAt = pText;
    pName = NextField(&pAt);
    pLine = pName[0] != 0 ? FindInSection(hInf, pName, TRUE, pError) : NULL;
    while (pLine == NULL && pName[0] != 0 && (pDecoration = NextField(&pAt)) != NULL) {
        if (pDecoration[0] == 0)
            continue;
        cbSection = lstrlenA(pName) + 1 + lstrlenA(pDecoration) + 1;
        pSection = (char *)LocalAlloc(LMEM_ZEROINIT, cbSection);
        if (pSection == NULL) {
            NoteFailure(pError, GetLastError());
            continue;
        }
        FormatText(pSection, cbSection, "%s.%s", pName, pDecoration);
        pLine = FindInSection(hInf, pSection, TRUE, pError);
        LocalFree(pSection);
    }
    LocalFree(pText);
    return pLine;
}

int FindProductModelsLine(HINF hInf, char **ppLine, DWORD *pError)
{
    INFCONTEXT context;
    char *pLine = NULL;

    *pError = 0;
    if (!SetupFindFirstLineA(hInf, "Manufacturer", NULL, &context)) {
        if (!NotThere(GetLastError()))
            NoteFailure(pError, GetLastError());
    } else {
        for (;;) {
            pLine = FindInManufacturerLine(hInf, &context, pError);
            if (pLine != NULL)
                break;
            if (!SetupFindNextLine(&context, &context)) {
                if (!NotThere(GetLastError()))
                    NoteFailure(pError, GetLastError());
                break;
            }
        }
    }
    *ppLine = pLine;
    return pLine != NULL;
}

int FindTargetModelsLine(HINF hInf, char **ppLine, DWORD *pError)
{
    INFCONTEXT context;
    DWORD cbSection = 0;
    char *pSection = NULL;
    char *pLine = NULL;

    *pError = 0;
    if (!SetupFindFirstLineA(hInf, "Manufacturer", NULL, &context)) {
        if (!NotThere(GetLastError()))
            NoteFailure(pError, GetLastError());
    } else if (!GetFirstField(&context, NULL, 0, &cbSection) ||
               (pSection = (char *)LocalAlloc(LMEM_ZEROINIT, cbSection)) == NULL ||
               !GetFirstField(&context, pSection, cbSection, &cbSection)) {
        NoteFailure(pError, GetLastError());
    } else {
        pLine = FindInSection(hInf, pSection, FALSE, pError);
    }
    if (pSection != NULL)
        LocalFree(pSection);
    *ppLine = pLine;
    return pLine != NULL;
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
    if (widerError != 0)
        NoteFailure(pError, widerError);
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

// Whether the bytes at p (n of them) hold pattern (cb bytes) at i, ASCII
// letters compared without regard to case.
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

int WalkInfFolder(INF_ENTRY_ACTION Action, void *pContext, int bQuiet)
{
    WIN32_FIND_DATAA findData;
    char *pWinDir;
    char *pPattern;
    char *pEntryPath;
    HANDLE hFind;
    UINT cchWinDir;
    DWORD error;
    int whole = 0;
    BYTE *p;
    DWORD i;

    for (p = (BYTE *)&findData, i = 0; i < sizeof(findData); i++)
        p[i] = 0;
    pWinDir = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pWinDir == NULL) {
        if (!bQuiet)
            Trace("Malloc failed, line: %d\n", 360);
        return 0;
    }
    pPattern = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pPattern == NULL) {
        if (!bQuiet)
            Trace("Malloc failed, line: %d\n", 366);
        LocalFree(pWinDir);
        return 0;
    }
    pEntryPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pEntryPath == NULL) {
        if (!bQuiet)
            Trace("Malloc failed, line: %d\n", 372);
        LocalFree(pPattern);
        LocalFree(pWinDir);
        return 0;
    }
    cchWinDir = GetWindowsDirectoryA(pWinDir, MAX_PATH);
    // Nothing is composed from a buffer the call did not fill.
    if (cchWinDir == 0 || cchWinDir >= MAX_PATH ||
        !FormatText(pPattern, MAX_PATH, "%s\\inf\\*.inf", pWinDir)) {
        LocalFree(pEntryPath);
        LocalFree(pPattern);
        LocalFree(pWinDir);
        return 0;
    }
    hFind = FindFirstFileA(pPattern, &findData);
    if (hFind == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (!bQuiet)
            Trace("Get file list failed, line: %d\n", 383);
        LocalFree(pEntryPath);
        LocalFree(pPattern);
        LocalFree(pWinDir);
        return error == ERROR_FILE_NOT_FOUND;
    }
    do {
        for (i = 0; i < MAX_PATH; i++)
            pEntryPath[i] = 0;
        // An entry whose full path does not fit would be cut into another
        // file's name: it is passed over.
        if (FormatText(pEntryPath, MAX_PATH, "%s\\inf\\%s", pWinDir, findData.cFileName))
            Action(pEntryPath, findData.cFileName, findData.dwFileAttributes, pContext);
    } while (FindNextFileA(hFind, &findData));
    whole = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(hFind);
    LocalFree(pEntryPath);
    LocalFree(pPattern);
    LocalFree(pWinDir);
    return whole;
}
