// The content worker's requests side by side against the real test patch server: exactly the
// plan's pieces asked for, several at once, every fetched chunk kept once; a request the server
// refuses stops the others, and its text is the one shown.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/display_state.h"
#include "content/content_run.h"
#include "content/content_text.h"
#include "content/range_fetch_win32.h"
#include "content/request_split.h"
#include "settings/launcher_settings.h"
#include "support/patch_server_win32.h"
#include "support/release_builder.h"
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
        ResetDisplayState();
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
        run_.Version = 10;
        run_.NewLength = bytes.size();
        run_.NewBytes.reset(new uint8_t[bytes.size()]);
        std::memcpy(run_.NewBytes.get(), bytes.data(), bytes.size());
        ASSERT_EQ(1, ParseReleaseManifest(run_.NewBytes.get(), run_.NewLength, &run_.NewRelease));
        held_ = ContentCutChunk{0, kRaw, {}};
        std::memcpy(held_.Sha256, m.Chunks[2 + kHeld].Sha256.data(), 32);
        cut_ = ContentCutFile{"old.pak", 7, &held_, 1};
        ContentPlanInput input;
        input.NewRelease = &run_.NewRelease;
        input.CutFiles = &cut_;
        input.CutFileCount = 1;
        input.MergeGap = 0;
        ASSERT_EQ(1, MakeContentPlan(input, &run_.Plan));
        run_.FrameAt.reset(new uint64_t[run_.NewRelease.ChunkCount + 1]);
        run_.Session = OpenContentSession();
        run_.Secure = 1;
        ASSERT_TRUE(run_.Session);
        ASSERT_TRUE(run_.Cache.Create(L"content.cache"));
    }
    void TearDown() override {
        SetServerFaults({});
        for (uint32_t p = 0; p < 2; ++p) RemoveServedFile(PackName(p));
        ResetDisplayState();
    }

    TempFolder folder_;
    std::vector<std::string> raw_, stored_;
    ContentCutChunk held_;
    ContentCutFile cut_;
    ContentRun run_;
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
    ASSERT_EQ(1, ContentRequestPieces(run_.Plan, ContentPieceBound(run_.Plan.Totals.Bytes, kContentFetchLanes), &pieces,
                                      &total));
    ASSERT_EQ(1u + kPackOneChunks - 1, pieces.size());
    std::multiset<std::string> expected;
    for (const ContentFetchRequest& p : pieces)
        expected.insert(std::to_string(p.Pack) + ".pack bytes=" + std::to_string(p.Offset) + "-" +
                        std::to_string(p.Offset + p.Length - 1));
    const long mark = LogMark();
    ASSERT_EQ(1, FetchRequests(run_));

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
    run_.Cache.Flush();
    EXPECT_EQ(static_cast<int64_t>(run_.NewRelease.ChunkCount - 1),
              ScanContentCache(L"content.cache", [](void* c, const CacheRecordHeader&, uint64_t) {
                  ++static_cast<Count*>(c)->records;
              }, &count));
    for (uint32_t c = 0; c < run_.NewRelease.ChunkCount; ++c) {
        ASSERT_EQ(c != 2 + kHeld, ContentChunkFetched(run_.Plan, c)) << c;
        if (!ContentChunkFetched(run_.Plan, c)) continue;
        CacheRecordHeader header;
        std::memcpy(header.Sha256, ReleaseChunkAt(run_.NewRelease, c).Sha256, 32);
        header.RawSize = kRaw;
        header.StoredSize = static_cast<uint32_t>(stored_[c].size());
        std::string frame(stored_[c].size(), '\0');
        ASSERT_TRUE(run_.Cache.ReadFrame(run_.FrameAt[c], header, reinterpret_cast<uint8_t*>(&frame[0]))) << c;
        EXPECT_EQ(stored_[c], frame) << c;
    }
    EXPECT_EQ(100, ProgressCurrent.load());
    EXPECT_EQ(0, ProgressTotal.load());  // the lower bar counts files built: none yet
    char line[SharedText::kSize], want[SharedText::kSize];
    StatusText.CopyTo(line, sizeof line);
    std::snprintf(want, sizeof want, ContentText.Fetching, static_cast<unsigned>(total >> 10),
                  static_cast<unsigned>(total >> 10));
    EXPECT_STREQ(want, line);
}

TEST_F(ContentFetch, ARequestRefusedForGoodStopsTheOthersAndNamesItsFile) {
    // The first piece is pack 0's; pack 1's take seconds each, so the others are still on their
    // first chunk when the refusal comes.
    ASSERT_TRUE(SetServerFaults({PackName(0) + "=status:404", PackName(1) + "=slow:20000"}));
    const long mark = LogMark();
    EXPECT_EQ(0, FetchRequests(run_));
    const std::vector<Asked> asked = PackRequests(mark);
    const long packOne = std::count_if(asked.begin(), asked.end(), [](const Asked& a) { return a.path == "10-1.pack"; });
    EXPECT_EQ(1, std::count_if(asked.begin(), asked.end(), [](const Asked& a) { return a.path == "10-0.pack"; }));
    EXPECT_LE(packOne, static_cast<long>(kContentFetchLanes - 1)) << "requests went on after the refusal";
    char line[SharedText::kSize], want[SharedText::kSize];
    StatusText.CopyTo(line, sizeof line);
    std::snprintf(want, sizeof want, ContentText.Unavailable, 10u, PackName(0).c_str());
    EXPECT_STREQ(want, line);
    EXPECT_EQ(kButtonDisabled, ButtonStates[kStartButton].load());
}
