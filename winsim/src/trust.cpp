// wintrust and crypt32 of the simulated layer: a program file's Authenticode
// signature verified as WinVerifyTrust's generic verify action judges it,
// its signer's certificate read back, certificate names compared.
#include "internal.h"

#include <softpub.h>

#include <string.h>

#include <set>

using namespace sim;
using namespace sim::detail;

namespace {

// What WinVerifyTrust keeps between its verify and its close: the signer
// and its certificate, in Windows' records.
struct TrustState {
    std::string subject, issuer;  // the names' encoded forms: here their text
    CERT_INFO info{};
    CERT_CONTEXT cert{};
    CRYPT_PROVIDER_CERT chain{};
    CRYPT_PROVIDER_SGNR signer{};
    bool signed_ = false;
};
std::set<TrustState *> g_states;

const GUID kVerifyV2 = WINTRUST_ACTION_GENERIC_VERIFY_V2;

CERT_NAME_BLOB Blob(std::string &name) { return {(DWORD)name.size(), (BYTE *)&name[0]}; }

std::string Narrow(LPCWSTR text) {
    std::string out;
    for (; text && *text; ++text) out += (char)*text;
    return out;
}

}  // namespace

namespace sim {
namespace detail {

void CloseTrustState(HANDLE h) {
    Object *o = Lookup(h, KTrust);
    if (!o) return;
    g_states.erase((TrustState *)o->data);
    delete (TrustState *)o->data;
    Release(h, KTrust, "WinVerifyTrust");
}

void ResetTrust() {
    for (TrustState *s : g_states) delete s;
    g_states.clear();
}

}  // namespace detail
}  // namespace sim

extern "C" {

// The generic verify action on a file, as Windows answers it: no signature,
// a file changed after signing, a chain that ends in a root the machine
// does not trust (Wine accepts those), or success. The state a verify makes
// is kept, whatever its answer, until a close gives it back.
LONG WINAPI WinVerifyTrust(HWND hwnd, GUID *pgActionID, LPVOID pWVTData) {
    (void)hwnd;
    WINTRUST_DATA *data = (WINTRUST_DATA *)pWVTData;
    if (!pgActionID || memcmp(pgActionID, &kVerifyV2, sizeof kVerifyV2) != 0)
        return TRUST_E_PROVIDER_UNKNOWN;
    if (!data || data->cbStruct < sizeof(WINTRUST_DATA) || data->dwUnionChoice != WTD_CHOICE_FILE ||
        !data->pFile || data->pFile->cbStruct < sizeof(WINTRUST_FILE_INFO) ||
        !data->pFile->pcwszFilePath) {
        Problem("WinVerifyTrust: a call that is not modelled");
        return ERROR_INVALID_PARAMETER;
    }
    if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
        Note("WinVerifyTrust");
        if (!Lookup(data->hWVTStateData, KTrust)) Problem("WinVerifyTrust closes a state that is not open");
        CloseTrustState(data->hWVTStateData);
        data->hWVTStateData = nullptr;
        return ERROR_SUCCESS;
    }
    // A dialog nobody answers, or a revocation list fetched from a machine
    // that may be offline: neither is modelled.
    if (data->dwStateAction != WTD_STATEACTION_VERIFY || data->dwUIChoice != WTD_UI_NONE ||
        data->fdwRevocationChecks != WTD_REVOKE_NONE ||
        !(data->dwProvFlags & WTD_REVOCATION_CHECK_NONE)) {
        Problem("WinVerifyTrust: a call that is not modelled");
        return ERROR_INVALID_PARAMETER;
    }
    DWORD error;
    bool fails = Fault("WinVerifyTrust", (DWORD)TRUST_E_NOSIGNATURE, &error);
    // Given a handle, the bytes read are the open file's; else the named one's.
    File *f = data->pFile->hFile && data->pFile->hFile != INVALID_HANDLE_VALUE
                  ? ReadableFileOf(data->pFile->hFile)
                  : FindFile(Narrow(data->pFile->pcwszFilePath));
    if (!f) {
        Problem("WinVerifyTrust: a file or handle that cannot be read");
        return ERROR_INVALID_PARAMETER;
    }
    TrustState *s = new TrustState;
    g_states.insert(s);
    const Signature &sig = f->signature;
    s->signed_ = !sig.subject.empty();
    s->subject = sig.subject;
    s->issuer = sig.issuer;
    s->info.Subject = Blob(s->subject);
    s->info.Issuer = Blob(s->issuer);
    s->cert.dwCertEncodingType = X509_ASN_ENCODING;
    s->cert.pCertInfo = &s->info;
    s->chain.cbStruct = sizeof s->chain;
    s->chain.pCert = &s->cert;
    s->chain.fTrustedRoot = sig.trustedRoot;
    s->signer.cbStruct = sizeof s->signer;
    s->signer.csCertChain = 1;
    s->signer.pasCertChain = &s->chain;
    data->hWVTStateData = NewHandle(KTrust, "WinVerifyTrust state of " + f->path, s);
    if (fails) return (LONG)error;
    if (!s->signed_) return TRUST_E_NOSIGNATURE;
    if (sig.changed) return TRUST_E_BAD_DIGEST;
    if (!sig.trustedRoot) return CERT_E_UNTRUSTEDROOT;
    return ERROR_SUCCESS;
}

CRYPT_PROVIDER_DATA *WINAPI WTHelperProvDataFromStateData(HANDLE hStateData) {
    DWORD error;
    if (Fault("WTHelperProvDataFromStateData", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return nullptr;
    }
    Object *o = Lookup(hStateData, KTrust);
    if (!o) Problem("WTHelperProvDataFromStateData on a state that is not open");
    return o ? (CRYPT_PROVIDER_DATA *)o->data : nullptr;
}

// The signer of a file without a signature is none.
CRYPT_PROVIDER_SGNR *WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA *pProvData,
                                                           DWORD idxSigner, BOOL fCounterSigner,
                                                           DWORD idxCounterSigner) {
    (void)idxCounterSigner;
    DWORD error;
    if (Fault("WTHelperGetProvSignerFromChain", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return nullptr;
    }
    TrustState *s = (TrustState *)pProvData;
    if (!g_states.count(s)) {
        Problem("WTHelperGetProvSignerFromChain on provider data that is not open");
        return nullptr;
    }
    return s->signed_ && idxSigner == 0 && !fCounterSigner ? &s->signer : nullptr;
}

// Equal when the encoded names are equal, byte for byte.
BOOL WINAPI CertCompareCertificateName(DWORD dwCertEncodingType, PCERT_NAME_BLOB pCertName1,
                                       PCERT_NAME_BLOB pCertName2) {
    DWORD error;
    if (Fault("CertCompareCertificateName", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (!(dwCertEncodingType & X509_ASN_ENCODING) || !pCertName1 || !pCertName2) {
        Problem("CertCompareCertificateName: a call that is not modelled");
        return FALSE;
    }
    return pCertName1->cbData == pCertName2->cbData &&
           memcmp(pCertName1->pbData, pCertName2->pbData, pCertName1->cbData) == 0;
}

}  // extern "C"
