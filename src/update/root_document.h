// The root of trust of a launcher built with root keys: a versioned document naming the root
// keys and how many of them must sign the next version, the online keys that sign the
// manifest, and its own expiry. No platform calls: the signatures are checked through the
// function the caller passes.
//
// The text, byte for byte (every line ends in "\n", fields separated by one blank):
//   QOR-PATCH-ROOT 1
//   version <n>
//   expires <seconds since 1970-01-01 UTC>
//   threshold <m>                          (1 to the number of root keys)
//   root <128 hex: X then Y>               (1 to kRootMaxKeys, ascending, no two alike)
//   online <128 hex>                       (1 to kRootMaxOnlineKeys, ascending, no two alike)
//   signature <128 hex: key> <128 hex: r then s>   (0 to kRootMaxSignatures)
// The signatures are over the SHA-256 of the text before the first "signature" line, so that
// signers add theirs without changing what the others signed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/manifest.h"

constexpr const char* kRootFormatLine = "QOR-PATCH-ROOT 1";
constexpr std::size_t kRootMaxBytes = 8192;
constexpr std::size_t kRootMaxKeys = 8;
constexpr std::size_t kRootMaxOnlineKeys = 4;
constexpr std::size_t kRootMaxSignatures = 16;

struct RootSignature {
    uint8_t Key[kPublicKeySize];
    uint8_t Signature[kSignatureSize];
};

struct RootDocument {
    uint64_t Version;  // 0: the keys built into the launcher, which sign version 1
    int HasExpiry;     // 0 only for the built-in keys
    uint64_t Expires;
    uint32_t Threshold;
    uint32_t KeyCount;
    uint8_t Keys[kRootMaxKeys][kPublicKeySize];
    uint32_t OnlineKeyCount;
    uint8_t OnlineKeys[kRootMaxOnlineKeys][kPublicKeySize];
    std::size_t SignedLength;  // bytes of the text the signatures cover
    uint32_t SignatureCount;
    RootSignature Signatures[kRootMaxSignatures];
};

// Parses exactly length bytes. Returns 1 for a whole, well-formed document; 0 otherwise, and
// *out is then emptied.
int ParseRootDocument(const char* text, std::size_t length, RootDocument* out);

// The document of the keys built into a launcher: version 0, no expiry, no online key.
void BuiltInRootDocument(const uint8_t (*keys)[kPublicKeySize], uint32_t keyCount, uint32_t threshold,
                         RootDocument* out);

// Whether signature is key's ECDSA P-256 signature of digest (signature_win32.h's
// VerifyP256Signature in the programs).
using VerifyDigestFunction = int (*)(const uint8_t key[kPublicKeySize], const uint8_t digest[kSha256Size],
                                     const uint8_t signature[kSignatureSize]);

// How many of keys (count of them) signed document's digest, each key counted once however
// often it appears among the signatures.
uint32_t CountRootSigners(const RootDocument& document, const uint8_t digest[kSha256Size],
                          const uint8_t (*keys)[kPublicKeySize], uint32_t count, VerifyDigestFunction verify);

// Why a fetched root is not the next one to trust.
constexpr int kRootAccepted = 0;
constexpr int kRootNotNext = 1;            // its version is not the trusted one's plus one
constexpr int kRootBelowOldThreshold = 2;  // too few of the trusted root's keys signed it
constexpr int kRootBelowOwnThreshold = 3;  // too few of its own keys signed it

// Checks next (parsed, with digest the SHA-256 of its signed text) against trusted: the
// version after it, signed by the threshold of trusted's root keys and by its own threshold
// of its own. Expiry is not checked here: a walk passes expired versions on its way to the
// newest, whose expiry alone counts.
int CheckNextRoot(const RootDocument& trusted, const RootDocument& next, const uint8_t digest[kSha256Size],
                  VerifyDigestFunction verify);

// Whether document's expiry has come at now (seconds since 1970 UTC). The built-in keys
// never expire.
int RootExpired(const RootDocument& document, int64_t now);
