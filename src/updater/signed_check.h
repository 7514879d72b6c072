// What an Updater built with a signing key checks before a swap or a start: the signed
// manifest (signature, format, rollback, expiry) and the downloaded file's entry in it; and
// the words for each refusal. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/manifest.h"

// How the manifest and a file fared, in the order the Updater checks them.
enum class SignedCheck {
    Passed,
    ManifestNotFetched,   // the manifest could not be downloaded
    SignatureNotFetched,  // its signature could not be downloaded
    BadSignature,         // not the built-in key's signature of the manifest (or not 64 bytes)
    Malformed,            // signed, but not a manifest of the known format
    RolledBack,           // its sequence is below that of the manifest the launcher kept
    Expired,              // its expiry time has come
    Unlisted,             // the manifest does not list the file
    SizeDiffers,          // the file's size is not the listed one
    HashDiffers,          // the file's SHA-256 is not the listed one
    Unreadable,           // the downloaded file could not be read back
    NoExpiry,             // it carries no expiry, which root keys require of every manifest
    NoCurrentRoot,        // no unexpired root document vouches for any signer (root keys)
    SignatureNotTrusted,  // its Authenticode signature is missing or not valid (detail: why)
    OtherPublisher,       // validly signed, but not by the Updater's built-in publisher (detail: signer)
};

// base + "/" + name + "?tick=" + tick: the same query as the launcher's fetches, so that no
// cache between answers with an older copy. False when cut.
bool BuildSignedFileRequestUrl(char* out, std::size_t size, const char* base, const char* name, uint32_t tick);

// The checks that follow the signature's (signatureGood): the text parsed into *out, its
// sequence against keptSequence (that of the manifest the launcher kept, 0 without one) and
// its expiry against now (seconds since 1970 UTC), which it must carry when expiryRequired.
// *out is meaningful only after Passed.
SignedCheck CheckFetchedManifest(const char* text, std::size_t length, bool signatureGood, uint64_t keptSequence,
                                 int64_t now, int expiryRequired, Manifest* out);

// A kFile* result of CheckFileAgainstManifest or VerifyFileAgainstManifest.
SignedCheck FileCheckResult(int fileCheck);

// Plain words that finish "... was refused, because ", naming the manifest and listedPath
// (the file's path below the base); detail says why a download failed (the two NotFetched).
// False when cut.
bool DescribeSignedCheck(SignedCheck check, const char* listedPath, const char* detail, char* out, std::size_t size);
