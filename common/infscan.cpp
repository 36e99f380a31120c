#include "infscan.h"

#include "hwid.h"
#include "trace.h"

static int SameLetter(char c, char lower)
{
    return c == lower || c == lower - 'a' + 'A';
}

int IsOemInfName(const char *pName)
{
    int i = 3;

    if (!SameLetter(pName[0], 'o') || !SameLetter(pName[1], 'e') || !SameLetter(pName[2], 'm'))
        return 0;
    if (pName[i] < '0' || pName[i] > '9')
        return 0;
    while (pName[i] >= '0' && pName[i] <= '9')
        i++;
    return pName[i] == '.' && SameLetter(pName[i + 1], 'i') && SameLetter(pName[i + 2], 'n') &&
           SameLetter(pName[i + 3], 'f') && pName[i + 4] == 0;
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

// The text of the line at pContext when it names a target hardware ID (a
// heap block for the caller), else NULL. *pStop is set when the line text
// cannot even be sized: the models section ends there.
static char *TargetLineText(PINFCONTEXT pContext, int *pStop)
{
    DWORD cbLine = 0;
    char *pLine;

    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, NULL, 0, &cbLine)) {
        *pStop = 1;
        return NULL;
    }
    pLine = (char *)LocalAlloc(LMEM_ZEROINIT, cbLine);
    if (pLine == NULL)
        return NULL;
    if (SetupGetLineTextA(pContext, NULL, NULL, NULL, pLine, cbLine, NULL) &&
        IsTerminated(pLine, cbLine) && MatchTargetHwid(pLine, cbLine))
        return pLine;
    LocalFree(pLine);
    return NULL;
}

int FindTargetModelsLine(HINF hInf, char **ppLine)
{
    INFCONTEXT context;
    DWORD cbSection = 0;
    char *pSection = NULL;
    char *pLine = NULL;
    int stop = 0;

    if (SetupFindFirstLineA(hInf, "Manufacturer", NULL, &context) &&
        GetFirstField(&context, NULL, 0, &cbSection) &&
        (pSection = (char *)LocalAlloc(LMEM_ZEROINIT, cbSection)) != NULL &&
        GetFirstField(&context, pSection, cbSection, &cbSection) &&
        SetupFindFirstLineA(hInf, pSection, NULL, &context)) {
        do {
            pLine = TargetLineText(&context, &stop);
        } while (pLine == NULL && !stop && SetupFindNextLine(&context, &context));
    }
    if (pSection != NULL)
        LocalFree(pSection);
    *ppLine = pLine;
    return pLine != NULL;
}

void WalkInfFolder(INF_ENTRY_ACTION Action, void *pContext)
{
    WIN32_FIND_DATAA findData;
    char *pWinDir;
    char *pPattern;
    char *pEntryPath;
    HANDLE hFind;
    UINT cchWinDir;
    BYTE *p;
    DWORD i;

    for (p = (BYTE *)&findData, i = 0; i < sizeof(findData); i++)
        p[i] = 0;
    pWinDir = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pWinDir == NULL) {
        Trace("Malloc failed, line: %d\n", 360);
        return;
    }
    pPattern = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pPattern == NULL) {
        Trace("Malloc failed, line: %d\n", 366);
        LocalFree(pWinDir);
        return;
    }
    pEntryPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (pEntryPath == NULL) {
        Trace("Malloc failed, line: %d\n", 372);
        LocalFree(pPattern);
        LocalFree(pWinDir);
        return;
    }
    cchWinDir = GetWindowsDirectoryA(pWinDir, MAX_PATH);
    // Nothing is composed from a buffer the call did not fill.
    if (cchWinDir == 0 || cchWinDir >= MAX_PATH ||
        !FormatText(pPattern, MAX_PATH, "%s\\inf\\*.inf", pWinDir)) {
        LocalFree(pEntryPath);
        LocalFree(pPattern);
        LocalFree(pWinDir);
        return;
    }
    hFind = FindFirstFileA(pPattern, &findData);
    if (hFind == INVALID_HANDLE_VALUE) {
        Trace("Get file list failed, line: %d\n", 383);
        LocalFree(pEntryPath);
        LocalFree(pPattern);
        LocalFree(pWinDir);
        return;
    }
    do {
        for (i = 0; i < MAX_PATH; i++)
            pEntryPath[i] = 0;
        // An entry whose full path does not fit would be cut into another
        // file's name: it is passed over.
        if (FormatText(pEntryPath, MAX_PATH, "%s\\inf\\%s", pWinDir, findData.cFileName))
            Action(pEntryPath, findData.cFileName, pContext);
    } while (FindNextFileA(hFind, &findData));
    FindClose(hFind);
    LocalFree(pEntryPath);
    LocalFree(pPattern);
    LocalFree(pWinDir);
}
