// PlanRun: the chunks an earlier run left in content.cache (killed, failed, or out of disk),
// each whole record naming a chunk of the new release sparing its fetch; the deltas whose base
// the survey found in place; and the plan made of them.
#include "content/run_plan_win32.h"

#include <new>
#include <vector>

#include "content/content_cache_win32.h"
#include "content_format/cache_record.h"
#include "content_format/chunk_check_win32.h"
#include "content_plan/delta_base.h"

namespace {

struct HeldScan {
    const ReleaseManifest* Release;
    CacheIndex* Index;
    uint32_t Found;
    uint64_t End;  // where the last whole record ends
};

void NoteHeld(void* context, const CacheRecordHeader& header, uint64_t frameAt) {
    HeldScan& scan = *static_cast<HeldScan*>(context);
    CacheIndex& index = *scan.Index;
    scan.End = frameAt + header.StoredSize;
    uint32_t chunk = 0;
    if (!FindReleaseChunk(*scan.Release, header.Sha256, &chunk)) return;
    const ReleaseChunk c = ReleaseChunkAt(*scan.Release, chunk);
    if (c.RawSize != header.RawSize || c.StoredSize != header.StoredSize || c.StoredSize > StoredChunkBound(c.RawSize))
        return;
    // A later record of the same chunk is a fetch on its own after this one failed: it wins.
    if (!index.Held[chunk]) ++scan.Found;
    index.Held[chunk] = 1;
    index.FrameAt[chunk] = frameAt;
}

void ReadHeldChunks(const ReleaseManifest& release, CacheIndex* index) {
    index->Held.assign(release.ChunkCount, 0);
    HeldScan scan = {&release, index, 0, 0};
    const int64_t records = ScanContentCache(kContentCacheFile, NoteHeld, &scan);
    // A cache of nothing this release lists is started over: its bytes are freed for this run.
    index->Keep = records > 0 && scan.Found > 0 ? scan.End : 0;
}

// The deltas whose base the survey found in place (content_plan/delta_base.h), for the plan.
void MarkBases(const ReleaseManifest& release, const FolderSurvey& survey, std::vector<uint8_t>* flags) {
    flags->assign(release.DeltaCount + 1, 0);
    DeltaBaseInput in;
    in.NewRelease = &release;
    in.OldRelease = survey.HaveOld ? &survey.OldRelease : nullptr;
    in.State = survey.HaveOld ? &survey.State : nullptr;
    in.Found = survey.Found.data();
    in.CutFiles = survey.CutFiles.data();
    in.CutFileCount = static_cast<uint32_t>(survey.CutFiles.size());
    MarkDeltaBases(in, flags->data());
}

}  // namespace

int PlanRun(const NewRelease& release, const FolderSurvey& survey, CacheIndex* index, ContentPlan* plan) {
    const ReleaseManifest& m = release.Manifest;
    index->FrameAt.reset(new (std::nothrow) uint64_t[m.ChunkCount + 1]);
    if (!index->FrameAt) return 0;
    ReadHeldChunks(m, index);
    std::vector<uint8_t> deltaBase;
    MarkBases(m, survey, &deltaBase);
    ContentPlanInput input;
    input.NewRelease = &m;
    input.OldRelease = survey.HaveOld ? &survey.OldRelease : nullptr;
    input.OldVouched = survey.HaveOld ? survey.Vouched.data() : nullptr;
    input.CutFiles = survey.CutFiles.data();
    input.CutFileCount = static_cast<uint32_t>(survey.CutFiles.size());
    input.Held = index->Held.data();
    input.DeltaBase = deltaBase.data();
    input.SaveBound = kContentSaveBound;
    const int made = MakeContentPlan(input, plan);
    // The flags are read while the plan is made only; the plan keeps no pointer to them.
    plan->Input.DeltaBase = nullptr;
    return made;
}
