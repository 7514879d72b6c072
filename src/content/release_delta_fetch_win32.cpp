// A release manifest made from the kept one and a listed delta, checked against the signed hash.
#include "content/release_delta_fetch_win32.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/bounded_text.h"
#include "common/failure_trace.h"
#include "content/content_survey_win32.h"
#include "content/wide_path_win32.h"
#include "content_fetch/mirrored_request_win32.h"
#include "content_format/chunk_check_win32.h"
#include "content_format/delta_apply.h"
#include "content_format/local_state.h"
#include "content_format/release_delta.h"
#include "settings/launcher_settings.h"
#include "update/signed_patch_info.h"

namespace {

// A kept manifest and the listed delta that starts from it.
struct DeltaBase {
    const ManifestEntry* Delta = nullptr;
    std::unique_ptr<uint8_t[]> Bytes;
    std::size_t Length = 0;
};

// Reads the kept manifest of release base, bounded like any release manifest. 1, or 0.
int ReadKeptRelease(uint32_t base, DeltaBase* found) {
    char name[64];
    wchar_t wide[64];
    if (!KeptReleaseName(base, name, sizeof name) || !WidePathOf(name, std::strlen(name), wide, 64)) return 0;
    return ReadWholeFile(wide, kReleaseMaxBytes, &found->Bytes, &found->Length);
}

// The first listed delta to release whose base manifest this folder keeps. 1, or 0.
int FindDeltaBase(uint32_t release, const ManifestEntry& entry, DeltaBase* found) {
    for (uint32_t i = 0; i < VerifiedManifest.FileCount; ++i) {
        const ManifestEntry& listed = VerifiedManifest.Files[i];
        uint32_t base = 0;
        if (!ReleaseDeltaBase(listed.Path, release, &base)) continue;
        // Bounded before it is fetched: a delta as large as the manifest saves nothing.
        if (listed.Size == 0 || listed.Size >= entry.Size) {
            TraceFailure("release delta", "size", listed.Path, 0);
            continue;
        }
        if (!ReadKeptRelease(base, found)) continue;
        found->Delta = &listed;
        return 1;
    }
    return 0;
}

}  // namespace

int FetchReleaseByDelta(const ContentLink& link, const ManifestEntry& entry, NewRelease* release) {
    DeltaBase base;
    if (!FindDeltaBase(release->Version, entry, &base)) return 0;
    const ManifestEntry& listed = *base.Delta;
    const std::size_t size = static_cast<std::size_t>(listed.Size);
    std::unique_ptr<uint8_t[]> delta(new (std::nothrow) uint8_t[size]);
    char url[1024];
    if (!delta || !FormatText(url, sizeof url, "%s/%s", LauncherSettings.PatchBaseUrl, listed.Path)) {
        TraceFailure("release delta", "memory", listed.Path, 0);
        return 0;
    }
    // One try only: the whole manifest, with its own tries, is the way round any failure here.
    ContentTry failure;
    if (!FetchRangeInto(link.Session.Get(), link.Secure, listed.Path, url, 0, listed.Size, delta.get(), &failure))
        return 0;
    if (!ChunkHashMatches(delta.get(), size, listed.Sha256)) {
        TraceFailure("release delta", "hash", listed.Path, 0);
        return 0;
    }
    const int applied = ApplyReleaseDelta(base.Bytes.get(), base.Length, delta.get(), size, release->Bytes.get(),
                                          release->Length);
    if (applied != kDeltaApplied) {
        TraceFailure("release delta", "apply", listed.Path, static_cast<unsigned long>(applied));
        return 0;
    }
    // The kept manifest is the player's file: only the signed hash makes the result the release.
    if (!ChunkHashMatches(release->Bytes.get(), release->Length, entry.Sha256)) {
        TraceFailure("release delta", "result", listed.Path, 0);
        return 0;
    }
    return 1;
}
