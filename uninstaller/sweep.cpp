// INF folder sweep: every INF file in %WINDIR%\inf whose models section names
// the product is taken out.
#include "tidewell.h"

#include "oeminf.h"

#include "../common/infscan.h"
#include "../common/trace.h"

void ScanInfFile(const char *pFileName)
{
    HINF hInf;
    UINT errorLine = 0;
    char *pLine;
    DWORD error = 0;

    hInf = SetupOpenInfFileA(pFileName, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
    if (hInf == INVALID_HANDLE_VALUE) {
        Trace("INVALID_HANDLE_VALUE, line: %d", 210);
        Trace("pFileName: %s", pFileName);
        return;
    }
    if (FindTargetModelsLine(hInf, &pLine)) {
        Trace("---Find file contain our HWID---\n");
        Trace("File full name: %s\n", pFileName);
        Trace("Device context: %s\n", pLine);
        // The file goes while its INF handle is still open.
        RemoveInfFile(pFileName, &error);
        LocalFree(pLine);
    }
    SetupCloseInfFile(hInf);
}

static void ScanEntry(const char *pFullPath, const char *pFileName, DWORD dwAttributes,
                      void *pContext)
{
    (void)pFileName;
    (void)dwAttributes;  // every entry is scanned, directories too
    (void)pContext;
    ScanInfFile(pFullPath);
}

void SweepInfFolder(void)
{
    WalkInfFolder(ScanEntry, NULL, FALSE);
}
