// The verify's hash rate: every file of a few hundred MB checked against its chunks on the
// survey's threads (CutFilesInParallel, as the worker runs it over an intact install), against
// BCrypt's raw SHA-256 on one core over the same number of bytes in memory, in alternating runs.
// Also the cut on one thread (what a damaged file costs, the chunker beside the hash). The files are written once and then read from the
// system's cache, as a verify right after an install would; they are written below the
// system's temporary folder and removed at the end.
#include <windows.h>
#include <process.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "common/win32_handle.h"
#include "content/local_cut_win32.h"
#include "content/parallel_cut_win32.h"
#include "update/signature_win32.h"

namespace {

constexpr int kFiles = 12;
constexpr uint32_t kFileBytes = 24u << 20;  // 288 MB in all
constexpr int kRounds = 5;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Fill(uint8_t* data, std::size_t size, uint64_t seed) {
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        data[i] = static_cast<uint8_t>(x >> 24);
    }
}

bool WriteFiles(std::vector<std::wstring>* names) {
    std::unique_ptr<uint8_t[]> data(new uint8_t[kFileBytes]);
    CreateDirectoryW(L"verify-bench", nullptr);
    for (int i = 0; i < kFiles; ++i) {
        Fill(data.get(), kFileBytes, static_cast<uint64_t>(i) + 1);
        names->push_back(L"verify-bench\\file" + std::to_wstring(i) + L".dat");
        FileHandle file(CreateFileW(names->back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD wrote = 0;
        if (!file || !WriteFile(file.Get(), data.get(), kFileBytes, &wrote, nullptr) || wrote != kFileBytes)
            return false;
    }
    return true;
}

void RemoveFiles(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) DeleteFileW(name.c_str());
    RemoveDirectoryW(L"verify-bench");
}

ChunkSizes BenchSizes() {
    ChunkSizes sizes;
    sizes.min = 32768;
    sizes.avg = 131072;
    sizes.max = 524288;
    return sizes;
}

// MB/s of CutFilesInParallel over every file with threads threads; with known (each file's
// chunks, as its release lists them) the files are checked against those first, as a verify
// of an installed release does.
double CutRate(const std::vector<std::wstring>& names, uint32_t threads,
               const std::vector<std::vector<ContentCutChunk>>* known = nullptr) {
    std::vector<ContentCutJob> jobs(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        jobs[i].Path = names[i];
        if (known) jobs[i].Known = (*known)[i];
    }
    const ChunkSizes sizes = BenchSizes();
    ContentCutProgress progress;
    const auto start = std::chrono::steady_clock::now();
    if (!CutFilesInParallel(jobs, sizes, threads, &progress, nullptr, nullptr)) return 0;
    const double seconds = Seconds(start);
    for (const ContentCutJob& job : jobs)
        if (!job.Cut) return 0;
    return static_cast<double>(progress.Bytes.load()) / (1 << 20) / seconds;
}

// MB/s of one SHA-256 stream over the same bytes, fed from memory in the cut's 1 MiB blocks.
double RawRate(const uint8_t* block) {
    Sha256Stream hash;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t done = 0; done < uint64_t(kFiles) * kFileBytes; done += 1u << 20)
        if (!hash.Update(block, 1u << 20)) return 0;
    uint8_t digest[kSha256Size];
    if (!hash.Finish(digest)) return 0;
    return double(kFiles) * kFileBytes / (1 << 20) / Seconds(start);
}

unsigned __stdcall RawThread(void* block) {
    RawRate(static_cast<const uint8_t*>(block));
    return 0;
}

// MB/s of two SHA-256 streams at once, one per thread, each over all the bytes: what the machine
// gives two hashing threads with no file read and no chunker at all.
double RawRateTwoThreads(const uint8_t* block) {
    const auto start = std::chrono::steady_clock::now();
    KernelHandle other(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, RawThread, const_cast<uint8_t*>(block), 0, nullptr)));
    if (!other) return 0;
    RawRate(block);
    WaitForSingleObject(other.Get(), INFINITE);
    return 2.0 * kFiles * kFileBytes / (1 << 20) / Seconds(start);
}

}  // namespace

int main() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length > 0 && length < MAX_PATH) SetCurrentDirectoryW(temp);
    std::vector<std::wstring> names;
    if (!WriteFiles(&names)) {
        std::printf("could not write the bench files\n");
        RemoveFiles(names);
        return 1;
    }
    std::unique_ptr<uint8_t[]> block(new uint8_t[1u << 20]);
    Fill(block.get(), 1u << 20, 99);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::printf("verify hash rate, %s, %lu processors, %d files of %u MB\n",
                sizeof(void*) == 8 ? "x86_64 build" : "i686 build", system.dwNumberOfProcessors, kFiles,
                kFileBytes >> 20);
    CutRate(names, kCutThreads);  // the first read fills the system's cache
    std::vector<std::vector<ContentCutChunk>> known(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        unsigned long error = 0;
        if (!CutLocalFile(names[i].c_str(), BenchSizes(), &known[i], &error)) return 1;
    }
    Alternate(kRounds, "verify, 2 threads (MB/s)", [&] { return CutRate(names, kCutThreads, &known); },
              "BCrypt SHA-256, 1 core (MB/s)", [&] { return RawRate(block.get()); }, "MB/s",
              "verify / raw SHA-256 (goal >= 1.6)");
    Alternate(kRounds, "cut, 1 thread (MB/s)", [&] { return CutRate(names, 1); }, "BCrypt SHA-256, 1 core (MB/s)",
              [&] { return RawRate(block.get()); }, "MB/s", "1-thread cut / raw SHA-256");
    // What the second thread adds on this machine as it is now (other programs count too).
    Alternate(kRounds, "cut, 2 threads (MB/s)", [&] { return CutRate(names, kCutThreads); }, "cut, 1 thread (MB/s)",
              [&] { return CutRate(names, 1); }, "MB/s", "2 threads / 1 thread");
    Alternate(kRounds, "BCrypt SHA-256, 2 threads (MB/s)", [&] { return RawRateTwoThreads(block.get()); },
              "BCrypt SHA-256, 1 core (MB/s)", [&] { return RawRate(block.get()); }, "MB/s",
              "raw SHA-256, 2 threads / 1");
    RemoveFiles(names);
    return 0;
}
