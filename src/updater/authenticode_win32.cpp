// WinVerifyTrust over a held file, then the signer's chain and key, for the Updater.
#include "updater/authenticode_win32.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "update/signature_win32.h"
#include "updater/authenticode_check.h"
#include "updater/authenticode_publisher.h"

namespace {

// WinVerifyTrust's state, closed through the same call whatever happens after the verify.
struct TrustSession {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {};
    WINTRUST_DATA data = {};
    wchar_t path[MAX_PATH] = {};
    TrustSession() = default;
    TrustSession(const TrustSession&) = delete;
    TrustSession& operator=(const TrustSession&) = delete;
    ~TrustSession() {
        if (!data.hWVTStateData) return;
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
};

LONG Verify(TrustSession& session, HANDLE file) {
    session.file.cbStruct = sizeof session.file;
    session.file.pcwszFilePath = session.path;
    // Through the held handle: what is verified is what stays held until the swap or the start.
    session.file.hFile = file;
    session.data.cbStruct = sizeof session.data;
    session.data.dwUIChoice = WTD_UI_NONE;
    session.data.fdwRevocationChecks = WTD_REVOKE_NONE;
    session.data.dwUnionChoice = WTD_CHOICE_FILE;
    session.data.pFile = &session.file;
    session.data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Nothing is fetched from the network while the player waits: no revocation lists, and
    // intermediate certificates only from the signature itself or the machine's stores.
    session.data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &session.action, &session.data);
}

// The first error of the signer's chain. Windows' policy already refuses such a chain; Wine's
// accepts one that ends at an unknown root and only marks the certificate, so it is read here.
DWORD ChainError(CRYPT_PROVIDER_SGNR* signer) {
    if (signer->dwError) return signer->dwError;
    for (DWORD i = 0; i < signer->csCertChain; ++i) {
        const CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(signer, i);
        if (!cert || !cert->pCert) return static_cast<DWORD>(CERT_E_CHAINING);
        if (cert->dwError) return cert->dwError;
    }
    return signer->csCertChain ? 0 : static_cast<DWORD>(CERT_E_CHAINING);
}

// SHA-256 of the certificate's SubjectPublicKeyInfo as DER: a pin that a renewed certificate
// for the same key keeps.
bool PublicKeyDigest(PCCERT_CONTEXT cert, uint8_t digest[kPublisherPinSize]) {
    BYTE* encoded = nullptr;
    DWORD length = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &cert->pCertInfo->SubjectPublicKeyInfo,
                             CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &length)) {
        TraceFailure("authenticode", "public key", nullptr, GetLastError());
        return false;
    }
    const bool hashed = Sha256Of(encoded, length, digest) != 0;
    LocalFree(encoded);
    return hashed;
}

SignedCheck Refuse(uint32_t code, const char* path, char* detail, std::size_t detailSize) {
    TraceFailure("authenticode", "verify", path, code);
    DescribeTrustResult(code, detail, detailSize);
    return SignedCheck::SignatureNotTrusted;
}

SignedCheck CheckSigner(CRYPT_PROVIDER_SGNR* signer, const char* path, char* detail, std::size_t detailSize) {
    if (const DWORD error = ChainError(signer)) return Refuse(error, path, detail, detailSize);
    const CRYPT_PROVIDER_CERT* leaf = WTHelperGetProvCertFromChain(signer, 0);
    uint8_t digest[kPublisherPinSize];
    if (!PublicKeyDigest(leaf->pCert, digest))
        return Refuse(static_cast<uint32_t>(NTE_BAD_DATA), path, detail, detailSize);
    if (IsPinnedPublisher(PublisherPins, PublisherPinCount, digest)) return SignedCheck::Passed;
    if (!CertGetNameStringA(leaf->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, detail,
                            static_cast<DWORD>(detailSize)) || !detail[0])
        CopyText(detail, detailSize, "an unnamed certificate");
    TraceFailure("authenticode", "publisher", path, static_cast<unsigned long>(TRUST_E_SUBJECT_NOT_TRUSTED));
    return SignedCheck::OtherPublisher;
}

}  // namespace

bool UpdaterHasPublisher() { return PublisherPinCount > 0; }

SignedCheck CheckAuthenticode(HANDLE file, const char* path, char* detail, std::size_t detailSize) {
    TrustSession session;
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, session.path, MAX_PATH))
        return Refuse(static_cast<uint32_t>(HRESULT_FROM_WIN32(GetLastError())), path, detail, detailSize);
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return Refuse(static_cast<uint32_t>(HRESULT_FROM_WIN32(GetLastError())), path, detail, detailSize);
    const LONG result = Verify(session, file);
    if (result != 0) return Refuse(static_cast<uint32_t>(result), path, detail, detailSize);
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(session.data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signer) return Refuse(static_cast<uint32_t>(TRUST_E_NOSIGNATURE), path, detail, detailSize);
    return CheckSigner(signer, path, detail, detailSize);
}
