// The survey's cut on two threads against real files: every file cut once and exactly as one
// thread cuts it, a damaged file's chunks told apart from its intact copy's, a missing one
// reported without stopping the rest, and the verify's survey naming every file it cut.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "content/content_survey_win32.h"
#include "content/local_cut_win32.h"
#include "content/parallel_cut_win32.h"
#include "support/release_builder.h"
#include "support/report_recorder.h"
#include "support/temp_folder.h"

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

ChunkSizes SmallSizes() {
    ChunkSizes sizes;
    sizes.min = 1024;
    sizes.avg = 4096;
    sizes.max = 16384;
    return sizes;
}

bool SameChunk(const ContentCutChunk& a, const ContentCutChunk& b) {
    return a.Offset == b.Offset && a.Length == b.Length && std::memcmp(a.Sha256, b.Sha256, sizeof a.Sha256) == 0;
}

std::vector<ContentCutChunk> CutAlone(const std::wstring& path) {
    std::vector<ContentCutChunk> chunks;
    unsigned long error = 0;
    EXPECT_EQ(1, CutLocalFile(path.c_str(), SmallSizes(), &chunks, &error));
    return chunks;
}

void CountTicks(void* context) { ++*static_cast<int*>(context); }

}  // namespace

// Files of many sizes (empty, below the smallest chunk, many chunks) and one that is missing:
// each cut by one thread alone gives the same chunks, the progress counts every file once and
// every byte read once, and the missing file fails alone.
TEST(ParallelCut, EveryFileIsCutOnceAsOneThreadCutsIt) {
    TempFolder folder;
    const std::size_t sizes[] = {0, 700, 40000, 250000, 5000, 180000, 1, 90000, 300000};
    std::vector<ContentCutJob> jobs;
    uint64_t bytes = 0;
    for (std::size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        folder.Write(name, RandomBytes(sizes[i], static_cast<unsigned>(i)));
        jobs.emplace_back();
        jobs.back().Path = std::wstring(name.begin(), name.end());
        bytes += sizes[i];
    }
    jobs.emplace_back();
    jobs.back().Path = L"missing\\gone.dat";
    ContentCutProgress progress;
    int ticks = 0;
    ASSERT_EQ(1, CutFilesInParallel(jobs, SmallSizes(), kCutThreads, &progress, CountTicks, &ticks));
    EXPECT_GE(ticks, 1);
    EXPECT_EQ(jobs.size(), progress.Files.load());
    EXPECT_EQ(bytes, progress.Bytes.load());
    for (std::size_t i = 0; i + 1 < jobs.size(); ++i) {
        ASSERT_EQ(1, jobs[i].Cut) << i;
        const std::vector<ContentCutChunk> alone = CutAlone(jobs[i].Path);
        ASSERT_EQ(alone.size(), jobs[i].Chunks.size()) << i;
        for (std::size_t c = 0; c < alone.size(); ++c) EXPECT_TRUE(SameChunk(alone[c], jobs[i].Chunks[c])) << i;
    }
    EXPECT_EQ(0, jobs.back().Cut);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_PATH_NOT_FOUND), jobs.back().Error);
}

// One byte changed inside a file: only the chunk holding it (and at most the one after, where
// the cut finds its way back) differ; a file cut short differs only at its end. Each is cut
// although the release's chunks were offered for it; an intact copy takes those unchanged.
TEST(ParallelCut, DamagedFilesDifferOnlyWhereTheyAreDamaged) {
    TempFolder folder;
    const std::string intact = RandomBytes(200000, 7);
    std::string changed = intact;
    changed[100000] = static_cast<char>(changed[100000] ^ 0x01);
    folder.Write("intact.dat", intact);
    folder.Write("changed.dat", changed);
    folder.Write("short.dat", intact.substr(0, 150000));
    folder.Write("whole.dat", intact);
    const std::vector<ContentCutChunk> known = CutAlone(L"intact.dat");
    std::vector<ContentCutJob> jobs(4);
    jobs[0].Path = L"intact.dat";
    jobs[1].Path = L"changed.dat";
    jobs[2].Path = L"short.dat";
    jobs[3].Path = L"whole.dat";
    // The release's chunks, checked first: taken for the intact copy, the others cut after all.
    jobs[1].Known = jobs[2].Known = jobs[3].Known = known;
    ContentCutProgress progress;
    ASSERT_EQ(1, CutFilesInParallel(jobs, SmallSizes(), kCutThreads, &progress, nullptr, nullptr));
    EXPECT_EQ(3 * 200000u + 150000u, progress.Bytes.load());  // a file read twice counts once
    ASSERT_EQ(known.size(), jobs[3].Chunks.size());
    for (std::size_t c = 0; c < known.size(); ++c) EXPECT_TRUE(SameChunk(known[c], jobs[3].Chunks[c]));
    const std::vector<ContentCutChunk>& a = jobs[0].Chunks;
    auto differing = [&](const std::vector<ContentCutChunk>& b) {
        std::size_t count = 0;
        for (const ContentCutChunk& chunk : b) {
            bool known = false;
            for (const ContentCutChunk& same : a) known = known || SameChunk(same, chunk);
            count += known ? 0 : 1;
        }
        return count;
    };
    ASSERT_GT(a.size(), 10u);
    const std::size_t changedCount = differing(jobs[1].Chunks);
    EXPECT_GE(changedCount, 1u);
    EXPECT_LE(changedCount, 2u);
    EXPECT_EQ(1u, differing(jobs[2].Chunks));  // the last one, cut where the file now ends
    EXPECT_EQ(150000u, jobs[2].Chunks.back().Offset + jobs[2].Chunks.back().Length);
}

// A verify's survey of a release whose paths are longer than a short string holds in place:
// every file present is cut once under its own path, in release order, with the stamp found
// before it was cut; the missing one is neither cut nor stamped.
TEST(ParallelCut, TheVerifySurveyCutsEveryPresentFileUnderItsPath) {
    TempFolder folder;
    ReleaseModel model;
    model.Release = 10002;
    model.AddPack(10002, 0);
    const std::vector<std::string> paths = {"data/first_file_with_a_long_name.dat", "data/missing_file_long_name.dat",
                                            "data/second_file_with_a_long_name.dat", "data/third_file_long_name.dat"};
    for (uint32_t i = 0; i < paths.size(); ++i) model.AddFile(paths[i], {model.AddChunk(i + 1, 30000 + i, 100)});
    const std::vector<uint8_t> bytes = model.Settle().Bytes();
    std::filesystem::create_directories(folder.path() / "data");
    for (uint32_t i = 0; i < paths.size(); ++i)
        if (i != 1) folder.Write(paths[i], RandomBytes(30000 + i, i));
    NewRelease release;
    ASSERT_EQ(1, ParseReleaseManifest(bytes.data(), bytes.size(), &release.Manifest));
    ReportRecorder report;
    FolderSurvey survey;
    ASSERT_EQ(1, SurveyFolder(release, true, report, &survey));
    EXPECT_FALSE(survey.HaveOld);
    ASSERT_EQ(3u, survey.CutFiles.size());
    const std::size_t present[] = {0, 2, 3};
    for (std::size_t i = 0; i < 3; ++i) {
        const ContentCutFile& cut = survey.CutFiles[i];
        EXPECT_EQ(paths[present[i]], std::string(cut.Path, cut.PathLength));
        ASSERT_GE(cut.ChunkCount, 1u);
        EXPECT_EQ(30000u + present[i], cut.Chunks[cut.ChunkCount - 1].Offset + cut.Chunks[cut.ChunkCount - 1].Length);
        EXPECT_EQ(30000u + present[i], survey.Found[present[i]].Size);
        EXPECT_NE(0u, survey.Found[present[i]].LastWrite);
    }
    EXPECT_EQ(0u, survey.Found[1].LastWrite);
    // The verify told its progress as it hashed, the last report once every file was cut.
    const ContentProgress last = report.Last();
    EXPECT_EQ(kStageVerifying, last.Stage);
    EXPECT_EQ(30000u + 30002u + 30003u, last.ToDo);  // the three files present
    EXPECT_EQ(last.ToDo, last.Done);
    EXPECT_EQ(3u, last.Files);
    EXPECT_EQ(3u, last.FilesDone);
}
