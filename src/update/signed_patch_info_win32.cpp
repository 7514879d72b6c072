// The keyed patch-information fetch: manifest, signature and patch information with one tick,
// every check before anything kept is replaced.
#include "update/signed_patch_info.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <memory>

#include "common/file_replace.h"
#include "common/win32_handle.h"
#include "settings/launcher_settings.h"
#include "update/http_transfer.h"
#include "update/patch_channel.h"
#include "update/patch_info.h"
#include "update/remote_patch_info.h"
#include "update/sequence_floor_win32.h"
#include "update/signature_win32.h"

namespace {

constexpr const char* kFetchedManifest = kFetchedManifestFileName;
constexpr const char* kFetchedSignature = kFetchedSignatureFileName;
constexpr const char* kFetchedPatchInfo = "update.dat.part";

// The most bytes the transfer under way may deliver: a server that sends more (or without
// end) is cut off there instead of filling the disk. Only the main thread fetches the patch
// information, before the worker exists.
int64_t FetchLimit = 0;

int32_t StopPastLimit(int32_t received, int32_t) { return received > FetchLimit ? 1 : 0; }

int FetchCapped(const char* url, const char* localPath, int64_t limit) {
    FetchLimit = limit;
    return DownloadUrlToFileEx(url, localPath, 1, nullptr, 0, StopPastLimit) == kTransferDone ? 1 : 0;
}

// The whole file into text (at most limit bytes). Returns 1 with *length set.
int ReadSmallFile(const char* path, char* text, std::size_t limit, std::size_t* length) {
    StdioFile file(std::fopen(path, "rb"));
    if (!file) return 0;
    *length = std::fread(text, 1, limit, file.Get());
    // One byte more than the limit would make it too long to be what it claims.
    char extra = 0;
    return std::ferror(file.Get()) == 0 && std::fread(&extra, 1, 1, file.Get()) == 0 ? 1 : 0;
}

// The manifest text as fetched, read back for the checks; process-wide like the download
// buffer, since a megabyte does not belong on the main thread's stack.
char ManifestText[kManifestMaxBytes];
Manifest FetchedManifest;

// The signature file at path, exactly kSignatureSize bytes, into signature.
int ReadSignatureFile(const char* path, uint8_t signature[kSignatureSize]) {
    std::size_t length = 0;
    return ReadSmallFile(path, reinterpret_cast<char*>(signature), kSignatureSize, &length) &&
                   length == kSignatureSize
               ? 1
               : 0;
}

}  // namespace

int FetchRootBesidePatchInfo(uint64_t version, char* text, std::size_t capacity, std::size_t* length) {
    constexpr const char* kFetchedRoot = "update.root.part";
    char info[kPatchInfoRequestSize];
    char name[64];
    char url[kPatchInfoRequestSize];
    const int fetched = ChannelPatchInfoUrl(kLiveChannel, info, sizeof info) &&
                        RootServedName(version, name, sizeof name) &&
                        BuildSideFileRequestUrl(info, name, timeGetTime(), url, sizeof url) &&
                        FetchCapped(url, kFetchedRoot, static_cast<int64_t>(capacity)) &&
                        ReadSmallFile(kFetchedRoot, text, capacity, length);
    DeleteFileA(kFetchedRoot);
    return fetched;
}

uint64_t RollbackFloor() {
    const uint64_t machine = ReadSequenceFloor();
    return VerifiedManifest.Sequence > machine ? VerifiedManifest.Sequence : machine;
}

int FetchVerifiedManifest(const ManifestTrust& trust, uint32_t tick, Manifest* out) {
    // Past an expired root nothing new is taken: the kept files stand, as when the server
    // cannot be reached.
    if (trust.Frozen) return 0;
    char info[kPatchInfoRequestSize];
    char url[kPatchInfoRequestSize];
    if (!ChannelPatchInfoUrl(PatchChannel, info, sizeof info) ||
        !BuildSideFileRequestUrl(info, kManifestServedName, tick, url, sizeof url) ||
        !FetchCapped(url, kFetchedManifest, kManifestMaxBytes))
        return 0;
    if (!BuildSideFileRequestUrl(info, kSignatureServedName, tick, url, sizeof url) ||
        !FetchCapped(url, kFetchedSignature, kSignatureSize))
        return 0;
    std::size_t length = 0;
    uint8_t signature[kSignatureSize];
    if (!ReadSignatureFile(kFetchedSignature, signature)) return 0;
    if (!ReadSmallFile(kFetchedManifest, ManifestText, sizeof ManifestText, &length)) return 0;
    if (!VerifyManifestSignature(trust, ManifestText, length, signature)) return 0;
    if (!ParseManifest(ManifestText, length, out)) return 0;
    return CheckManifestFreshness(*out, RollbackFloor(), SecondsSince1970(), trust.ExpiryRequired) ==
                   kManifestFresh
               ? 1
               : 0;
}

namespace {

// Everything fetched and checked: the patch information, the signature and the manifest take
// the kept copies' places, the manifest last, then the machine's floor is raised. A failure
// after the patch information leaves the older manifest kept, which the next fetch still
// passes; one between the signature and the manifest leaves a pair that no longer verifies,
// which counts as no kept manifest while the machine's floor, raised only after the manifest,
// still holds the older sequence.
int FetchAndCommit(const ManifestTrust& trust) {
    const uint32_t tick = timeGetTime();
    if (!FetchVerifiedManifest(trust, tick, &FetchedManifest)) return 0;
    const ManifestEntry* listed = FindManifestEntry(FetchedManifest, kPatchInfoManifestPath);
    if (!listed) return 0;
    char info[kPatchInfoRequestSize];
    char url[kPatchInfoRequestSize];
    if (!ChannelPatchInfoUrl(PatchChannel, info, sizeof info) ||
        !BuildPatchInfoRequestUrl(info, tick, url, sizeof url) ||
        !FetchCapped(url, kFetchedPatchInfo, static_cast<int64_t>(listed->Size)))
        return 0;
    if (VerifyFileAgainstManifest(FetchedManifest, kPatchInfoManifestPath, kFetchedPatchInfo) != kFileVerified)
        return 0;
    if (!ReplaceFileWith(kFetchedPatchInfo, kPatchInfoFileName)) return 0;
    if (!ReplaceFileWith(kFetchedSignature, kKeptSignatureFileName)) return 0;
    if (!ReplaceFileWith(kFetchedManifest, kKeptManifestFileName)) return 0;
    VerifiedManifest = FetchedManifest;
    RaiseSequenceFloor(VerifiedManifest.Sequence);
    return 1;
}

}  // namespace

int LoadKeptManifest(const ManifestTrust& trust) {
    // Anyone who may write the game folder may write these two files: only the signature
    // makes them the publisher's, and only the machine's floor tells an older signed pair
    // put back from the one last committed.
    std::size_t length = 0;
    uint8_t signature[kSignatureSize];
    if (ReadSignatureFile(kKeptSignatureFileName, signature) &&
        ReadSmallFile(kKeptManifestFileName, ManifestText, sizeof ManifestText, &length) &&
        VerifyManifestSignature(trust, ManifestText, length, signature) &&
        ParseManifest(ManifestText, length, &VerifiedManifest) && VerifiedManifest.Sequence >= ReadSequenceFloor())
        return 1;
    ParseManifest("", 0, &VerifiedManifest);
    return 0;
}

int FetchSignedPatchInfo(const ManifestTrust& trust) {
    // The kept pair is another channel's while switching: its sequence would floor this one's
    // manifests, signed on their own numbers. The new channel's floor still holds.
    if (PatchChannelSwitch)
        ParseManifest("", 0, &VerifiedManifest);
    else
        LoadKeptManifest(trust);
    const int fetched = FetchAndCommit(trust);
    for (const char* leftover : {kFetchedManifest, kFetchedSignature, kFetchedPatchInfo}) DeleteFileA(leftover);
    // After a refusal the kept copy is parsed again, as after any failed fetch: the start-up
    // parse ran before the installed version was known.
    const int parsed = ParsePatchInfo();
    return fetched ? parsed : 0;
}
