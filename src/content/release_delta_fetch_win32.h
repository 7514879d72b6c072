// The new release's manifest made from the one kept of the installed release and a delta of the
// two, when the signed manifest lists one: a few bytes instead of the whole manifest.
#pragma once

#include "content/run_parts.h"
#include "update/manifest.h"

// Looks for a delta to release->Version that the signed manifest lists from a release whose
// manifest the game folder keeps (content.<U>.release), fetches it once from the patch base and
// applies it into release->Bytes (already release->Length bytes, entry's size). 1 only when the
// result has entry's signed SHA-256; 0 otherwise, traced, with release->Bytes to be fetched whole.
// A listed delta no smaller than the manifest itself is never fetched.
int FetchReleaseByDelta(const ContentLink& link, const ManifestEntry& entry, NewRelease* release);
