// Cutting the plan's requests at chunk bounds.
#include "content_plan/request_split.h"

uint64_t ContentPieceBound(uint64_t requestBytes, uint32_t lanes) {
    const uint64_t share = requestBytes / (2 * uint64_t{lanes ? lanes : 1});
    return share < kContentPieceMinBytes ? kContentPieceMinBytes : share > kContentPieceBytes ? kContentPieceBytes : share;
}

int SplitContentRequest(const ContentPlan& plan, const ContentFetchRequest& request, uint64_t bound,
                        std::vector<ContentFetchRequest>* pieces) {
    const ReleaseManifest& m = *plan.Input.NewRelease;
    ContentFetchRequest piece = {request.Pack, request.Offset, 0, request.FirstChunk, request.FirstChunk};
    bool open = false;
    for (uint32_t c = request.FirstChunk; c <= request.LastChunk; ++c) {
        if (!ContentChunkFetched(plan, c)) continue;
        const ReleaseChunk chunk = ReleaseChunkAt(m, c);
        const uint64_t end = chunk.Offset + uint64_t{chunk.StoredSize};
        if (!open) {
            piece = ContentFetchRequest{request.Pack, chunk.Offset, chunk.StoredSize, c, c};
            open = true;
            continue;
        }
        if (end - piece.Offset > bound) {
            pieces->push_back(piece);
            piece = ContentFetchRequest{request.Pack, chunk.Offset, chunk.StoredSize, c, c};
            continue;
        }
        piece.Length = end - piece.Offset;
        piece.LastChunk = c;
    }
    if (open) pieces->push_back(piece);
    return 1;
}

namespace {

struct Walk {
    const ContentPlan* Plan;
    std::vector<ContentFetchRequest>* Pieces;
    uint64_t Bound;
};

int SplitOne(void* context, const ContentFetchRequest& request) {
    Walk& w = *static_cast<Walk*>(context);
    return SplitContentRequest(*w.Plan, request, w.Bound, w.Pieces);
}

}  // namespace

int ContentRequestPieces(const ContentPlan& plan, uint64_t bound, std::vector<ContentFetchRequest>* pieces,
                         uint64_t* bytes) {
    Walk walk = {&plan, pieces, bound};
    pieces->clear();
    pieces->reserve(plan.Totals.Requests);
    const int done = ForEachContentRequest(plan, SplitOne, &walk);
    *bytes = 0;
    for (const ContentFetchRequest& piece : *pieces) *bytes += piece.Length;
    return done;
}
