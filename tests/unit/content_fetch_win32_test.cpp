// The content worker's requests side by side against the real test patch server: exactly the
// plan's pieces asked for, several at once, every fetched chunk kept once; a request the server
// refuses stops the others, and its stop is the one reported.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "content/chunk_fetch_win32.h"
#include "content/run_parts.h"
#include "content_fetch/range_fetch_win32.h"
#include "content_format/cache_record.h"
#include "content_plan/content_plan.h"
#include "content_plan/request_split.h"
#include "settings/launcher_settings.h"
#include "support/patch_server_win32.h"
#include "support/release_builder.h"
#include "support/report_recorder.h"
#include "support/temp_folder.h"
#include "update/signature_win32.h"

namespace {

constexpr uint32_t kRaw = 20000;
constexpr uint32_t kPackOneChunks = 8;
constexpr uint32_t kHeld = 4;  // the chunk of pack 1 the folder holds already

std::string Random(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// One raw zstd block: what a pack stores for a chunk that does not compress.
std::string StoredFrame(const std::string& raw) {
    std::string out;
    auto put = [&out](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    };
    put(0xFD2FB528u, 4);
    out.push_back(static_cast<char>(0xA0));  // single segment, four bytes of content size
    put(raw.size(), 4);
    put((raw.size() << 3) | 1, 3);
    return out + raw;
}

std::string PackName(uint32_t index) { return "Content/packs/10-" + std::to_string(index) + ".pack"; }

// Release 10: pack 0 holds chunks 0 and 1 back to back (one request), pack 1 eight chunks with
// unused bytes between them (one request each, the plan merging nothing), the fifth of which the
// folder holds already.
class ContentFetch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PatchServerAvailable()) GTEST_SKIP() << "the test patch server is not running";
        if (PatchServerBaseUrl() != LauncherSettings.PatchBaseUrl)
            GTEST_SKIP() << "built for the patch server " << LauncherSettings.PatchBaseUrl;
        ReleaseModel m;
        m.AddPack(10, 0);
        m.AddPack(10, 1);
        std::string packs[2];
        std::vector<uint32_t> all;
        for (uint32_t i = 0; i < 2 + kPackOneChunks; ++i) {
            const uint32_t pack = i < 2 ? 0 : 1;
            const uint32_t gap = pack == 1 && i > 2 ? 100 : 0;
            raw_.push_back(Random(kRaw, i + 1));
            stored_.push_back(StoredFrame(raw_.back()));
            packs[pack] += std::string(gap, 'g') + stored_.back();
            all.push_back(m.AddChunk(i, kRaw, static_cast<uint32_t>(stored_.back().size()), pack, gap));
            ASSERT_EQ(1, Sha256Of(raw_.back().data(), kRaw, m.Chunks.back().Sha256.data()));
        }
        m.AddFile("data/a.pak", all);
        const std::vector<uint8_t> bytes = m.Settle().Bytes();
        for (uint32_t p = 0; p < 2; ++p) PutServedFile(PackName(p), packs[p]);
        new_.Version = 10;
        new_.Length = bytes.size();
        new_.Bytes.reset(new uint8_t[bytes.size()]);
        std::memcpy(new_.Bytes.get(), bytes.data(), bytes.size());
        ASSERT_EQ(1, ParseReleaseManifest(new_.Bytes.get(), new_.Length, &new_.Manifest));
        held_ = ContentCutChunk{0, kRaw, {}};
        std::memcpy(held_.Sha256, m.Chunks[2 + kHeld].Sha256.data(), 32);
        cut_ = ContentCutFile{"old.pak", 7, &held_, 1};
        ContentPlanInput input;
        input.NewRelease = &new_.Manifest;
        input.CutFiles = &cut_;
        input.CutFileCount = 1;
        input.MergeGap = 0;
        ASSERT_EQ(1, MakeContentPlan(input, &plan_));
        index_.FrameAt.reset(new uint64_t[new_.Manifest.ChunkCount + 1]);
        link_.Session = OpenContentSession();
        link_.Secure = 1;
        ASSERT_TRUE(link_.Session);
        ASSERT_TRUE(index_.Cache.Create(kContentCacheFile));
    }
    void TearDown() override {
        SetServerFaults({});
        for (uint32_t p = 0; p < 2; ++p) RemoveServedFile(PackName(p));
    }

    int Fetch() { return FetchRequests(link_, new_.Manifest, plan_, index_, report_); }

    TempFolder folder_;
    std::vector<std::string> raw_, stored_;
    ContentCutChunk held_;
    ContentCutFile cut_;
    ContentLink link_;
    NewRelease new_;
    ContentPlan plan_;
    CacheIndex index_;
    ReportRecorder report_;
};

struct Asked {
    std::string path;
    std::string range;
    double from, to;  // seconds, as the server logged them
};

std::vector<Asked> PackRequests(long mark) {
    std::vector<Asked> asked;
    for (const std::string& line : RequestsSince(mark)) {
        const std::string path = LogField(line, "path");
        if (path.find("/Content/packs/") == std::string::npos) continue;
        const std::size_t at = line.find("\"Range\": \"");
        const std::string range = at == std::string::npos ? "" : line.substr(at + 10, line.find('"', at + 10) - at - 10);
        const std::size_t time = line.find("\"time\": ");
        const std::size_t duration = line.find("\"duration\": ");
        const double from = time == std::string::npos ? 0 : std::atof(line.c_str() + time + 8);
        const double length = duration == std::string::npos ? 0 : std::atof(line.c_str() + duration + 12);
        asked.push_back({path.substr(path.rfind('/') + 1), range, from, from + length});
    }
    return asked;
}

}  // namespace

TEST_F(ContentFetch, RequestsRunSideBySideAndKeepExactlyThePlansChunks) {
    // Slow enough that the requests overlap if they run at once: a tenth of a second each.
    ASSERT_TRUE(SetServerFaults({PackName(1) + "=slow:200000"}));
    std::vector<ContentFetchRequest> pieces;
    uint64_t total = 0;
    ASSERT_EQ(1, ContentRequestPieces(plan_, ContentPieceBound(plan_.Totals.Bytes, kContentFetchLanes), &pieces,
                                      &total));
    ASSERT_EQ(1u + kPackOneChunks - 1, pieces.size());
    std::multiset<std::string> expected;
    for (const ContentFetchRequest& p : pieces)
        expected.insert(std::to_string(p.Pack) + ".pack bytes=" + std::to_string(p.Offset) + "-" +
                        std::to_string(p.Offset + p.Length - 1));
    const long mark = LogMark();
    ASSERT_EQ(1, Fetch());

    const std::vector<Asked> asked = PackRequests(mark);
    std::multiset<std::string> got;
    for (const Asked& a : asked) got.insert(a.path.substr(a.path.find('-') + 1) + " " + a.range);
    EXPECT_EQ(expected, got);  // each piece once: no retry, nothing of the held chunk
    int overlapping = 0;
    for (std::size_t i = 0; i < asked.size(); ++i)
        for (std::size_t j = i + 1; j < asked.size(); ++j) overlapping += asked[i].from < asked[j].to && asked[j].from < asked[i].to;
    EXPECT_GT(overlapping, 0) << "the requests ran one after another";

    // Every fetched chunk is in the cache once, its frame as stored; the held one is not.
    struct Count { int records = 0; } count;
    index_.Cache.Flush();
    EXPECT_EQ(static_cast<int64_t>(new_.Manifest.ChunkCount - 1),
              ScanContentCache(kContentCacheFile, [](void* c, const CacheRecordHeader&, uint64_t) {
                  ++static_cast<Count*>(c)->records;
              }, &count));
    for (uint32_t c = 0; c < new_.Manifest.ChunkCount; ++c) {
        ASSERT_EQ(c != 2 + kHeld, ContentChunkFetched(plan_, c)) << c;
        if (!ContentChunkFetched(plan_, c)) continue;
        CacheRecordHeader header;
        std::memcpy(header.Sha256, ReleaseChunkAt(new_.Manifest, c).Sha256, 32);
        header.RawSize = kRaw;
        header.StoredSize = static_cast<uint32_t>(stored_[c].size());
        std::string frame(stored_[c].size(), '\0');
        ASSERT_TRUE(index_.Cache.ReadFrame(index_.FrameAt[c], header, reinterpret_cast<uint8_t*>(&frame[0]))) << c;
        EXPECT_EQ(stored_[c], frame) << c;
    }
    // Reported from nothing done to all of it: the last report gives the line its bytes, done.
    ASSERT_FALSE(report_.progress.empty());
    for (const ContentProgress& p : report_.progress) EXPECT_EQ(kStageFetching, p.Stage);
    EXPECT_EQ(0u, report_.progress.front().Done);
    const ContentProgress last = report_.Last();
    EXPECT_EQ(kShowAll, last.Show);
    EXPECT_EQ(total, last.Done);
    EXPECT_EQ(total, last.ToDo);
    EXPECT_EQ(0u, last.Rate);  // the line without a speed
    EXPECT_TRUE(report_.stops.empty());
}

TEST_F(ContentFetch, ARequestRefusedForGoodStopsTheOthersAndNamesItsFile) {
    // The first piece is pack 0's; pack 1's take seconds each, so the others are still on their
    // first chunk when the refusal comes.
    ASSERT_TRUE(SetServerFaults({PackName(0) + "=status:404", PackName(1) + "=slow:20000"}));
    const long mark = LogMark();
    EXPECT_EQ(0, Fetch());
    const std::vector<Asked> asked = PackRequests(mark);
    const long packOne = std::count_if(asked.begin(), asked.end(), [](const Asked& a) { return a.path == "10-1.pack"; });
    EXPECT_EQ(1, std::count_if(asked.begin(), asked.end(), [](const Asked& a) { return a.path == "10-0.pack"; }));
    EXPECT_LE(packOne, static_cast<long>(kContentFetchLanes - 1)) << "requests went on after the refusal";
    // One stop, the refusal's: it names the pack and the release the server does not have.
    ASSERT_EQ(1u, report_.stops.size());
    EXPECT_EQ(kStopUnavailable, report_.stops[0].Kind);
    EXPECT_EQ(PackName(0), report_.stops[0].Name);
    EXPECT_EQ(10u, report_.stops[0].Release);
}
