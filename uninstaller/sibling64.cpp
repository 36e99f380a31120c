// Tidewell64: the uninstaller's 64-bit sibling. On 64-bit Windows only a
// 64-bit process can remove devices through the class installer and be sure
// to change the driver store, so the uninstaller starts it and sweeps once
// it has ended. Each product node goes with its package; then every
// published INF that names the product by any models section leaves the
// store, so that the 32-bit sweep never meets one it could only delete by
// hand. Exit code 0, or 3010 when a removal asked for a restart.
#include <windows.h>
#include <setupapi.h>

#include "oeminf.h"

#include "../common/dllsearch.h"
#include "../common/infscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Tidewell64 - Omrak";

// A published INF that names the product by any models section goes. Only
// one whose bytes may name it, or cannot be read, is read as an INF.
static void TakeIfProducts(const char *pFullPath, const char *pFileName, DWORD dwAttributes,
                           void *pContext)
{
    INF_PRINT print;
    HINF hInf;
    char *pLine = NULL;
    DWORD error = 0;

    if (!IsOemInfName(pFileName) || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (ReadInfPrint(pFullPath, &print, FALSE) && !print.MayNameProduct)
        return;
    hInf = OpenInf(pFullPath);
    if (hInf == INVALID_HANDLE_VALUE)
        return;
    if (JudgeInf(hInf, TRUE, &pLine, &error) != INF_NAMES_NOTHING)
        TraceTaken(pFileName, RemoveInfFile((INF_WORK *)pContext, pFullPath, &error));
    LocalFree(pLine);
    SetupCloseInfFile(hInf);
}

int main(int argc, char **argv, char **envp)
{
    INF_WORK work = {};
    int needReboot;

    (void)argc;
    (void)argv;
    (void)envp;

    LimitDllSearch();
    OpenRunLog("Tidewell64");
    Trace("Uninstall Device for 64bit OS\n");
    // Which packages other devices use, before any package is touched.
    FindOtherInfUsers(&work);
    needReboot = RemoveProductNodes(&work, TRUE);
    WalkInfFolder(TakeIfProducts, &work, FALSE);
    TraceKeptInfs(&work);
    FreeInfWork(&work);
    if (needReboot)
        Trace("Reboot needed\n");
    // The uninstaller reads the restart from the exit code.
    EndRunLog(needReboot ? ERROR_SUCCESS_REBOOT_REQUIRED : 0);
    return needReboot ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
}
