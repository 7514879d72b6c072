// The content worker's transfers: the release manifest (checked against the signed manifest
// before it is parsed) from the patch base, the plan's range requests into the cache (up to
// kContentFetchLanes at once, each on a thread of its own) and one chunk on its own, both from
// the content mirrors (TryMirroredRequest).
#include <windows.h>
#include <process.h>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "common/bounded_text.h"
#include "common/display_state.h"
#include "common/failure_trace.h"
#include "common/srw_lock_win32.h"
#include "content/content_retry_win32.h"
#include "content/content_run.h"
#include "content/content_text.h"
#include "content/range_fetch_win32.h"
#include "content/rate_meter.h"
#include "content/request_split.h"
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

namespace {

// What one thread decodes fetched chunks with: a zstd context is never shared between threads.
struct ChunkBuffers {
    ChunkDecoder* Decoder;
    uint8_t* Raw;    // one chunk's bytes, ChunkMax
    uint8_t* Frame;  // one stored chunk, StoredChunkBound(ChunkMax)
};

ChunkBuffers RunBuffers(ContentRun& run) { return ChunkBuffers{&run.Decoder, run.Raw.get(), run.Frame.get()}; }

}  // namespace

// A stored chunk is taken only once it decodes to its name; then its frame goes to the cache.
static int FetchedChunkDecodes(ContentRun& run, const ChunkBuffers& buffers, uint32_t chunk, const uint8_t* frame) {
    if (DecodeStoredChunk(*buffers.Decoder, frame, ReleaseChunkAt(run.NewRelease, chunk), buffers.Raw)) return 1;
    TraceFailure("content chunk", "check", "stored chunk", ERROR_INVALID_DATA);
    return 0;
}

// The cache is one file appended to by every fetching thread: lock is held for each record (null
// when one thread alone fetches). FrameAt[chunk] is this chunk's alone.
static int StoreFetchedChunk(ContentRun& run, SrwLock* lock, uint32_t chunk, const uint8_t* frame) {
    const ReleaseChunk c = ReleaseChunkAt(run.NewRelease, chunk);
    CacheRecordHeader header;
    std::memcpy(header.Sha256, c.Sha256, sizeof header.Sha256);
    header.RawSize = c.RawSize;
    header.StoredSize = c.StoredSize;
    if (!lock) return run.Cache.Append(header, frame, &run.FrameAt[chunk]) && run.Cache.FlushWhenDue() ? 1 : 0;
    LockHeld held(*lock);
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
    if (FetchedChunkDecodes(*t.Run, RunBuffers(*t.Run), t.Chunk, t.Run->Frame.get())) return 1;
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
    return StoreFetchedChunk(run, nullptr, chunk, run.Frame.get());
}

namespace {

// The line is redrawn this often while the requests run, by the worker, which waits for them.
constexpr DWORD kShowEveryMs = 100;

// What the fetching threads share. The first failure's fields are written by the thread that
// claimed Failed and read by the worker once every thread has ended.
struct FetchShared {
    ContentRun* Run;
    const std::vector<ContentFetchRequest>* Pieces;
    std::atomic<uint32_t> Next{0};    // the next piece to take
    std::atomic<uint64_t> Done{0};    // bytes of the pieces gone past, kept or thrown away
    std::atomic<int32_t> Stop{0};     // a failure: the others stop at their next chunk
    std::atomic<int32_t> Waiting{0};  // requests counting down to another try
    std::atomic<int32_t> Failed{0};
    SrwLock CacheLock;
    char FailedPath[64] = {};  // empty: a failure with no text of its own
    ContentTry FailedTry = {kFailNone, 0, 0};
};

// Walks the bytes of one request: the gaps and the chunks fetched by others are thrown away,
// each fetched chunk's frame is gathered whole, checked and kept.
struct RequestSink {
    ContentRun* Run;
    FetchShared* Shared;
    const ChunkBuffers* Buffers;
    const ContentFetchRequest* Request;
    uint32_t Chunk;   // the next chunk of the request, in manifest order
    uint64_t At;      // the pack offset of the next byte
    uint32_t Have;    // bytes of the current frame gathered
    int Refused;      // kChunkRefused, kChunkNotKept or kChunkStopped when the sink stopped the transfer
    uint64_t Counted; // the pack offset up to which Shared->Done counts this request
};

constexpr int kChunkRefused = 1;  // a frame that does not decode to its hash: try again
constexpr int kChunkNotKept = 2;  // a size past the bound, or the cache refused it: this side
constexpr int kChunkStopped = 3;  // another request failed for good

int ToChunks(void* context, const uint8_t* data, std::size_t length) {
    RequestSink& s = *static_cast<RequestSink*>(context);
    ContentRun& run = *s.Run;
    if (s.Shared->Stop.load()) return s.Refused = kChunkStopped;
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
        std::memcpy(s.Buffers->Frame + s.Have, data, take);
        s.Have += take;
        s.At += take;
        data += take;
        length -= take;
        if (s.Have < c.StoredSize) continue;
        if (!FetchedChunkDecodes(run, *s.Buffers, s.Chunk, s.Buffers->Frame)) return s.Refused = kChunkRefused;
        if (!StoreFetchedChunk(run, &s.Shared->CacheLock, s.Chunk, s.Buffers->Frame)) return s.Refused = kChunkNotKept;
        s.Have = 0;
        ++s.Chunk;
        // Counted per chunk kept: bytes of a frame that a later try asks for again count once.
        s.Shared->Done.fetch_add(s.At - s.Counted);
        s.Counted = s.At;
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
    if (result == kRangeDone || s.Refused == kChunkNotKept || s.Refused == kChunkStopped) failure->Failure = kFailLocal;
    if (s.Refused == kChunkRefused) failure->Failure = kFailChunk;
    if (s.Refused == kChunkStopped) return 0;  // not this request's failure: nothing to trace
    TraceFailure("content fetch", t.Path, answer.Error ? answer.Error : (s.Refused ? ERROR_INVALID_DATA : answer.Status));
    return 0;
}

// The first failure for good stops the others; its text is the one the line shows.
void NoteFailure(FetchShared& shared, const char* path, const ContentTry& last) {
    int32_t none = 0;
    if (shared.Failed.compare_exchange_strong(none, 1)) {
        if (path) FormatText(shared.FailedPath, sizeof shared.FailedPath, "%s", path);
        shared.FailedTry = last;
    }
    shared.Stop.store(1);
}

int FetchRequest(FetchShared& shared, const ChunkBuffers& buffers, const ContentFetchRequest& request) {
    ContentRun& run = *shared.Run;
    char path[64];
    if (!PackPath(run, request.Pack, path, sizeof path)) {
        NoteFailure(shared, nullptr, ContentTry{kFailLocal, 0, 0});
        return 0;
    }
    RequestTry attempt = {{&run, &shared, &buffers, &request, request.FirstChunk, request.Offset, 0, 0, request.Offset},
                          path};
    ContentTry last;
    if (!TryMirroredRequestShared(path, TryRequest, &attempt, ContentTryShared{&shared.Stop, &shared.Waiting}, &last)) {
        if (!shared.Stop.load()) NoteFailure(shared, path, last);
        return 0;
    }
    shared.Done.fetch_add(request.Offset + request.Length - attempt.Sink.Counted);
    return 1;
}

// One fetching thread: its own buffers and decoder, the pieces taken in turn until none is left
// or the run stops.
struct FetchLane {
    FetchShared* Shared = nullptr;
    ChunkDecoder Decoder;
    std::unique_ptr<uint8_t[]> Raw;
    std::unique_ptr<uint8_t[]> Frame;
    KernelHandle Thread;
};

unsigned __stdcall RunLane(void* context) {
    FetchLane& lane = *static_cast<FetchLane*>(context);
    FetchShared& shared = *lane.Shared;
    const ChunkBuffers buffers = {&lane.Decoder, lane.Raw.get(), lane.Frame.get()};
    while (!shared.Stop.load()) {
        const uint32_t i = shared.Next.fetch_add(1);
        if (i >= shared.Pieces->size() || !FetchRequest(shared, buffers, (*shared.Pieces)[i])) break;
    }
    return 0;
}

// Starts up to count lanes; the number started (the lanes that could not start take nothing).
uint32_t StartLanes(FetchShared& shared, FetchLane* lanes, uint32_t count) {
    const uint32_t chunkMax = shared.Run->NewRelease.ChunkMax;
    uint32_t started = 0;
    for (uint32_t i = 0; i < count; ++i) {
        FetchLane& lane = lanes[i];
        lane.Shared = &shared;
        lane.Raw.reset(new (std::nothrow) uint8_t[chunkMax]);
        lane.Frame.reset(new (std::nothrow) uint8_t[StoredChunkBound(chunkMax)]);
        if (!lane.Raw || !lane.Frame || !lane.Decoder.Good()) break;
        unsigned id = 0;
        lane.Thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunLane, &lane, 0, &id)));
        if (!lane.Thread) {
            TraceFailure("thread start", "content fetch", GetLastError());
            break;
        }
        ++started;
    }
    return started;
}

// The line and the upper bar: the bytes of this update done, the speed over the last seconds and
// the time left, unless a request is counting down to its next try (the line is its own then).
void ShowFetched(const FetchShared& shared, RateMeter& meter, uint64_t total) {
    const uint64_t done = shared.Done.load();
    AddRateSample(&meter, GetTickCount64(), done);
    ProgressCurrent = total ? static_cast<int32_t>(done * 100 / total) : 100;
    if (shared.Stop.load() || shared.Waiting.load()) return;
    const uint64_t rate = BytesPerSecond(meter);
    const uint32_t left = SecondsLeft(total - done, rate);
    const unsigned doneKb = static_cast<unsigned>(done >> 10), totalKb = static_cast<unsigned>(total >> 10);
    if (!RateKnown(meter) || left == kSecondsLeftUnknown)
        StatusText.Format(ContentText.Fetching, doneKb, totalKb);
    else
        StatusText.Format(ContentText.FetchingRate, doneKb, totalKb, static_cast<unsigned>(rate >> 10), left / 60,
                          left % 60);
}

// The worker waits for its lanes (never for the window thread) and redraws the line meanwhile.
void WatchLanes(FetchShared& shared, FetchLane* lanes, uint32_t count, uint64_t total) {
    HANDLE handles[kContentFetchLanes];
    for (uint32_t i = 0; i < count; ++i) handles[i] = lanes[i].Thread.Get();
    RateMeter meter;
    for (;;) {
        ShowFetched(shared, meter, total);
        const DWORD waited = WaitForMultipleObjects(count, handles, TRUE, kShowEveryMs);
        if (waited == WAIT_TIMEOUT) continue;
        if (waited == WAIT_FAILED) {
            TraceFailure("content fetch", "wait", GetLastError());
            for (uint32_t i = 0; i < count; ++i) WaitForSingleObject(handles[i], INFINITE);
        }
        return;
    }
}

}  // namespace

int FetchRequests(ContentRun& run) {
    ProgressCurrent = 0;
    ProgressTotal = 0;  // the files built: none yet
    std::vector<ContentFetchRequest> pieces;
    uint64_t total = 0;
    const uint64_t bound = ContentPieceBound(run.Plan.Totals.Bytes, kContentFetchLanes);
    if (!ContentRequestPieces(run.Plan, bound, &pieces, &total)) return 0;
    if (pieces.empty()) {
        ProgressCurrent = 100;
        return run.Cache.Flush() ? 1 : 0;
    }
    FetchShared shared;
    shared.Run = &run;
    shared.Pieces = &pieces;
    const uint32_t count = pieces.size() < kContentFetchLanes ? static_cast<uint32_t>(pieces.size()) : kContentFetchLanes;
    std::unique_ptr<FetchLane[]> lanes(new (std::nothrow) FetchLane[count]);
    const uint32_t started = lanes ? StartLanes(shared, lanes.get(), count) : 0;
    if (started == 0) {
        StatusText.Format(ContentText.FetchFailed, "thread");
        SetStartButtonState(kButtonDisabled);
        return 0;
    }
    WatchLanes(shared, lanes.get(), started, total);
    if (shared.Failed.load()) {
        if (shared.FailedPath[0]) ShowContentFailure(run.Version, shared.FailedPath, shared.FailedTry);
        SetStartButtonState(kButtonDisabled);
        return 0;
    }
    ProgressCurrent = 100;
    StatusText.Format(ContentText.Fetching, static_cast<unsigned>(total >> 10), static_cast<unsigned>(total >> 10));
    return run.Cache.Flush() ? 1 : 0;
}
