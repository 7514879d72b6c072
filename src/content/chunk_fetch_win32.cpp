// The fetch step of a content run: the plan's range requests cut into pieces and taken by up to
// kContentFetchLanes threads at once, each with its own buffers, from the content mirrors
// (TryMirroredRequestShared), paused and paced by the player; the worker waits for them and
// reports the bytes done meanwhile.
#include "content/chunk_fetch_win32.h"

#include <windows.h>
#include <process.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "common/srw_lock_win32.h"
#include "common/win32_handle.h"
#include "content/fetch_controls_win32.h"
#include "content/pack_chunks_win32.h"
#include "content/release_fetch_win32.h"
#include "content_fetch/mirrored_request_win32.h"
#include "content_fetch/range_fetch_win32.h"
#include "content_fetch/rate_meter.h"
#include "content_format/chunk_check_win32.h"
#include "content_plan/request_split.h"

namespace {

// The progress is reported this often while the requests run, by the worker, which waits for them.
constexpr DWORD kShowEveryMs = 100;

// What the fetching threads share. The first failure's fields are written by the thread that
// claimed Failed and read by the worker once every thread has ended.
struct FetchShared {
    const ContentLink* Link;
    const ReleaseManifest* Release;
    const ContentPlan* Plan;
    CacheIndex* Index;
    ContentReport* Report;
    const std::vector<ContentFetchRequest>* Pieces;
    std::atomic<uint32_t> Next{0};    // the next piece to take
    std::atomic<uint64_t> Done{0};    // bytes of the pieces gone past, kept or thrown away
    std::atomic<int32_t> Stop{0};     // a failure: the others stop at their next chunk
    std::atomic<int32_t> Waiting{0};  // requests counting down to another try
    std::atomic<int32_t> Failed{0};
    SrwLock CacheLock;
    // Per pack: where the request answered first with the whole pack (200) began; it reads on
    // to the pack's end, keeping every chunk the run fetches from there, and the pieces past that
    // start are not asked for. kUnclaimed while no request did.
    std::unique_ptr<std::atomic<uint64_t>[]> WholeFrom;
    char FailedPath[64] = {};  // empty: a failure with no text of its own
    ContentTry FailedTry = {kFailNone, 0, 0};
};

// Walks the bytes of one request: the gaps and the chunks fetched by others are thrown away,
// each fetched chunk's frame is gathered whole, checked and kept.
struct RequestSink {
    FetchShared* Shared;
    ChunkBuffers* Buffers;
    const ContentFetchRequest* Request;
    uint32_t Chunk;   // the next chunk of the request, in manifest order
    uint64_t At;      // the pack offset of the next byte
    uint32_t Have;    // bytes of the current frame gathered
    int Refused;      // kChunkRefused, kChunkNotKept, kChunkStopped or kChunkCovered when the sink stopped the transfer
    uint64_t Counted; // the pack offset up to which Shared->Done counts this request
    const RangeAnswer* Answer;  // the answer under way
    int ReadsPack;    // this request claimed its pack's whole body and keeps all of it
};

constexpr uint64_t kUnclaimed = ~uint64_t{0};
constexpr int kChunkRefused = 1;  // a frame that does not decode to its hash: try again
constexpr int kChunkNotKept = 2;  // a size past the bound, or the cache refused it: this side
constexpr int kChunkStopped = 3;  // another request failed for good
constexpr int kChunkCovered = 4;  // another request reads the whole pack, this one's chunks too
constexpr int kChunkPaused = 5;   // the player paused: the transfer ends, and goes on once resumed

void NoteFailure(FetchShared& shared, const char* path, const ContentTry& last);

// A lane that gave up waiting for the player: a quit ends the run with no failure shown (the
// window is closing), and the lanes never leave the fetch looking complete.
void StopQuietly(FetchShared& shared) {
    if (!shared.Stop.load()) NoteFailure(shared, nullptr, ContentTry{kFailLocal, 0, 0});
}

// Whether the run still wants this lane's bytes: no other lane failed and the player is not quitting.
bool RunGoesOn(const FetchShared& shared) { return !shared.Stop.load() && !shared.Report->Ending(); }

bool AskRunGoesOn(const void* shared) { return RunGoesOn(*static_cast<const FetchShared*>(shared)); }

FetchGoOn GoOnOf(const FetchShared& shared) { return FetchGoOn{AskRunGoesOn, &shared}; }

// A whole frame gathered: checked, then kept, under the cache's lock.
int KeepGathered(RequestSink& s) {
    FetchShared& shared = *s.Shared;
    const int kept = KeepFetchedChunk(*shared.Release, *shared.Index, &shared.CacheLock, s.Buffers->Decoder, s.Chunk,
                                      s.Buffers->Frame.get(), s.Buffers->Raw.get());
    if (kept == 0) return s.Refused = kChunkRefused;
    if (kept < 0) return s.Refused = kChunkNotKept;
    s.Have = 0;
    ++s.Chunk;
    // Counted per chunk kept: bytes of a frame that a later try asks for again count once. Past
    // the request's end the pack's other pieces count for themselves.
    const uint64_t end = s.Request->Offset + s.Request->Length;
    const uint64_t upTo = s.At < end ? s.At : end;
    if (upTo > s.Counted) {
        shared.Done.fetch_add(upTo - s.Counted);
        s.Counted = upTo;
    }
    return 0;
}

// A server that ignores ranges sends the whole pack for every piece: the first such answer
// reads the pack from its own start to the end, those for later bytes stop at once. A request
// for bytes before that start reads its own: the claimant throws them away, and which lane's
// answer comes first is chance. 1 to go on reading, 0 when stopped.
int DecideWholePack(RequestSink& s) {
    if (!s.Answer || !s.Answer->WholeBody || s.ReadsPack) return 1;
    uint64_t from = kUnclaimed;
    if (s.Shared->WholeFrom[s.Request->Pack].compare_exchange_strong(from, s.At)) {
        s.ReadsPack = 1;
        return 1;
    }
    if (s.At < from) return 1;
    s.Refused = kChunkCovered;
    return 0;
}

// The last byte a try asks for: the claimant of a whole pack asks again for all the pack left
// past where it got to, since the pieces it covers are asked for by no one else.
uint64_t LastWanted(const RequestSink& s) {
    if (s.ReadsPack) return ReleasePackAt(*s.Shared->Release, s.Request->Pack).Size - 1;
    return s.Request->Offset + s.Request->Length - 1;
}

// Past the request's last chunk: only the pack's claimant reads on, to the pack's end.
bool PastTheRequest(const RequestSink& s) {
    if (s.Chunk <= s.Request->LastChunk) return false;
    const ReleaseManifest& release = *s.Shared->Release;
    return !s.ReadsPack || s.Chunk >= release.ChunkCount || ReleaseChunkAt(release, s.Chunk).Pack != s.Request->Pack;
}

// Whether the player's pause ends the transfer here. A chunk begun is finished first (what came
// of it is not fetched again), and the one transfer that reads a whole pack for every piece of it
// (a server that ignores ranges) reads on: asked again, its tail would be lost.
bool PauseHere(const RequestSink& s) { return ContentFetchPaused() && s.Have == 0 && !s.ReadsPack; }

int ToChunks(void* context, const uint8_t* data, std::size_t length) {
    RequestSink& s = *static_cast<RequestSink*>(context);
    if (s.Shared->Stop.load()) return s.Refused = kChunkStopped;
    if (!DecideWholePack(s)) return s.Refused;
    if (PauseHere(s)) return s.Refused = kChunkPaused;
    if (!PayFetchLimit(length, GoOnOf(*s.Shared))) {
        StopQuietly(*s.Shared);
        return s.Refused = kChunkStopped;
    }
    while (length > 0) {
        if (PastTheRequest(s)) return kRangeSinkEnough;  // the tail is never asked for; be lenient
        if (!ContentChunkFetched(*s.Shared->Plan, s.Chunk)) {
            ++s.Chunk;
            continue;
        }
        const ReleaseChunk c = ReleaseChunkAt(*s.Shared->Release, s.Chunk);
        if (s.At < c.Offset) {
            const uint64_t skip = c.Offset - s.At < length ? c.Offset - s.At : length;
            s.At += skip;
            data += skip;
            length -= static_cast<std::size_t>(skip);
            continue;
        }
        if (c.StoredSize > StoredChunkBound(c.RawSize)) return s.Refused = kChunkNotKept;
        const uint32_t take = c.StoredSize - s.Have < length ? c.StoredSize - s.Have : static_cast<uint32_t>(length);
        std::memcpy(s.Buffers->Frame.get() + s.Have, data, take);
        s.Have += take;
        s.At += take;
        data += take;
        length -= take;
        if (s.Have < c.StoredSize) continue;
        if (KeepGathered(s)) return s.Refused;
        if (PauseHere(s)) return s.Refused = kChunkPaused;
    }
    return 0;
}

struct RequestTry {
    RequestSink Sink;  // kept across tries: where the last one got to
    const char* Path;
};

// Asks for the request's bytes from the first chunk not yet kept. A pause ends the transfer;
// once resumed, the same try asks again from where it stopped. The result of FetchRange, or
// kRangeDone with nothing left to ask for.
int32_t FetchRest(RequestSink& s, const char* url, RangeAnswer& answer) {
    const ContentLink& link = *s.Shared->Link;
    int32_t result = kRangeDone;
    do {
        const uint64_t last = LastWanted(s);
        s.At -= s.Have;
        s.Have = 0;
        s.Refused = 0;
        if (s.At > last) return kRangeDone;
        if (!WaitWhileFetchPaused(GoOnOf(*s.Shared))) {
            StopQuietly(*s.Shared);
            s.Refused = kChunkStopped;
            return kRangeStopped;
        }
        answer = RangeAnswer{};
        answer.ReadOn = 1;
        s.Answer = &answer;
        result = FetchRange(link.Session.Get(), url, link.Secure, s.At, last, ToChunks, &s, &answer);
        s.Answer = nullptr;
    } while (s.Refused == kChunkPaused);
    return result;
}

// Another try asks only for the bytes from the first chunk not yet kept: those before it are
// in the cache, checked.
int TryRequest(void* context, const char* url, ContentTry* failure) {
    RequestTry& t = *static_cast<RequestTry*>(context);
    RequestSink& s = t.Sink;
    RangeAnswer answer = {};
    const int32_t result = FetchRest(s, url, answer);
    if ((result == kRangeDone && s.Have == 0) || s.Refused == kChunkCovered) return 1;
    *failure = ContentTryOf(result, answer);
    // A request that ends inside a chunk is a plan that does not fit the release: never mended by waiting.
    if (result == kRangeDone || s.Refused == kChunkNotKept || s.Refused == kChunkStopped) failure->Failure = kFailLocal;
    if (s.Refused == kChunkRefused) failure->Failure = kFailChunk;
    if (s.Refused == kChunkStopped) return 0;  // not this request's failure: nothing to trace
    TraceFailure("content fetch", t.Path, answer.Error ? answer.Error : (s.Refused ? ERROR_INVALID_DATA : answer.Status));
    return 0;
}

// The first failure for good stops the others; its stop is the one reported.
void NoteFailure(FetchShared& shared, const char* path, const ContentTry& last) {
    int32_t none = 0;
    if (shared.Failed.compare_exchange_strong(none, 1)) {
        if (path) FormatText(shared.FailedPath, sizeof shared.FailedPath, "%s", path);
        shared.FailedTry = last;
    }
    shared.Stop.store(1);
}

int FetchRequest(FetchShared& shared, ChunkBuffers& buffers, const ContentFetchRequest& request) {
    char path[64];
    if (!PackPathOf(ReleasePackAt(*shared.Release, request.Pack), path, sizeof path)) {
        NoteFailure(shared, nullptr, ContentTry{kFailLocal, 0, 0});
        return 0;
    }
    if (request.Offset >= shared.WholeFrom[request.Pack].load()) {
        shared.Done.fetch_add(request.Length);  // its chunks come with the whole pack
        return 1;
    }
    RequestTry attempt = {
        {&shared, &buffers, &request, request.FirstChunk, request.Offset, 0, 0, request.Offset, nullptr, 0}, path};
    ContentTry last;
    const ContentTryShared together = {&shared.Stop, &shared.Waiting};
    if (!TryMirroredRequestShared(path, TryRequest, &attempt, *shared.Report, together, &last)) {
        if (!shared.Stop.load()) NoteFailure(shared, path, last);
        return 0;
    }
    const uint64_t end = request.Offset + request.Length;
    if (attempt.Sink.Counted < end) shared.Done.fetch_add(end - attempt.Sink.Counted);
    return 1;
}

// One fetching thread: its own buffers and decoder, the pieces taken in turn until none is left
// or the run stops.
struct FetchLane {
    FetchShared* Shared = nullptr;
    ChunkBuffers Buffers;
    KernelHandle Thread;
};

void TakePieces(FetchLane& lane) {
    FetchShared& shared = *lane.Shared;
    while (!shared.Stop.load()) {
        // A paused lane opens no new request: it waits here, holding no connection.
        if (ContentFetchPaused() && !WaitWhileFetchPaused(GoOnOf(shared))) {
            StopQuietly(shared);
            break;
        }
        const uint32_t i = shared.Next.fetch_add(1);
        if (i >= shared.Pieces->size() || !FetchRequest(shared, lane.Buffers, (*shared.Pieces)[i])) break;
    }
}

unsigned __stdcall RunLane(void* context) {
    FetchLane& lane = *static_cast<FetchLane*>(context);
    // A failed allocation fails this run, with its text, rather than ending the process.
    try {
        TakePieces(lane);
    } catch (const std::bad_alloc&) {
        TraceFailure("content fetch", "out of memory", ERROR_NOT_ENOUGH_MEMORY);
        NoteFailure(*lane.Shared, nullptr, ContentTry{kFailLocal, 0, ERROR_NOT_ENOUGH_MEMORY});
    }
    return 0;
}

// Starts up to count lanes; the number started (the lanes that could not start take nothing).
uint32_t StartLanes(FetchShared& shared, FetchLane* lanes, uint32_t count) {
    const uint32_t chunkMax = shared.Release->ChunkMax;
    uint32_t started = 0;
    for (uint32_t i = 0; i < count; ++i) {
        FetchLane& lane = lanes[i];
        lane.Shared = &shared;
        if (!lane.Buffers.Make(chunkMax)) break;
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

// The bytes of this update done, the speed over the last seconds and the time left; only the
// bars while a request counts down to its next try or the run stops (the line is not ours then).
void ReportFetched(const FetchShared& shared, RateMeter& meter, uint64_t total) {
    const uint64_t done = shared.Done.load();
    AddRateSample(&meter, GetTickCount64(), done);
    ContentProgress progress;
    progress.Stage = kStageFetching;
    progress.Show = shared.Stop.load() || shared.Waiting.load() ? kShowBars : kShowAll;
    progress.Done = done;
    progress.ToDo = total;
    const uint64_t rate = BytesPerSecond(meter);
    const uint32_t left = SecondsLeft(total - done, rate);
    if (RateKnown(meter) && left != kSecondsLeftUnknown) {
        progress.Rate = rate;
        progress.SecondsLeft = left;
    }
    shared.Report->Progress(progress);
}

// The worker waits for its lanes (never for the window thread) and reports meanwhile.
void WatchLanes(FetchShared& shared, FetchLane* lanes, uint32_t count, uint64_t total) {
    HANDLE handles[kContentFetchLanes];
    for (uint32_t i = 0; i < count; ++i) handles[i] = lanes[i].Thread.Get();
    RateMeter meter;
    for (;;) {
        ReportFetched(shared, meter, total);
        const DWORD waited = WaitForMultipleObjects(count, handles, TRUE, kShowEveryMs);
        if (waited == WAIT_TIMEOUT) continue;
        if (waited == WAIT_FAILED) {
            TraceFailure("content fetch", "wait", GetLastError());
            for (uint32_t i = 0; i < count; ++i) WaitForSingleObject(handles[i], INFINITE);
        }
        return;
    }
}

ContentProgress Fetched(ContentShow show, uint64_t done, uint64_t total) {
    ContentProgress progress;
    progress.Stage = kStageFetching;
    progress.Show = show;
    progress.Done = done;
    progress.ToDo = total;
    return progress;
}

int StopFetch(ContentReport& report, const char* name) {
    report.Stopped(NamedStop(kStopFetch, name));
    return 0;
}

}  // namespace

int FetchRequests(const ContentLink& link, const ReleaseManifest& release, const ContentPlan& plan, CacheIndex& index,
                  ContentReport& report) {
    report.Progress(Fetched(kShowBars, 0, plan.Totals.Bytes));  // the lower bar: no file built yet
    std::vector<ContentFetchRequest> pieces;
    uint64_t total = 0;
    const uint64_t bound = ContentPieceBound(plan.Totals.Bytes, kContentFetchLanes);
    if (!ContentRequestPieces(plan, bound, &pieces, &total)) return 0;
    if (pieces.empty()) {
        report.Progress(Fetched(kShowBars, 0, 0));
        return index.Cache.Flush() ? 1 : 0;
    }
    FetchShared shared;
    shared.Link = &link;
    shared.Release = &release;
    shared.Plan = &plan;
    shared.Index = &index;
    shared.Report = &report;
    shared.Pieces = &pieces;
    shared.WholeFrom.reset(new (std::nothrow) std::atomic<uint64_t>[release.PackCount]);
    if (!shared.WholeFrom) return StopFetch(report, "memory");
    for (uint32_t i = 0; i < release.PackCount; ++i) shared.WholeFrom[i].store(kUnclaimed);
    const uint32_t count = pieces.size() < kContentFetchLanes ? static_cast<uint32_t>(pieces.size()) : kContentFetchLanes;
    std::unique_ptr<FetchLane[]> lanes(new (std::nothrow) FetchLane[count]);
    StartLimitedFetch();
    const uint32_t started = lanes ? StartLanes(shared, lanes.get(), count) : 0;
    if (started == 0) return StopFetch(report, "thread");
    WatchLanes(shared, lanes.get(), started, total);
    if (shared.Failed.load()) {
        if (shared.FailedPath[0])
            report.Stopped(RequestStop(release.Release, shared.FailedPath, shared.FailedTry));
        else
            report.Stopped(ContentStop{});
        return 0;
    }
    report.Progress(Fetched(kShowAll, total, total));
    return index.Cache.Flush() ? 1 : 0;
}
