// The delta step of a content run: each delta the plan takes is one single-range GET of its
// pack, written to content.delta and hashed as it arrives. A delta is a saving, never a need:
// one that cannot be fetched or fails its hash is dropped and its file takes its chunks.
#include "content/delta_fetch_win32.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "common/failure_trace.h"
#include "content/fetch_controls_win32.h"
#include "content_fetch/mirrored_request_win32.h"
#include "content_fetch/range_fetch_win32.h"
#include "paths/game_folder_win32.h"
#include "update/signature_win32.h"

namespace {

// Where the deltas wait between their fetch and their file's build. Its own file rather than
// cache records: a delta is streamed in and out in pieces, tens of MiB where a cache record is
// one chunk read whole, and the system deletes it on close, so no run leaves one behind.
bool OpenStore(FetchedDeltas& deltas) {
    if (deltas.Store) return true;
    // Through the game folder's door: a link planted at the name would have the elevated
    // launcher truncate and then delete whatever it points at.
    unsigned long error = 0;
    if (OpenGameFile(L"content.delta", GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, &deltas.Store, &error))
        return true;
    TraceFailure("content delta", "store", "content.delta", error);
    return false;
}

// What the delta step walks with: the fetch's pieces and the bytes of the deltas gone past.
struct DeltaWalk {
    const ContentLink* Link;
    const ReleaseManifest* Release;
    const ContentPlan* Plan;
    ContentReport* Report;
    FetchedDeltas* Deltas;
    uint64_t Done;  // the deltas fetched (or given up) before this one, for the line
};

// The line counts the bytes of every delta, the upper bar this one's, the lower bar all of them.
void ReportDeltaFetched(const DeltaWalk& walk, uint64_t size, uint64_t have) {
    ContentProgress progress;
    progress.Stage = kStageFetchingDelta;
    progress.Done = walk.Done + have;
    progress.ToDo = walk.Plan->Totals.DeltaBytes;
    progress.PartDone = have;
    progress.PartSize = size;
    walk.Report->Progress(progress);
}

struct DeltaSink {
    const DeltaWalk* Walk;
    uint64_t Start;  // where the delta goes in the store
    uint64_t Size;
    uint64_t Have;
    Sha256Stream* Hash;
    unsigned long Error;  // a write or hash failure of this side
    int Paused;           // the player paused: the transfer ended, the rest is asked for once resumed
};

bool AskGoesOn(const void* walk) { return !static_cast<const DeltaWalk*>(walk)->Report->Ending(); }

int ToStore(void* context, const uint8_t* data, std::size_t length) {
    DeltaSink& s = *static_cast<DeltaSink*>(context);
    if (length > s.Size - s.Have) return 1;  // more than the range: the answer is not the delta
    if (!PayFetchLimit(length, FetchGoOn{AskGoesOn, s.Walk})) {
        s.Error = ERROR_CANCELLED;
        return 1;
    }
    OVERLAPPED at = {};
    const uint64_t offset = s.Start + s.Have;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD wrote = 0;
    if (!WriteFile(s.Walk->Deltas->Store.Get(), data, static_cast<DWORD>(length), &wrote, &at) || wrote != length) {
        s.Error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        return 1;
    }
    if (!s.Hash->Update(data, length)) {
        s.Error = ERROR_INVALID_FUNCTION;
        return 1;
    }
    s.Have += length;
    ReportDeltaFetched(*s.Walk, s.Size, s.Have);
    // What came is kept and hashed: the pause drops the connection, not the bytes.
    if (ContentFetchPaused() && s.Have < s.Size) return s.Paused = 1;
    return 0;
}

// The line says paused, with the bytes done, until the player resumes; false on a quit.
bool WaitWithLine(const DeltaSink& s) {
    while (ContentFetchPaused()) {
        if (s.Walk->Report->Ending()) return false;
        ReportDeltaFetched(*s.Walk, s.Size, s.Have);
        Sleep(kFetchNapMs);
    }
    return !s.Walk->Report->Ending();
}

// Asks for the delta's bytes from the first not yet had: a pause ends the transfer, and once
// resumed the same try goes on, its hash with it.
int32_t FetchDeltaRest(const ContentLink& link, const char* url, uint64_t first, DeltaSink& sink, RangeAnswer& answer) {
    int32_t result = kRangeDone;
    do {
        if (!WaitWithLine(sink)) {
            sink.Error = ERROR_CANCELLED;
            return kRangeStopped;
        }
        sink.Paused = 0;
        answer = RangeAnswer{};
        result = FetchRange(link.Session.Get(), url, link.Secure, first + sink.Have, first + sink.Size - 1, ToStore,
                            &sink, &answer);
    } while (sink.Paused);
    return result;
}

struct DeltaTry {
    const DeltaWalk* Walk;
    ReleaseDelta Delta;
    const char* Path;
};

// Each try starts from the delta's first byte: its hash cannot be taken up by another try.
int TryDelta(void* context, const char* url, ContentTry* failure) {
    const DeltaTry& t = *static_cast<const DeltaTry*>(context);
    const ContentLink& link = *t.Walk->Link;
    Sha256Stream hash;
    DeltaSink sink = {t.Walk, t.Walk->Deltas->End, t.Delta.StoredSize, 0, &hash,
                      hash.Good() ? 0ul : ERROR_INVALID_FUNCTION, 0};
    *failure = ContentTry{kFailLocal, 0, 0};
    if (sink.Error) return 0;
    RangeAnswer answer = {};
    const int32_t result = FetchDeltaRest(link, url, t.Delta.Offset, sink, answer);
    uint8_t digest[kSha256Size];
    if (result == kRangeDone && sink.Have == sink.Size && hash.Finish(digest) &&
        std::memcmp(digest, t.Delta.Sha256, kSha256Size) == 0)
        return 1;
    *failure = ContentTryOf(result, answer);
    // A delta that came whole but is not its hash, or one this side could not keep, is not
    // waited for nor asked of another mirror: the chunks are there to take instead.
    if (result == kRangeDone || sink.Error) failure->Failure = kFailLocal;
    const bool hashed = result == kRangeDone && !sink.Error;
    TraceFailure("content delta", hashed ? "hash" : "fetch", t.Path,
                 hashed ? ERROR_INVALID_DATA : sink.Error ? sink.Error : (answer.Error ? answer.Error : answer.Status));
    return 0;
}

int FetchDelta(void* context, uint32_t delta) {
    DeltaWalk& walk = *static_cast<DeltaWalk*>(context);
    FetchedDeltas& deltas = *walk.Deltas;
    const ReleaseDelta d = ReleaseDeltaAt(*walk.Release, delta);
    char path[64];
    if (!OpenStore(deltas) || !PackPathOf(ReleasePackAt(*walk.Release, d.Pack), path, sizeof path)) return 1;
    DeltaTry attempt = {&walk, d, path};
    ContentTry last;
    ReportDeltaFetched(walk, d.StoredSize, 0);
    if (TryMirroredRequest(path, TryDelta, &attempt, *walk.Report, &last)) {
        deltas.At[delta] = deltas.End;
        deltas.End += d.StoredSize;
    }
    walk.Done += d.StoredSize;
    return walk.Report->Ending() ? 0 : 1;
}

}  // namespace

int FetchDeltas(const ContentLink& link, const ReleaseManifest& release, const ContentPlan& plan, ContentReport& report,
                FetchedDeltas* deltas) {
    const uint32_t count = release.DeltaCount;
    deltas->At.reset(new (std::nothrow) uint64_t[count ? count : 1]);
    if (!deltas->At) return 1;  // every file takes its chunks
    for (uint32_t d = 0; d < count; ++d) deltas->At[d] = kDeltaNotFetched;
    DeltaWalk walk = {&link, &release, &plan, &report, deltas, 0};
    StartLimitedFetch();
    return ForEachContentDelta(plan, FetchDelta, &walk) ? 1 : 0;
}
