// Programs of ours beside this one, in a folder others can often write to: a
// signed program starts only one of its own publisher, whose file it holds
// open from the check until the start, so that what was checked is started.
#include <windows.h>
#include <wintrust.h>
#include <softpub.h>

#include "tidewell.h"

#include "../common/dllsearch.h"
#include "../common/trace.h"

typedef LONG(WINAPI *LPFN_WINVERIFYTRUST)(HWND hwnd, GUID *pgActionID, LPVOID pWVTData);
typedef CRYPT_PROVIDER_DATA *(WINAPI *LPFN_WTHELPERPROVDATAFROMSTATEDATA)(HANDLE hStateData);
typedef CRYPT_PROVIDER_SGNR *(WINAPI *LPFN_WTHELPERGETPROVSIGNERFROMCHAIN)(
    CRYPT_PROVIDER_DATA *pProvData, DWORD idxSigner, BOOL fCounterSigner, DWORD idxCounterSigner);
typedef BOOL(WINAPI *LPFN_CERTCOMPARECERTIFICATENAME)(DWORD dwCertEncodingType,
                                                      PCERT_NAME_BLOB pCertName1,
                                                      PCERT_NAME_BLOB pCertName2);

// wintrust.dll and crypt32.dll, no KnownDLLs, loaded from the system folder
// at run time, and the calls looked up in them.
struct TrustCalls {
    HMODULE hWintrust;
    HMODULE hCrypt32;
    LPFN_WINVERIFYTRUST fnWinVerifyTrust;
    LPFN_WTHELPERPROVDATAFROMSTATEDATA fnProvData;
    LPFN_WTHELPERGETPROVSIGNERFROMCHAIN fnProvSigner;
    LPFN_CERTCOMPARECERTIFICATENAME fnCompareName;
};

// One file's verification: the file open, its name as WinVerifyTrust takes
// it, and the records of the call, which hold its state until it is closed.
struct TrustCheck {
    HANDLE hFile;
    WCHAR path[MAX_PATH];
    WINTRUST_FILE_INFO file;
    WINTRUST_DATA data;
    int verified;
};

int IsSelfSigned(void)
{
    const BYTE *pImage;
    const IMAGE_NT_HEADERS32 *pNt;
    const IMAGE_NT_HEADERS64 *pNt64;
    const IMAGE_DATA_DIRECTORY *pDirs;
    DWORD count;

    // The headers as the loader mapped them from our file. Any we cannot
    // make sense of count as signed: the check then decides.
    pImage = (const BYTE *)GetModuleHandleA(NULL);
    if (pImage == NULL || ((const IMAGE_DOS_HEADER *)pImage)->e_magic != IMAGE_DOS_SIGNATURE)
        return 1;
    pNt = (const IMAGE_NT_HEADERS32 *)(pImage + ((const IMAGE_DOS_HEADER *)pImage)->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE)
        return 1;
    // The optional header's magic tells a PE32 (x86) from a PE32+ (x64),
    // whose directories lie further on.
    if (pNt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        count = pNt->OptionalHeader.NumberOfRvaAndSizes;
        pDirs = pNt->OptionalHeader.DataDirectory;
    } else if (pNt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        pNt64 = (const IMAGE_NT_HEADERS64 *)pNt;
        count = pNt64->OptionalHeader.NumberOfRvaAndSizes;
        pDirs = pNt64->OptionalHeader.DataDirectory;
    } else {
        return 1;
    }
    if (count <= IMAGE_DIRECTORY_ENTRY_SECURITY)
        return 0;
    return pDirs[IMAGE_DIRECTORY_ENTRY_SECURITY].VirtualAddress != 0 &&
           pDirs[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

// Loads the libraries and looks the calls up: NULL, or the reason (code in
// *pCode); what was loaded stays in *pCalls.
static const char *LoadTrustCalls(struct TrustCalls *pCalls, DWORD *pCode)
{
    pCalls->hWintrust = LoadSystemLibrary("wintrust.dll");
    if (pCalls->hWintrust == NULL) {
        *pCode = GetLastError();
        return "wintrust.dll not loaded";
    }
    pCalls->hCrypt32 = LoadSystemLibrary("crypt32.dll");
    if (pCalls->hCrypt32 == NULL) {
        *pCode = GetLastError();
        return "crypt32.dll not loaded";
    }
    pCalls->fnWinVerifyTrust = (LPFN_WINVERIFYTRUST)(void (*)(void))GetProcAddress(
        pCalls->hWintrust, "WinVerifyTrust");
    if (pCalls->fnWinVerifyTrust != NULL)
        pCalls->fnProvData = (LPFN_WTHELPERPROVDATAFROMSTATEDATA)(void (*)(void))GetProcAddress(
            pCalls->hWintrust, "WTHelperProvDataFromStateData");
    if (pCalls->fnProvData != NULL)
        pCalls->fnProvSigner = (LPFN_WTHELPERGETPROVSIGNERFROMCHAIN)(void (*)(void))GetProcAddress(
            pCalls->hWintrust, "WTHelperGetProvSignerFromChain");
    if (pCalls->fnProvSigner != NULL)
        pCalls->fnCompareName = (LPFN_CERTCOMPARECERTIFICATENAME)(void (*)(void))GetProcAddress(
            pCalls->hCrypt32, "CertCompareCertificateName");
    if (pCalls->fnCompareName == NULL) {
        *pCode = GetLastError();
        return "signature functions not found";
    }
    return NULL;
}

// Verifies the file open in pCheck->hFile (pPath) and reads back its signer's
// certificate, which lives until CloseCheck; NULL with pFailed or pUnread in
// *ppReason.
static PCCERT_CONTEXT VerifiedSigner(const struct TrustCalls *pCalls, struct TrustCheck *pCheck,
                                     const char *pPath, const char *pFailed,
                                     const char *pUnread, const char **ppReason, DWORD *pCode)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    CRYPT_PROVIDER_DATA *pProvider;
    CRYPT_PROVIDER_SGNR *pSigner;
    LONG result;

    if (!MultiByteToWideChar(CP_ACP, 0, pPath, -1, pCheck->path, MAX_PATH)) {
        *ppReason = pFailed;
        *pCode = GetLastError();
        return NULL;
    }
    pCheck->file.cbStruct = sizeof(pCheck->file);
    pCheck->file.pcwszFilePath = pCheck->path;
    // The bytes checked are our open file's, whatever the name leads to now.
    pCheck->file.hFile = pCheck->hFile;
    pCheck->data.cbStruct = sizeof(pCheck->data);
    pCheck->data.dwUIChoice = WTD_UI_NONE;
    // No revocation lists: machines are often offline, and fetching one can
    // hang an unattended run.
    pCheck->data.fdwRevocationChecks = WTD_REVOKE_NONE;
    pCheck->data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    pCheck->data.dwUnionChoice = WTD_CHOICE_FILE;
    pCheck->data.pFile = &pCheck->file;
    pCheck->data.dwStateAction = WTD_STATEACTION_VERIFY;
    // No interactive user: nothing may be asked.
    result = pCalls->fnWinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &action, &pCheck->data);
    pCheck->verified = 1;
    if (result != ERROR_SUCCESS) {
        *ppReason = pFailed;
        *pCode = (DWORD)result;
        return NULL;
    }
    pProvider = pCalls->fnProvData(pCheck->data.hWVTStateData);
    pSigner = pProvider != NULL ? pCalls->fnProvSigner(pProvider, 0, FALSE, 0) : NULL;
    if (pSigner == NULL || pSigner->csCertChain == 0 || pSigner->pasCertChain[0].pCert == NULL ||
        pSigner->pasCertChain[0].pCert->pCertInfo == NULL) {
        *ppReason = pUnread;
        *pCode = GetLastError();
        return NULL;
    }
    return pSigner->pasCertChain[0].pCert;
}

// Gives WinVerifyTrust's state back, once the certificates are no longer read.
static void CloseCheck(const struct TrustCalls *pCalls, struct TrustCheck *pCheck)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;

    if (!pCheck->verified)
        return;
    pCheck->data.dwStateAction = WTD_STATEACTION_CLOSE;
    pCalls->fnWinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &action, &pCheck->data);
}

// Opens a file for the check, only reading shared: nobody can change it then.
static HANDLE OpenForCheck(const char *pPath)
{
    return CreateFileA(pPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
}

int OpenTrustedProgram(const char *pSelf, const char *pSibling, HANDLE *phSibling,
                       const char **ppReason, DWORD *pCode)
{
    struct TrustCalls calls = {};
    struct TrustCheck own = {};
    struct TrustCheck theirs = {};
    PCCERT_CONTEXT pOwn = NULL;
    PCCERT_CONTEXT pTheirs = NULL;
    const char *pReason;
    DWORD code = 0;

    *phSibling = INVALID_HANDLE_VALUE;
    own.hFile = theirs.hFile = INVALID_HANDLE_VALUE;
    // Every step fails closed: the first that fails names the reason.
    pReason = LoadTrustCalls(&calls, &code);
    if (pReason == NULL) {
        theirs.hFile = OpenForCheck(pSibling);
        if (theirs.hFile == INVALID_HANDLE_VALUE) {
            pReason = "file not opened";
            code = GetLastError();
        }
    }
    if (pReason == NULL) {
        own.hFile = OpenForCheck(pSelf);
        if (own.hFile == INVALID_HANDLE_VALUE) {
            pReason = "own file not opened";
            code = GetLastError();
        }
    }
    if (pReason == NULL)
        pOwn = VerifiedSigner(&calls, &own, pSelf, "own signature check failed",
                              "own signer not read", &pReason, &code);
    if (pReason == NULL)
        pTheirs = VerifiedSigner(&calls, &theirs, pSibling, "signature check failed",
                                 "signer not read", &pReason, &code);
    // The same publisher: the same subject from the same issuer, so that a
    // renewed certificate passes.
    if (pReason == NULL &&
        (!calls.fnCompareName(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                              &pOwn->pCertInfo->Subject, &pTheirs->pCertInfo->Subject) ||
         !calls.fnCompareName(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                              &pOwn->pCertInfo->Issuer, &pTheirs->pCertInfo->Issuer))) {
        pReason = "signed by another publisher";
        code = 0;
    }
    CloseCheck(&calls, &theirs);
    CloseCheck(&calls, &own);
    if (own.hFile != INVALID_HANDLE_VALUE)
        CloseHandle(own.hFile);
    if (calls.hCrypt32 != NULL)
        FreeLibrary(calls.hCrypt32);
    if (calls.hWintrust != NULL)
        FreeLibrary(calls.hWintrust);
    if (pReason != NULL) {
        if (theirs.hFile != INVALID_HANDLE_VALUE)
            CloseHandle(theirs.hFile);
        *ppReason = pReason;
        *pCode = code;
        return 0;
    }
    *phSibling = theirs.hFile;
    return 1;
}

BOOL Transf2Path(char *pPath)
{
    BOOL found;
    int i;

    if (pPath == NULL) {
        Trace("Transf2Path is null, line: %d", 121);
        return FALSE;
    }
    // A cut module name fills the buffer unterminated: never past 260 bytes.
    for (i = 0; i < MAX_PATH - 1 && pPath[i] != 0; i++)
        ;
    for (; i > 0 && pPath[i] != '\\'; i--)
        ;
    // No folder in it (a module name not read): nothing is left.
    found = pPath[i] == '\\';
    for (i = found ? i : 0; i < MAX_PATH; i++)
        pPath[i] = 0;
    return found;
}

void ProgramBeside(const char *pName, char *pSelf, char *pFolder, char *pFullName)
{
    DWORD cchModule;
    int i;

    cchModule = GetModuleFileNameA(NULL, pFolder, MAX_PATH);
    // A name cut to the buffer would name a folder higher up: unreadable.
    for (i = 0; i < MAX_PATH; i++) {
        pSelf[i] = pFolder[i] = cchModule < MAX_PATH && (DWORD)i < cchModule ? pFolder[i] : 0;
        pFullName[i] = 0;
    }
    Transf2Path(pFolder);
    if (pFolder[0] != 0 && !FormatText(pFullName, MAX_PATH, "%s\\%s", pFolder, pName))
        pFullName[0] = 0;
}

int StartProgram(const char *pModule, const char *pPath, BOOL bWait, DWORD *pExitCode,
                 DWORD *pError)
{
    STARTUPINFOA si = {};
    PROCESS_INFORMATION pi = {};

    *pExitCode = STILL_ACTIVE;
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    if (!CreateProcessA(pModule, NULL, NULL, NULL, TRUE, CREATE_NEW_CONSOLE, NULL, pPath, &si,
                        &pi)) {
        *pError = GetLastError();
        return 0;
    }
    if (bWait && WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        !GetExitCodeProcess(pi.hProcess, pExitCode))
        *pExitCode = STILL_ACTIVE;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return 1;
}
