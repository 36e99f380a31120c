// The run record: at the end of every run, a read-only look at what of the
// product is still on the machine and one word for it, for the record that
// deployment systems read and for the run log. Nothing is traced or removed.
#include "tidewell.h"

#include "../common/devscan.h"
#include "../common/hwid.h"
#include "../common/infscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

// Entries of "Left": a thing left and, where the run knows it, why; as a
// multi-string, room for the last "and <n> more" and the closing NUL.
#define LEFT_MAX 64
#define LEFT_SIZE 320
#define LEFT_BLOCK (LEFT_MAX * LEFT_SIZE + 64)

typedef struct _INVENTORY {
    const RUN *pRun;
    char Left[LEFT_BLOCK];  // the entries as a multi-string
    DWORD cbLeft;    // bytes of the entries, each with its NUL
    DWORD Count;     // entries listed
    DWORD Unlisted;  // things left beyond LEFT_MAX
    int Counting;    // things left that make the result "left"
    int Complete;    // every look finished
} INVENTORY;

// Lists one thing left; bCounts: it makes the result "left" (a package kept
// for a device that is not the product's does not).
static void AddLeft(INVENTORY *pInv, int bCounts, const char *pFormat, const char *pWhat,
                    const char *pWhy)
{
    if (bCounts)
        pInv->Counting++;
    if (pInv->Count == LEFT_MAX) {
        pInv->Unlisted++;
        return;
    }
    FormatText(pInv->Left + pInv->cbLeft, LEFT_SIZE, pFormat, pWhat, pWhy);
    pInv->cbLeft += lstrlenA(pInv->Left + pInv->cbLeft) + 1;
    pInv->Count++;
}

// ---- device nodes ----

// Why the product's nodes are still there, where this run knows it.
static void NodeWhy(const RUN *pRun, char *pWhy, int cbWhy)
{
    pWhy[0] = 0;
    if (pRun->pSiblingNotStarted != NULL)
        FormatText(pWhy, cbWhy, " (Tidewell64.exe not started: %s, error 0x%x)",
                   pRun->pSiblingNotStarted, pRun->SiblingStartError);
    else if (pRun->SiblingExitCode != STILL_ACTIVE && pRun->SiblingExitCode != 0 &&
             pRun->SiblingExitCode != ERROR_SUCCESS_REBOOT_REQUIRED)
        FormatText(pWhy, cbWhy, " (Tidewell64.exe ended with exit code %u)", pRun->SiblingExitCode);
}

static int NoteNodeLeft(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                        DWORD cbHwIds, void *pContext)
{
    INVENTORY *pInv = (INVENTORY *)pContext;
    char instanceId[DEVICE_ID_SIZE];
    char why[TRACE_BUFFER_SIZE];

    (void)pHwIds;
    (void)cbHwIds;
    if (!SetupDiGetDeviceInstanceIdA(hDevInfo, pDevInfoData, instanceId, sizeof(instanceId), NULL))
        FormatText(instanceId, sizeof(instanceId), "(instance ID unknown)");
    NodeWhy(pInv->pRun, why, sizeof(why));
    AddLeft(pInv, TRUE, "device %s%s", instanceId, why);
    return 1;
}

// A node whose hardware IDs cannot be read may be the product's.
static int NoteNodeUnread(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, const char *pHwIds,
                          DWORD cbHwIds, void *pContext)
{
    (void)hDevInfo;
    (void)pDevInfoData;
    (void)pHwIds;
    (void)cbHwIds;
    ((INVENTORY *)pContext)->Complete = 0;
    return 1;
}

static void LookAtNodes(INVENTORY *pInv)
{
    SCAN_SETUP setup = {};

    setup.Flags = DIGCF_ALLCLASSES;  // attached or not, of every class
    setup.Action = NoteNodeLeft;
    setup.UnreadAction = NoteNodeUnread;
    setup.pContext = pInv;
    if (ScanDevices(&setup) != SCAN_WHOLE)
        pInv->Complete = 0;
}

// ---- the inf folder, as the run's walk found it ----

// Each file the walk found naming the product and the run left: a published
// INF by any models section, another file by the sweep's rule. A published
// one still there gets its print, for the store's copies of it.
static void LookAtFound(INVENTORY *pInv, RUN *pRun)
{
    char why[DEVICE_ID_SIZE + 40];
    int kind;
    DWORD i;

    if (!pRun->WalkWhole)
        pInv->Complete = 0;
    for (i = 0; i < pRun->FoundCount; i++) {
        INF_FOUND *pFound = &pRun->pFound[i];
        const char *pName = FileNameOf(pFound->Path);

        if (pFound->Gone)
            continue;
        if (!pFound->Published) {
            AddLeft(pInv, TRUE, "%s%s", pName, "");
            continue;
        }
        pFound->Printed = ReadInfPrint(pFound->Path, &pFound->Print, TRUE);
        if (!pFound->Printed)
            pInv->Complete = 0;
        // A package another device uses stays by our own rule: listed, but
        // not counted as the product's.
        kind = KeptWhy(&pRun->Infs, pName, why, sizeof(why));
        AddLeft(pInv, kind != KEPT_FOR_OTHER_DEVICE, why[0] != 0 ? "%s (%s)" : "%s%s", pName, why);
    }
}

// ---- the driver store ----

static int IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A store INF whose bytes *pPrint holds: where they may name the product
// and no published INF left in the inf folder has them (the same size and
// checksum: a package's INF is byte for byte its published copy), read as
// an INF. One that names the product is a package whose published INF is
// gone, named in Left.
static void JudgeStoreInf(INVENTORY *pInv, const char *pPath, const char *pDisplay,
                          INF_PRINT *pPrint)
{
    const RUN *pRun = pInv->pRun;
    HINF hInf;
    char *pLine = NULL;
    DWORD error = 0;
    int summed = 0;
    int rule;
    DWORD i;

    if (!pPrint->MayNameProduct)
        return;
    // Its checksum only where its size is that of a published INF left.
    for (i = 0; i < pRun->FoundCount; i++) {
        const INF_FOUND *pFound = &pRun->pFound[i];

        if (!pFound->Printed || pFound->Print.Size != pPrint->Size)
            continue;
        if (!summed && !(summed = ReadInfPrint(pPath, pPrint, TRUE))) {
            pInv->Complete = 0;
            return;
        }
        if (pFound->Print.Sum == pPrint->Sum)
            return;
    }
    hInf = OpenInf(pPath);
    if (hInf == INVALID_HANDLE_VALUE) {
        if (!IsNoInf(GetLastError()))
            pInv->Complete = 0;
        return;
    }
    rule = JudgeInf(hInf, TRUE, &pLine, &error);
    LocalFree(pLine);
    SetupCloseInfFile(hInf);
    if (rule != INF_NAMES_NOTHING)
        AddLeft(pInv, TRUE, "%s%s", pDisplay, " (no published INF)");
    else if (error != 0)
        pInv->Complete = 0;
}

// The full path of an INF in a package's folder, as this process reaches it
// (pSystem: "Sysnative" or "System32"), and as the record shows it
// (System32). 0 when either does not fit.
static int StoreInfPaths(char *pPath, char *pDisplay, const char *pSystem, const char *pPackage,
                         const char *pInfName)
{
    return WindowsPath(pPath, "\\%s\\DriverStore\\FileRepository\\%s\\%s", pSystem, pPackage,
                       pInfName) &&
           WindowsPath(pDisplay, "\\System32\\DriverStore\\FileRepository\\%s\\%s", pPackage,
                       pInfName);
}

// The length of the INF name that begins a package folder's name, as
// Windows names them ("<name>.inf_<arch>_<hash>"), or 0.
static int PackageInfNameLength(const char *pPackage)
{
    int length = 0;
    int i;

    for (i = 0; pPackage[i] != 0; i++)
        if (pPackage[i] == '.' && UpperAscii(pPackage[i + 1]) == 'I' &&
            UpperAscii(pPackage[i + 2]) == 'N' && UpperAscii(pPackage[i + 3]) == 'F' &&
            pPackage[i + 4] == '_')
            length = i + 4;
    return length;
}

// A package's folder in the store: the INF its name names is read straight
// away; a folder named otherwise, or without that file, is searched for its
// INF files.
static void LookInPackage(INVENTORY *pInv, const char *pSystem, const char *pPackage)
{
    WIN32_FIND_DATAA findData;
    INF_PRINT print;
    HANDLE hFind;
    char path[MAX_PATH];
    char display[MAX_PATH];
    char infName[MAX_PATH];
    int cchName;

    cchName = PackageInfNameLength(pPackage);
    if (cchName > 0 && cchName < MAX_PATH) {
        FormatText(infName, cchName + 1, "%s", pPackage);  // the name alone, cut off there
        if (StoreInfPaths(path, display, pSystem, pPackage, infName) &&
            ReadInfPrint(path, &print, FALSE)) {
            JudgeStoreInf(pInv, path, display, &print);
            return;
        }
        if (!IsMissing(GetLastError())) {
            pInv->Complete = 0;
            return;
        }
    }
    if (!WindowsPath(path, "\\%s\\DriverStore\\FileRepository\\%s\\*.inf", pSystem, pPackage)) {
        pInv->Complete = 0;
        return;
    }
    hFind = FindFirstFileA(path, &findData);
    if (hFind == INVALID_HANDLE_VALUE) {
        if (!IsMissing(GetLastError()))
            pInv->Complete = 0;
        return;
    }
    do {
        if (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (StoreInfPaths(path, display, pSystem, pPackage, findData.cFileName) &&
            ReadInfPrint(path, &print, FALSE))
            JudgeStoreInf(pInv, path, display, &print);
        else
            pInv->Complete = 0;
    } while (FindNextFileA(hFind, &findData));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        pInv->Complete = 0;
    FindClose(hFind);
}

// The 64-bit store, also from this 32-bit process: a 32-bit process on
// 64-bit Windows reaches System32 through Sysnative. Without a store folder
// (Windows XP) there is nothing to find.
static void LookInStore(INVENTORY *pInv)
{
    static const char *const systemFolders[] = {"Sysnative", "System32"};
    WIN32_FIND_DATAA findData;
    char pattern[MAX_PATH];
    const char *pSystem = NULL;
    HANDLE hFind = INVALID_HANDLE_VALUE;
    int i;

    for (i = 0; i < 2 && hFind == INVALID_HANDLE_VALUE; i++) {
        pSystem = systemFolders[i];
        if (!WindowsPath(pattern, "\\%s\\DriverStore\\FileRepository\\*", pSystem)) {
            pInv->Complete = 0;
            return;
        }
        hFind = FindFirstFileA(pattern, &findData);
        if (hFind == INVALID_HANDLE_VALUE && !IsMissing(GetLastError())) {
            pInv->Complete = 0;
            return;
        }
    }
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            lstrlenA(findData.cFileName) == 0 || findData.cFileName[0] == '.')
            continue;
        LookInPackage(pInv, pSystem, findData.cFileName);
    } while (FindNextFileA(hFind, &findData));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        pInv->Complete = 0;
    FindClose(hFind);
}

// ---- the record ----

void RecordRun(RUN *pRun, int bRefused)
{
    INVENTORY inv = {};
    char line[LEFT_SIZE + 16];
    char lastRun[40];
    const char *pResult;
    const char *pEntry;
    // On 64-bit Windows the sibling asks for a restart with its exit code.
    DWORD reboot = pRun->RebootRequired || pRun->SiblingExitCode == ERROR_SUCCESS_REBOOT_REQUIRED;

    // The run's work is done: its end is now.
    LastRunText(lastRun, sizeof(lastRun));
    inv.pRun = pRun;
    inv.Complete = 1;
    LookAtNodes(&inv);
    // A run that made no sweep walks the folder for the record alone.
    if (!pRun->Walked)
        LookAtInfFolder(pRun);
    LookAtFound(&inv, pRun);
    LookInStore(&inv);
    pResult = bRefused         ? "refused"
              : !inv.Complete  ? "unknown"
              : inv.Counting   ? "left"
                               : "clean";
    FormatText(line, sizeof(line), "== result: %s", pResult);
    RunLogLine(NULL, line);
    if (inv.Unlisted != 0) {
        FormatText(inv.Left + inv.cbLeft, LEFT_BLOCK - inv.cbLeft - 1, "and %u more", inv.Unlisted);
        inv.cbLeft += lstrlenA(inv.Left + inv.cbLeft) + 1;
    }
    // "Left" is a multi-string: its entries, each with its NUL, and one more
    // NUL (two for an empty list); the block is zero beyond them.
    for (pEntry = inv.Left; pEntry < inv.Left + inv.cbLeft; pEntry += lstrlenA(pEntry) + 1) {
        FormatText(line, sizeof(line), "== left: %s", pEntry);
        RunLogLine(NULL, line);
    }
    WriteRecord(pResult, inv.Left, inv.cbLeft != 0 ? inv.cbLeft + 1 : 2, lastRun, reboot);
}
