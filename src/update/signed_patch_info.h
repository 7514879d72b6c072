// The patch-information fetch of a launcher with a signing key: the signed manifest beside
// LauncherPatchInfo.txt, its checks, and the verified manifest every patch file is held to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/manifest.h"
#include "update/manifest_trust.h"

constexpr const char* kManifestServedName = "LauncherPatchInfo.manifest";
constexpr const char* kSignatureServedName = "LauncherPatchInfo.manifest.sig";
// The last verified manifest, kept beside "update.dat" for the next start's rollback check,
// and its signature (the 64 bytes as served): the pair counts only while it verifies.
constexpr const char* kKeptManifestFileName = "update.manifest";
constexpr const char* kKeptSignatureFileName = "update.manifest.sig";
// Where FetchVerifiedManifest leaves the text and the signature it fetched.
constexpr const char* kFetchedManifestFileName = "update.manifest.part";
constexpr const char* kFetchedSignatureFileName = "update.manifest.sig.part";

// The manifest whose signature verified last: fetched at this start, or kept from an earlier
// one when this start's fetch failed or was refused; empty when there is none. Written on the
// main thread before the download worker starts, only read afterwards.
extern Manifest VerifiedManifest;

// Whether every patch file must be listed in VerifiedManifest with its size and hash. It
// starts as SigningKeyPresent; tests of a build without a key switch it on to reach the checks.
extern int ManifestRequired;

// The address of a file beside the patch information: patchInfoUrl up to its last "/", then
// name, then "?tick=" and tick, the same query as the patch information's own fetch. Returns
// 1, or 0 when it does not fit out (size bytes) or patchInfoUrl holds no "/".
int BuildSideFileRequestUrl(const char* patchInfoUrl, const char* name, uint32_t tick, char* out,
                            std::size_t size);

// Fetches PatchChannel's manifest, its signature and patch information with one tick (while
// PatchChannelSwitch, with no kept manifest flooring it); then verifies
// the signature with one of trust's keys, refuses a sequence below RollbackFloor(), an
// expired manifest (and, when trust requires it, one without an expiry or anything at all
// while trust is frozen), and checks the patch information's size and hash against it. Only when
// all holds are "update.dat", "update.manifest.sig" and "update.manifest" replaced (in this
// order), VerifiedManifest set, the machine's floor raised, and the result ParsePatchInfo's.
// Otherwise nothing is replaced, VerifiedManifest is the kept one, the kept "update.dat" is
// parsed against the installed version (as after a failed fetch) and the result is 0. Runs on
// the main thread during start-up.
int FetchSignedPatchInfo(const ManifestTrust& trust);

// Fetches the manifest and its signature beside PatchChannel's patch information with this tick,
// verifies the signature with trust's keys and parses the text into *out; then refuses it when
// its sequence is below RollbackFloor() (load the kept one first) or its expiry has passed
// (or is missing where trust requires one). Returns
// 1 when all holds. The fetched text and signature are left in kFetchedManifestFileName and
// kFetchedSignatureFileName (whatever the result) for the caller to keep or delete; *out is
// meaningful only after 1. For anything that installs what the manifest lists.
int FetchVerifiedManifest(const ManifestTrust& trust, uint32_t tick, Manifest* out);

// VerifiedManifest from "update.manifest" when "update.manifest.sig" is one of trust's keys'
// signatures of it and its sequence is not below the machine's floor; empty otherwise (missing,
// unreadable, forged, or an older signed pair put back). Returns 1 when one was taken.
int LoadKeptManifest(const ManifestTrust& trust);

// The root fetch of the launcher's walk (EstablishManifestTrust): root document version from
// beside the live channel's patch information, with a fresh tick.
int FetchRootBesidePatchInfo(uint64_t version, char* text, std::size_t capacity, std::size_t* length);

// The lowest sequence a fetched manifest may have: the higher of VerifiedManifest's and the
// machine's floor (sequence_floor_win32.h), which a deleted or forged kept manifest cannot
// lower.
uint64_t RollbackFloor();
