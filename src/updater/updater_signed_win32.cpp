// The keyed Updater's manifest: fetched into memory, verified, and kept for the file checks.
#include "updater/updater_signed_win32.h"

#include <windows.h>

#include "common/bounded_text.h"
#include "common/win32_handle.h"
#include "update/signature_win32.h"
#include "update/signed_patch_info.h"
#include "update/signing_key.h"
#include "updater/updater_args.h"
#include "updater/updater_download_win32.h"
#include "updater/updater_files_win32.h"

namespace {

// Only the update thread checks; a megabyte of text and the parsed list do not belong on its
// stack.
char ManifestText[kManifestMaxBytes];
Manifest FetchedManifest;
bool ManifestPassed = false;

int64_t SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100-ns intervals since 1601-01-01.
    return (ticks - 116444736000000000LL) / 10000000LL;
}

// The sequence of the manifest the launcher verified and kept beside itself; 0 when there is
// none or it cannot be read, as the launcher itself counts it.
uint64_t KeptSequence() {
    char path[kPathSize];
    if (!FolderPath(path, sizeof path, kKeptManifestFileName)) return 0;
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return 0;
    DWORD length = 0;
    if (!ReadFile(file.Get(), ManifestText, sizeof ManifestText, &length, nullptr)) return 0;
    return ParseManifest(ManifestText, length, &FetchedManifest) ? FetchedManifest.Sequence : 0;
}

// One side file beside the patch information into buffer; false with the reason in detail.
bool FetchSideFile(const char* base, const char* name, uint32_t tick, void* buffer, uint32_t capacity,
                   uint32_t* length, char* detail, std::size_t detailSize) {
    char url[kBaseUrlSize + 64];
    if (!BuildSignedFileRequestUrl(url, sizeof url, base, name, tick)) {
        CopyText(detail, detailSize, "its address is too long");
        return false;
    }
    const DownloadOutcome outcome = DownloadToMemory(url, buffer, capacity, length);
    if (outcome.result == DownloadResult::Done) return true;
    DescribeDownloadFailure(outcome, detail, detailSize);
    return false;
}

}  // namespace

bool UpdaterHasSigningKey() { return SigningKeyPresent != 0; }

SignedCheck FetchSignedManifest(const char* base, char* detail, std::size_t detailSize) {
    ManifestPassed = false;
    const uint64_t kept = KeptSequence();
    // One tick for both, so that a cache answers both or neither with an older copy.
    const uint32_t tick = GetTickCount();
    uint32_t length = 0;
    if (!FetchSideFile(base, kManifestServedName, tick, ManifestText, sizeof ManifestText, &length, detail,
                       detailSize))
        return SignedCheck::ManifestNotFetched;
    uint8_t signature[kSignatureSize];
    uint32_t signatureLength = 0;
    if (!FetchSideFile(base, kSignatureServedName, tick, signature, sizeof signature, &signatureLength, detail,
                       detailSize))
        return SignedCheck::SignatureNotFetched;
    const bool good =
        signatureLength == kSignatureSize && VerifySignedText(SigningPublicKey, ManifestText, length, signature);
    const SignedCheck check = CheckFetchedManifest(ManifestText, length, good, kept, SecondsSince1970(), &FetchedManifest);
    ManifestPassed = check == SignedCheck::Passed;
    return check;
}

SignedCheck CheckListed(const char* listedPath) {
    return ManifestPassed && FindManifestEntry(FetchedManifest, listedPath) ? SignedCheck::Passed
                                                                             : SignedCheck::Unlisted;
}

SignedCheck CheckDownloaded(const char* listedPath, const char* localFile) {
    if (!ManifestPassed) return SignedCheck::Unlisted;
    return FileCheckResult(VerifyFileAgainstManifest(FetchedManifest, listedPath, localFile));
}
