// Applying a delta against building the same file from local chunks, in the Windows build:
//   delta_apply_win32_bench BASE NEW DELTA ROUNDS   times both sides, alternating;
//   delta_apply_win32_bench BASE NEW DELTA memory   applies once and prints the peak working set.
// Both sides end in the same file written chunk by chunk, each chunk hashed as the worker does:
// the delta side reads the base whole, hashes it and decodes; the chunk side reads each chunk
// from a local file (NEW stands for the files the plan reads them from).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_stats.h"
#include "content_format/delta_apply.h"
#include "update/signature_win32.h"

namespace {

constexpr uint32_t kPiece = 128 * 1024;  // the release's average chunk

std::vector<uint8_t> ReadAll(const char* path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path, "rb");
    if (!f) return out;
    std::fseek(f, 0, SEEK_END);
    out.resize(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(out.data(), 1, out.size(), f) != out.size()) out.clear();
    std::fclose(f);
    return out;
}

struct Output {
    HANDLE File;
    uint64_t Size;
};

int Take(void* context, uint32_t, const uint8_t* data, uint32_t size) {
    uint8_t digest[kSha256Size];
    DWORD wrote = 0;
    return Sha256Of(data, size, digest) && WriteFile(static_cast<Output*>(context)->File, data, size, &wrote, nullptr);
}

uint32_t SizeOf(void* context, uint32_t piece) {
    const uint64_t size = static_cast<Output*>(context)->Size;
    const uint64_t left = size - uint64_t{piece} * kPiece;
    return left < kPiece ? static_cast<uint32_t>(left) : kPiece;
}

int ReadDelta(void* context, uint8_t* data, uint32_t size) {
    DWORD got = 0;
    return ReadFile(static_cast<HANDLE>(context), data, size, &got, nullptr) && got == size;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

HANDLE Create(const char* name) {
    return CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// The worker's delta road: base read whole and hashed, the delta streamed from its file.
double ApplyOnce(const char* basePath, const char* deltaPath, uint64_t newSize) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    std::vector<uint8_t> base = ReadAll(basePath);
    uint8_t digest[kSha256Size];
    Sha256Of(base.data(), base.size(), digest);
    HANDLE delta = CreateFileA(deltaPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER deltaSize;
    GetFileSizeEx(delta, &deltaSize);
    Output out = {Create("delta_bench.out"), newSize};
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPiece]);
    DeltaSource source = {ReadDelta, delta, static_cast<uint64_t>(deltaSize.QuadPart)};
    DeltaPieces pieces = {static_cast<uint32_t>((newSize + kPiece - 1) / kPiece), SizeOf, Take, &out, buffer.get(), kPiece};
    const int result = ApplyDelta(base.data(), base.size(), source, newSize, pieces, ~0ull);
    CloseHandle(out.File);
    CloseHandle(delta);
    QueryPerformanceCounter(&end);
    if (result != kDeltaApplied) {
        std::printf("the delta did not apply: %d\n", result);
        std::exit(1);
    }
    return Seconds(start, end);
}

// The chunk road for the same file: each chunk read from a local file at its offset, hashed, written.
double ChunksOnce(const char* newPath, uint64_t newSize) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    HANDLE in = CreateFileA(newPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Output out = {Create("chunks_bench.out"), newSize};
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPiece]);
    for (uint32_t piece = 0; uint64_t{piece} * kPiece < newSize; ++piece) {
        const uint32_t size = SizeOf(&out, piece);
        OVERLAPPED at = {};
        at.Offset = piece * kPiece;
        DWORD got = 0;
        ReadFile(in, buffer.get(), size, &got, &at);
        Take(&out, piece, buffer.get(), size);
    }
    CloseHandle(out.File);
    CloseHandle(in);
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

uint64_t FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

uint64_t PeakWorkingSet(uint64_t* now) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    *now = counters.WorkingSetSize;
    return counters.PeakWorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::printf("usage: %s BASE NEW DELTA ROUNDS|memory\n", argv[0]);
        return 2;
    }
    const char* build = sizeof(void*) == 8 ? "x86_64 build" : "i686 build";
    const uint64_t baseSize = FileSize(argv[1]), newSize = FileSize(argv[2]);
    if (std::strcmp(argv[4], "memory") == 0) {
        // Nothing large was allocated before: the peak so far is the program's own.
        uint64_t before = 0, after = 0;
        PeakWorkingSet(&before);
        ApplyOnce(argv[1], argv[3], newSize);
        const uint64_t peak = PeakWorkingSet(&after);
        std::printf("%s: peak working set applying the delta %.1f MiB above the %.1f MiB before it: %.2f x the old "
                    "file (%.1f MiB)\n", build, (peak - before) / 1048576.0, before / 1048576.0,
                    double(peak - before) / double(baseSize), baseSize / 1048576.0);
        return 0;
    }
    std::printf("%s: old file %.1f MiB, new file %.1f MiB\n", build, baseSize / 1048576.0, newSize / 1048576.0);
    Alternate(std::atoi(argv[4]), "apply the delta (s)", [&] { return ApplyOnce(argv[1], argv[3], newSize); },
              "build from local chunks (s)", [&] { return ChunksOnce(argv[2], newSize); }, "s", "delta / chunks");
    return 0;
}
