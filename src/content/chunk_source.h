// Where a chunk's bytes come from while files are built: a local file (local_chunks_win32.h),
// the cache (cached_chunks_win32.h) or its pack on the server (pack_chunks_win32.h); a delta
// makes whole files instead (delta_build_win32.h). Sources are chained: a local file that no
// longer holds the chunk, and the cache that does not, hand the chunk to the source behind them.
#pragma once

#include <cstdint>

#include "content_plan/content_plan.h"

class ChunkSource {
public:
    // Puts the RawSize bytes of the new release's chunk in raw, checked against its SHA-256;
    // where is the plan's source for it. 1, or 0 when neither this source nor those behind it
    // could give it.
    virtual int Take(uint32_t chunk, const ContentChunkSource& where, uint8_t* raw) = 0;

protected:
    ~ChunkSource() = default;
};
