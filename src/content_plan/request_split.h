// The plan's range requests cut into pieces that several transfers can share: an install from
// nothing asks for whole packs (64 MiB each) in a handful of requests, which would leave all but
// one or two connections idle.
#pragma once

#include <cstdint>
#include <vector>

#include "content_plan/content_plan.h"

// A piece that grows past the bound is cut before its next chunk: 8 MiB keeps 4 transfers busy
// within one pack and costs one more round trip per 8 MiB (under 1% at 50 Mbit/s and 40 ms).
constexpr uint64_t kContentPieceBytes = 8u << 20;
// A smaller update is cut finer, so that it too runs on every transfer, down to this.
constexpr uint64_t kContentPieceMinBytes = 1u << 20;

// The bound for an update of requestBytes over lanes transfers: two pieces a lane, within
// kContentPieceMinBytes .. kContentPieceBytes.
uint64_t ContentPieceBound(uint64_t requestBytes, uint32_t lanes);

// Appends request to pieces cut at fetched chunks' bounds, each at most bound bytes unless one
// chunk alone is longer; the bytes of the chunks not fetched at a cut are not asked for. Every
// piece starts at a fetched chunk and ends at one's end, in the request's order. Returns 1.
int SplitContentRequest(const ContentPlan& plan, const ContentFetchRequest& request, uint64_t bound,
                        std::vector<ContentFetchRequest>* pieces);

// Every request of the plan, split, in the plan's order; *bytes receives the pieces' lengths
// added up. 1 when every request was visited.
int ContentRequestPieces(const ContentPlan& plan, uint64_t bound, std::vector<ContentFetchRequest>* pieces,
                         uint64_t* bytes);
