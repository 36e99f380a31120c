// Simulated layer: the wintrust subset the programs call, with Windows'
// record layouts (as mingw-w64 declares them) and values.
#ifndef WINSIM_WINTRUST_H
#define WINSIM_WINTRUST_H

#include <wincrypt.h>

#define WTD_UI_ALL 1
#define WTD_UI_NONE 2
#define WTD_REVOKE_NONE 0x00000000
#define WTD_REVOKE_WHOLECHAIN 0x00000001
#define WTD_CHOICE_FILE 1
#define WTD_STATEACTION_IGNORE 0x00000000
#define WTD_STATEACTION_VERIFY 0x00000001
#define WTD_STATEACTION_CLOSE 0x00000002
#define WTD_REVOCATION_CHECK_NONE 0x00000010
#define WTD_UICONTEXT_EXECUTE 0

typedef struct WINTRUST_FILE_INFO_ {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID *pgKnownSubject;
} WINTRUST_FILE_INFO, *PWINTRUST_FILE_INFO;

typedef struct _WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        struct WINTRUST_FILE_INFO_ *pFile;
        struct WINTRUST_CATALOG_INFO_ *pCatalog;
        struct WINTRUST_BLOB_INFO_ *pBlob;
        struct WINTRUST_SGNR_INFO_ *pSgnr;
        struct WINTRUST_CERT_INFO_ *pCert;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR *pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
} WINTRUST_DATA, *PWINTRUST_DATA;

// The provider's data: only handed from one call to the next by the
// programs, so its fields are not modelled.
typedef struct _CRYPT_PROVIDER_DATA CRYPT_PROVIDER_DATA, *PCRYPT_PROVIDER_DATA;

typedef struct _CRYPT_PROVIDER_CERT {
    DWORD cbStruct;
    PCCERT_CONTEXT pCert;
    BOOL fCommercial;
    BOOL fTrustedRoot;
    BOOL fSelfSigned;
    BOOL fTestCert;
    DWORD dwRevokedReason;
    DWORD dwConfidence;
    DWORD dwError;
    struct _CTL_CONTEXT *pTrustListContext;
    BOOL fTrustListSignerCert;
    const struct _CTL_CONTEXT *pCtlContext;
    DWORD dwCtlError;
    BOOL fIsCyclic;
    struct _CERT_CHAIN_ELEMENT *pChainElement;
} CRYPT_PROVIDER_CERT, *PCRYPT_PROVIDER_CERT;

// One signer; its certificate chain starts with the signer's certificate.
typedef struct _CRYPT_PROVIDER_SGNR {
    DWORD cbStruct;
    FILETIME sftVerifyAsOf;
    DWORD csCertChain;
    struct _CRYPT_PROVIDER_CERT *pasCertChain;
    DWORD dwSignerType;
    struct _CMSG_SIGNER_INFO *psSigner;
    DWORD dwError;
    DWORD csCounterSigners;
    struct _CRYPT_PROVIDER_SGNR *pasCounterSigners;
    const struct _CERT_CHAIN_CONTEXT *pChainContext;
} CRYPT_PROVIDER_SGNR, *PCRYPT_PROVIDER_SGNR;

#ifdef __cplusplus
extern "C" {
#endif

// Not imported by the programs: wintrust is no KnownDLL, so they look these
// up in the library they load from the system folder.
LONG WINAPI WinVerifyTrust(HWND hwnd, GUID *pgActionID, LPVOID pWVTData);
CRYPT_PROVIDER_DATA *WINAPI WTHelperProvDataFromStateData(HANDLE hStateData);
CRYPT_PROVIDER_SGNR *WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA *pProvData,
                                                           DWORD idxSigner, BOOL fCounterSigner,
                                                           DWORD idxCounterSigner);

#ifdef __cplusplus
}
#endif

#endif
