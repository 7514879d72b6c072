// The content worker's delta transfers: each delta the plan takes is one single-range GET of
// its pack, written to content.delta and hashed as it arrives. A delta is a saving, never a
// need: one that cannot be fetched or fails its hash is dropped and its file takes its chunks.
#include <windows.h>

#include <cstring>

#include "common/display_state.h"
#include "common/failure_trace.h"
#include "content/content_retry_win32.h"
#include "content/content_run.h"
#include "content/content_text.h"
#include "content/range_fetch_win32.h"
#include "update/signature_win32.h"

namespace {

// Where the deltas wait between their fetch and their file's build. Its own file rather than
// cache records: a delta is streamed in and out in pieces, tens of MiB where a cache record is
// one chunk read whole, and the system deletes it on close, so no run leaves one behind.
bool OpenStore(ContentRun& run) {
    if (run.DeltaStore) return true;
    run.DeltaStore.Reset(CreateFileW(L"content.delta", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (run.DeltaStore) return true;
    TraceFailure("content delta", "store", "content.delta", GetLastError());
    return false;
}

struct DeltaSink {
    ContentRun* Run;
    uint64_t Start;  // where the delta goes in the store
    uint64_t Size;
    uint64_t Have;
    Sha256Stream* Hash;
    unsigned long Error;  // a write or hash failure of this side
    uint64_t Shown;       // the deltas fetched before this one, for the line
};

void ShowDeltaFetched(const ContentRun& run, uint64_t done, uint64_t size, uint64_t have) {
    const uint64_t total = run.Plan.Totals.DeltaBytes;
    StatusText.Format(ContentText.Fetching, static_cast<unsigned>((done + have) >> 10), static_cast<unsigned>(total >> 10));
    ProgressCurrent = size ? static_cast<int32_t>(have * 100 / size) : 100;
    ProgressTotal = total ? static_cast<int32_t>((done + have) * 100 / total) : 100;
}

int ToStore(void* context, const uint8_t* data, std::size_t length) {
    DeltaSink& s = *static_cast<DeltaSink*>(context);
    if (length > s.Size - s.Have) return 1;  // more than the range: the answer is not the delta
    OVERLAPPED at = {};
    const uint64_t offset = s.Start + s.Have;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD wrote = 0;
    if (!WriteFile(s.Run->DeltaStore.Get(), data, static_cast<DWORD>(length), &wrote, &at) || wrote != length) {
        s.Error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        return 1;
    }
    if (!s.Hash->Update(data, length)) {
        s.Error = ERROR_INVALID_FUNCTION;
        return 1;
    }
    s.Have += length;
    ShowDeltaFetched(*s.Run, s.Shown, s.Size, s.Have);
    return 0;
}

struct DeltaTry {
    ContentRun* Run;
    ReleaseDelta Delta;
    const char* Path;
    uint64_t Shown;
};

// Each try starts from the delta's first byte: its hash cannot be taken up in the middle.
int TryDelta(void* context, const char* url, ContentTry* failure) {
    DeltaTry& t = *static_cast<DeltaTry*>(context);
    ContentRun& run = *t.Run;
    Sha256Stream hash;
    DeltaSink sink = {&run, run.DeltaEnd, t.Delta.StoredSize, 0, &hash, hash.Good() ? 0ul : ERROR_INVALID_FUNCTION, t.Shown};
    *failure = ContentTry{kFailLocal, 0, 0};
    if (sink.Error) return 0;
    RangeAnswer answer = {};
    const uint64_t first = t.Delta.Offset;
    const int32_t result = FetchRange(run.Session.Get(), url, run.Secure, first, first + t.Delta.StoredSize - 1,
                                      ToStore, &sink, &answer);
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

struct DeltaWalk {
    ContentRun* Run;
    uint64_t Done;
};

int FetchDelta(void* context, uint32_t delta) {
    DeltaWalk& walk = *static_cast<DeltaWalk*>(context);
    ContentRun& run = *walk.Run;
    const ReleaseDelta d = ReleaseDeltaAt(run.NewRelease, delta);
    char path[64];
    if (!OpenStore(run) || !PackPath(run, d.Pack, path, sizeof path)) return 1;
    DeltaTry attempt = {&run, d, path, walk.Done};
    ContentTry last;
    ShowDeltaFetched(run, walk.Done, d.StoredSize, 0);
    if (TryMirroredRequest(path, TryDelta, &attempt, &last)) {
        run.DeltaAt[delta] = run.DeltaEnd;
        run.DeltaEnd += d.StoredSize;
    }
    walk.Done += d.StoredSize;
    return QuitRequested.load() ? 0 : 1;
}

}  // namespace

int FetchDeltas(ContentRun& run) {
    const uint32_t count = run.NewRelease.DeltaCount;
    run.DeltaAt.reset(new (std::nothrow) uint64_t[count ? count : 1]);
    if (!run.DeltaAt) return 1;  // every file takes its chunks
    for (uint32_t d = 0; d < count; ++d) run.DeltaAt[d] = kDeltaNotFetched;
    DeltaWalk walk = {&run, 0};
    return ForEachContentDelta(run.Plan, FetchDelta, &walk) ? 1 : 0;
}
