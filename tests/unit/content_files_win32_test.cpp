// The content worker's files on real disks: UTF-8 release paths opened by their UTF-16 names,
// wide partial files, the chunk cache and its torn tail, and local files cut and hashed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "content/content_cache_win32.h"
#include "content/content_text.h"
#include "content/local_cut_win32.h"
#include "content/wide_partial_file_win32.h"
#include "content/wide_path_win32.h"
#include "support/temp_folder.h"
#include "update/signature_win32.h"

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::vector<uint8_t> Sha(const std::string& bytes, uint64_t offset, uint32_t length) {
    std::vector<uint8_t> digest(32);
    EXPECT_EQ(1, Sha256Of(bytes.data() + offset, length, digest.data()));
    return digest;
}

}  // namespace

// A Korean name below a folder that does not exist yet: the folders are made, the file is
// built beside its target and lands under its UTF-16 name; what is never committed leaves
// nothing, and bytes that are not UTF-8 are no name at all.
TEST(ContentFiles, WidePartialFileBuildsUnderTheUtf8Name) {
    TempFolder folder;
    const std::string path = "data/\xED\x95\x9C\xEA\xB8\x80/\xED\x8C\x8C\xEC\x9D\xBC.bin";
    wchar_t wide[kWidePathSize];
    ASSERT_EQ(1, WidePathOf(path.data(), path.size(), wide, kWidePathSize));
    EXPECT_STREQ(L"data\\\xD55C\xAE00\\\xD30C\xC77C.bin", wide);
    unsigned long error = 0;
    ASSERT_EQ(1, CreateFoldersAbove(wide, &error)) << "error " << error;
    {
        WidePartialFile file("test");
        ASSERT_TRUE(file.Create(wide));
        ASSERT_TRUE(file.Write("lost", 4));
    }
    uint64_t size = 0, lastWrite = 0;
    EXPECT_EQ(0, WideFileStamp(wide, &size, &lastWrite));

    WidePartialFile file("test");
    ASSERT_TRUE(file.Create(wide));
    EXPECT_EQ(0, std::wcsncmp(file.Name(), wide, std::wcslen(wide)));
    ASSERT_TRUE(file.Write("hello", 5));
    uint64_t committed = 0;
    ASSERT_EQ(kCommitted, file.Commit(wide, &committed));
    ASSERT_EQ(1, WideFileStamp(wide, &size, &lastWrite));
    EXPECT_EQ(5u, size);
    EXPECT_EQ(committed, lastWrite);
    EXPECT_NE(0u, lastWrite);
    // The folder holds the file alone: no partial name stayed behind.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"data\\\xD55C\xAE00\\*", &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    int files = 0;
    do files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
    while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(1, files);

    const char broken[] = "a\xC3";
    EXPECT_EQ(0, WidePathOf(broken, 2, wide, kWidePathSize));
    EXPECT_EQ(0, WidePathOf("\xED\xA0\x80", 3, wide, kWidePathSize));  // a surrogate
}

// Records come back as written; a header that names another chunk is refused; a cache cut off
// in the middle of a record keeps the whole records before it and nothing of the torn one.
TEST(ContentFiles, CacheRecordsReadBackAndATornTailIsDetected) {
    TempFolder folder;
    ContentCache cache;
    ASSERT_TRUE(cache.Create(L"content.cache"));
    const std::string frames[3] = {RandomBytes(100, 1), RandomBytes(5000, 2), RandomBytes(70, 3)};
    CacheRecordHeader headers[3];
    uint64_t at[3];
    for (int i = 0; i < 3; ++i) {
        std::memset(headers[i].Sha256, 0x10 + i, 32);
        headers[i].RawSize = 1000u * (i + 1);
        headers[i].StoredSize = static_cast<uint32_t>(frames[i].size());
        ASSERT_TRUE(cache.Append(headers[i], reinterpret_cast<const uint8_t*>(frames[i].data()), &at[i]));
    }
    ASSERT_TRUE(cache.Flush());
    std::vector<uint8_t> frame(5000);
    ASSERT_TRUE(cache.ReadFrame(at[1], headers[1], frame.data()));
    EXPECT_EQ(0, std::memcmp(frame.data(), frames[1].data(), 5000));
    EXPECT_FALSE(cache.ReadFrame(at[1], headers[0], frame.data()));
    EXPECT_FALSE(cache.ReadFrame(at[1] + 1, headers[1], frame.data()));

    struct Seen { std::vector<uint64_t> at; } seen;
    auto visit = [](void* context, const CacheRecordHeader&, uint64_t frameAt) {
        static_cast<Seen*>(context)->at.push_back(frameAt);
    };
    EXPECT_EQ(3, ScanContentCache(L"content.cache", visit, &seen));
    EXPECT_EQ((std::vector<uint64_t>{at[0], at[1], at[2]}), seen.at);
    const uint64_t end = cache.End();
    cache = ContentCache();  // closes the handle
    FileHandle file(CreateFileW(L"content.cache", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER cut;
    cut.QuadPart = static_cast<LONGLONG>(end - 10);
    ASSERT_TRUE(SetFilePointerEx(file.Get(), cut, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
    file.Reset();
    seen.at.clear();
    EXPECT_EQ(2, ScanContentCache(L"content.cache", visit, &seen));
    folder.Write("other", "QORCACH0 not a cache");
    EXPECT_EQ(-1, ScanContentCache(L"other", visit, &seen));
    EXPECT_EQ(-1, ScanContentCache(L"missing", visit, &seen));
}

// A cache left by an earlier run is continued after its whole records, the torn tail cut off;
// keeping nothing, or more than the file still has (it shrank since its scan), starts it over.
TEST(ContentFiles, ACacheIsContinuedAfterItsWholeRecords) {
    TempFolder folder;
    const std::string frames[2] = {RandomBytes(300, 4), RandomBytes(200, 5)};
    CacheRecordHeader headers[2];
    uint64_t at[2];
    ContentCache cache;
    ASSERT_TRUE(cache.Create(L"content.cache"));
    for (int i = 0; i < 2; ++i) {
        std::memset(headers[i].Sha256, 0x40 + i, 32);
        headers[i].RawSize = 999;
        headers[i].StoredSize = static_cast<uint32_t>(frames[i].size());
    }
    ASSERT_TRUE(cache.Append(headers[0], reinterpret_cast<const uint8_t*>(frames[0].data()), &at[0]));
    const uint64_t whole = cache.End();
    ASSERT_TRUE(cache.Append(headers[1], reinterpret_cast<const uint8_t*>(frames[1].data()), &at[1]));
    cache = ContentCache();
    {  // a kill in the middle of the second frame
        FileHandle file(CreateFileW(L"content.cache", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER cut;
        cut.QuadPart = static_cast<LONGLONG>(at[1] + 50);
        ASSERT_TRUE(SetFilePointerEx(file.Get(), cut, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()));
    }
    ASSERT_TRUE(cache.Open(L"content.cache", whole));
    EXPECT_EQ(whole, cache.End());
    uint64_t again = 0;
    ASSERT_TRUE(cache.Append(headers[1], reinterpret_cast<const uint8_t*>(frames[1].data()), &again));
    EXPECT_EQ(at[1], again);
    EXPECT_TRUE(cache.FlushWhenDue());
    std::vector<uint8_t> frame(300);
    ASSERT_TRUE(cache.ReadFrame(at[0], headers[0], frame.data()));
    EXPECT_EQ(0, std::memcmp(frame.data(), frames[0].data(), 300));
    ASSERT_TRUE(cache.ReadFrame(again, headers[1], frame.data()));
    EXPECT_EQ(0, std::memcmp(frame.data(), frames[1].data(), 200));
    const uint64_t end = cache.End();
    cache = ContentCache();
    auto count = [](void* context, const CacheRecordHeader&, uint64_t) { ++*static_cast<int*>(context); };
    int seen = 0;
    EXPECT_EQ(2, ScanContentCache(L"content.cache", count, &seen));

    for (const uint64_t keep : {uint64_t{0}, end + 1}) {
        ASSERT_TRUE(cache.Open(L"content.cache", keep)) << keep;
        EXPECT_EQ(kCacheMagicSize, cache.End()) << keep;
        cache = ContentCache();
        EXPECT_EQ(0, ScanContentCache(L"content.cache", count, &seen)) << keep;
    }
    ASSERT_TRUE(cache.Open(L"missing.cache", whole));  // gone since its scan
    EXPECT_EQ(kCacheMagicSize, cache.End());
}

// A local file is cut as it streams past in 1 MiB reads: the chunks cover it from 0 without a
// gap, each within the sizes and named by the SHA-256 of its bytes; an insertion near the start
// leaves the chunks after it alike, whatever their offset.
TEST(ContentFiles, LocalFilesAreCutIntoHashedChunks) {
    TempFolder folder;
    const std::string bytes = RandomBytes(3u * 1024 * 1024 + 777, 7);
    folder.Write("big.bin", bytes);
    folder.Write("shifted.bin", "inserted" + bytes);
    folder.Write("empty.bin", "");
    const ChunkSizes sizes{1024, 4096, 16384};
    std::vector<ContentCutChunk> chunks, shifted, empty;
    unsigned long error = 0;
    ASSERT_EQ(1, CutLocalFile(L"big.bin", sizes, &chunks, &error));
    ASSERT_EQ(1, CutLocalFile(L"shifted.bin", sizes, &shifted, &error));
    ASSERT_EQ(1, CutLocalFile(L"empty.bin", sizes, &empty, &error));
    EXPECT_TRUE(empty.empty());
    uint64_t next = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        ASSERT_EQ(next, chunks[i].Offset);
        ASSERT_LE(chunks[i].Length, sizes.max);
        if (i + 1 < chunks.size()) {
            ASSERT_GE(chunks[i].Length, sizes.min);
        }
        ASSERT_EQ(Sha(bytes, chunks[i].Offset, chunks[i].Length),
                  std::vector<uint8_t>(chunks[i].Sha256, chunks[i].Sha256 + 32));
        next += chunks[i].Length;
    }
    EXPECT_EQ(bytes.size(), next);
    EXPECT_GT(chunks.size(), 200u);
    ASSERT_GE(shifted.size(), 10u);
    std::set<std::vector<uint8_t>> moved;
    for (const auto& chunk : shifted) moved.insert(std::vector<uint8_t>(chunk.Sha256, chunk.Sha256 + 32));
    std::size_t alike = 0;
    for (const auto& chunk : chunks) alike += moved.count(std::vector<uint8_t>(chunk.Sha256, chunk.Sha256 + 32));
    EXPECT_GE(alike + 3, chunks.size());
    EXPECT_EQ(0, CutLocalFile(L"missing.bin", sizes, &empty, &error));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);
}

// The content texts are the player's code page's bytes, like the settings' messages.
TEST(ContentFiles, TextsAreStoredInCp949) {
    EXPECT_STREQ("\xB3\xBB\xB7\xC1\xB9\xDE\xB1\xE2 \xBD\xC7\xC6\xD0 (%s)", ContentText.FetchFailed);
    EXPECT_STREQ("\xC6\xC4\xC0\xCF \xC8\xAE\xC0\xCE \xC1\xDF...", ContentText.Checking);
}
