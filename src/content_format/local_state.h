// What the launcher keeps in the game folder to know what it installed last: the state file
// "content.state" (the installed release's number, size and SHA-256, and each of its files'
// size and last-write time after install) and, beside it, that release's manifest as it was
// published, "content.<V>.release". Its writer and its strict parser.
//
// The state, little-endian, exactly 56 + 16 F bytes:
//   0   8     magic "QORSTAT1" (the digit is the format's version)
//   8   4     release V, 1 to 2^31-1
//   12  4     file count F, the release's, at most 2^20
//   16  8     the kept manifest's size, 48 bytes to 256 MiB
//   24  32    the kept manifest's SHA-256
//   56  16 F  per file of the release, in its order: u64 size, u64 last-write time (a FILETIME:
//             100 ns since 1601 UTC); a time of 0 vouches for nothing
#pragma once

#include <cstddef>
#include <cstdint>

#include "content_format/content_release.h"

constexpr std::size_t kContentStateMagicSize = 8;
constexpr const char kContentStateMagic[kContentStateMagicSize + 1] = "QORSTAT1";
constexpr std::size_t kContentStateHeaderSize = 56;
constexpr std::size_t kContentStampSize = 16;
constexpr const char* kContentStateName = "content.state";
constexpr const wchar_t* kContentStateFile = L"content.state";  // the same name, as the wide API opens it

struct ContentFileStamp {
    uint64_t Size;
    uint64_t LastWrite;  // FILETIME as one number; 0: unknown
};

struct ContentStateHeader {
    uint32_t Release;
    uint32_t FileCount;
    uint64_t ManifestSize;
    uint8_t ManifestSha256[kReleaseHashSize];
};

// A parsed state refers into the bytes it was parsed from (they must outlive it). Empty (every
// field 0, Data null) by default and after a refusal.
struct ContentState {
    const uint8_t* Data = nullptr;
    std::size_t Length = 0;
    ContentStateHeader Header = {};
};

// Receives the state's bytes in order, in pieces; returns 1 when it stored them, 0 to stop.
typedef int (*ContentStateWriter)(void* context, const uint8_t* data, std::size_t length);

// Writes the state of header with its FileCount stamps through writer, a few KiB at a time.
// Returns 1 when every piece was stored; 0 when the writer failed or the header is out of the
// format's bounds (nothing is written then).
int WriteContentState(const ContentStateHeader& header, const ContentFileStamp* stamps, ContentStateWriter writer,
                      void* context);

// Parses exactly length bytes. 1 when they are a whole state within the format's bounds; 0
// otherwise, and *out is empty.
int ParseContentState(const uint8_t* data, std::size_t length, ContentState* out);

// The stamp of file i (below Header.FileCount).
ContentFileStamp ContentStampAt(const ContentState& state, uint32_t i);

// True when the state was written for this manifest: its release and file count, the size and
// SHA-256 of its bytes (the caller hashes them), and every stamp that vouches for a file
// giving that file's size.
bool ContentStateDescribes(const ContentState& state, const ReleaseManifest& manifest,
                           const uint8_t manifestSha256[kReleaseHashSize]);

// True when a file found with this size and last-write time is still the one the stamp was
// taken of, so its content is the release's and it is never read.
bool StampVouches(const ContentFileStamp& stamp, uint64_t size, uint64_t lastWrite);

// "content.<V>.release": the name the manifest of release V is kept under. 1, or 0 when it
// does not fit out (size bytes).
int KeptReleaseName(uint32_t release, char* out, std::size_t size);
