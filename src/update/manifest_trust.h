// Which keys may sign the manifest, set once at start-up: the built-in signing key, or in a
// launcher with root keys the online keys of the newest root document reached by walking,
// one version at a time, from the root this machine trusts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/manifest.h"
#include "update/root_document.h"

// The served root documents: LauncherPatchInfo.root.<version> beside the live channel's
// patch information (every channel and the Updater share one trust).
constexpr const char* kRootServedPrefix = "LauncherPatchInfo.root.";
// The newest root verified so far, its text as served, kept where only administrators write:
// a value (REG_BINARY) under HKEY_LOCAL_MACHINE\kInstallerRegistryKey.
constexpr char kTrustedRootValueName[] = "TrustedRoot";
// A walk reads at most this many versions a start; the rest waits for the next one.
constexpr uint32_t kRootStepsPerWalk = 64;

struct ManifestTrust {
    uint32_t KeyCount;  // 0: no key (a root walk that never reached version 1) verifies nothing
    uint8_t Keys[kRootMaxOnlineKeys][kPublicKeySize];
    int ExpiryRequired;  // every manifest must carry an expiry (root keys)
    int Frozen;          // the newest root has expired: nothing fetched is taken, the kept stays
};

// Written on the main thread at start-up (the Updater's update thread in the Updater) before
// anything reads it.
extern ManifestTrust TrustedSigners;

// Fetches root document version into text (capacity bytes); returns 1 with *length set when
// it arrived whole, 0 when it is not served (the walk ends) or could not be fetched.
using RootFetchFunction = int (*)(uint64_t version, char* text, std::size_t capacity, std::size_t* length);

// Sets TrustedSigners once a process (later calls return at once). With the built-in key:
// that key. With root keys: from the kept root (or the built-in keys when there is none or it
// is unreadable) through each next version fetch gives that CheckNextRoot accepts; the newest
// is kept, and the rollback floors are those of its online keys (SequenceFloorTag), so that a
// change of online keys starts them over.
void EstablishManifestTrust(RootFetchFunction fetch);

// The trust of one key (a launcher with the built-in signing key; tests).
ManifestTrust OneKeyTrust(const uint8_t key[kPublicKeySize]);

// Whether signature is one of trust's keys' signature of exactly length bytes of text.
int VerifyManifestSignature(const ManifestTrust& trust, const char* text, std::size_t length,
                            const uint8_t signature[kSignatureSize]);

// The system's time in seconds since 1970 UTC: what every expiry is compared with.
int64_t SecondsSince1970();

// The name of root document version in out (size bytes): kRootServedPrefix and the number.
int RootServedName(uint64_t version, char* out, std::size_t size);
