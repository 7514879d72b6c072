// The plan's requests cut for several transfers: pieces within the bound at fetched chunks'
// bounds, every fetched chunk in exactly one piece, the chunks not fetched at a cut not asked for.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "content_plan/content_plan.h"
#include "content_plan/request_split.h"
#include "support/release_builder.h"

namespace {

// Pack 0: chunks labelled 1..12 (4000 to 15000 stored bytes, a few with unused frames before
// them); pack 1: 20, 21. The folder holds 5, 6 and 9 already: a request spans them, a cut drops them.
struct SplitFixture {
    std::vector<uint8_t> bytes;
    ReleaseManifest release;
    std::vector<ContentCutChunk> local;
    ContentCutFile cut;
    ContentPlan plan;

    SplitFixture() {
        ReleaseModel m;
        m.AddPack(10, 0);
        m.AddPack(10, 1);
        std::vector<uint32_t> chunks;
        for (uint32_t label = 1; label <= 12; ++label)
            chunks.push_back(m.AddChunk(label, 20000, 3000 + 1000 * label, 0, label % 4 == 0 ? 500 : 0));
        chunks.push_back(m.AddChunk(20, 20000, 9000, 1));
        chunks.push_back(m.AddChunk(21, 20000, 9000, 1));
        m.AddFile("data/a.pak", chunks);
        bytes = m.Settle().Bytes();
        EXPECT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &release));
        uint64_t offset = 0;
        for (uint32_t label : {5u, 6u, 9u}) {
            ContentCutChunk c = {offset, 20000, {}};
            const TestHash hash = HashOf(label);
            std::copy(hash.begin(), hash.end(), c.Sha256);
            local.push_back(c);
            offset += 20000;
        }
        cut = ContentCutFile{"old.pak", 7, local.data(), static_cast<uint32_t>(local.size())};
        ContentPlanInput input;
        input.NewRelease = &release;
        input.CutFiles = &cut;
        input.CutFileCount = 1;
        EXPECT_EQ(1, MakeContentPlan(input, &plan));
    }
};

int Collect(void* context, const ContentFetchRequest& request) {
    static_cast<std::vector<ContentFetchRequest>*>(context)->push_back(request);
    return 1;
}

std::string Text(const std::vector<ContentFetchRequest>& pieces) {
    std::string text;
    for (const ContentFetchRequest& p : pieces)
        text += (text.empty() ? "" : " ") + std::to_string(p.Pack) + ":" + std::to_string(p.Offset) + "+" +
                std::to_string(p.Length) + "[" + std::to_string(p.FirstChunk) + "-" + std::to_string(p.LastChunk) + "]";
    return text;
}

uint64_t EndOf(const ReleaseManifest& m, uint32_t chunk) {
    const ReleaseChunk c = ReleaseChunkAt(m, chunk);
    return c.Offset + uint64_t{c.StoredSize};
}

}  // namespace

TEST(RequestSplit, PiecesHoldEveryFetchedChunkOnceWithinTheBound) {
    SplitFixture f;
    std::vector<ContentFetchRequest> requests;
    ForEachContentRequest(f.plan, Collect, &requests);
    ASSERT_EQ(2u, requests.size());  // the plan merges across the held chunks
    for (uint64_t bound : {1ull, 9000ull, 16000ull, 30000ull, 64000ull, 1ull << 40}) {
        std::vector<ContentFetchRequest> pieces;
        uint64_t bytes = 0;
        ASSERT_EQ(1, ContentRequestPieces(f.plan, bound, &pieces, &bytes));
        std::vector<int> seen(f.release.ChunkCount, 0);
        uint64_t sum = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const ContentFetchRequest& p = pieces[i];
            sum += p.Length;
            ASSERT_TRUE(ContentChunkFetched(f.plan, p.FirstChunk) && ContentChunkFetched(f.plan, p.LastChunk)) << bound;
            EXPECT_EQ(ReleaseChunkAt(f.release, p.FirstChunk).Offset, p.Offset) << bound;
            EXPECT_EQ(EndOf(f.release, p.LastChunk), p.Offset + p.Length) << bound;
            EXPECT_TRUE(p.Length <= bound || p.FirstChunk == p.LastChunk) << bound << " " << Text(pieces);
            for (uint32_t c = p.FirstChunk; c <= p.LastChunk; ++c) {
                EXPECT_EQ(p.Pack, ReleaseChunkAt(f.release, c).Pack);
                seen[c] += ContentChunkFetched(f.plan, c) ? 1 : 0;
            }
            // Cut only where the next chunk would not have fit: no piece is shorter than it must be.
            if (i + 1 < pieces.size() && pieces[i + 1].Pack == p.Pack) {
                EXPECT_GT(EndOf(f.release, pieces[i + 1].FirstChunk) - p.Offset, bound) << bound << " " << Text(pieces);
            }
        }
        for (uint32_t c = 0; c < f.release.ChunkCount; ++c)
            EXPECT_EQ(ContentChunkFetched(f.plan, c) ? 1 : 0, seen[c]) << "chunk " << c << " bound " << bound;
        EXPECT_EQ(sum, bytes);
        EXPECT_LE(bytes, f.plan.Totals.Bytes);
    }
}

TEST(RequestSplit, ACutBesideHeldChunksDropsThemAndALargeBoundKeepsThePlan) {
    SplitFixture f;
    std::vector<ContentFetchRequest> pieces;
    uint64_t bytes = 0;
    ContentRequestPieces(f.plan, 1ull << 40, &pieces, &bytes);
    EXPECT_EQ("0:0+115500[0-11] 1:0+18000[12-13]", Text(pieces));
    EXPECT_EQ(f.plan.Totals.Bytes, bytes);
    // Chunks 0..3 end at 22500 (a 500-byte gap before 3); 4 and 5, then 8, are held: their bytes
    // lie between pieces, never in one.
    ContentRequestPieces(f.plan, 23000, &pieces, &bytes);
    EXPECT_EQ("0:0+22500[0-3] 0:39500+21500[6-7] 0:73000+13000[9-9] 0:86000+14000[10-10] 0:100500+15000[11-11] "
              "1:0+18000[12-13]",
              Text(pieces));
    EXPECT_EQ(22500u + 21500 + 13000 + 14000 + 15000 + 18000, bytes);
}

TEST(RequestSplit, TheBoundGivesEachLaneTwoPiecesWithinItsLimits) {
    struct Case {
        uint64_t bytes;
        uint32_t lanes;
        uint64_t bound;
    } cases[] = {
        {0, 4, kContentPieceMinBytes},
        {10000000, 4, 1250000},  // a one-step update: 8 pieces of 1.25 MB
        {4ull << 20, 4, kContentPieceMinBytes},
        {64ull << 20, 4, kContentPieceBytes},
        {40ull << 20, 4, 5ull << 20},
        {250000000000ull, 4, kContentPieceBytes},
        {40ull << 20, 0, kContentPieceBytes},  // no lanes counts as one: 20 MiB, bounded
    };
    for (const Case& c : cases) EXPECT_EQ(c.bound, ContentPieceBound(c.bytes, c.lanes)) << c.bytes << " " << c.lanes;
}
