// The keyed Updater's manifest: fetched into memory, verified, and kept for the file checks.
#include "updater/updater_signed_win32.h"

#include <windows.h>

#include "common/bounded_text.h"
#include "common/win32_handle.h"
#include "update/manifest_trust.h"
#include "update/sequence_floor_win32.h"
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
unsigned char HashPiece[65536];

// The whole of a file in the Updater's folder into buffer (at most capacity bytes); false when
// it is missing, unreadable or longer.
bool ReadFolderFile(const char* name, void* buffer, DWORD capacity, DWORD* length) {
    char path[kPathSize];
    if (!FolderPath(path, sizeof path, name)) return false;
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char extra = 0;
    DWORD more = 0;
    return ReadFile(file.Get(), buffer, capacity, length, nullptr) && ReadFile(file.Get(), &extra, 1, &more, nullptr) &&
           more == 0;
}

// The lowest sequence the launcher would take: its kept manifest's when the signature kept
// beside it verifies with the built-in key (anyone may write both files), and never below the
// floor in the machine's registry, which survives their deletion.
uint64_t KeptSequence() {
    const uint64_t floor = ReadSequenceFloor();
    DWORD length = 0;
    DWORD signatureLength = 0;
    uint8_t signature[kSignatureSize];
    if (!ReadFolderFile(kKeptSignatureFileName, signature, sizeof signature, &signatureLength) ||
        signatureLength != kSignatureSize ||
        !ReadFolderFile(kKeptManifestFileName, ManifestText, sizeof ManifestText, &length) ||
        !VerifyManifestSignature(TrustedSigners, ManifestText, length, signature) ||
        !ParseManifest(ManifestText, length, &FetchedManifest))
        return floor;
    return FetchedManifest.Sequence > floor ? FetchedManifest.Sequence : floor;
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

// The base the root documents are fetched from: the one FetchSignedManifest was given.
const char* RootBase = "";

int FetchRootBesideManifest(uint64_t version, char* text, std::size_t capacity, std::size_t* length) {
    char name[64];
    char detail[256];
    uint32_t got = 0;
    if (!RootServedName(version, name, sizeof name) ||
        !FetchSideFile(RootBase, name, GetTickCount(), text, static_cast<uint32_t>(capacity), &got, detail,
                       sizeof detail))
        return 0;
    *length = got;
    return 1;
}

}  // namespace

bool UpdaterHasSigningKey() { return SigningKeyPresent != 0; }

SignedCheck FetchSignedManifest(const char* base, char* detail, std::size_t detailSize) {
    ManifestPassed = false;
    RootBase = base;
    EstablishManifestTrust(FetchRootBesideManifest);
    // Past an expired root, or before any root, no manifest can be vouched for.
    if (TrustedSigners.Frozen || TrustedSigners.KeyCount == 0) return SignedCheck::NoCurrentRoot;
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
    const bool good = signatureLength == kSignatureSize &&
                      VerifyManifestSignature(TrustedSigners, ManifestText, length, signature);
    const SignedCheck check = CheckFetchedManifest(ManifestText, length, good, kept, SecondsSince1970(),
                                                   TrustedSigners.ExpiryRequired, &FetchedManifest);
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

int64_t SignedSizeOf(const char* listedPath) {
    const ManifestEntry* entry = ManifestPassed ? FindManifestEntry(FetchedManifest, listedPath) : nullptr;
    return entry && entry->Size <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(entry->Size)
                                                                     : kNoSignedSize;
}

SignedCheck CheckHeldDownload(const char* listedPath, HANDLE file) {
    if (!ManifestPassed) return SignedCheck::Unlisted;
    if (!FindManifestEntry(FetchedManifest, listedPath)) return SignedCheck::Unlisted;
    LARGE_INTEGER start = {};
    Sha256Stream hash;
    if (!hash.Good() || !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return SignedCheck::Unreadable;
    uint64_t size = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, HashPiece, sizeof HashPiece, &got, nullptr)) return SignedCheck::Unreadable;
        if (got == 0) break;
        if (!hash.Update(HashPiece, got)) return SignedCheck::Unreadable;
        size += got;
    }
    uint8_t digest[kSha256Size];
    if (!hash.Finish(digest)) return SignedCheck::Unreadable;
    return FileCheckResult(CheckFileAgainstManifest(FetchedManifest, listedPath, size, digest));
}
