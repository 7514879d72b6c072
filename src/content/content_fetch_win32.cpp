// The content worker's transfers: the release manifest (checked against the signed manifest
// before it is parsed) from the patch base, the plan's range requests into the cache and one
// chunk on its own from the content mirrors (TryMirroredRequest).
#include <windows.h>

#include <cstring>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "content/content_retry_win32.h"
#include "content/content_run.h"
#include "content/content_text.h"
#include "content/range_fetch_win32.h"
#include "content/stored_chunk_win32.h"
#include "settings/launcher_settings.h"
#include "update/signature_win32.h"
#include "update/signed_patch_info.h"

int ContentUrl(const char* path, char* out, std::size_t size) {
    return FormatText(out, size, "%s/%s", LauncherSettings.PatchBaseUrl, path) ? 1 : 0;
}

int PackPath(const ContentRun& run, uint32_t pack, char* out, std::size_t size) {
    const ReleasePack p = ReleasePackAt(run.NewRelease, pack);
    return FormatText(out, size, "Content/packs/%u-%u.pack", p.Release, p.Index) ? 1 : 0;
}

namespace {

struct BufferSink {
    uint8_t* Data;
    uint64_t Size;
    uint64_t Have;
};

int ToBuffer(void* context, const uint8_t* data, std::size_t length) {
    BufferSink& sink = *static_cast<BufferSink*>(context);
    if (length > sink.Size - sink.Have) return 1;
    std::memcpy(sink.Data + sink.Have, data, length);
    sink.Have += length;
    return 0;
}

int FetchInto(ContentRun& run, const char* path, const char* url, uint64_t first, uint64_t size, uint8_t* out,
              ContentTry* failure) {
    BufferSink sink = {out, size, 0};
    RangeAnswer answer = {};
    const int32_t result = FetchRange(run.Session.Get(), url, run.Secure, first, first + size - 1, ToBuffer, &sink, &answer);
    if (result == kRangeDone && sink.Have == size) return 1;
    *failure = ContentTryOf(result, answer);
    TraceFailure("content fetch", path, answer.Error ? answer.Error : answer.Status);
    return 0;
}

// The release manifest's try: a copy that fails its hash may have been mangled on the way.
struct ReleaseTry {
    ContentRun* Run;
    const char* Path;
    const ManifestEntry* Entry;
};

int TryRelease(void* context, ContentTry* failure) {
    const ReleaseTry& t = *static_cast<const ReleaseTry*>(context);
    char url[1024];
    *failure = ContentTry{kFailLocal, 0, 0};
    if (!ContentUrl(t.Path, url, sizeof url)) return 0;
    if (!FetchInto(*t.Run, t.Path, url, 0, t.Entry->Size, t.Run->NewBytes.get(), failure)) return 0;
    if (BytesMatchChunk(t.Run->NewBytes.get(), t.Run->NewLength, t.Entry->Sha256)) return 1;
    TraceFailure("content release", "hash", t.Path, 0);
    *failure = ContentTry{kFailChunk, 0, 0};
    return 0;
}

int RefuseRelease(const char* path, const char* why) {
    TraceFailure("content release", why, path, 0);
    StatusText.Format(ContentText.ReleaseFailed, path);
    SetStartButtonState(kButtonDisabled);
    return 0;
}

}  // namespace

int FetchNewRelease(ContentRun& run) {
    char path[64];
    FormatText(path, sizeof path, "Content/releases/%u.release", run.Version);
    const ManifestEntry* entry = FindManifestEntry(VerifiedManifest, path);
    if (!entry) return RefuseRelease(path, "unlisted");
    if (entry->Size < kReleaseHeaderSize || entry->Size > kReleaseMaxBytes) return RefuseRelease(path, "size");
    run.NewLength = static_cast<std::size_t>(entry->Size);
    run.NewBytes.reset(new (std::nothrow) uint8_t[run.NewLength]);
    if (!run.NewBytes) return RefuseRelease(path, "memory");
    ReleaseTry attempt = {&run, path, entry};
    ContentTry last;
    if (!TryContentRequest(path, TryRelease, &attempt, &last)) {
        if (last.Failure == kFailChunk) return RefuseRelease(path, "hash");
        ShowContentFailure(run.Version, path, last);
        SetStartButtonState(kButtonDisabled);
        return 0;
    }
    if (!ParseReleaseManifest(run.NewBytes.get(), run.NewLength, &run.NewRelease) ||
        run.NewRelease.Release != run.Version)
        return RefuseRelease(path, "parse");
    return 1;
}

// A stored chunk is taken only once it decodes to its name; then its frame goes to the cache.
static int FetchedChunkDecodes(ContentRun& run, uint32_t chunk, const uint8_t* frame) {
    if (DecodeStoredChunk(run.Decoder, frame, ReleaseChunkAt(run.NewRelease, chunk), run.Raw.get())) return 1;
    TraceFailure("content chunk", "check", "stored chunk", ERROR_INVALID_DATA);
    return 0;
}

static int StoreFetchedChunk(ContentRun& run, uint32_t chunk, const uint8_t* frame) {
    const ReleaseChunk c = ReleaseChunkAt(run.NewRelease, chunk);
    CacheRecordHeader header;
    std::memcpy(header.Sha256, c.Sha256, sizeof header.Sha256);
    header.RawSize = c.RawSize;
    header.StoredSize = c.StoredSize;
    return run.Cache.Append(header, frame, &run.FrameAt[chunk]) && run.Cache.FlushWhenDue() ? 1 : 0;
}

namespace {

struct ChunkTry {
    ContentRun* Run;
    uint32_t Chunk;
    const char* Path;
};

int TryChunk(void* context, const char* url, ContentTry* failure) {
    const ChunkTry& t = *static_cast<const ChunkTry*>(context);
    const ReleaseChunk c = ReleaseChunkAt(t.Run->NewRelease, t.Chunk);
    if (!FetchInto(*t.Run, t.Path, url, c.Offset, c.StoredSize, t.Run->Frame.get(), failure)) return 0;
    if (FetchedChunkDecodes(*t.Run, t.Chunk, t.Run->Frame.get())) return 1;
    *failure = ContentTry{kFailChunk, 0, 0};
    return 0;
}

}  // namespace

int FetchOneChunk(ContentRun& run, uint32_t chunk) {
    const ReleaseChunk c = ReleaseChunkAt(run.NewRelease, chunk);
    char path[64];
    if (c.StoredSize > StoredChunkBound(c.RawSize) || !PackPath(run, c.Pack, path, sizeof path)) return 0;
    ChunkTry attempt = {&run, chunk, path};
    ContentTry last;
    if (!TryMirroredRequest(path, TryChunk, &attempt, &last)) return 0;
    return StoreFetchedChunk(run, chunk, run.Frame.get());
}

namespace {

struct RequestWalk {
    ContentRun* Run;
    uint64_t Done;
    uint64_t Total;
    int Failed;
};

// The line and the bars as each chunk arrives: one request may run for a whole pack (64 MiB),
// minutes on a slow link, and would leave them at the request's start meanwhile.
void ShowFetched(const RequestWalk& walk, const ContentFetchRequest& request, uint64_t requestDone) {
    const uint64_t done = walk.Done + requestDone;
    StatusText.Format(ContentText.Fetching, static_cast<unsigned>(done >> 10), static_cast<unsigned>(walk.Total >> 10));
    ProgressCurrent = request.Length ? static_cast<int32_t>(requestDone * 100 / request.Length) : 100;
    ProgressTotal = walk.Total ? static_cast<int32_t>(done * 100 / walk.Total) : 100;
}

// Walks the bytes of one request: the gaps and the chunks fetched by others are thrown away,
// each fetched chunk's frame is gathered whole, checked and kept.
struct RequestSink {
    ContentRun* Run;
    RequestWalk* Walk;
    const ContentFetchRequest* Request;
    uint32_t Chunk;  // the next chunk of the request, in manifest order
    uint64_t At;     // the pack offset of the next byte
    uint32_t Have;   // bytes of the current frame gathered
    int Refused;     // kChunkRefused or kChunkNotKept when the sink stopped the transfer
};

constexpr int kChunkRefused = 1;  // a frame that does not decode to its hash: try again
constexpr int kChunkNotKept = 2;  // a size past the bound, or the cache refused it: this side

int ToChunks(void* context, const uint8_t* data, std::size_t length) {
    RequestSink& s = *static_cast<RequestSink*>(context);
    ContentRun& run = *s.Run;
    while (length > 0) {
        if (s.Chunk > s.Request->LastChunk) return 0;  // the tail is never asked for; be lenient
        if (!ContentChunkFetched(run.Plan, s.Chunk)) {
            ++s.Chunk;
            continue;
        }
        const ReleaseChunk c = ReleaseChunkAt(run.NewRelease, s.Chunk);
        if (s.At < c.Offset) {
            const uint64_t skip = c.Offset - s.At < length ? c.Offset - s.At : length;
            s.At += skip;
            data += skip;
            length -= static_cast<std::size_t>(skip);
            continue;
        }
        if (c.StoredSize > StoredChunkBound(c.RawSize)) return s.Refused = kChunkNotKept;
        const uint32_t take = c.StoredSize - s.Have < length ? c.StoredSize - s.Have : static_cast<uint32_t>(length);
        std::memcpy(run.Frame.get() + s.Have, data, take);
        s.Have += take;
        s.At += take;
        data += take;
        length -= take;
        if (s.Have < c.StoredSize) continue;
        if (!FetchedChunkDecodes(run, s.Chunk, run.Frame.get())) return s.Refused = kChunkRefused;
        if (!StoreFetchedChunk(run, s.Chunk, run.Frame.get())) return s.Refused = kChunkNotKept;
        s.Have = 0;
        ++s.Chunk;
        ShowFetched(*s.Walk, *s.Request, s.At - s.Request->Offset);
    }
    return 0;
}

struct RequestTry {
    RequestSink Sink;  // kept across tries: where the last one got to
    const char* Path;
};

// Another try asks only for the bytes from the first chunk not yet kept: those before it are
// in the cache, checked.
int TryRequest(void* context, const char* url, ContentTry* failure) {
    RequestTry& t = *static_cast<RequestTry*>(context);
    RequestSink& s = t.Sink;
    ContentRun& run = *s.Run;
    const uint64_t last = s.Request->Offset + s.Request->Length - 1;
    s.At -= s.Have;
    s.Have = 0;
    s.Refused = 0;
    if (s.At > last) return 1;
    RangeAnswer answer = {};
    const int32_t result = FetchRange(run.Session.Get(), url, run.Secure, s.At, last, ToChunks, &s, &answer);
    if (result == kRangeDone && s.Have == 0) return 1;
    *failure = ContentTryOf(result, answer);
    // A request that ends inside a chunk is a plan that does not fit the release: never mended by waiting.
    if (result == kRangeDone || s.Refused == kChunkNotKept) failure->Failure = kFailLocal;
    if (s.Refused == kChunkRefused) failure->Failure = kFailChunk;
    TraceFailure("content fetch", t.Path, answer.Error ? answer.Error : (s.Refused ? ERROR_INVALID_DATA : answer.Status));
    return 0;
}

int FetchRequest(void* context, const ContentFetchRequest& request) {
    RequestWalk& walk = *static_cast<RequestWalk*>(context);
    ContentRun& run = *walk.Run;
    char path[64];
    if (!PackPath(run, request.Pack, path, sizeof path)) return 0;
    ShowFetched(walk, request, 0);
    RequestTry attempt = {{&run, &walk, &request, request.FirstChunk, request.Offset, 0, 0}, path};
    ContentTry last;
    if (!TryMirroredRequest(path, TryRequest, &attempt, &last)) {
        ShowContentFailure(run.Version, path, last);
        walk.Failed = 1;
        return 0;
    }
    ShowFetched(walk, request, request.Length);
    walk.Done += request.Length;
    return 1;
}

}  // namespace

int FetchRequests(ContentRun& run) {
    RequestWalk walk = {&run, 0, run.Plan.Totals.Bytes, 0};
    ProgressCurrent = 0;
    ProgressTotal = 0;
    if (!ForEachContentRequest(run.Plan, FetchRequest, &walk) || walk.Failed) {
        SetStartButtonState(kButtonDisabled);
        return 0;
    }
    return run.Cache.Flush() ? 1 : 0;
}
