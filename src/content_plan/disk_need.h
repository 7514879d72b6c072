// The disk space a content update will take in the game folder, worked out from its plan
// before anything is fetched, and the figures its refusal names.
#pragma once

#include <cstdint>

#include "content_plan/content_plan.h"

// The allocation unit a file is rounded up to when the disk's own is unknown (NTFS's default).
constexpr uint64_t kContentDiskCluster = 4096;

struct ContentDiskNeed {
    uint64_t Cache = 0;  // content.cache: its magic, then a record header and a frame per fetched chunk
    uint64_t Build = 0;  // the most the folder grows while the files are built, one at a time
    uint64_t Kept = 0;   // content.<V>.release and content.state
    uint64_t Deltas = 0; // content.delta: the deltas taken, back to back
    uint64_t Total = 0;  // the cache and the deltas, plus the higher of Build and (what stays built + Kept)
};

// manifestSize: the new release manifest's bytes (kept as content.<V>.release). cluster: the
// disk's allocation unit, each file rounded up to it (0: kContentDiskCluster). A built file's
// partial sits beside the local file at its path until it replaces it; space freed by deletions
// is never counted (those come after the build, or are too few to matter).
ContentDiskNeed ContentDiskNeedOf(const ContentPlan& plan, uint64_t manifestSize, uint64_t cluster);

// Whether the disk's free bytes, plus what the run frees before it writes (reclaimable: the
// earlier cache it replaces), cover the need.
bool ContentDiskSuffices(const ContentDiskNeed& need, uint64_t freeBytes, uint64_t reclaimable);

// Bytes as MiB: rounded up for a need (never names less than it takes), down for free space.
uint32_t MegabytesNeeded(uint64_t bytes);
uint32_t MegabytesFree(uint64_t bytes);

// The codes a write or flush ends with on a full disk: ERROR_HANDLE_DISK_FULL (39) and
// ERROR_DISK_FULL (112).
bool IsDiskFullCode(unsigned long code);
