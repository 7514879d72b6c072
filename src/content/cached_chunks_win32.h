// The cache in front of the packs: chunks this run fetched, or an earlier run left, read back
// from content.cache while files are built.
#pragma once

#include <cstdint>

#include "content/chunk_source.h"
#include "content/run_parts.h"
#include "content_plan/content_plan.h"

class CachedChunks : public ChunkSource {
public:
    CachedChunks(const ReleaseManifest& release, const ContentPlan& plan, CacheIndex& index, ChunkBuffers& buffers,
                 ChunkSource& behind)
        : release_(release), plan_(plan), index_(index), buffers_(buffers), behind_(behind) {}
    // A chunk this run fetched was checked as it arrived, and the cache is the run's own file:
    // it is decoded only. One an earlier run left may have changed on disk since: it must decode
    // to its name again, or it is taken from behind. Any other chunk is taken from behind.
    int Take(uint32_t chunk, const ContentChunkSource& where, uint8_t* raw) override;

private:
    const ReleaseManifest& release_;
    const ContentPlan& plan_;
    CacheIndex& index_;
    ChunkBuffers& buffers_;
    ChunkSource& behind_;
};
