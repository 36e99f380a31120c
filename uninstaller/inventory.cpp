// The run record: at the end of every run, a read-only look at what of the
// product is still on the machine, one word for it, and the record that
// deployment systems read (HKLM\SOFTWARE\Omrak\Device Tools, 64-bit view)
// and the run log keeps. Nothing here writes to the debug-output channel or
// removes anything.
#include "tidewell.h"

#include "oeminf.h"
#include "record.h"

#include "../common/devscan.h"
#include "../common/infscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

// Entries of "Left": a thing left and, where the run knows it, why; as a
// multi-string, room for the last "and <n> more" and the closing NUL.
#define LEFT_MAX 64
#define LEFT_SIZE 320
#define LEFT_BLOCK (LEFT_MAX * LEFT_SIZE + 64)
// The inf folder's files read as INFs, whose bytes a store INF may repeat.
#define KNOWN_MAX 1024

// A file of the inf folder read as an INF: its bytes, whether the wider
// rule finds the product in them, and whether it is a published INF. A
// package's INF in the driver store is byte for byte its published copy in
// the inf folder, so that the store's INFs need not be read as INFs again,
// and a store INF of the product with no published copy is a package whose
// published INF is gone.
typedef struct _KNOWN_INF {
    DWORD Size;
    DWORD Sum;
    int Names;
    int Published;
} KNOWN_INF;

typedef struct _INVENTORY {
    char *pLeft;     // the entries as a multi-string (LEFT_BLOCK), then Known (one block)
    DWORD cbLeft;    // bytes of the entries, each with its NUL
    DWORD Count;     // entries listed
    DWORD Unlisted;  // things left beyond LEFT_MAX
    int Counting;    // things left that make the result "left"
    int Complete;    // every look finished
    KNOWN_INF *pKnown;  // KNOWN_MAX entries, in pLeft's block
    DWORD KnownCount;
    char *pPath;     // a MAX_PATH buffer for composing paths
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
    FormatText(pInv->pLeft + pInv->cbLeft, LEFT_SIZE, pFormat, pWhat, pWhy);
    pInv->cbLeft += lstrlenA(pInv->pLeft + pInv->cbLeft) + 1;
    pInv->Count++;
}

// ---- device nodes ----

// Why the product's nodes are still there, where this run knows it.
static void NodeWhy(char *pWhy, int cbWhy)
{
    pWhy[0] = 0;
    if (g_pSiblingNotStarted != NULL)
        FormatText(pWhy, cbWhy, " (Tidewell64.exe not started: %s, error 0x%x)", g_pSiblingNotStarted,
                   g_SiblingStartError);
    else if (g_SiblingExitCode != STILL_ACTIVE && g_SiblingExitCode != 0 &&
             g_SiblingExitCode != ERROR_SUCCESS_REBOOT_REQUIRED)
        FormatText(pWhy, cbWhy, " (Tidewell64.exe ended with exit code %u)", g_SiblingExitCode);
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
    NodeWhy(why, sizeof(why));
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
    DWORD endError = 0;

    setup.Flags = DIGCF_ALLCLASSES;  // attached or not, of every class
    setup.Action = NoteNodeLeft;
    setup.UnreadAction = NoteNodeUnread;
    setup.pContext = pInv;
    setup.DoneResult = 1;
    setup.pEndError = &endError;
    if (!ScanDevices(&setup) || endError != ERROR_NO_MORE_ITEMS)
        pInv->Complete = 0;
}

// ---- INF files ----

// 1 when a file that SetupAPI refused to open is no INF file at all, so that
// it names nothing; any other refusal leaves the look unfinished.
static int IsNoInf(DWORD error)
{
    return error == ERROR_EXPECTED_SECTION_NAME || error == ERROR_BAD_SECTION_NAME_LINE ||
           error == ERROR_SECTION_NAME_TOO_LONG || error == ERROR_GENERAL_SYNTAX ||
           error == ERROR_WRONG_INF_STYLE || error == ERROR_FILE_INVALID;
}

// The rules a file is read by.
#define RULE_SWEEP 0  // the sweep's own (an inf-folder name that is no published INF's)
#define RULE_WIDER 1  // every models section (a published INF)
#define RULE_STORE 2  // the wider rule, for a store INF

// Keeps what the wider rule found in an inf-folder file. A published INF of
// the product that cannot be kept leaves the look unfinished: a store INF
// could not be held against it; other store INFs of these bytes are read.
static void NoteKnown(INVENTORY *pInv, const INF_PRINT *pPrint, int bNames, int bPublished)
{
    KNOWN_INF *pKnown;

    if (pInv->KnownCount == KNOWN_MAX) {
        if (bNames && bPublished)
            pInv->Complete = 0;
        return;
    }
    pKnown = &pInv->pKnown[pInv->KnownCount++];
    pKnown->Size = pPrint->Size;
    pKnown->Sum = pPrint->Sum;
    pKnown->Names = bNames;
    pKnown->Published = bPublished;
}

// The inf-folder file read as an INF before whose bytes pPrint has, or NULL.
static const KNOWN_INF *FindKnown(const INVENTORY *pInv, const INF_PRINT *pPrint)
{
    DWORD i;

    for (i = 0; i < pInv->KnownCount; i++)
        if (pInv->pKnown[i].Size == pPrint->Size && pInv->pKnown[i].Sum == pPrint->Sum)
            return &pInv->pKnown[i];
    return NULL;
}

// Reads an INF file whose raw bytes *pPrint holds by the rule given: 1 when
// it names the product, 0 when it does not; an unfinished reading leaves
// the look unfinished. NamesProduct reads the raw bytes first.
static int JudgePrinted(INVENTORY *pInv, const char *pFullPath, int rule, INF_PRINT *pPrint)
{
    HINF hInf;
    UINT errorLine = 0;
    char *pLine = NULL;
    DWORD error = 0;
    const KNOWN_INF *pKnown;
    int names;
    int wider;

    if (!pPrint->MayNameProduct)
        return 0;
    if (rule == RULE_STORE && (pKnown = FindKnown(pInv, pPrint)) != NULL)
        return pKnown->Names;
    hInf = SetupOpenInfFileA(pFullPath, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
    if (hInf == INVALID_HANDLE_VALUE) {
        if (!IsNoInf(GetLastError()))
            pInv->Complete = 0;
        return 0;
    }
    if (rule != RULE_SWEEP) {
        names = FindProductModelsLine(hInf, &pLine, &error);
        if (!names && error != 0)
            pInv->Complete = 0;
        else if (rule == RULE_WIDER)
            NoteKnown(pInv, pPrint, names, TRUE);
    } else {
        names = FindTargetModelsLine(hInf, &pLine);
        // What the wider rule finds in the same bytes, for the store; where
        // it cannot finish, a store INF of these bytes is read itself.
        if (pLine != NULL)
            LocalFree(pLine);
        pLine = NULL;
        wider = FindProductModelsLine(hInf, &pLine, &error);
        if (wider || error == 0)
            NoteKnown(pInv, pPrint, wider, FALSE);
    }
    if (pLine != NULL)
        LocalFree(pLine);
    SetupCloseInfFile(hInf);
    return names;
}

static int NamesProduct(INVENTORY *pInv, const char *pFullPath, int rule, INF_PRINT *pPrint)
{
    if (!ReadInfPrint(pFullPath, pPrint)) {
        pInv->Complete = 0;
        return 0;
    }
    return JudgePrinted(pInv, pFullPath, rule, pPrint);
}

// An entry of the inf folder: a published INF that names the product by
// any models section, or another INF file that the sweep would take.
static void LookAtInfEntry(const char *pFullPath, const char *pFileName, DWORD dwAttributes,
                           void *pContext)
{
    INVENTORY *pInv = (INVENTORY *)pContext;
    INF_PRINT print;
    char why[DEVICE_ID_SIZE + 40];
    int published = IsOemInfName(pFileName);

    if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return;
    if (!NamesProduct(pInv, pFullPath, published ? RULE_WIDER : RULE_SWEEP, &print))
        return;
    if (!published) {
        AddLeft(pInv, TRUE, "%s%s", pFileName, "");
        return;
    }
    // A package another device uses stays by our own rule: listed, but not
    // counted as the product's.
    if (KeptWhy(pFileName, why, sizeof(why)) == KEPT_FOR_OTHER_DEVICE)
        AddLeft(pInv, FALSE, "%s (%s)", pFileName, why);
    else if (why[0] != 0)
        AddLeft(pInv, TRUE, "%s (%s)", pFileName, why);
    else
        AddLeft(pInv, TRUE, "%s%s", pFileName, "");
}

// ---- the driver store ----

static int IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// One INF of a package's folder in the store, read: named in Left when it
// names the product and no published INF has its bytes (the same size and
// checksum), a package whose published INF is gone.
static void JudgeStoreInf(INVENTORY *pInv, const char *pPath, const char *pDisplay,
                          INF_PRINT *pPrint)
{
    const KNOWN_INF *pKnown;

    if (!JudgePrinted(pInv, pPath, RULE_STORE, pPrint))
        return;
    pKnown = FindKnown(pInv, pPrint);
    if (pKnown == NULL || !pKnown->Published)
        AddLeft(pInv, TRUE, "%s%s", pDisplay, " (no published INF)");
}

// The full path of an INF in a package's folder, as this process reaches it
// (pSystem: "Sysnative" or "System32") and as the record shows it
// (System32). 0 when either does not fit.
static int StoreInfPaths(char *pPath, char *pDisplay, const char *pWindowsDir,
                         const char *pSystem, const char *pPackage, const char *pInfName)
{
    return FormatText(pPath, MAX_PATH, "%s\\%s\\DriverStore\\FileRepository\\%s\\%s", pWindowsDir,
                      pSystem, pPackage, pInfName) &&
           FormatText(pDisplay, MAX_PATH, "%s\\System32\\DriverStore\\FileRepository\\%s\\%s",
                      pWindowsDir, pPackage, pInfName);
}

// The length of the INF name that begins a package folder's name, as
// Windows names them ("<name>.inf_<arch>_<hash>"), or 0.
static int PackageInfNameLength(const char *pPackage)
{
    int length = 0;
    int i;

    for (i = 0; pPackage[i] != 0; i++)
        if (pPackage[i] == '.' && (pPackage[i + 1] | 0x20) == 'i' && (pPackage[i + 2] | 0x20) == 'n' &&
            (pPackage[i + 3] | 0x20) == 'f' && pPackage[i + 4] == '_')
            length = i + 4;
    return length;
}

// A package's folder in the store: the INF its name names is read straight
// away; a folder named otherwise, or without that file, is searched for its
// INF files.
static void LookInPackage(INVENTORY *pInv, const char *pWindowsDir, const char *pSystem,
                          const char *pPackage)
{
    WIN32_FIND_DATAA findData;
    INF_PRINT print;
    HANDLE hFind;
    char display[MAX_PATH];
    char infName[MAX_PATH];
    int cchName;

    cchName = PackageInfNameLength(pPackage);
    if (cchName > 0 && cchName < MAX_PATH) {
        FormatText(infName, cchName + 1, "%s", pPackage);  // the name alone, cut off there
        if (StoreInfPaths(pInv->pPath, display, pWindowsDir, pSystem, pPackage, infName)) {
            if (ReadInfPrint(pInv->pPath, &print)) {
                JudgeStoreInf(pInv, pInv->pPath, display, &print);
                return;
            }
            if (!IsMissing(GetLastError())) {
                pInv->Complete = 0;
                return;
            }
        }
    }
    if (!FormatText(pInv->pPath, MAX_PATH, "%s\\%s\\DriverStore\\FileRepository\\%s\\*.inf",
                    pWindowsDir, pSystem, pPackage)) {
        pInv->Complete = 0;
        return;
    }
    hFind = FindFirstFileA(pInv->pPath, &findData);
    if (hFind == INVALID_HANDLE_VALUE) {
        if (!IsMissing(GetLastError()))
            pInv->Complete = 0;
        return;
    }
    do {
        if (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!StoreInfPaths(pInv->pPath, display, pWindowsDir, pSystem, pPackage,
                           findData.cFileName) ||
            !ReadInfPrint(pInv->pPath, &print)) {
            pInv->Complete = 0;
            continue;
        }
        JudgeStoreInf(pInv, pInv->pPath, display, &print);
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
    char windowsDir[MAX_PATH];
    const char *pSystem = NULL;
    HANDLE hFind = INVALID_HANDLE_VALUE;
    UINT cch;
    int i;

    cch = GetWindowsDirectoryA(windowsDir, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) {
        pInv->Complete = 0;
        return;
    }
    for (i = 0; i < 2 && hFind == INVALID_HANDLE_VALUE; i++) {
        pSystem = systemFolders[i];
        if (!FormatText(pInv->pPath, MAX_PATH, "%s\\%s\\DriverStore\\FileRepository\\*",
                        windowsDir, pSystem)) {
            pInv->Complete = 0;
            return;
        }
        hFind = FindFirstFileA(pInv->pPath, &findData);
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
        LookInPackage(pInv, windowsDir, pSystem, findData.cFileName);
    } while (FindNextFileA(hFind, &findData));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        pInv->Complete = 0;
    FindClose(hFind);
}

void RecordRun(int bRefused)
{
    INVENTORY inv = {};
    char none[2] = {0, 0};
    char line[LEFT_SIZE + 16];
    char lastRun[40];
    const char *pResult;
    const char *pEntry;
    // On 64-bit Windows the sibling asks for a restart with its exit code.
    DWORD reboot = g_RebootRequired || g_SiblingExitCode == ERROR_SUCCESS_REBOOT_REQUIRED;

    // The run's work is done: its end is now.
    LastRunText(lastRun, sizeof(lastRun));
    inv.Complete = 1;
    inv.pLeft = (char *)LocalAlloc(LMEM_ZEROINIT, LEFT_BLOCK + KNOWN_MAX * sizeof(KNOWN_INF));
    inv.pKnown = inv.pLeft != NULL ? (KNOWN_INF *)(inv.pLeft + LEFT_BLOCK) : NULL;
    inv.pPath = (char *)LocalAlloc(LMEM_ZEROINIT, MAX_PATH);
    if (inv.pLeft != NULL && inv.pPath != NULL) {
        LookAtNodes(&inv);
        if (!WalkInfFolder(LookAtInfEntry, &inv, TRUE))
            inv.Complete = 0;
        LookInStore(&inv);
    } else {
        inv.Complete = 0;
    }
    if (bRefused)
        pResult = "refused";
    else if (!inv.Complete)
        pResult = "unknown";
    else
        pResult = inv.Counting != 0 ? "left" : "clean";
    FormatText(line, sizeof(line), "== result: %s", pResult);
    RunLogLine(NULL, line);
    if (inv.pLeft != NULL && inv.Unlisted != 0) {
        FormatText(inv.pLeft + inv.cbLeft, LEFT_BLOCK - inv.cbLeft - 1, "and %u more",
                   inv.Unlisted);
        inv.cbLeft += lstrlenA(inv.pLeft + inv.cbLeft) + 1;
    }
    // "Left" is a multi-string: its entries, each with its NUL, and one more
    // NUL (two for an empty list); the block is zero beyond them.
    for (pEntry = inv.pLeft; pEntry != NULL && pEntry < inv.pLeft + inv.cbLeft;
         pEntry += lstrlenA(pEntry) + 1) {
        FormatText(line, sizeof(line), "== left: %s", pEntry);
        RunLogLine(NULL, line);
    }
    if (inv.pLeft != NULL)
        WriteRecord(pResult, inv.pLeft, inv.cbLeft != 0 ? inv.cbLeft + 1 : 2, lastRun, reboot);
    else
        WriteRecord(pResult, none, sizeof(none), lastRun, reboot);
    if (inv.pPath != NULL)
        LocalFree(inv.pPath);
    if (inv.pLeft != NULL)
        LocalFree(inv.pLeft);
}
