// Which deltas of a new release have their base in the folder, as far as the survey can tell
// with only the installed release's manifest at hand: the plan takes a delta only for these.
#pragma once

#include <cstdint>

#include "content_format/content_release.h"
#include "content_format/local_state.h"
#include "content_plan/content_plan.h"

struct DeltaBaseInput {
    const ReleaseManifest* NewRelease = nullptr;
    // The installed release and its state, or null: nothing is known of the folder then.
    const ReleaseManifest* OldRelease = nullptr;
    const ContentState* State = nullptr;
    // Per new file: the stamp the survey found at its path (LastWrite 0: none).
    const ContentFileStamp* Found = nullptr;
    const ContentCutFile* CutFiles = nullptr;
    uint32_t CutFileCount = 0;
};

// Sets flags[d] (NewRelease->DeltaCount of them) to 1 for a delta whose base is the installed
// release (its number and the file's size the delta names) and whose local file is that
// release's: still the one its stamp was taken of, or cut into exactly that release's chunks
// for its path. 0 for every other delta: the file then takes its chunks.
void MarkDeltaBases(const DeltaBaseInput& input, uint8_t* flags);
