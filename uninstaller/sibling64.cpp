// Tidewell64: the uninstaller's 64-bit sibling. On 64-bit Windows only a
// 64-bit process can remove devices through the class installer, and only
// one can be sure to change the driver store, so the uninstaller starts this
// program and sweeps the inf folder itself once it has ended. For each
// product node: take its driver package out of the driver store, then
// remove the node quietly; a package the node still holds goes once the node
// is gone. Then every published INF of the inf folder that names the
// product, by any of its models sections, leaves the store the same way, so
// that the uninstaller's 32-bit sweep never meets one it could only delete
// by hand. Exit code 0, or 3010 (ERROR_SUCCESS_REBOOT_REQUIRED) when a
// removal asked Windows for a restart.
#include <windows.h>
#include <setupapi.h>

#include "oeminf.h"

#include "../common/dllsearch.h"
#include "../common/infscan.h"
#include "../common/runlog.h"
#include "../common/trace.h"

const char TracePrefix[] = "..Tidewell64 - Omrak";

// A published INF of the folder that names the product by any of its models
// sections goes. Only a file whose bytes may name the product is read as an
// INF; one whose bytes cannot be read is read as an INF all the same.
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
