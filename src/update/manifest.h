// The signed manifest published beside the patch information: a sequence number, an optional
// expiry time and the size and SHA-256 of every published file; and the checks a launcher
// branded with a signing key makes against it.
//
// The text, byte for byte (every line ends in "\n", fields are separated by one blank):
//   QOR-PATCH-MANIFEST 1
//   sequence <n>
//   expires <seconds since 1970-01-01 UTC>          (optional)
//   file <path below the base> <size> <sha-256>     (any number, paths in ascending byte order)
// Numbers are decimal without leading zeros (at most 18 digits); the hash is 64 lowercase hex
// digits; a path is 1 to 95 bytes, none of them a control character, a blank or DEL.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr const char* kManifestFormatLine = "QOR-PATCH-MANIFEST 1";
// A longer manifest is refused unread: 4096 lines of the longest kind fit well below it.
constexpr std::size_t kManifestMaxBytes = 1024 * 1024;
constexpr std::size_t kManifestMaxFiles = 4096;
constexpr std::size_t kManifestPathSize = 96;
constexpr std::size_t kManifestNumberDigits = 18;
constexpr std::size_t kSha256Size = 32;
// LauncherPatchInfo.manifest.sig holds exactly these bytes: the ECDSA P-256 signature of the
// manifest's SHA-256, r then s, 32 bytes each, big-endian.
constexpr std::size_t kSignatureSize = 64;
// A P-256 public key as the launcher keeps it: the point's X then Y, 32 bytes each.
constexpr std::size_t kPublicKeySize = 64;

// Where the patch information itself is listed.
constexpr const char* kPatchInfoManifestPath = "LauncherPatchInfo.txt";

struct ManifestEntry {
    char Path[kManifestPathSize];
    uint64_t Size;
    uint8_t Sha256[kSha256Size];
};

struct Manifest {
    uint64_t Sequence;
    int HasExpiry;
    uint64_t Expires;  // seconds since 1970 UTC; meaningful only with HasExpiry
    uint32_t FileCount;
    ManifestEntry Files[kManifestMaxFiles];  // FileCount in use, ascending by path, no two alike
};

// Parses exactly length bytes of text (no NUL needed; one inside refuses it). Returns 1 when
// the text is a whole, well-formed manifest; 0 otherwise, and *out is then emptied (sequence
// 0, no expiry, no file), so a refused text never leaves part of itself behind.
int ParseManifest(const char* text, std::size_t length, Manifest* out);

// The entry of this path (compared byte for byte), or null.
const ManifestEntry* FindManifestEntry(const Manifest& manifest, const char* path);

// Why a manifest whose signature verified is still refused.
constexpr int kManifestFresh = 0;
constexpr int kManifestRolledBack = 1;  // its sequence is below the one the launcher kept
constexpr int kManifestExpired = 2;     // its expiry time has come

// keptSequence is the sequence of the manifest kept from an earlier fetch (0 without one);
// now is the current time in seconds since 1970 UTC. The same manifest fetched again (an
// equal sequence) is fresh. With expiryRequired a manifest without an expiry counts as
// expired: replayed, it would never stop being taken.
int CheckManifestFreshness(const Manifest& manifest, uint64_t keptSequence, int64_t now, int expiryRequired = 0);

// How a downloaded file compares with the manifest.
constexpr int kFileVerified = 0;
constexpr int kFileUnlisted = 1;
constexpr int kFileSizeDiffers = 2;
constexpr int kFileHashDiffers = 3;

int CheckFileAgainstManifest(const Manifest& manifest, const char* path, uint64_t size,
                             const uint8_t sha256[kSha256Size]);

// The manifest path of a file downloaded from PatchBaseUrl + subPath + name: subPath without
// its leading "/", then name ("/Player/" and "a.zip" give "Player/a.zip"). Returns 1, or 0
// when it does not fit out (size bytes) or is no manifest path at all (out then must not be
// looked up).
int ManifestPathOf(const char* subPath, const char* name, char* out, std::size_t size);
