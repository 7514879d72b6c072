// The bases content chunks are fetched from: the operator's mirrors in their order, then the
// patch base; each base's health, shared by the requests that run at once; and where a
// request goes after a failed try.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "content_fetch/retry_schedule.h"

constexpr uint32_t kMaxContentMirrors = 8;                      // entries of the branding list
constexpr uint32_t kMaxContentBases = kMaxContentMirrors + 1;  // and the patch base
constexpr std::size_t kMaxMirrorBaseLength = 200;
// A base that failed is passed over this long, then tried again in its place in the list.
constexpr uint64_t kMirrorCooldownMs = 60000;

struct MirrorList {
    uint32_t Count;
    char Base[kMaxContentBases][kMaxMirrorBaseLength + 1];
};

// Told of each entry the list leaves out: its text (not terminated) and why.
using MirrorRefused = void (*)(void* context, const char* entry, std::size_t length, const char* why);

// Reads the branding list: bases separated by spaces, tabs or ';'. An entry is kept when it
// starts with https://, names a host, does not end with '/' and has at most
// kMaxMirrorBaseLength characters; the first kMaxContentMirrors such are kept, a repeat once.
// patchBase comes last unless the list names it already. Returns out->Count.
uint32_t ParseMirrorList(const char* text, const char* patchBase, MirrorList* out, MirrorRefused refused,
                         void* context);

// Per base, the time its cool-down ends (0: not cooling). Times are milliseconds of a clock
// that never goes back and is never 0 (GetTickCount64).
// IgnoresRanges, once set, stays: a base that answered a range with the whole file (200) will do
// so again, and every piece of a pack asked of it costs the pack up to that piece.
struct MirrorHealth {
    std::atomic<uint64_t> CoolingUntil[kMaxContentBases];
    std::atomic<uint8_t> IgnoresRanges[kMaxContentBases];
};

void NoteMirrorFailed(MirrorHealth& health, uint32_t base, uint64_t nowMs);
void NoteMirrorServed(MirrorHealth& health, uint32_t base);
int MirrorCooling(const MirrorHealth& health, uint32_t base, uint64_t nowMs);
// 1 when the base was not marked yet: requests side by side may each have seen the same 200.
int NoteMirrorIgnoresRanges(MirrorHealth& health, uint32_t base);

// The base a request tries next among the first `count`, leaving out those whose bit is set in
// `tried`: the first in list order that is not cooling and honours ranges, else the first that
// is not cooling, else the one whose cool-down ends first. -1 when every base was tried.
int32_t ChooseMirror(const MirrorHealth& health, uint32_t count, uint32_t tried, uint64_t nowMs);

enum MirrorStep : int32_t {
    kStepRetry = 1,       // the same base again, after the schedule's wait
    kStepNextMirror = 2,  // the next base, at once
    kStepStop = 3,        // the request failed for good
};

// After a failed try, the triesHere-th on its base; another: 1 when a base is left untried.
// A base that is down (no connection, no such name), refuses the file, serves a chunk that
// fails its hash or sends the body below the minimum rate (crawl_watch.h) gives way at once
// when another is left; waiting is spent only on failures that pass (5xx, 408, 429, time-outs,
// resets, short answers), up to kContentTries on each base. The last base left keeps today's
// rules, so a launcher without mirrors is unchanged. A failure of this side stops wherever it
// happens.
MirrorStep StepAfterFailure(const ContentTry& failure, uint32_t triesHere, int another);

// 1 when the failure means the base cannot serve now: unreachable, a refusal, a bad chunk, a
// body that crawled.
int MirrorFailureIsAtOnce(const ContentTry& failure);
