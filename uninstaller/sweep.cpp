// The walk of the inf folder, once per run: the sweep takes out every INF
// file of %WINDIR%\inf whose models section names the product, and each
// file's answer, read on the sweep's own open INF handle, is kept for the
// store work and the run record.
#include "tidewell.h"

#include "../common/infscan.h"
#include "../common/trace.h"

void FreeRun(RUN *pRun)
{
    FreeInfWork(&pRun->Infs);
    LocalFree(pRun->pFound);
    pRun->pFound = NULL;
    pRun->FoundCount = pRun->FoundRoom = 0;
}

// Keeps a file that names the product. One the list cannot hold leaves the
// walk unfinished; a published INF among them, which the store work then
// cannot take, is kept with the error, unless the run keeps it already.
static void NoteFound(RUN *pRun, const char *pFullPath, int bPublished, int bGone)
{
    const char *pName = FileNameOf(pFullPath);
    INF_FOUND *pList;
    INF_FOUND *pFound;
    char why[4];
    DWORD error;

    pList = (INF_FOUND *)GrowTable(pRun->pFound, &pRun->FoundRoom, pRun->FoundCount,
                                   sizeof(INF_FOUND));
    if (pList == NULL) {
        error = GetLastError();
        pRun->WalkWhole = 0;
        if (bPublished && !bGone && KeptWhy(&pRun->Infs, pName, why, sizeof(why)) == KEPT_NOT_KNOWN)
            NoteKept(&pRun->Infs, pName, FALSE, error, FALSE);
        return;
    }
    pRun->pFound = pList;
    pFound = &pList[pRun->FoundCount++];
    FormatText(pFound->Path, sizeof(pFound->Path), "%s", pFullPath);
    pFound->Published = bPublished;
    pFound->Gone = bGone;
}

// One entry of the folder, read as an INF; with bSweep, traced and taken
// out when its models section names the product.
static void LookAtEntry(RUN *pRun, const char *pFullPath, DWORD dwAttributes, int bSweep)
{
    const int bPublished = IsOemInfName(FileNameOf(pFullPath));
    HINF hInf;
    char *pLine = NULL;
    DWORD error = 0;
    int rule;
    int outcome;
    int gone = 0;

    hInf = OpenInf(pFullPath);
    if (hInf == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (bSweep) {
            Trace("INVALID_HANDLE_VALUE, line: %d", 210);
            Trace("pFileName: %s", pFullPath);
        }
        // A folder, or a file that is no INF at all, names nothing.
        if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsNoInf(error))
            pRun->WalkWhole = 0;
        return;
    }
    rule = JudgeInf(hInf, bPublished, &pLine, &error);
    if (error != 0)
        pRun->WalkWhole = 0;
    if (rule == INF_SWEEP_RULE && bSweep) {
        Trace("---Find file contain our HWID---\n");
        Trace("File full name: %s\n", pFullPath);
        Trace("Device context: %s\n", pLine);
        // The file goes while its INF handle is still open.
        outcome = RemoveInfFile(&pRun->Infs, pFullPath, &error);
        gone = INF_GONE(outcome);
    }
    LocalFree(pLine);
    if (rule != INF_NAMES_NOTHING)
        NoteFound(pRun, pFullPath, bPublished, gone);
    SetupCloseInfFile(hInf);
}

void ScanInfFile(RUN *pRun, const char *pFileName)
{
    LookAtEntry(pRun, pFileName, 0, TRUE);
}

// Every entry is read, directories too.
static void WalkEntry(const char *pFullPath, const char *pFileName, DWORD dwAttributes,
                      void *pContext)
{
    RUN *pRun = (RUN *)pContext;

    (void)pFileName;
    LookAtEntry(pRun, pFullPath, dwAttributes, pRun->Walked == WALK_SWEEP);
}

static void Walk(RUN *pRun, int how)
{
    pRun->Walked = how;
    pRun->WalkWhole = 1;
    if (!WalkInfFolder(WalkEntry, pRun, how != WALK_SWEEP))
        pRun->WalkWhole = 0;
}

void SweepInfFolder(RUN *pRun)
{
    Walk(pRun, WALK_SWEEP);
}

void LookAtInfFolder(RUN *pRun)
{
    Walk(pRun, WALK_LOOK);
}

void TakePublishedInfs(RUN *pRun)
{
    DWORD error = 0;
    DWORD i;
    int outcome;

    for (i = 0; i < pRun->FoundCount; i++) {
        INF_FOUND *pFound = &pRun->pFound[i];

        if (!pFound->Published || pFound->Gone)
            continue;
        outcome = RemoveInfFile(&pRun->Infs, pFound->Path, &error);
        pFound->Gone = INF_GONE(outcome);
        TraceTaken(FileNameOf(pFound->Path), outcome);
    }
}
