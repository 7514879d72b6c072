// The survey's belief in a delta's base. A belief only: the base's SHA-256 is checked when the
// delta is applied, so a wrong one costs the chunks, never a wrong file.
#include "content_plan/delta_base.h"

#include <cstring>

namespace {

// True when the cut file's chunks are the old file's list, in order.
bool CutIsOldList(const ReleaseManifest& old, const ReleaseFile& f, const ContentCutFile& cut) {
    if (cut.ChunkCount != f.ReferenceCount) return false;
    for (uint32_t i = 0; i < cut.ChunkCount; ++i) {
        const ReleaseChunk c = ReleaseChunkAt(old, ReleaseReferenceAt(old, f.FirstReference + i));
        if (cut.Chunks[i].Length != c.RawSize || std::memcmp(cut.Chunks[i].Sha256, c.Sha256, kReleaseHashSize) != 0)
            return false;
    }
    return true;
}

const ContentCutFile* CutAt(const DeltaBaseInput& in, const ReleaseFile& f) {
    for (uint32_t i = 0; i < in.CutFileCount; ++i) {
        const ContentCutFile& cut = in.CutFiles[i];
        if (CompareFoldedPaths(cut.Path, cut.PathLength, f.Path, f.PathLength) == 0) return &cut;
    }
    return nullptr;
}

bool IsBase(const DeltaBaseInput& in, const ReleaseDelta& d) {
    const ReleaseManifest& old = *in.OldRelease;
    if (d.BaseRelease != old.Release) return false;
    const ReleaseFile f = ReleaseFileAt(*in.NewRelease, d.File);
    uint32_t o = 0;
    if (!FindReleaseFile(old, f.Path, f.PathLength, &o)) return false;
    const ReleaseFile base = ReleaseFileAt(old, o);
    const ContentFileStamp found = in.Found[d.File];
    if (base.Size != d.BaseSize || found.LastWrite == 0 || found.Size != base.Size) return false;
    if (StampVouches(ContentStampAt(*in.State, o), found.Size, found.LastWrite)) return true;
    const ContentCutFile* cut = CutAt(in, f);
    return cut && CutIsOldList(old, base, *cut);
}

}  // namespace

void MarkDeltaBases(const DeltaBaseInput& in, uint8_t* flags) {
    const uint32_t count = in.NewRelease ? in.NewRelease->DeltaCount : 0;
    for (uint32_t d = 0; d < count; ++d)
        flags[d] = in.OldRelease && in.State && in.Found && IsBase(in, ReleaseDeltaAt(*in.NewRelease, d)) ? 1 : 0;
}
