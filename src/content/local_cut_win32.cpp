// CutLocalFile: the chunker and a SHA-256 stream fed by the same 1 MiB reads.
#include "content/local_cut_win32.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "common/win32_handle.h"
#include "paths/game_folder_win32.h"
#include "update/signature_win32.h"

namespace {

struct CutRun {
    Chunker chunker;
    Sha256Stream hash;
    uint64_t start = 0;    // where the current chunk began
    uint32_t pending = 0;  // its bytes so far
    std::vector<ContentCutChunk>* chunks = nullptr;
};

bool EndChunk(CutRun& run, uint32_t length) {
    ContentCutChunk chunk;
    chunk.Offset = run.start;
    chunk.Length = length;
    if (!run.hash.Finish(chunk.Sha256)) return false;
    run.chunks->push_back(chunk);
    run.start += length;
    run.pending = 0;
    run.hash = Sha256Stream();
    return run.hash.Good();
}

bool ScanBlock(CutRun& run, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        int ended = 0;
        const std::size_t taken = ChunkerScan(run.chunker, data, size, &ended);
        if (!run.hash.Update(data, taken)) return false;
        data += taken;
        size -= taken;
        run.pending += static_cast<uint32_t>(taken);
        if (ended && !EndChunk(run, run.pending)) return false;
    }
    return true;
}

}  // namespace

int CutLocalFile(const wchar_t* path, const ChunkSizes& sizes, std::vector<ContentCutChunk>* chunks,
                 unsigned long* error, std::atomic<uint64_t>* readBytes) {
    *error = 0;
    CutRun run;
    run.chunks = chunks;
    if (!ChunkerStart(run.chunker, sizes) || !run.hash.Good()) return 0;
    FileHandle file;
    if (!OpenGameFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, &file, error))
        return 0;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kLocalReadBlock]);
    if (!block) return 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.get(), kLocalReadBlock, &got, nullptr)) {
            *error = GetLastError();
            return 0;
        }
        if (got == 0) break;
        if (!ScanBlock(run, block.get(), got)) return 0;
        if (readBytes) readBytes->fetch_add(got, std::memory_order_relaxed);
    }
    const uint32_t last = ChunkerFinish(run.chunker);
    if (last > 0 && !EndChunk(run, last)) return 0;
    return 1;
}

namespace {

// Hashes one block into the known chunks from *at on; false at the first chunk that differs.
bool MatchBlock(const std::vector<ContentCutChunk>& chunks, const uint8_t* data, std::size_t size, std::size_t* at,
                uint32_t* pending, Sha256Stream* hash) {
    while (size > 0) {
        if (*at >= chunks.size()) return false;  // longer than its chunks
        const uint32_t want = chunks[*at].Length - *pending;
        const std::size_t taken = size < want ? size : want;
        if (!hash->Update(data, taken)) return false;
        data += taken;
        size -= taken;
        *pending += static_cast<uint32_t>(taken);
        if (*pending < chunks[*at].Length) continue;
        uint8_t digest[kSha256Size];
        if (!hash->Finish(digest) || std::memcmp(digest, chunks[*at].Sha256, kSha256Size) != 0) return false;
        *hash = Sha256Stream();
        *pending = 0;
        ++*at;
    }
    return true;
}

}  // namespace

int FileHasChunks(const wchar_t* path, const std::vector<ContentCutChunk>& chunks, unsigned long* error,
                  std::atomic<uint64_t>* readBytes, uint64_t* counted) {
    *error = 0;
    *counted = 0;
    FileHandle file;
    if (!OpenGameFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, &file, error))
        return 0;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kLocalReadBlock]);
    Sha256Stream hash;
    if (!block || !hash.Good()) return 0;
    std::size_t at = 0;
    uint32_t pending = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.get(), kLocalReadBlock, &got, nullptr)) {
            *error = GetLastError();
            return 0;
        }
        if (got == 0) break;
        if (readBytes) readBytes->fetch_add(got, std::memory_order_relaxed);
        *counted += got;
        if (!MatchBlock(chunks, block.get(), got, &at, &pending, &hash)) return 0;
    }
    return at == chunks.size() && pending == 0 ? 1 : 0;
}
