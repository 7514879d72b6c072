// The delta step of a content run: each delta the plan takes is one single-range GET of its
// pack, written to content.delta and hashed as it arrives. A delta is a saving, never a need:
// one that cannot be fetched or fails its hash is left out and its file takes its chunks.
#pragma once

#include <cstdint>
#include <memory>

#include "common/win32_handle.h"
#include "content/content_report.h"
#include "content/run_parts.h"
#include "content_format/delta_apply.h"
#include "content_plan/content_plan.h"

constexpr uint64_t kDeltaNotFetched = ~0ull;

// content.delta: the fetched deltas back to back, deleted by the system when closed (a kill
// leaves nothing); At per new delta: where it starts there, kDeltaNotFetched if not.
struct FetchedDeltas {
    FileHandle Store;
    std::unique_ptr<uint64_t[]> At;
    uint64_t End = 0;
    uint64_t MemoryLimit = kDeltaMemoryLimit;  // a delta that needs more is not applied
};

// Fetches the deltas the plan takes into *deltas, each checked against its SHA-256 as it
// arrives, reporting the bytes. 1, or 0 when the launcher is ending.
int FetchDeltas(const ContentLink& link, const ReleaseManifest& release, const ContentPlan& plan, ContentReport& report,
                FetchedDeltas* deltas);
