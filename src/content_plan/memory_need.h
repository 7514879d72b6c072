// The memory a content run takes for the release it installs, worked out from the release's
// signed counts before anything is sized by them, and the most a build of this launcher lets a
// run take: a release listing millions of chunks must be refused with a reason, not end the
// 32-bit process with a failed allocation half-way through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "content_format/content_release.h"

// A 32-bit launcher has 2 GiB of address space, already cut into pieces by the program, its
// DLLs and its threads' stacks; a 64-bit one is bounded by the release format alone.
constexpr uint64_t kContentMemoryBound = sizeof(void*) == 4 ? (768ull << 20) : (64ull << 30);

// The bytes a run sizes by release's counts (a manifest of manifestSize bytes): the plan and the
// cache index per chunk, the stamps and the plan per file, what the survey keeps per reference
// of a file it checks, the manifest itself, the decoding buffers of every thread and the most
// the build saves in memory (kContentSaveBound). An estimate from above; what the folder's own
// files add (their cut chunks) is not in it.
uint64_t ContentMemoryNeed(const ReleaseManifest& release, uint64_t manifestSize, uint32_t threads);

// True when a run for release fits kContentMemoryBound.
bool ContentMemoryFits(const ReleaseManifest& release, uint64_t manifestSize, uint32_t threads);
