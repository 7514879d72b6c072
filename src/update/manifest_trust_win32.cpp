// The walk from the trusted root to the newest, and the manifest's signers it leaves.
#include "update/manifest_trust.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/win32_handle.h"
#include "update/sequence_floor_win32.h"
#include "update/signature_win32.h"
#include "update/signing_key.h"
#include "update/versions_win32.h"

ManifestTrust TrustedSigners;

namespace {

bool Established = false;
// Only the one thread that establishes the trust uses these: 8 KiB texts and documents of
// about 3 KiB each do not belong on its stack.
char KeptText[kRootMaxBytes];
char FetchedText[kRootMaxBytes];
RootDocument Current;
RootDocument Next;

// The kept root's text into KeptText; its length, or 0 when there is none (or it is not one).
std::size_t ReadKeptRoot() {
    RegistryKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerRegistryKey, 0, KEY_QUERY_VALUE, key.Put());
    if (status != ERROR_SUCCESS) return 0;
    DWORD type = 0;
    DWORD size = sizeof KeptText;
    status = RegQueryValueExA(key.Get(), kTrustedRootValueName, nullptr, &type, reinterpret_cast<BYTE*>(KeptText),
                              &size);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) TraceFailure("trusted root value", kTrustedRootValueName, status);
        return 0;
    }
    return type == REG_BINARY ? size : 0;
}

// Current: the kept root when it reads as one, otherwise the built-in keys' version 0.
void StartFromKeptRoot() {
    const std::size_t length = ReadKeptRoot();
    if (length > 0 && ParseRootDocument(KeptText, length, &Current)) return;
    if (length > 0) TraceFailure("trusted root", kTrustedRootValueName, ERROR_INVALID_DATA);
    BuiltInRootDocument(BuiltInRootKeys, BuiltInRootKeyCount, BuiltInRootThreshold, &Current);
}

// Takes each next version fetch gives while CheckNextRoot accepts it; returns the length of
// the newest one taken (its text in KeptText), 0 when none was.
std::size_t WalkToNewest(RootFetchFunction fetch) {
    std::size_t taken = 0;
    for (uint32_t step = 0; step < kRootStepsPerWalk; ++step) {
        std::size_t length = 0;
        if (!fetch(Current.Version + 1, FetchedText, sizeof FetchedText, &length)) break;
        uint8_t digest[kSha256Size];
        int refusal = kRootNotNext;
        if (ParseRootDocument(FetchedText, length, &Next) && Sha256Of(FetchedText, Next.SignedLength, digest))
            refusal = CheckNextRoot(Current, Next, digest, VerifyP256Signature);
        if (refusal != kRootAccepted) {
            // A root that does not follow from the trusted one is an attack or a publishing
            // mistake: either way the walk ends at the last one that did.
            char name[64];
            RootServedName(Current.Version + 1, name, sizeof name);
            TraceFailure("root document check", name, static_cast<unsigned long>(refusal));
            break;
        }
        Current = Next;
        std::memcpy(KeptText, FetchedText, length);
        taken = length;
    }
    return taken;
}

// The floors' tag: the first 8 bytes of the SHA-256 of the online keys, in hex.
void TagFloorsWithOnlineKeys() {
    uint8_t digest[kSha256Size];
    if (!Sha256Of(Current.OnlineKeys, Current.OnlineKeyCount * kPublicKeySize, digest)) return;
    for (int i = 0; i < 8; ++i)
        std::snprintf(SequenceFloorTag + 2 * i, sizeof SequenceFloorTag - 2 * i, "%02x", digest[i]);
}

}  // namespace

int64_t SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100-ns intervals since 1601-01-01.
    return (ticks - 116444736000000000LL) / 10000000LL;
}


int RootServedName(uint64_t version, char* out, std::size_t size) {
    return FormatText(out, size, "%s%llu", kRootServedPrefix, static_cast<unsigned long long>(version)) ? 1 : 0;
}

void EstablishManifestTrust(RootFetchFunction fetch) {
    if (Established) return;
    Established = true;
    if (!RootKeysPresent) {
        TrustedSigners = OneKeyTrust(SigningPublicKey);
        return;
    }
    StartFromKeptRoot();
    const std::size_t taken = WalkToNewest(fetch);
    if (taken > 0)
        SetInstallationValue("trusted root", kTrustedRootValueName, REG_BINARY, KeptText, static_cast<DWORD>(taken));
    TrustedSigners.KeyCount = Current.OnlineKeyCount;
    std::memcpy(TrustedSigners.Keys, Current.OnlineKeys, sizeof TrustedSigners.Keys);
    TrustedSigners.ExpiryRequired = 1;
    TrustedSigners.Frozen = RootExpired(Current, SecondsSince1970());
    if (TrustedSigners.Frozen) TraceFailure("root document", "expired", ERROR_INVALID_TIME);
    TagFloorsWithOnlineKeys();
}

ManifestTrust OneKeyTrust(const uint8_t key[kPublicKeySize]) {
    ManifestTrust trust = {};
    trust.KeyCount = 1;
    std::memcpy(trust.Keys[0], key, kPublicKeySize);
    return trust;
}

int VerifyManifestSignature(const ManifestTrust& trust, const char* text, std::size_t length,
                            const uint8_t signature[kSignatureSize]) {
    uint8_t digest[kSha256Size];
    if (trust.KeyCount == 0 || !Sha256Of(text, length, digest)) return 0;
    for (uint32_t i = 0; i < trust.KeyCount && i < kRootMaxOnlineKeys; ++i)
        if (VerifyP256Signature(trust.Keys[i], digest, signature)) return 1;
    return 0;
}
