// The release manifest of a content run, from the patch base alone (never a mirror): made from
// the kept one and a listed delta, or else fetched whole, checked against the signed manifest's
// hash, then parsed; and the stop a request that failed for good reports.
#include "content/release_fetch_win32.h"

#include <new>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "content/release_delta_fetch_win32.h"
#include "content_fetch/mirrored_request_win32.h"
#include "content_format/chunk_check_win32.h"
#include "settings/launcher_settings.h"
#include "update/signed_patch_info.h"

namespace {

// The URL of a published file below the patch base: 1, or 0 when it does not fit.
int ContentUrl(const char* path, char* out, std::size_t size) {
    return FormatText(out, size, "%s/%s", LauncherSettings.PatchBaseUrl, path) ? 1 : 0;
}

// The release manifest's try: a copy that fails its hash may have been mangled on the way.
struct ReleaseTry {
    const ContentLink* Link;
    NewRelease* Release;
    const char* Path;
    const ManifestEntry* Entry;
};

int TryRelease(void* context, ContentTry* failure) {
    const ReleaseTry& t = *static_cast<const ReleaseTry*>(context);
    char url[1024];
    *failure = ContentTry{kFailLocal, 0, 0};
    if (!ContentUrl(t.Path, url, sizeof url)) return 0;
    uint8_t* bytes = t.Release->Bytes.get();
    if (!FetchRangeInto(t.Link->Session.Get(), t.Link->Secure, t.Path, url, 0, t.Entry->Size, bytes, failure)) return 0;
    if (ChunkHashMatches(bytes, t.Release->Length, t.Entry->Sha256)) return 1;
    TraceFailure("content release", "hash", t.Path, 0);
    *failure = ContentTry{kFailChunk, 0, 0};
    return 0;
}

int RefuseRelease(ContentReport& report, const char* path, const char* why) {
    TraceFailure("content release", why, path, 0);
    report.Stopped(NamedStop(kStopRelease, path));
    return 0;
}

}  // namespace

int FetchNewRelease(const ContentLink& link, ContentReport& report, NewRelease* release) {
    char path[64];
    FormatText(path, sizeof path, "Content/releases/%u.release", release->Version);
    const ManifestEntry* entry = FindManifestEntry(VerifiedManifest, path);
    if (!entry) return RefuseRelease(report, path, "unlisted");
    if (entry->Size < kReleaseHeaderSize || entry->Size > kReleaseMaxBytes) return RefuseRelease(report, path, "size");
    release->Length = static_cast<std::size_t>(entry->Size);
    release->Bytes.reset(new (std::nothrow) uint8_t[release->Length]);
    if (!release->Bytes) return RefuseRelease(report, path, "memory");
    ReleaseTry attempt = {&link, release, path, entry};
    ContentTry last;
    if (!FetchReleaseByDelta(link, *entry, release) && !TryContentRequest(path, TryRelease, &attempt, report, &last)) {
        if (last.Failure == kFailChunk) return RefuseRelease(report, path, "hash");
        report.Stopped(RequestStop(release->Version, path, last));
        return 0;
    }
    if (!ParseReleaseManifest(release->Bytes.get(), release->Length, &release->Manifest) ||
        release->Manifest.Release != release->Version)
        return RefuseRelease(report, path, "parse");
    return 1;
}

ContentStop RequestStop(uint32_t release, const char* path, const ContentTry& last) {
    ContentStop stop = NamedStop(ContentFailureIsRefusal(last) ? kStopUnavailable : kStopFetch, path);
    stop.Release = release;
    return stop;
}
