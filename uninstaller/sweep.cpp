// INF folder sweep: every INF file in %WINDIR%\inf whose models section names
// the product is deleted.
#include "tidewell.h"

#include "oeminf.h"

#include "../common/hwid.h"
#include "../common/trace.h"

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

// 1 when the text of the line at pContext names a target hardware ID; the
// file's match traces are written then. *pStop is set when the line text
// cannot even be sized (the models section ends there).
static int LineNamesTarget(PINFCONTEXT pContext, const char *pFileName, int *pStop)
{
    DWORD cbLine = 0;
    char *pLine;
    int found = 0;

    if (!SetupGetLineTextA(pContext, NULL, NULL, NULL, NULL, 0, &cbLine)) {
        *pStop = 1;
        return 0;
    }
    pLine = (char *)LocalAlloc(LMEM_ZEROINIT, cbLine);
    if (pLine == NULL)
        return 0;
    if (SetupGetLineTextA(pContext, NULL, NULL, NULL, pLine, cbLine, NULL) &&
        IsTerminated(pLine, cbLine) && MatchTargetHwid(pLine, cbLine)) {
        Trace("---Find file contain our HWID---\n");
        Trace("File full name: %s\n", pFileName);
        Trace("Device context: %s\n", pLine);
        found = 1;
    }
    LocalFree(pLine);
    return found;
}

// The file name at the end of a path.
static const char *NameOfPath(const char *pPath)
{
    const char *pName = pPath;
    const char *p;

    for (p = pPath; *p != 0; p++)
        if (*p == '\\')
            pName = p + 1;
    return pName;
}

void ScanInfFile(const char *pFileName)
{
    HINF hInf;
    UINT errorLine = 0;
    INFCONTEXT context;
    DWORD cbSection = 0;
    char *pSection = NULL;
    int stop = 0;
    DWORD error = 0;

    hInf = SetupOpenInfFileA(pFileName, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
    if (hInf == INVALID_HANDLE_VALUE) {
        Trace("INVALID_HANDLE_VALUE, line: %d", 210);
        Trace("pFileName: %s", pFileName);
        return;
    }
    if (SetupFindFirstLineA(hInf, "Manufacturer", NULL, &context) &&
        GetFirstField(&context, NULL, 0, &cbSection) &&
        (pSection = (char *)LocalAlloc(LMEM_ZEROINIT, cbSection)) != NULL &&
        GetFirstField(&context, pSection, cbSection, &cbSection) &&
        SetupFindFirstLineA(hInf, pSection, NULL, &context)) {
        do {
            if (LineNamesTarget(&context, pFileName, &stop)) {
                // The file goes while its INF handle is still open.
                RemoveInfFile(pFileName, NameOfPath(pFileName), &error);
                break;
            }
        } while (!stop && SetupFindNextLine(&context, &context));
    }
    if (pSection != NULL)
        LocalFree(pSection);
    SetupCloseInfFile(hInf);
}

void SweepInfFolder(void)
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
            ScanInfFile(pEntryPath);
    } while (FindNextFileA(hFind, &findData));
    FindClose(hFind);
    LocalFree(pEntryPath);
    LocalFree(pPattern);
    LocalFree(pWinDir);
}
